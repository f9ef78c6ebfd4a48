"""evaluate_formula against the same computation in numpy and in numexpr.

y = if(x > 0.5, sqrt(x) * a + b, 0) over x, a, b of length 10^6. Every input is a
Python list and every result a Python list for all contenders, so the crossings
(list -> array, array -> list) are inside each time. Agreement is checked first:
the three compute each element with the same IEEE operations (numexpr's sqrt may
differ, so its tolerance is written down).

Run: PYTHONPATH=build/dev/pkg .venv-bench/bin/python bench/bench_formula.py
"""
import random
import time

import numexpr as ne
import numpy as np

import quarntools as qt
import quarntools.arrays as qta
from timing import best

N = 1_000_000
FORMULA = ["y = if(x > 0.5, sqrt(x) * a + b, 0)"]
NUMEXPR_REL_TOL = 1e-15


def with_numpy(x, a, b):
    xa, aa, ba = np.asarray(x, dtype=float), np.asarray(a, dtype=float), np.asarray(b, dtype=float)
    return np.where(xa > 0.5, np.sqrt(xa) * aa + ba, 0.0).tolist()


def with_numexpr(x, a, b):
    xa, aa, ba = np.asarray(x, dtype=float), np.asarray(a, dtype=float), np.asarray(b, dtype=float)
    return ne.evaluate("where(x > 0.5, sqrt(x) * a + b, 0.0)", local_dict={"x": xa, "a": aa, "b": ba}).tolist()


def with_quarntools(x, a, b):
    return qt.evaluate_formula(FORMULA, {"x": x, "a": a, "b": b})["y"]


def main():
    rng = random.Random(0)
    x = [rng.random() for _ in range(N)]
    a = [rng.uniform(-2.0, 2.0) for _ in range(N)]
    b = [rng.uniform(-1.0, 1.0) for _ in range(N)]

    got = with_quarntools(x, a, b)
    ref = with_numpy(x, a, b)
    assert got == ref, "quarntools and numpy differ"  # same operations, same order: identical bits
    rel = np.max(np.abs(np.asarray(with_numexpr(x, a, b)) - np.asarray(ref)) / np.maximum(1.0, np.abs(ref)))
    assert rel <= NUMEXPR_REL_TOL, f"numexpr differs by {rel:.1e}"

    tq, _ = best(repeat=5, fn=lambda: with_quarntools(x, a, b))
    tn, _ = best(repeat=5, fn=lambda: with_numpy(x, a, b))
    te, _ = best(repeat=5, fn=lambda: with_numexpr(x, a, b))
    tc, _ = best(repeat=5, fn=lambda: [np.asarray(v, dtype=float) for v in (x, a, b)])
    to, _ = best(repeat=5, fn=lambda: np.asarray(ref).tolist())
    print(f"{FORMULA[0]!r}, n = {N:,}, lists in and out")
    print(f"  quarntools {tq * 1e3:7.1f} ms")
    print(f"  numpy      {tn * 1e3:7.1f} ms   quarntools/numpy   = {tq / tn:.2f}x")
    print(f"  numexpr    {te * 1e3:7.1f} ms   quarntools/numexpr = {tq / te:.2f}x  (max rel diff {rel:.1e})")
    print(f"  of which crossings alone (numpy): lists -> arrays {tc * 1e3:.1f} ms, array -> list {to * 1e3:.1f} ms")

    # NumPy arrays in (copied in one go by quarntools), lists out for both.
    xa, aa, ba = (np.asarray(v, dtype=float) for v in (x, a, b))
    tqa, _ = best(repeat=5, fn=lambda: qt.evaluate_formula(FORMULA, {"x": xa, "a": aa, "b": ba})["y"])
    tna, _ = best(repeat=5, fn=lambda: np.where(xa > 0.5, np.sqrt(xa) * aa + ba, 0.0).tolist())
    print(f"  arrays in, list out: quarntools {tqa * 1e3:.1f} ms | numpy {tna * 1e3:.1f} ms | "
          f"quarntools/numpy = {tqa / tna:.2f}x")

    # Arrays in and out, the form a NumPy user calls: quarntools.arrays against numpy and
    # numexpr on one thread, the same arrays for all.
    ne.set_num_threads(1)
    assert qta.evaluate_formula(FORMULA, {"x": xa, "a": aa, "b": ba})["y"].tolist() == ref
    t_arr, _ = best(repeat=9, fn=lambda: qta.evaluate_formula(FORMULA, {"x": xa, "a": aa, "b": ba})["y"])
    t_np, _ = best(repeat=9, fn=lambda: np.where(xa > 0.5, np.sqrt(xa) * aa + ba, 0.0))
    t_ne, _ = best(repeat=9, fn=lambda: ne.evaluate("where(x > 0.5, sqrt(x) * a + b, 0.0)",
                                                    local_dict={"x": xa, "a": aa, "b": ba}))
    print(f"  arrays in and out: quarntools.arrays {t_arr * 1e3:.1f} ms | numpy {t_np * 1e3:.1f} ms | "
          f"numexpr (1 thread) {t_ne * 1e3:.1f} ms | /numpy = {t_arr / t_np:.2f}x | /numexpr = {t_arr / t_ne:.2f}x")

    # Core evaluation cost separated from the crossings: a block that reuses the inputs
    # many times costs one crossing but many evaluations.
    reps = 20
    block = [f"y{i} = if(x > 0.5, sqrt(x) * a + b, 0)" for i in range(reps)] + [
        "s = " + " + ".join(f"y{i}" for i in range(reps))]
    tqb, _ = best(lambda: qt.evaluate_formula(block, {"x": x, "a": a, "b": b})["s"], repeat=3)

    def numpy_block():
        xa, aa, ba = np.asarray(x, dtype=float), np.asarray(a, dtype=float), np.asarray(b, dtype=float)
        ys = [np.where(xa > 0.5, np.sqrt(xa) * aa + ba, 0.0) for _ in range(reps)]
        s = ys[0]
        for y in ys[1:]:
            s = s + y
        return [y.tolist() for y in ys] + [s.tolist()]

    tnb, _ = best(numpy_block, repeat=3)
    print(f"  block of {reps} such assignments plus their sum (all outputs as lists):")
    print(f"  quarntools {tqb * 1e3:7.1f} ms | numpy {tnb * 1e3:7.1f} ms | quarntools/numpy = {tqb / tnb:.2f}x")


if __name__ == "__main__":
    main()
