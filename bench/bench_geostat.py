"""Geostatistics against PyKrige, scikit-gstat, GSTools and scipy's cKDTree.

1. local_kriging_grid_flat: 256 x 256 lattice, 2,000 scattered data, 24 neighbours,
   spherical model; PyKrige OrdinaryKriging(...).execute("grid", ..., n_closest_points=24,
   backend="loop") on the same data and variogram. Estimates and variances must agree to
   1e-8 relative before any time is trusted.
2. experimental_variogram: 5,000 data, 20 lags; scikit-gstat Variogram (no model fit) and
   GSTools vario_estimate with the same bin edges. Pair counts must match exactly and
   semivariances to 1e-12 relative.
3. Neighbour index: queries per second for the 24 nearest among 10^5 points, bulk-built
   and grown point by point (C++ driver bench/neighbours_qps.cpp, built here against
   build/dev/libquarn_core.a); scipy cKDTree.query with k=24 as a reference point.

Run: PYTHONPATH=build/dev/pkg .venv-bench/bin/python bench/bench_geostat.py
"""
import os
import random
import subprocess
import sys
import tempfile
import time

import numpy as np

import quarntools as qt
from timing import best

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def rel_err(got, ref):
    got, ref = np.asarray(got, float), np.asarray(ref, float)
    return float(np.max(np.abs(got - ref)) / max(np.max(np.abs(ref)), 1e-300))


def bench_kriging():
    from pykrige.ok import OrdinaryKriging

    rng = random.Random(0)
    n, ncol, nrow, inc = 2000, 256, 256, 10.0
    coords = [[rng.uniform(0, 2550), rng.uniform(0, 2550), rng.gauss(0, 1)] for _ in range(n)]
    lat = qt.Lattice(0.0, 0.0, inc, inc, ncol, nrow)
    nugget, sill, rng_a = 0.1, 0.9, 500.0
    v = qt.Variogram("spherical", nugget, sill, rng_a)

    tq, (est, var, shape) = best(lambda: qt.local_kriging_grid_flat(coords, lat, v, 24, 1e9))
    est = np.frombuffer(est, "<f8").reshape(shape)
    var = np.frombuffer(var, "<f8").reshape(shape)

    xs = np.array([c[0] for c in coords])
    ys = np.array([c[1] for c in coords])
    zs = np.array([c[2] for c in coords])
    gx = np.arange(ncol) * inc
    gy = np.arange(nrow) * inc

    def pykrige():
        ok = OrdinaryKriging(xs, ys, zs, variogram_model="spherical",
                             variogram_parameters={"psill": sill, "range": rng_a, "nugget": nugget})
        return ok.execute("grid", gx, gy, n_closest_points=24, backend="loop")

    tp, (pz, pss) = best(pykrige, repeat=1)
    # PyKrige's grid is z[row][col]; ours is field[col][row].
    e_err = rel_err(est, np.asarray(pz).T)
    v_err = rel_err(var, np.asarray(pss).T)
    assert e_err < 1e-8 and v_err < 1e-8, (e_err, v_err)
    print(f"local_kriging_grid_flat 256x256, 2000 data, 24 nb: quarntools {tq:.3f} s | "
          f"PyKrige loop {tp:.2f} s | PyKrige/quarntools = {tp / tq:.1f}x | "
          f"max rel diff est {e_err:.1e} var {v_err:.1e}")


def bench_experimental():
    import gstools as gs
    import skgstat

    rng = random.Random(1)
    n, lag, n_lags = 5000, 25.0, 20
    coords = [[rng.uniform(0, 1000), rng.uniform(0, 1000), rng.gauss(0, 1)] for _ in range(n)]
    tq, ev = best(lambda: qt.experimental_variogram(coords, lag, n_lags))

    pos = np.array([[c[0], c[1]] for c in coords])
    vals = np.array([c[2] for c in coords])
    edges = np.arange(n_lags + 1) * lag

    def gstools():
        return gs.vario_estimate((pos[:, 0], pos[:, 1]), vals, edges, return_counts=True)

    tg, (_, g_gamma, g_counts) = best(gstools)
    assert list(ev.counts) == [int(c) for c in g_counts], "GSTools pair counts differ"
    g_err = rel_err(ev.semivariances, g_gamma)
    assert g_err < 1e-12, g_err

    def scikit_gstat():
        return skgstat.Variogram(pos, vals, n_lags=n_lags, maxlag=n_lags * lag, bin_func="even",
                                 fit_method=None).experimental

    ts, s_gamma = best(scikit_gstat)
    s_err = rel_err(ev.semivariances, s_gamma)
    assert s_err < 1e-12, s_err
    print(f"experimental_variogram 5000 data, 20 lags: quarntools {tq * 1e3:.1f} ms | "
          f"GSTools {tg * 1e3:.1f} ms ({tg / tq:.1f}x) | scikit-gstat {ts * 1e3:.1f} ms ({ts / tq:.1f}x) | "
          f"max rel diff {max(g_err, s_err):.1e}")

    tf, fitted = best(lambda: qt.Variogram.fit("spherical", ev))
    print(f"Variogram.fit on it: {tf * 1e3:.2f} ms -> {fitted!r}")


def bench_neighbours():
    lib = os.path.join(ROOT, "build", "dev", "libquarn_core.a")
    if not os.path.exists(lib):
        print("neighbour index: build/dev/libquarn_core.a missing (run tools/dev-build)")
        return
    with tempfile.TemporaryDirectory() as tmp:
        exe = os.path.join(tmp, "neighbours_qps")
        subprocess.run(["c++", "-std=c++20", "-O2", "-I", os.path.join(ROOT, "src"),
                        os.path.join(ROOT, "bench", "neighbours_qps.cpp"), lib, "-o", exe], check=True)
        out = subprocess.run([exe], check=True, capture_output=True, text=True).stdout
    print("neighbour index, 24 nearest within 50 among 10^5 points (C++ driver):")
    for line in out.strip().splitlines():
        print("   ", line)

    from scipy.spatial import cKDTree
    gen = np.random.default_rng(0)
    pts = gen.uniform(0, 1000, (100_000, 2))
    qs = gen.uniform(0, 1000, (200_000, 2))
    tree = cKDTree(pts)
    t = time.perf_counter()
    tree.query(qs, k=24, distance_upper_bound=50.0, workers=1)
    dt = time.perf_counter() - t
    print(f"    scipy cKDTree.query(k=24, batched, 1 worker): {len(qs) / dt:.0f} queries/s")


def main():
    bench_kriging()
    bench_experimental()
    bench_neighbours()
    return 0


if __name__ == "__main__":
    sys.exit(main())
