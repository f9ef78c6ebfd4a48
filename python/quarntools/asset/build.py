"""Build stages: config -> structure -> wells and logs -> porosity maps -> volumetrics -> Asset.

Everything is in memory; ``write_asset`` puts it on disk. Every stage draws from its own seed,
derived from the master seed, so one stage's knobs do not move another stage's draws.
"""
from __future__ import annotations

import functools
import math
import os
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Callable

import numpy as np

from .. import _quarntools as qt
from .. import fields
from ..field import Field
from ..seeds import spawn_seeds
from . import geoscience as gs
from .config import AssetConfig


# Stage seeds: index into spawn_seeds(master, N_STAGES); never reorder.
(S_NOISE, S_ISOCHORE, S_TARGETS, S_AZIMUTH, S_RESIDUAL, S_LOGS, S_CONTROL_XY, S_CONTROL_LOGS,
 S_REALIZATIONS, N_STAGES) = range(10)

ZONE_CAP, ZONE_RESERVOIR, ZONE_BELOW = 1, 2, 3


class AssetError(ValueError):
    """The configured asset cannot be built (for example: the structure does not close)."""


@dataclass
class Well:
    """One well: head, survey, picks and logs. Depths: MD from KB, TVD below the datum plane."""
    name: str
    head: tuple[float, float]
    kb_m: float
    azimuth_deg: float
    target: tuple[float, float]
    survey: dict[str, np.ndarray]                # md, incl, azim, x, y, tvd
    penetration: dict[str, gs.Pick | None]       # "top"/"base": where the path meets the map
    residual: dict[str, float]                   # "top"/"base": pick minus map, m TVD
    picks: dict[str, gs.Pick | None]             # "top"/"base": the well's picks
    why: dict[str, str]                          # "top"/"base": why a pick is empty
    log: dict[str, np.ndarray] | None            # DEPT, TVD, X, Y, ZONE, PHIE, NET, NTG
    in_closure: bool
    dls_max: float

    @property
    def ntg(self) -> float:
        if self.log is None:
            return math.nan
        res = self.log["ZONE"] == ZONE_RESERVOIR
        return float(np.mean(self.log["NET"][res])) if res.any() else math.nan

    @property
    def phi_net(self) -> float:
        if self.log is None:
            return math.nan
        net = (self.log["ZONE"] == ZONE_RESERVOIR) & (self.log["NET"] == 1)
        return float(np.mean(self.log["PHIE"][net])) if net.any() else math.nan


@dataclass
class Asset:
    """The in-memory asset: grids, outlines, wells, porosity maps and volumetrics."""
    config: AssetConfig
    lattice: qt.Lattice
    top: np.ndarray
    base: np.ndarray
    isochore: np.ndarray
    crest_tvd_m: float
    crest_xy: tuple[float, float]
    spill_tvd_m: float
    spill_xy: tuple[float, float]
    contact_tvd_m: float
    trap: np.ndarray
    closure: np.ndarray          # (n, 2) ring, not repeated at the end
    study_area: np.ndarray       # (4, 2) ring of the lattice outline
    wells: list[Well]
    control: np.ndarray          # (n, 3): x, y, net porosity; the first len(wells) are the wells
    control_names: list[str]
    porosity_kriged: np.ndarray
    kriging_variance: np.ndarray
    porosity_sim: np.ndarray     # one realization on the asset lattice (realization 0)
    porosity_pct: dict[str, np.ndarray]   # "p90", "p50", "p10" (node-wise, P90 = 10th percentile)
    sim_lattice: gs.LatticeGeom
    volume_inputs: gs.VolumeInputs
    realizations: list[gs.RealizationVolumes]
    grv_m3: float
    timings: dict[str, float] = field(default_factory=dict)

    @property
    def seed(self) -> int:
        return self.config.asset.seed

    def summary(self) -> dict[str, object]:
        """Volumetric summary: contact, GRV and P90/P50/P10/mean (type 7, P90 = low case)."""
        st = np.array([r.stoiip_sm3 for r in self.realizations])
        gv = np.array([r.grv_m3 for r in self.realizations])

        def digest(v: np.ndarray) -> dict[str, float]:
            s = qt.reservoir_summary(v.tolist())
            return {"p90": s.p90, "p50": s.p50, "p10": s.p10, "mean": s.mean}

        return {"contact_tvd_m": self.contact_tvd_m,
                "contact_source": "spill point" if self.config.contact.tvd_m == "spill" else "config",
                "spill_tvd_m": self.spill_tvd_m, "crest_tvd_m": self.crest_tvd_m,
                "grv_m3": self.grv_m3, "closure_area_m2": gs.ring_area(self.closure),
                "realizations": len(self.realizations),
                "grv": dict(digest(gv), unit="m3"), "stoiip": dict(digest(st), unit="sm3"),
                "convention": "P90 is the low case (10th percentile), P10 the high case "
                              "(90th percentile); type-7 percentiles",
                "units": {"grv_m3": "m3", "stoiip_sm3": "sm3 (stock-tank m3)",
                          "contact_tvd_m": "m TVD below datum, positive down"}}


