"""Synthetic maps and outlines against peers: synth_isochore_flat against gstools' SRF
(randomisation method) and closure_outline against contourpy (matplotlib's contour engine).

Run: PYTHONPATH=build/dev/pkg .venv-bench/bin/python bench/bench_surface.py

1. Agreement first: an isochore and a gstools field with the same spherical model agree in
   mean, standard deviation and experimental variogram (both against the model, tolerance
   written below); the closure ring of a dome equals contourpy's largest closed line at
   the same level (same vertices to 1e-9, same area to 1e-9 relative).
2. Times on one core (CPU time of this process, wall time beside it), ratios in the same run.
"""
import math
import time

import numpy as np

import quarntools as qt
from timing import semivariogram, timed

RANGE = 20.0
VG = qt.Variogram("spherical", 0.0, 1.0, RANGE)


def isochore(size, seed=1):
    buf, shape = qt.synth_isochore_flat(qt.Lattice(0, 0, 1, 1, size, size), 50.0, 5.0, VG, seed)
    return np.frombuffer(buf, "<f8").reshape(shape)


def gstools_field(size, seed=1):
    import gstools as gs

    model = gs.Spherical(dim=2, var=25.0, len_scale=RANGE)
    srf = gs.SRF(model, mean=50.0, seed=seed)
    x = np.arange(size, dtype=float)
    return srf.structured([x, x])


def sph(h):
    r = h / RANGE
    return 25.0 * (1.0 if r >= 1 else 1.5 * r - 0.5 * r ** 3)


def isochore_section():
    size, lags = 256, [1, 2, 5, 10, 20, 30]
    q = [isochore(size, s) for s in range(3)]
    g = [gstools_field(size, s) for s in range(3)]
    qs = np.mean([semivariogram(f, lags) for f in q], axis=0)
    gs_ = np.mean([semivariogram(f, lags) for f in g], axis=0)
    print("isochore 256x256, mean 50, std 5, spherical range 20 (mean of 3 realisations)")
    print("  lag   model  quarntools  gstools")
    for h, a, b in zip(lags, qs, gs_):
        print(f"  {h:3d}  {sph(h):6.2f}  {a:10.2f}  {b:7.2f}")
    qm, gm = np.mean([f.mean() for f in q]), np.mean([f.mean() for f in g])
    qd, gd = np.mean([f.std() for f in q]), np.mean([f.std() for f in g])
    print(f"  mean {qm:.2f} vs {gm:.2f}; std {qd:.2f} vs {gd:.2f}")
    # tolerance: range 20 on 256 nodes leaves ~160 independent patches: 1.5 in the mean,
    # 1.5 in the std, 30 % of the sill in each semivariance
    assert abs(qm - 50) < 1.5 and abs(gm - 50) < 1.5 and abs(qd - 5) < 1.5 and abs(gd - 5) < 1.5
    assert all(abs(a - sph(h)) < 7.5 and abs(b - sph(h)) < 7.5 for h, a, b in zip(lags, qs, gs_))

    qcpu, qwall, _ = timed(lambda: isochore(256))
    gcpu, gwall, _ = timed(lambda: gstools_field(256))
    print(f"synth_isochore_flat 256x256 (24 neighbours, radius 30): {qcpu:.3f} s CPU ({qwall:.3f} s wall)"
          f"   goal <= 0.5 s")
    print(f"gstools SRF structured 256x256 (randomisation, 1000 modes): {gcpu:.3f} s CPU ({gwall:.3f} s wall)"
          f" -> ratio {gcpu / qcpu:.2f}")
    print("  (gstools draws an approximate Gaussian field by Fourier modes, no conditioning and no"
          " sequential path; the ratio is for orientation)")
    print("scaling of synth_isochore_flat (CPU time)")
    print("   nodes      time     us/node")
    for size in (64, 128, 256, 512):
        cpu, _, _ = timed(lambda: isochore(size), repeat=2 if size < 512 else 1)
        print(f"  {size:3d}^2  {cpu:8.3f} s  {cpu / size**2 * 1e6:8.2f}")


def ring_area(ring):
    x = np.asarray([p[0] for p in ring])
    y = np.asarray([p[1] for p in ring])
    return 0.5 * abs(float(np.dot(x, np.roll(y, -1)) - np.dot(y, np.roll(x, -1))))


def contourpy_ring(z, level):
    import contourpy

    n = z.shape[0]
    x = np.arange(n, dtype=float)
    # contourpy wants z[row][col] with x along columns: our field[col][row] transposed
    gen = contourpy.contour_generator(x, x, z.T, name="serial", line_type="Separate")
    closed = [line for line in gen.lines(level) if np.array_equal(line[0], line[-1])]
    return max(closed, key=lambda line: ring_area(line[:-1].tolist()))[:-1]


def closure_section():
    n = 1000
    lat = qt.Lattice(0, 0, 1, 1, n, n)
    buf, shape = qt.synth_dome_surface_flat(lat, 100.0, 1.5, 20.0, 0.0, VG, 1)
    z = np.frombuffer(buf, "<f8").reshape(shape)
    nested = z.tolist()
    level = 60.0
    ring = qt.closure_outline(nested, lat, level)
    peer = contourpy_ring(z, level)
    mine = {(round(x, 6), round(y, 6)) for x, y in ring}
    theirs = {(round(float(x), 6), round(float(y), 6)) for x, y in peer}
    assert len(ring) == len(peer) and mine == theirs, (len(ring), len(peer))
    assert math.isclose(ring_area(ring), ring_area(peer.tolist()), rel_tol=1e-9)
    print(f"\nclosure_outline of a 1000x1000 dome at {level:g}: {len(ring)} vertices, same ring as contourpy")

    cpu, wall, _ = timed(lambda: qt.closure_outline(nested, lat, level))
    ccpu, cwall, _ = timed(lambda: contourpy_ring(z, level))
    conv_cpu, _, _ = timed(lambda: qt.closure_outline([[0.0, 0.0], [0.0, 0.0]], qt.Lattice(0, 0, 1, 1, 2, 2), 0.5))
    print(f"closure_outline (nested lists in): {cpu:.3f} s CPU ({wall:.3f} s wall)   goal <= 0.2 s")
    print(f"contourpy serial (ndarray in, largest closed line): {ccpu:.3f} s CPU ({cwall:.3f} s wall)"
          f" -> ratio {ccpu / cpu:.2f}")
    tl, _, _ = timed(lambda: qt.resample(nested, lat, qt.Lattice(0, 0, 1, 1, 1, 1), "nearest"))
    print(f"  of which reading 10^6 floats from nested lists is about {tl:.3f} s"
          " (measured through resample onto a single node)")


def main():
    isochore_section()
    closure_section()


if __name__ == "__main__":
    main()
