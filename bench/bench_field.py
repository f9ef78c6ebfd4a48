"""Field (arrays in, arrays out) against the Python loops and list crossings it replaces.

Run: PYTHONPATH=build/dev/pkg .venv-bench/bin/python bench/bench_field.py

Rows, each measured side by side in one run and checked for equal bits where it claims them:
1. `.xy()` at 10^6 nodes against the `node_xy` loop (bit-identical).
2. `.sample` at 10^6 scattered points against `resample_flat` onto a 10^6-node lattice (the
   extension's route to the same rule when the points form a lattice; a loop of 1 x 1
   `resample_flat` calls would copy the whole source per point) and scipy's
   RegularGridInterpolator (bilinear without the hole rule).
3. `.mask` of 10^6 nodes by a 300-vertex ring against the node loop of the even-odd test
   (timed on 10^4 nodes, scaled) and matplotlib's Path.contains_points when installed.
4. `fields.local_kriging` (arrays in, Fields out) against `local_kriging_grid_flat` with list
   rows and `np.frombuffer` by hand, and the nested `local_kriging_grid`.
"""
import math

import numpy as np

import quarntools as qt
from quarntools import Field, fields
from timing import best

N = 1000


def row(label, t, base=None, ratio_label=""):
    """One timing line; with `base`, the ratio t / base as `ratio_label`."""
    extra = f"   ({ratio_label} = {t / base:.1f}x)" if base is not None else ""
    print(f"{label:<58s} {t * 1e3:9.1f} ms{extra}")


def bench_xy():
    lat = qt.Lattice(431000.5, 6521000.25, 25.3, 17.1, N, N, rotation_deg=33.7, yflip=True)
    f = Field(np.zeros((N, N)), lat)
    t_vec, (x, y) = best(f.xy, repeat=5)

    def loop():
        return [lat.node_xy(i, j) for i in range(N) for j in range(N)]

    t_loop, ref = best(loop, repeat=2)
    ref = np.array(ref)
    assert x.ravel().tobytes() == ref[:, 0].tobytes() and y.ravel().tobytes() == ref[:, 1].tobytes()
    print("1. node coordinates, 10^6 nodes (bit-identical)")
    row("   Field.xy()", t_vec)
    row("   [lat.node_xy(i, j) for i, j]", t_loop, t_vec, "loop/xy")


def bench_sample():
    rng = np.random.default_rng(0)
    lat = qt.Lattice(0, 0, 1, 1, N, N, rotation_deg=12.0)
    values = rng.normal(size=(N, N))
    values[rng.random((N, N)) < 0.05] = np.nan
    f = Field(values, lat)
    target = qt.Lattice(-50.0, 30.0, 1.05, 1.05, N, N, rotation_deg=-7.0)
    tx, ty = Field(np.zeros((N, N)), target).xy()
    pts = np.column_stack([tx.ravel(), ty.ravel()])

    t_sample, got = best(lambda: f.sample(pts), repeat=3)
    t_grid, flat = best(lambda: f.resample(target), repeat=3)
    assert got.tobytes() == flat.values.tobytes()  # the same points as a lattice: same bits
    t_near, _ = best(lambda: f.sample(pts, "nearest"), repeat=3)
    print("2. sampling at 10^6 scattered points, bilinear with holes (bit-identical)")
    row("   Field.sample(points)", t_sample)
    row("   Field.sample(points, 'nearest')", t_near)
    row("   Field.resample(target) (same points as a lattice)", t_grid, t_sample, "resample/sample")
    try:
        from scipy.interpolate import RegularGridInterpolator
    except ImportError:
        return
    # scipy needs the points in the source's own (i, j) frame and has no hole rule.
    s, c = math.sin(12.0 * 0.017453292519943295), math.cos(12.0 * 0.017453292519943295)
    fi = pts[:, 1] * s + pts[:, 0] * c
    fj = pts[:, 1] * c - pts[:, 0] * s
    axis = np.arange(N, dtype=float)
    interp = RegularGridInterpolator((axis, axis), values, bounds_error=False, fill_value=np.nan)
    t_scipy, _ = best(lambda: interp(np.column_stack([fi, fj])), repeat=3)
    row("   scipy RegularGridInterpolator (no hole rule)", t_scipy, t_sample, "scipy/sample")


def bench_mask():
    lat = qt.Lattice(0, 0, 10, 10, N, N, rotation_deg=25.0)
    f = Field(np.zeros((N, N)), lat)
    a = np.linspace(0, 2 * math.pi, 300, endpoint=False)
    r = 3000 * (1 + 0.3 * np.sin(5 * a))
    ring = np.column_stack([2000 + r * np.cos(a), 6000 + r * np.sin(a)])
    t_mask, m = best(lambda: f.mask(ring), repeat=3)

    x, y = f.xy()
    xs, ys = x.ravel()[::100], y.ravel()[::100]
    verts = ring.tolist()

    def even_odd(px, py):
        inside, j = False, len(verts) - 1
        for i in range(len(verts)):
            (xi, yi), (xj, yj) = verts[i], verts[j]
            if (py < yi) != (py < yj) and px < (py - yi) * (xj - xi) / (yj - yi) + xi:
                inside = not inside
            j = i
        return inside

    t_loop, ref = best(lambda: [even_odd(px, py) for px, py in zip(xs.tolist(), ys.tolist())], repeat=1)
    assert np.array_equal(m.ravel()[::100], ref)
    t_loop *= x.size / xs.size
    print(f"3. polygon mask, 10^6 nodes, 300-vertex ring ({int(m.sum())} inside; equal to the literal test)")
    row("   Field.mask(ring)", t_mask)
    row("   even-odd loop per node (10^4 timed, scaled)", t_loop, t_mask, "loop/mask")
    try:
        from matplotlib.path import Path
    except ImportError:
        return
    path = Path(ring)
    pts = np.column_stack([x.ravel(), y.ravel()])
    t_mpl, inside = best(lambda: path.contains_points(pts), repeat=3)
    differ = int(np.count_nonzero(inside != m.ravel()))
    row(f"   matplotlib Path.contains_points ({differ} nodes differ)", t_mpl, t_mask, "matplotlib/mask")


def bench_kriging():
    rng = np.random.default_rng(1)
    lat = qt.Lattice(0, 0, 10, 10, 200, 200)
    rows = np.column_stack([rng.uniform(0, 2000, 2000), rng.uniform(0, 2000, 2000), rng.normal(20, 3, 2000)])
    vg = qt.Variogram("spherical", 0.0, 1.0, 400.0)
    t_fields, (est, _) = best(lambda: fields.local_kriging(rows, lat, vg, 16, 300.0), repeat=2)

    def by_hand():
        e, v, shape = qt.local_kriging_grid_flat(rows.tolist(), lat, vg, 16, 300.0)
        return np.frombuffer(e, "<f8").reshape(shape), np.frombuffer(v, "<f8").reshape(shape)

    t_flat, (e, _) = best(by_hand, repeat=2)
    assert e.tobytes() == est.values.tobytes()
    t_nested, _ = best(lambda: qt.local_kriging_grid(rows.tolist(), lat, vg, 16, 300.0), repeat=2)
    print("4. kriging 2000 rows onto 200 x 200 (bit-identical)")
    row("   fields.local_kriging(array) -> Fields", t_fields)
    row("   local_kriging_grid_flat(list) + np.frombuffer", t_flat, t_fields, "flat/fields")
    row("   local_kriging_grid(list) -> nested lists", t_nested, t_fields, "nested/fields")


def main():
    bench_xy()
    bench_sample()
    bench_mask()
    bench_kriging()


if __name__ == "__main__":
    main()
