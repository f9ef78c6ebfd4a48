"""interp1d against numpy.interp (linear) and scipy's natural CubicSpline (cubic).

10^6 queries over 10^4 knots. Two forms, side by side in one run: every input a Python
list for all contenders (the list crossings are part of each time), and NumPy arrays in
and out (quarntools.arrays.interp1d against numpy.interp on the same arrays, the form a
NumPy user calls). Agreement is checked before timing.

Run: PYTHONPATH=build/dev/pkg python bench/bench_interp.py   (or with quarntools installed)
"""
import random
import time

import numpy as np
from scipy.interpolate import CubicSpline

import quarntools as qt
import quarntools.arrays as qta
from timing import best

N_KNOTS = 10_000
N_QUERIES = 1_000_000
REL_TOL = 1e-12  # different evaluation orders: the last bits may differ


def check(got, ref, scale, what):
    got = np.asarray(got)
    err = np.max(np.abs(got - ref)) / scale
    assert err < REL_TOL, f"{what}: relative difference {err:.2e}"
    return err


def main():
    rng = random.Random(0)
    x = sorted(rng.sample(range(10 * N_KNOTS), N_KNOTS))
    x = [float(v) * 0.1 for v in x]
    y = [rng.uniform(-100.0, 100.0) for _ in x]
    scale = max(abs(v) for v in y)
    random_q = [rng.uniform(x[0], x[-1]) for _ in range(N_QUERIES)]
    sorted_q = sorted(random_q)

    for label, q in (("random", random_q), ("sorted", sorted_q)):
        tq, got = best(lambda: qt.interp1d(x, y, q))
        tn, ref = best(lambda: np.interp(q, x, y))
        err = check(got, ref, scale, "linear")
        print(f"linear, {label} queries: quarntools {tq*1e3:7.1f} ms | numpy.interp {tn*1e3:7.1f} ms | "
              f"quarntools/numpy = {tq/tn:.2f}x | max rel diff {err:.1e}")

        tq, got = best(lambda: qt.interp1d(x, y, q, "cubic"))
        ts, ref = best(lambda: CubicSpline(x, y, bc_type="natural")(q))
        err = check(got, ref, scale, "cubic")
        print(f"cubic,  {label} queries: quarntools {tq*1e3:7.1f} ms | scipy CubicSpline {ts*1e3:7.1f} ms | "
              f"quarntools/scipy = {tq/ts:.2f}x | max rel diff {err:.1e}")

    xa, ya = np.array(x), np.array(y)
    for label, q in (("random", random_q), ("sorted", sorted_q)):
        qa = np.array(q)
        tq, got = best(lambda: qta.interp1d(xa, ya, qa), repeat=7)
        tn, ref = best(lambda: np.interp(qa, xa, ya), repeat=7)
        assert got.tolist() == qt.interp1d(x, y, q)  # the extension's bits
        err = check(got, ref, scale, "linear")
        print(f"linear, {label} queries, arrays in and out: quarntools.arrays {tq*1e3:7.1f} ms | "
              f"numpy.interp {tn*1e3:7.1f} ms | ratio = {tq/tn:.2f}x | max rel diff {err:.1e}")

    tc, _ = best(lambda: np.asarray(random_q, dtype=float))
    print(f"for scale: list -> numpy array of {N_QUERIES} floats {tc*1e3:.1f} ms")


if __name__ == "__main__":
    main()