class Progress:
    """Stage messages and a realization bar on stderr, only when stderr is a terminal."""

    def __init__(self, enabled: bool | None = None, stream=None):
        self.stream = stream or sys.stderr
        self.enabled = self.stream.isatty() if enabled is None else enabled
        self.t0 = time.perf_counter()

    def stage(self, text: str) -> None:
        if self.enabled:
            self.stream.write(f"\r\x1b[K  {text} ({time.perf_counter() - self.t0:4.1f} s)")
            self.stream.flush()

    def bar(self, done: int, total: int) -> None:
        if self.enabled and (done == total or done % max(1, total // 50) == 0):
            w = 30
            f = w * done // total
            self.stream.write(f"\r\x1b[K  realizations [{'#' * f}{'.' * (w - f)}] {done}/{total}")
            self.stream.flush()

    def done(self) -> None:
        if self.enabled:
            self.stream.write("\r\x1b[K")
            self.stream.flush()


def _sampler_draws(sampler: qt.Sampler, n: int, seed: int) -> list[float]:
    return sampler.sample_n_seeded(n, seed) if n else []


def _f32(a: np.ndarray) -> np.ndarray:
    return a.astype(np.float32).astype(np.float64)


def _threads(cfg: AssetConfig) -> int:
    return cfg.output.threads or min(4, os.cpu_count() or 1)


def build_asset(cfg: AssetConfig, progress: Progress | None = None,
                run_realizations: Callable | None = None) -> Asset:
    """Build the whole asset in memory. Raises ``AssetError`` when the structure does not close.

    ``run_realizations(inputs, seeds, threads, progress)`` runs the volumetric realizations and
    returns ``realization_volumes(inputs, k, seeds[k])`` for every k, in order (default: a
    thread pool); any executor that keeps that contract gives the same bits."""
    prog = progress or Progress(enabled=False)
    t0 = time.perf_counter()
    asset, seeds = prepare_asset(cfg, prog)
    t1 = time.perf_counter()
    runner = run_realizations or functools.partial(_run_threads, realization_seed(cfg))
    results = list(runner(asset.volume_inputs, seeds, _threads(cfg), prog))
    asset.timings["realizations"] = time.perf_counter() - t1
    complete_asset(asset, results)
    asset.timings["build"] = time.perf_counter() - t0
    prog.done()
    return asset


def volume_inputs(cfg: AssetConfig) -> tuple[gs.VolumeInputs, list[int]]:
    """The inputs of the asset's volumetric realizations and their seeds (one per realization):
    ``realization_volumes(inputs, k, seeds[k])`` is realization k of ``build_asset(cfg)``."""
    asset, seeds = prepare_asset(cfg)
    return asset.volume_inputs, seeds


def complete_asset(asset: Asset, results: list[gs.RealizationVolumes]) -> None:
    """Attach the realizations: node-wise P90/P50/P10 porosity (P90 = 10th percentile), and
    realization 0 on the asset lattice."""
    if not results:
        raise AssetError("volumetrics: no realizations")
    fr, c = asset.config.frame, asset.config.porosity.coarsen
    stack = np.stack([r.porosity for r in results])
    asset.porosity_pct = {name: gs.refine_bilinear(gs.percentile7(stack, q, axis=0), c, (fr.ncol, fr.nrow))
                          for name, q in (("p90", 10), ("p50", 50), ("p10", 90))}
    asset.porosity_sim = gs.refine_bilinear(results[0].porosity, c, (fr.ncol, fr.nrow))
    asset.realizations = list(results)


def prepare_asset(cfg: AssetConfig, progress: Progress | None = None) -> tuple[Asset, list[int]]:
    """Every stage but the realizations: the asset without them, and the realization seeds."""
    prog = progress or Progress(enabled=False)
    timings: dict[str, float] = {}
    t0 = time.perf_counter()
    seeds = spawn_seeds(cfg.asset.seed, N_STAGES)
    fr, st = cfg.frame, cfg.structure
    lat = qt.Lattice(fr.east0, fr.north0, fr.xinc, fr.yinc, fr.ncol, fr.nrow, fr.rotation_deg, fr.yflip)
    geom = gs.LatticeGeom.of(lat)

    # 1. Structure and isochore (both run outside the interpreter lock: in parallel).
    prog.stage("structure")
    noise_vgm = qt.Variogram("spherical", 0.0, 1.0, st.noise_range_m)
    iso_vgm = qt.Variogram("gaussian", 0.0, 1.0, cfg.isochore.range_m)
    with ThreadPoolExecutor(max_workers=2) as pool:
        f_relief = pool.submit(fields.synth_dome_surface, lat, st.relief_m, st.aspect, st.tilt_m,
                               st.noise_std_m ** 2, noise_vgm, seeds[S_NOISE])
        f_iso = pool.submit(fields.synth_isochore, lat, cfg.isochore.mean_m, cfg.isochore.std_m,
                            iso_vgm, seeds[S_ISOCHORE])
        relief = f_relief.result().values
        iso = f_iso.result().values
    # The grids are exported as IRAP (32-bit floats); the asset works on exactly those values, so
    # picks and volumes recomputed from the files agree with the asset to the last bit.
    top = _f32(st.datum_tvd_m - relief)
    base = _f32(top + iso)
    iso = _f32(iso)
    timings["structure"] = time.perf_counter() - t0

    spill, crest_ij, spill_ij = gs.spill_depth(top)
    crest = float(top[crest_ij])
    if not spill > crest:
        raise AssetError(f"structure: no closure on the lattice: the crest ({crest:.1f} m TVD) "
                         "spills at once over the lattice edge; enlarge the frame or the relief")
    contact = spill if cfg.contact.tvd_m == "spill" else float(cfg.contact.tvd_m)
    if contact > spill:
        raise AssetError(f"contact.tvd_m: {contact!r} m is below the spill point ({spill:.2f} m TVD); "
                         "the closure cannot hold a column below its spill point")
    if not contact > crest:
        raise AssetError(f"contact.tvd_m: {contact!r} m is above the crest ({crest:.2f} m TVD); "
                         "nothing is trapped")
    trap = gs.trap_mask(top, contact)
    top_f = Field(top, lat)
    nodes_x, nodes_y = top_f.xy()
    relief_f = Field(-top, lat)
    crest_xy = (float(nodes_x[crest_ij]), float(nodes_y[crest_ij]))
    # At the spill depth itself the contour touches the spill node and may pinch off; a contour
    # a hair shallower (at most 0.1 m) is the closing one.
    for eps in (0.0, 1e-6, 1e-3, 0.1):
        closure = fields.closure_outline(relief_f, -(contact - eps))
        if len(closure) >= 3 and gs.points_in_polygon(closure, *crest_xy)[0]:
            break
    else:
        raise AssetError(f"structure: the contour at the contact ({contact:.2f} m TVD) does not "
                         "close around the crest")
    corners = [lat.node_xy(0, 0), lat.node_xy(fr.ncol - 1, 0), lat.node_xy(fr.ncol - 1, fr.nrow - 1),
               lat.node_xy(0, fr.nrow - 1)]
    study = np.array(corners, dtype=np.float64)
    grv_m3 = gs.grv(top, base, contact, geom.cell_area, trap)

    # 2. Wells: targets inside the inner closure, heads back along the designed path.
    prog.stage("wells")
    t1 = time.perf_counter()
    wells = _build_wells(cfg, top_f, Field(base, lat), contact, crest, closure, seeds)
    timings["wells"] = time.perf_counter() - t1

    # 3. Porosity control and maps.
    prog.stage("porosity maps")
    t1 = time.perf_counter()
    control, names = _control_wells(cfg, lat, study, wells, seeds)
    phi = control[:, 2]
    var = float(np.var(phi)) if len(phi) > 1 else 0.0
    var = var if var > 0 else 1e-6
    pc = cfg.porosity
    vgm_params = (pc.variogram, var * pc.nugget_fraction, var * (1.0 - pc.nugget_fraction), pc.range_m)
    vgm = qt.Variogram(*vgm_params)
    est, kv = fields.local_kriging(control, lat, vgm, pc.krige_neighbours, pc.radius_m)
    kriged, kvar = est.values, kv.values
    c = pc.coarsen
    sim_geom = gs.LatticeGeom(fr.east0, fr.north0, fr.xinc * c, fr.yinc * c,
                              -(-(fr.ncol - 1) // c) + 1, -(-(fr.nrow - 1) // c) + 1,
                              lat.rotation_deg, fr.yflip)
    h = np.where(trap, np.maximum(np.minimum(base, contact) - top, 0.0), 0.0)
    weights = gs.coarse_weights(h, c, (sim_geom.ncol, sim_geom.nrow))
    vc = cfg.volumetrics
    inputs = gs.VolumeInputs(tuple(tuple(r) for r in control.tolist()), sim_geom, vgm_params, pc.sim_neighbours,
                             pc.radius_m, weights, grv_m3, (vc.ntg_min, vc.ntg_mode, vc.ntg_max),
                             (vc.sw_mean, vc.sw_std, vc.sw_min, vc.sw_max), (vc.bo_min, vc.bo_max))
    timings["porosity"] = time.perf_counter() - t1

    real_seeds = spawn_seeds(seeds[S_REALIZATIONS], vc.realizations)
    asset = Asset(cfg, lat, top, base, iso, crest, crest_xy, spill,
                  (float(nodes_x[spill_ij]), float(nodes_y[spill_ij])), contact, trap, closure, study,
                  wells, control, names, kriged, kvar, np.full_like(top, np.nan), {}, sim_geom, inputs,
                  [], grv_m3, timings)
    return asset, real_seeds


def realization_seed(cfg: AssetConfig) -> int:
    """The master seed of the volumetric realizations: their seeds are ``spawn_seeds(it, n)``."""
    return spawn_seeds(cfg.asset.seed, N_STAGES)[S_REALIZATIONS]


def _run_threads(master: int, inputs: gs.VolumeInputs, seeds: list[int], threads: int, prog: Progress):
    """Realizations through the ensemble runner on a thread pool (the simulation releases the
    interpreter lock), reduced in order. At most two per thread are in flight, so an interrupt
    stops the loop at once."""
    from ..ensemble import run
    from ..ensemble.reducers import Collect
    from ..ensemble.workflows import VOLUME_KEYS, VolumetricsWorkflow

    workers = max(1, threads)
    keys = ("porosity", *VOLUME_KEYS)
    res = run(VolumetricsWorkflow(inputs), len(seeds), master, workers=workers, window=2 * workers,
              reducers=[Collect(k) for k in keys], progress=prog.bar)
    if res.seeds != seeds:
        raise AssertionError("build_asset: realization seeds differ from spawn_seeds(master, n)")
    cols = [res[k]["all"] for k in keys]
    return [gs.RealizationVolumes(k, s, *(c[k] for c in cols[1:]), cols[0][k].values)
            for k, s in enumerate(res.seeds)]


def _profile_kwargs(cfg: AssetConfig, azimuth: float) -> dict[str, object]:
    w = cfg.wells
    if w.profile == "vertical":
        return {}
    kw: dict[str, object] = {"kickoff_md": w.kickoff_md_m, "build_rate_deg_per_30m": w.build_rate_deg_per_30m,
                             "hold_incl_deg": w.hold_incl_deg, "azimuth_deg": azimuth}
    if w.profile == "build_hold_drop":
        kw.update(drop_start_md=w.drop_start_md_m, drop_rate_deg_per_30m=w.drop_rate_deg_per_30m,
                  final_incl_deg=w.final_incl_deg)
    return kw


def _trajectory(cfg: AssetConfig, head, td: float, azimuth: float) -> dict[str, np.ndarray]:
    w = cfg.wells
    tr = qt.synth_trajectory_profile(list(head), w.kb_m, td, w.survey_step_m, 0, w.profile,
                                     **_profile_kwargs(cfg, azimuth))
    return {"md": np.array(tr["md"]), "incl": np.array(tr["incl"]), "azim": np.array(tr["azim"]),
            "x": np.array(tr["x"]), "y": np.array(tr["y"]), "tvd": np.array(tr["tvd"]) - w.kb_m}


def _build_wells(cfg: AssetConfig, top: Field, base: Field, contact: float, crest: float,
                 closure: np.ndarray, seeds: list[int]) -> list[Well]:
    w = cfg.wells
    n = w.count
    inner_level = crest + w.target_fraction * (contact - crest)
    inner = fields.closure_outline(Field(-top.values, top.lattice), -inner_level)
    if len(inner) < 3:
        inner = closure
    targets = qt.place_wells_in_polygon(inner.tolist(), n, seeds[S_TARGETS])
    azimuths = _sampler_draws(qt.Sampler.uniform(w.azimuth_min_deg, w.azimuth_max_deg), n, seeds[S_AZIMUTH])
    if w.residual_std_m > 0:
        res = _sampler_draws(qt.Sampler.normal(w.residual_mean_m, w.residual_std_m), 2 * n, seeds[S_RESIDUAL])
    else:
        res = [w.residual_mean_m] * (2 * n)
    log_seeds = spawn_seeds(seeds[S_LOGS], n)
    deepest = float(np.nanmax(base.values))
    wells = []
    for k in range(n):
        name = f"{cfg.asset.well_prefix}{k + 1}"
        tx, ty = targets[k]
        az = azimuths[k]
        t_top = float(gs.surface_at(top, tx, ty)[0])
        t_base = float(gs.surface_at(base, tx, ty)[0])
        # design at the origin: the path is the same wherever the head is, only shifted
        td_trial = 3.0 * (deepest + w.td_below_base_m + abs(w.kb_m)) + w.kickoff_md_m + 100.0
        probe = _trajectory(cfg, (0.0, 0.0), td_trial, az)
        at = gs.pick_at_tvd(probe["md"], probe["x"], probe["y"], probe["tvd"], t_top)
        off = (at.x, at.y) if at is not None else (0.0, 0.0)
        end = gs.pick_at_tvd(probe["md"], probe["x"], probe["y"], probe["tvd"], t_base + w.td_below_base_m)
        td = math.ceil((end.md if end is not None else td_trial) / w.survey_step_m) * w.survey_step_m
        head = (tx - off[0], ty - off[1])
        sv = _trajectory(cfg, head, td, az)
        pen, picks, why, resid = {}, {}, {}, {}
        for j, (key, surf) in enumerate((("top", top), ("base", base))):
            p, reason = gs.penetration(sv["md"], sv["x"], sv["y"], sv["tvd"], surf)
            pen[key] = p
            resid[key] = float(res[2 * k + j])
            why[key] = reason
            picks[key] = None
            if p is not None:
                picks[key] = gs.pick_at_tvd(sv["md"], sv["x"], sv["y"], sv["tvd"], p.tvd + resid[key])
                if picks[key] is None:
                    why[key] = "the pick plus its residual lies beyond TD"
        if picks["top"] is not None and picks["base"] is not None and picks["base"].md < picks["top"].md:
            picks["base"] = picks["top"]   # a residual may not invert the interval: zero thickness
        in_closure = bool(pen["top"] is not None and pen["top"].tvd < contact
                          and gs.points_in_polygon(closure, pen["top"].x, pen["top"].y)[0])
        log = _well_log(cfg, sv, picks, log_seeds[k]) if picks["top"] is not None else None
        if log is None and not why["top"]:
            why["top"] = "no pick"
        dls = qt.max_dogleg_severity(sv["md"].tolist(), sv["incl"].tolist(), sv["azim"].tolist())
        wells.append(Well(name, head, w.kb_m, az, (tx, ty), sv, pen, resid, picks, why, log,
                          in_closure, dls))
    return wells


def _well_log(cfg: AssetConfig, sv: dict[str, np.ndarray], picks: dict[str, gs.Pick | None],
              seed: int) -> dict[str, np.ndarray]:
    lg = cfg.logs
    step = lg.step_m
    top_md = picks["top"].md  # type: ignore[union-attr]
    base_md = picks["base"].md if picks["base"] is not None else float(sv["md"][-1])
    k0 = math.ceil((top_md - lg.shoulder_m) / step - 1e-9)
    k1 = math.floor(min(base_md + lg.shoulder_m, float(sv["md"][-1])) / step + 1e-9)
    k0 = max(k0, 0)
    md = np.arange(k0, k1 + 1, dtype=np.float64) * step
    zone = np.where(md < top_md, ZONE_CAP, np.where(md < base_md, ZONE_RESERVOIR, ZONE_BELOW))
    n1, n2, n3 = (int(np.count_nonzero(zone == z)) for z in (ZONE_CAP, ZONE_RESERVOIR, ZONE_BELOW))
    s_cap, s_res, s_below = spawn_seeds(seed, 3)
    phie = np.empty(len(md))
    net = np.zeros(len(md), dtype=np.int64)
    if n1:
        phie[:n1] = qt.synth_log_series([qt.ZoneSpec(n1 * step, lg.cap_por_mean, lg.cap_por_std,
                                                     lg.shoulder_corr_m)], step, 0, s_cap)
    if n2:
        spec = qt.PetroZoneSpec(lg.ntg_target, lg.net_por_mean, lg.net_por_std, lg.nonnet_por_mean,
                                lg.nonnet_por_std, lg.bed_scale_m, lg.correlation_len_m, lg.net_cutoff)
        cur = qt.synth_petro_curves(spec, step, n2, s_res)
        phie[n1:n1 + n2] = cur["phie"]
        net[n1:n1 + n2] = cur["net_flag"]
    if n3:
        phie[n1 + n2:] = qt.synth_log_series([qt.ZoneSpec(n3 * step, lg.base_por_mean, lg.base_por_std,
                                                          lg.shoulder_corr_m)], step, 0, s_below)
    ntg = np.array(qt.ntg_curve(net.tolist(), step, lg.ntg_window_m))
    return {"DEPT": md, "TVD": np.interp(md, sv["md"], sv["tvd"]), "X": np.interp(md, sv["md"], sv["x"]),
            "Y": np.interp(md, sv["md"], sv["y"]), "ZONE": zone.astype(np.int64), "PHIE": phie,
            "NET": net, "NTG": ntg}


def _control_wells(cfg: AssetConfig, lat: qt.Lattice, study: np.ndarray, wells: list[Well],
                   seeds: list[int]) -> tuple[np.ndarray, list[str]]:
    """Net-porosity control: each appraisal well at the middle of its reservoir interval, plus
    older control wells across the study area with their own synthetic logs."""
    rows, names = [], []
    for w in wells:
        if w.log is None or not math.isfinite(w.phi_net):
            continue
        t, b = w.picks["top"], w.picks["base"] or w.picks["top"]
        rows.append([(t.x + b.x) * 0.5, (t.y + b.y) * 0.5, w.phi_net])  # type: ignore[union-attr]
        names.append(w.name)
    pc, lg = cfg.porosity, cfg.logs
    if pc.control_wells:
        xy = qt.place_wells_in_polygon(study.tolist(), pc.control_wells, seeds[S_CONTROL_XY])
        spec = qt.PetroZoneSpec(lg.ntg_target, lg.net_por_mean, lg.net_por_std, lg.nonnet_por_mean,
                                lg.nonnet_por_std, lg.bed_scale_m, lg.correlation_len_m, lg.net_cutoff)
        n = max(1, int(round(pc.control_interval_m / lg.step_m)))
        cs = spawn_seeds(seeds[S_CONTROL_LOGS], pc.control_wells)
        with ThreadPoolExecutor(max_workers=2) as pool:
            curves = list(pool.map(lambda s: qt.synth_petro_curves(spec, lg.step_m, n, s), cs))
        for k, ((x, y), cur) in enumerate(zip(xy, curves)):
            phie = np.array(cur["phie"])
            net = np.array(cur["net_flag"]) == 1
            if net.any():
                rows.append([x, y, float(np.mean(phie[net]))])
                names.append(f"C-{k + 1}")
    if not rows:
        raise AssetError("porosity: no control well has net reservoir; add control wells")
    return np.array(rows, dtype=np.float64), names
