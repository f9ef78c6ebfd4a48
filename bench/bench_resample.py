"""resample_flat against scipy's RegularGridInterpolator (bilinear), and nested vs flat crossings.

Run: PYTHONPATH=build/dev/pkg python bench/bench_resample.py   (or with quarntools installed)
"""
import math

import numpy as np
from scipy.interpolate import RegularGridInterpolator

import quarntools as qt
from timing import best

N = 1000


def main():
    rng = np.random.default_rng(0)
    a = rng.normal(size=(N, N))
    src = qt.Lattice(0, 0, 1, 1, N, N)
    dst = qt.Lattice(100.0, -80.0, 0.8, 0.8, N, N, 20.0)
    buf = np.ascontiguousarray(a, "<f8").tobytes()

    # Target node world coordinates, the same transform for both.
    i, j = np.meshgrid(np.arange(N, dtype=float), np.arange(N, dtype=float), indexing="ij")
    t = dst.rotation_deg * 0.017453292519943295
    s, c = math.sin(t), math.cos(t)
    x = (dst.xori + i * (c * dst.xinc)) + (s * (-dst.yinc)) * j
    y = (dst.yori + i * (s * dst.xinc)) + (c * dst.yinc) * j
    pts = np.stack([x.ravel(), y.ravel()], axis=1)
    interp = RegularGridInterpolator((np.arange(N, dtype=float), np.arange(N, dtype=float)), a,
                                     method="linear", bounds_error=False, fill_value=np.nan)

    tq, (out, shape) = best(lambda: qt.resample_flat(buf, src, dst))
    ts, ref = best(lambda: interp(pts))
    got = np.frombuffer(out, "<f8")
    both = ~np.isnan(got) & ~np.isnan(ref)
    assert np.array_equal(np.isnan(got), np.isnan(ref)), "extent differs"
    err = np.max(np.abs(got[both] - ref[both]))
    assert err < 1e-9, err
    print(f"resample_flat {N}x{N} rotated bilinear: {tq*1e3:8.1f} ms")
    print(f"scipy RegularGridInterpolator:          {ts*1e3:8.1f} ms   (scipy/quarntools = {ts/tq:.2f}x, max |diff| {err:.1e})")

    nested = a.tolist()
    tn, _ = best(lambda: qt.resample(nested, src, dst))
    print(f"resample (nested lists) {N}x{N}:          {tn*1e3:8.1f} ms   (nested/flat = {tn/tq:.2f}x)")
    tc, _ = best(lambda: np.ascontiguousarray(a, "<f8").tobytes())
    print(f"flat crossing, one copy in:             {tc*1e3:8.1f} ms")


if __name__ == "__main__":
    main()
