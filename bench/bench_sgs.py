"""Sequential Gaussian simulation against gstatsim (skrige_sgs, pure Python + numpy).

Run: PYTHONPATH=build/dev/pkg .venv-bench/bin/python bench/bench_sgs.py [--profile] [--full-peer]

1. Agreement: both simulate the same normal-score data on a 40 x 40 grid (24 points,
   radius 30 nodes, spherical range 20 nodes). Simulations cannot agree bit for bit, so
   the check is statistical: quarntools honours every datum exactly, and the field
   statistics and the experimental variogram of both tools agree within written bounds.
2. Times on one core (CPU time of this process; wall time beside it): sgs_flat with 500
   data on 256 x 256, and the ratio against gstatsim on the same grid and neighbourhood.
   gstatsim needs ~6 ms per node (hours for 256^2 on a shared machine), so it runs on
   64 x 64 in the same run and its 256^2 time is extrapolated per node (its cost per
   node grows with the data frame, so the extrapolation favours gstatsim);
   --full-peer runs it on 256 x 256 as well.
3. Scaling table 64^2 ... 512^2 (cost should grow about linearly in nodes).
4. --profile: where the time goes (search, kriging, drawing), from `perf record` of a
   child process running one 256^2 simulation.
"""
import math
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import quarntools as qt
from timing import semivariogram, timed

RANGE, RADIUS, NEIGH = 20.0, 30.0, 24
VG = qt.Variogram("spherical", 0.0, 1.0, RANGE)


def data(n, size, seed):
    """n points with values spread as normal scores (their transform is the identity)."""
    rng = np.random.default_rng(seed)
    pts = rng.uniform(0, size - 1, (n, 2))
    z = np.array([statistics.NormalDist().inv_cdf((k + 0.5) / n) for k in range(n)])
    rng.shuffle(z)
    return [[float(x), float(y), float(v)] for (x, y), v in zip(pts, z)]


def lattice(size):
    return qt.Lattice(0, 0, 1, 1, size, size)


def qt_sgs(coords, size, seed):
    buf, shape = qt.sgs_flat(coords, lattice(size), VG, NEIGH, RADIUS, seed)
    return np.frombuffer(buf, "<f8").reshape(shape)


def gstatsim_sgs(coords, size, seed):
    import gstatsim as gs
    import pandas as pd

    class Rng(np.random.Generator):
        # gstatsim 1.2 stores rng.normal(..., 1) (a 1-element array) into a float slot,
        # which NumPy 2 refuses; hand it the scalar draw.
        def normal(self, loc=0.0, scale=1.0, size=None):
            return super().normal(loc, scale)

    df = pd.DataFrame(coords, columns=["X", "Y", "Z"])
    jj, ii = np.meshgrid(np.arange(size, dtype=float), np.arange(size, dtype=float))
    grid = np.column_stack([ii.ravel(), jj.ravel()])  # node (i, j) at row i * size + j
    vario = [0.0, 0.0, RANGE, RANGE, 1.0, "Spherical"]
    out = gs.Interpolation.skrige_sgs(grid, df, "X", "Y", "Z", NEIGH, vario, RADIUS,
                                      seed=Rng(np.random.PCG64(seed)), quiet=True)
    return out.reshape(size, size)


def sph(h):
    r = h / RANGE
    return 1.0 if r >= 1 else 1.5 * r - 0.5 * r ** 3


def agreement():
    size, coords = 40, data(60, 40, 3)
    lags = [1, 2, 4, 8, 12]
    q = [qt_sgs(coords, size, s) for s in range(8)]
    g = [gstatsim_sgs(coords, size, s) for s in range(2)]
    last = {(math.floor(x + 0.5), math.floor(y + 0.5)): z for x, y, z in coords}  # the last datum per node
    assert all(f[node] == z for f in q for node, z in last.items())  # honoured exactly
    qs = np.mean([semivariogram(f, lags) for f in q], axis=0)
    gs_ = np.mean([semivariogram(f, lags) for f in g], axis=0)
    print("agreement on 40x40, 60 data (mean of 8 quarntools / 2 gstatsim realisations)")
    print("  lag   model  quarntools  gstatsim")
    for h, a, b in zip(lags, qs, gs_):
        print(f"  {h:3d}  {sph(h):6.3f}  {a:10.3f}  {b:8.3f}")
    qm, gm = np.mean([f.mean() for f in q]), np.mean([f.mean() for f in g])
    qv, gv = np.mean([f.var() for f in q]), np.mean([f.var() for f in g])
    print(f"  field mean {qm:+.3f} vs {gm:+.3f}; variance {qv:.3f} vs {gv:.3f}")
    # tolerance: realisations of a 40x40 field with range 20 vary a lot; 0.25 in mean,
    # 0.3 in variance and in every semivariance is what independent seeds of either tool reach
    assert abs(qm - gm) < 0.25 and abs(qv - gv) < 0.3
    assert all(abs(a - b) < 0.3 for a, b in zip(qs, gs_))


