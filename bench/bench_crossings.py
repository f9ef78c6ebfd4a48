"""List vs float64-buffer input for list-of-float parameters (10^6 values), and flat vs nested fields.

Run: PYTHONPATH=build/dev/pkg python bench/bench_crossings.py
"""
import array

import numpy as np

import quarntools as qt
from timing import best

N = 1_000_000


def main():
    a = np.random.default_rng(0).normal(size=N)
    lst = a.tolist()
    arr = array.array("d", lst)
    tl, ml = best(repeat=5, fn=lambda: qt.mean(lst))
    ta, ma = best(repeat=5, fn=lambda: qt.mean(a))
    tr, mr = best(repeat=5, fn=lambda: qt.mean(arr))
    assert ml == ma == mr
    print(f"mean of 10^6 values: list {tl*1e3:7.2f} ms   ndarray {ta*1e3:7.2f} ms ({tl/ta:5.1f}x)"
          f"   array('d') {tr*1e3:7.2f} ms ({tl/tr:5.1f}x)")
    tn, _ = best(repeat=5, fn=lambda: np.mean(a))
    print(f"numpy.mean on the ndarray:           {tn*1e3:7.2f} ms")


if __name__ == "__main__":
    main()
