"""The printed report of an asset (also written as report.txt)."""
from __future__ import annotations

import math

import numpy as np

from .. import _quarntools as qt
from . import geoscience as gs
from .build import Asset


def _f(v: float, nd: int = 1) -> str:
    return "n/a" if not math.isfinite(v) else f"{v:,.{nd}f}"


def _pick(p) -> str:
    return f"{p.md:8.1f} {p.tvd:8.1f}" if p is not None else f"{'-':>8} {'-':>8}"


def report_lines(a: Asset) -> list[str]:
    """One asset's report, section name in the first column."""
    cfg = a.config
    s = a.summary()
    lines: list[str] = []
    say = lines.append
    say(f"quarntools {qt.__version__} synthetic asset {cfg.asset.name}, seed {a.seed}")
    say(f"frame      local engineering frame, metres; node (0, 0) at {cfg.frame.east0:.1f} E "
        f"{cfg.frame.north0:.1f} N; depths m TVD below datum, positive down")
    say(f"lattice    {a.lattice!r}")
    say(f"structure  dome relief {cfg.structure.relief_m:g} m, crest {_f(a.crest_tvd_m)} m TVD at "
        f"{a.crest_xy[0]:.0f} E {a.crest_xy[1]:.0f} N, spill point {_f(a.spill_tvd_m)} m TVD at "
        f"{a.spill_xy[0]:.0f} E {a.spill_xy[1]:.0f} N")
    say(f"contact    {_f(a.contact_tvd_m, 2)} m TVD ({s['contact_source']}), column "
        f"{_f(a.contact_tvd_m - a.crest_tvd_m)} m")
    say(f"closure    {len(a.closure)} vertices, area {qt.m2_to_km2(gs.ring_area(a.closure)):.2f} km2, "
        f"{int(a.trap.sum())} trap nodes")
    iso_in = a.isochore[a.trap]
    say(f"isochore   mean {np.mean(a.isochore):.1f} m, std {np.std(a.isochore):.1f} m; inside the trap "
        f"mean {np.mean(iso_in):.1f} m (P90 {gs.percentile7(iso_in, 10):.1f}, "
        f"P10 {gs.percentile7(iso_in, 90):.1f})")
    say("wells      name   head east   head north  top MD  top TVD  map TVD  resid  "
        "base MD base TVD  in closure  DLS max")
    for w in a.wells:
        pen = w.penetration["top"]
        say(f"           {w.name:<5} {w.head[0]:11.1f} {w.head[1]:12.1f} {_pick(w.picks['top'])} "
            f"{(pen.tvd if pen else math.nan):8.1f} {w.residual['top']:+6.2f} {_pick(w.picks['base'])}"
            f"  {'yes' if w.in_closure else 'no ':<10} {w.dls_max:7.2f}")
    for w in a.wells:
        for key in ("top", "base"):
            if w.picks[key] is None:
                say(f"           {w.name} has no {key} pick: {w.why[key]}")
    say("logs       well   samples   NTG  phi(net)  net-porosity control at reservoir mid-point")
    for w in a.wells:
        n = len(w.log["DEPT"]) if w.log is not None else 0
        say(f"           {w.name:<5} {n:8d}  {w.ntg:5.2f}  {w.phi_net:7.3f}")
    n_old = len(a.control) - sum(1 for nm in a.control_names if not nm.startswith("C-"))
    say(f"control    {len(a.control)} wells with net-porosity averages ({n_old} older control wells)")
    trap = a.trap
    kv = a.kriging_variance[np.isfinite(a.kriging_variance)]
    say(f"kriging    net porosity inside the trap: mean {np.nanmean(a.porosity_kriged[trap]):.4f}, "
        f"max variance {(kv.max() if kv.size else math.nan):.2e}")
    sim_in = a.porosity_sim[trap]
    say(f"sgs        net porosity inside the trap (realization 0): mean {np.mean(sim_in):.4f}, "
        f"std {np.std(sim_in):.4f}; simulated on {a.sim_lattice.ncol} x {a.sim_lattice.nrow} nodes")
    st = s["stoiip"]
    say(f"volumes    GRV {qt.format_volume(a.grv_m3)} above the contact "
        f"({a.grv_m3:.6e} m3), {len(a.realizations)} realizations")
    say(f"           STOIIP P90 {qt.format_volume(st['p90'])}  P50 {qt.format_volume(st['p50'])}  "
        f"P10 {qt.format_volume(st['p10'])}  mean {qt.format_volume(st['mean'])}  (P90 = low case)")
    say(f"           = {qt.m3_to_msm3(st['p50']):.2f} MSm3 / {qt.sm3_to_stb(st['p50']) / 1e6:.1f} MMstb (P50)")
    return lines
