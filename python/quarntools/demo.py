"""One synthetic asset end to end: structure, closure, wells, logs, maps and volumes.

Everything is derived from one master seed, so the same seed prints the same report.
"""
from __future__ import annotations

import math
import os
import sys
import time
from concurrent.futures import ThreadPoolExecutor

from . import _quarntools as qt

SPACING = 50.0          # map node spacing, m
ROTATION = 20.0         # lattice rotation, degrees CCW from east
RELIEF = 120.0          # dome amplitude, m
DATUM = 2400.0          # top-structure depth of the regional datum, m TVD
CELL = 0.5              # log sample step, m


def _seeds(master: int):
    """Independent sub-stream seeds, one per stage, from the master seed."""
    k = 0
    while True:
        k += 1
        yield (master * 0x9E3779B97F4A7C15 + k * 0xBF58476D1CE4E5B9) % 2**64


def _ring_area(ring):
    s = 0.0
    for (x0, y0), (x1, y1) in zip(ring, ring[1:] + ring[:1]):
        s += x0 * y1 - x1 * y0
    return abs(s) * 0.5


def _inside(ring, x, y):
    c = False
    n = len(ring)
    for k in range(n):
        (x0, y0), (x1, y1) = ring[k], ring[(k + 1) % n]
        if (y0 > y) != (y1 > y) and x < (x1 - x0) * (y - y0) / (y1 - y0) + x0:
            c = not c
    return c


def _fmt(v, nd=1):
    return f"{v:,.{nd}f}"