def timings(full_peer):
    coords = data(500, 256, 11)
    cpu, wall, _ = timed(lambda: qt_sgs(coords, 256, 1), repeat=3)
    print(f"\nsgs_flat 256x256, 500 data, {NEIGH} neighbours, radius {RADIUS:g}: "
          f"{cpu:.3f} s CPU ({wall:.3f} s wall)   goal <= 0.5 s")
    small = data(500 * 64 * 64 // (256 * 256), 64, 11)  # same data density
    qcpu, qwall, _ = timed(lambda: qt_sgs(small, 64, 1), repeat=3)
    gcpu, gwall, _ = timed(lambda: gstatsim_sgs(small, 64, 1), repeat=1)
    print(f"64x64 same neighbourhood: quarntools {qcpu*1e3:.1f} ms CPU, gstatsim {gcpu:.2f} s CPU "
          f"-> {gcpu/qcpu:,.0f}x")
    if full_peer:
        gcpu256, _, _ = timed(lambda: gstatsim_sgs(coords, 256, 1), repeat=1)
        print(f"256x256: gstatsim {gcpu256:.1f} s CPU -> {gcpu256/cpu:,.0f}x")
    else:
        est = gcpu * (256 * 256) / (64 * 64)
        print(f"256x256: gstatsim extrapolated per node {est:.0f} s CPU -> at least {est/cpu:,.0f}x")


def scaling():
    print("\nscaling (CPU time, 500 data per 256^2 nodes)")
    print("   nodes      time     us/node")
    for size in (64, 128, 256, 512):
        coords = data(max(2, 500 * size * size // (256 * 256)), size, 11)
        cpu, _, _ = timed(lambda: qt_sgs(coords, size, 1), repeat=2 if size < 512 else 1)
        print(f"  {size:3d}^2  {cpu:8.3f} s  {cpu / size**2 * 1e6:8.2f}")


CATEGORIES = [
    ("search", ("NodeSearch", "NeighbourIndex")),
    ("kriging", ("factorize", "solve", "unit_shape", "gamma", "sweep_with", "Workspace::neighbours", "LuBuffers")),
    ("drawing", ("draw_standard_normal", "draw_index_inclusive", "chacha", "Stream", "refill", "normal_tail")),
    ("transform", ("NormalScore",)),
]


def profile():
    if os.environ.get("QUARN_BENCH_CHILD"):
        coords = data(500, 256, 11)
        for _ in range(3):
            qt_sgs(coords, 256, 1)
        return
    out = os.path.join(tempfile.gettempdir(), "quarn_bench_sgs.perf")
    env = dict(os.environ, QUARN_BENCH_CHILD="1")
    try:
        subprocess.run(["perf", "record", "-q", "-o", out, sys.executable, __file__, "--profile"], env=env,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        rep = subprocess.run(["perf", "report", "-i", out, "--no-children", "--sort", "symbol", "--stdio",
                              "--percent-limit", "0.1"], capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError) as e:
        print(f"\nprofile: perf not usable ({e})")
        return
    totals = {name: 0.0 for name, _ in CATEGORIES}
    other = 0.0
    for line in rep.splitlines():
        parts = line.split()
        if not parts or not parts[0].endswith("%"):
            continue
        pct, sym = float(parts[0][:-1]), line
        for name, keys in CATEGORIES:
            if any(k in sym for k in keys):
                totals[name] += pct
                break
        else:
            other += pct
    print("\nprofile of 3 x sgs_flat 256x256 (perf, share of samples; 'kriging' includes building the records)")
    for name, _ in CATEGORIES:
        print(f"  {name:10s} {totals[name]:5.1f} %")
    print(f"  {'other':10s} {other:5.1f} %  (Python start-up, data set-up, conversions)")


def main():
    if "--profile" in sys.argv and os.environ.get("QUARN_BENCH_CHILD"):
        profile()
        return
    agreement()
    timings("--full-peer" in sys.argv)
    scaling()
    if "--profile" in sys.argv:
        profile()


if __name__ == "__main__":
    main()