class _Progress:
    def __init__(self, total, enabled):
        self.total, self.enabled, self.done, self.t0 = total, enabled and sys.stderr.isatty(), 0, time.perf_counter()

    def step(self):
        self.done += 1
        if self.enabled and (self.done == self.total or self.done % max(1, self.total // 50) == 0):
            w = 30
            f = int(w * self.done / self.total)
            sys.stderr.write(f"\r  realizations [{'#' * f}{'.' * (w - f)}] {self.done}/{self.total}"
                             f"  {time.perf_counter() - self.t0:4.1f}s")
            if self.done == self.total:
                sys.stderr.write("\n")
            sys.stderr.flush()


def run(seed: int = 20261207, out: str | None = None, grid: int = 121, realizations: int = 200,
        progress: bool = True) -> int:
    seeds = _seeds(seed)
    lines: list[str] = []
    say = lines.append

    # 1. World frame and lattice.
    geo = qt.Georef()
    lat = geo.lattice(SPACING, SPACING, grid, grid, ROTATION)
    say(f"quarntools {qt.__version__} demo, seed {seed}")
    say(f"frame      {geo!r}")
    say(f"lattice    {lat!r}")

    # 2. Structure: a dome with correlated noise, as elevation relief above the datum.
    noise_vgm = qt.Variogram("spherical", 0.0, 1.0, 12 * SPACING)
    relief = qt.synth_dome_surface(lat, RELIEF, 1.3, 10.0, 9.0, noise_vgm, next(seeds))
    depth = [[DATUM - v for v in col] for col in relief]
    crest = max(max(c) for c in relief)
    spill = crest - 0.4 * RELIEF
    ring = qt.closure_outline(relief, lat, spill)
    area = _ring_area(ring)
    say(f"structure  dome relief {RELIEF:g} m, crest at {_fmt(DATUM - crest)} m TVD, "
        f"spill at {_fmt(DATUM - spill)} m TVD")
    say(f"closure    {len(ring)} vertices, area {qt.m2_to_km2(area):.2f} km2")
    if len(ring) < 3:
        say("closure    none at this spill level; nothing more to do")
        print("\n".join(lines))
        return 1

    # 3. Wells inside the closure, directional paths, tops picked from the depth map.
    n_wells = 6
    heads = qt.place_wells_in_polygon(ring, n_wells, next(seeds))
    azim = qt.Sampler.uniform(0.0, 360.0).sample_n_seeded(n_wells, next(seeds))
    tops = qt.tops_from_surface(depth, lat, heads, qt.Sampler.normal(0.0, 2.5), next(seeds))
    on_map = [qt.resample(depth, lat, qt.Lattice(x, y, 1.0, 1.0, 1, 1))[0][0] for x, y in heads]
    say("wells      name       east        north    top TVD  residual  DLS max")
    trajectories = []
    for k, (xy, az) in enumerate(zip(heads, azim)):
        tr = qt.synth_trajectory_profile(xy, 25.0, DATUM + 300.0, 30.0, next(seeds), "build_hold",
                                         kickoff_md=600.0, build_rate_deg_per_30m=2.0, hold_incl_deg=25.0,
                                         azimuth_deg=az)
        trajectories.append(tr)
        dls = qt.max_dogleg_severity(tr["md"], tr["incl"], tr["azim"])
        say(f"           W-{k + 1:<3} {xy[0]:12.1f} {xy[1]:12.1f} {tops[k]:9.1f} {tops[k] - on_map[k]:+8.2f}"
            f" {dls:7.2f}")

    # 4. Isochore of the reservoir interval.
    iso_vgm = qt.Variogram("gaussian", 0.0, 1.0, 15 * SPACING)
    iso = qt.synth_isochore(lat, 45.0, 0.15, iso_vgm, next(seeds))
    inside = [(i, j) for i in range(grid) for j in range(grid) if _inside(ring, *lat.node_xy(i, j))]
    thick_in = [iso[i][j] for i, j in inside]
    say(f"isochore   mean {qt.mean([v for c in iso for v in c]):.1f} m, inside closure "
        f"{qt.mean(thick_in):.1f} m (P90 {qt.percentile(thick_in, 10):.1f}, P10 {qt.percentile(thick_in, 90):.1f})")

    # 5. Porosity logs per well: zone stack for the shale trend, calibrated petrophysics for the sand.
    zones = [qt.ZoneSpec(15.0, 0.08, 0.02, 2.0), qt.ZoneSpec(45.0, 0.2, 0.04, 4.0), qt.ZoneSpec(20.0, 0.1, 0.03, 2.0)]
    petro = qt.PetroZoneSpec(0.65, 0.22, 0.035, 0.07, 0.025, 1.5, 3.0)
    n_samp = int(45.0 / CELL)
    say("logs       well  samples   NTG   phi(net)  phi(all)  NTG curve min/max")
    well_rows = []
    logs = []
    for k, xy in enumerate(heads):
        stack = qt.synth_log_series(zones, CELL, 4, next(seeds))
        curves = qt.synth_petro_curves(petro, CELL, n_samp, next(seeds))
        phie, flag = curves["phie"], curves["net_flag"]
        ntg = qt.ntg_curve(flag, CELL, 5.0)
        net = [p for p, f in zip(phie, flag) if f]
        logs.append((stack, phie, flag, ntg))
        ntg_w = sum(flag) / len(flag)
        phi_w = qt.mean(phie)
        well_rows.append([xy[0], xy[1], phi_w])
        say(f"           W-{k + 1:<3} {len(phie):6d}  {ntg_w:5.2f}  {qt.mean(net) if net else math.nan:8.3f}"
            f"  {phi_w:8.3f}   {min(ntg):.2f}/{max(ntg):.2f}")

    # 6. Porosity maps from well averages (the six appraisal wells plus older control wells
    #    across the study area), kriged and simulated.
    extent = [lat.node_xy(i, j) for i in (0, grid - 1) for j in (0, grid - 1)]
    x0, x1 = min(p[0] for p in extent), max(p[0] for p in extent)
    y0, y1 = min(p[1] for p in extent), max(p[1] for p in extent)
    area_ring = qt.study_area_outline(x0, y0, x1, y1, 0.0, 1)
    for xy in qt.place_wells_in_polygon(area_ring, 24, next(seeds)):
        if lat.world_to_intrinsic(*xy) is None:
            continue
        fi, fj = lat.world_to_intrinsic(*xy)
        if 0 <= fi <= grid - 1 and 0 <= fj <= grid - 1:
            c = qt.synth_petro_curves(petro, CELL, n_samp, next(seeds))
            well_rows.append([xy[0], xy[1], qt.mean(c["phie"])])
    phi_vgm = qt.Variogram("spherical", 0.0, qt.variance([r[2] for r in well_rows]) or 1e-4, 40 * SPACING)
    radius = 200 * SPACING
    est, var = qt.local_kriging_grid(well_rows, lat, phi_vgm, 16, radius)
    sim = qt.sgs(well_rows, lat, phi_vgm, 12, radius, next(seeds))
    est_in = [est[i][j] for i, j in inside]
    sim_in = [sim[i][j] for i, j in inside]
    say(f"control    {len(well_rows)} wells with porosity averages")
    say(f"kriging    porosity inside closure: mean {qt.mean(est_in):.4f}, "
        f"max variance {max((v for c in var for v in c if v == v), default=math.nan):.2e}")
    say(f"sgs        porosity inside closure: mean {qt.mean(sim_in):.4f}, std {qt.std(sim_in):.4f}")

    # 7. Volumetrics: SGS porosity on a coarse lattice per realization, sampled NTG, Sw, Bo.
    coarse_n = max(8, grid // 4)
    coarse_inc = SPACING * (grid - 1) / (coarse_n - 1)
    coarse = geo.lattice(coarse_inc, coarse_inc, coarse_n, coarse_n, ROTATION)
    coarse_in = [i * coarse_n + j for i in range(coarse_n) for j in range(coarse_n)
                 if _inside(ring, *coarse.node_xy(i, j))] or [0]
    thick = qt.mean(thick_in)
    grv = area * thick
    r_seed = next(seeds)
    ntg_s = qt.Sampler.triangular(0.5, 0.65, 0.8).sample_n_seeded(realizations, next(seeds))
    sw_s = qt.Sampler.normal(0.3, 0.05).clamped(0.1, 0.6).sample_n_seeded(realizations, next(seeds))
    bo_s = qt.Sampler.uniform(1.15, 1.35).sample_n_seeded(realizations, next(seeds))
    bar = _Progress(realizations, progress)

    def one(r):
        buf, _ = qt.sgs_flat(well_rows, coarse, phi_vgm, 12, radius, (r_seed + r) % 2**64)
        vals = memoryview(buf).cast("d")
        return qt.mean([vals[k] for k in coarse_in])

    t0 = time.perf_counter()
    phis = [0.0] * realizations
    with ThreadPoolExecutor(max_workers=min(4, os.cpu_count() or 1)) as pool:
        for r, phi in enumerate(pool.map(one, range(realizations))):
            phis[r] = phi
            bar.step()
    stoiip = [grv * n * p * (1 - s) / b for n, p, s, b in zip(ntg_s, phis, sw_s, bo_s)]
    summary = qt.reservoir_summary(stoiip)
    say(f"volumes    GRV {qt.format_volume(grv)}, {realizations} realizations")
    say(f"           STOIIP P90 {qt.format_volume(summary.p90)}  P50 {qt.format_volume(summary.p50)}  "
        f"P10 {qt.format_volume(summary.p10)}  mean {qt.format_volume(summary.mean)}")
    say(f"           = {qt.m3_to_msm3(summary.p50):.2f} MSm3 / {qt.sm3_to_stb(summary.p50) / 1e6:.1f} MMstb (P50)")
    elapsed = time.perf_counter() - t0

    print("\n".join(lines))
    if progress:
        sys.stderr.write(f"  realization loop: {elapsed:.2f} s\n")
    if out:
        _figures(out, lat, relief, ring, heads, logs, sim, est, trajectories)
    return 0


def _figures(out, lat, relief, ring, heads, logs, sim, est, trajectories):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("figures    matplotlib not installed; text only")
        return
    os.makedirs(out, exist_ok=True)
    n = lat.ncol
    xs = [[lat.node_xy(i, j)[0] for j in range(lat.nrow)] for i in range(n)]
    ys = [[lat.node_xy(i, j)[1] for j in range(lat.nrow)] for i in range(n)]
    rx = [p[0] for p in ring] + [ring[0][0]]
    ry = [p[1] for p in ring] + [ring[0][1]]

    fig, ax = plt.subplots(figsize=(7, 6))
    m = ax.pcolormesh(xs, ys, relief, shading="auto", cmap="terrain")
    ax.plot(rx, ry, "k-", lw=1.5, label="closure")
    for k, tr in enumerate(trajectories):
        ax.plot(tr["x"], tr["y"], "r-", lw=1)
        ax.plot(heads[k][0], heads[k][1], "ro", ms=4)
        ax.annotate(f"W-{k + 1}", heads[k], fontsize=8)
    ax.set_aspect("equal")
    ax.ticklabel_format(useOffset=False, style="plain")
    ax.tick_params(axis="x", labelrotation=30)
    ax.set_title("Structure relief, closure and wells")
    fig.colorbar(m, ax=ax, label="relief (m)")
    fig.savefig(os.path.join(out, "map.png"), dpi=110)
    plt.close(fig)

    fig, axes = plt.subplots(1, len(logs), figsize=(2 * len(logs), 6), sharey=True)
    for k, (ax, (stack, phie, flag, ntg)) in enumerate(zip(axes, logs)):
        d = [i * CELL for i in range(len(phie))]
        ax.plot(phie, d, "b-", lw=0.7, label="phie")
        ax.plot(ntg, d, "g-", lw=1, label="NTG")
        ax.fill_betweenx(d, 0, [0.05 * f for f in flag], color="gold")
        ax.set_title(f"W-{k + 1}")
    axes[0].invert_yaxis()
    axes[0].set_ylabel("depth below top (m)")
    axes[0].legend(fontsize=7)
    fig.savefig(os.path.join(out, "logs.png"), dpi=110)
    plt.close(fig)

    fig, axes = plt.subplots(1, 2, figsize=(12, 5))
    for ax, f, title in ((axes[0], est, "Kriged porosity"), (axes[1], sim, "SGS porosity realization")):
        m = ax.pcolormesh(xs, ys, f, shading="auto", cmap="viridis")
        ax.plot(rx, ry, "w-", lw=1)
        ax.set_aspect("equal")
        ax.ticklabel_format(useOffset=False, style="plain")
        ax.tick_params(axis="x", labelrotation=30)
        ax.set_title(title)
        fig.colorbar(m, ax=ax)
    fig.savefig(os.path.join(out, "porosity.png"), dpi=110)
    plt.close(fig)
    print(f"figures    map.png, logs.png, porosity.png in {out}")
