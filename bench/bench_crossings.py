"""List vs float64-buffer input for list-of-float parameters (10^6 values), and (10^6, 3)
rows into kriging coordinates: the one-pass array path against the item-by-item path (the
same array behind a thin sequence wrapper, which crosses row by row as every array did
before the one-pass path).

Run: PYTHONPATH=build/dev/pkg python bench/bench_crossings.py
"""
import array

import numpy as np

import quarntools as qt
from timing import best, timed

N = 1_000_000


class ItemByItem:
    """The array's rows, one by one: the iteration an ndarray gives, without its buffer."""

    def __init__(self, a):
        self.a = a

    def __len__(self):
        return len(self.a)

    def __getitem__(self, i):
        return self.a[i]

    def __iter__(self):
        return iter(self.a)


def refused_after_conversion(coords):
    # max_neighbours=0 is refused right after every argument has been converted, so
    # the time is the crossing of `coords` plus a constant.
    try:
        qt.local_kriging_grid(coords, LAT, VARIOGRAM, 0, 1.0)
    except ValueError:
        pass


LAT = qt.Lattice(0, 0, 1, 1, 1, 1)
VARIOGRAM = qt.Variogram("spherical", 0.0, 1.0, 10.0)


def rows():
    a = np.random.default_rng(1).normal(size=(N, 3))
    lst = a.tolist()
    slow = ItemByItem(a)
    # CPU time: the machine may be shared, and the crossing is single-threaded.
    tf, _, _ = timed(repeat=5, fn=lambda: refused_after_conversion(a))
    ts, _, _ = timed(repeat=3, fn=lambda: refused_after_conversion(slow))
    tl, _, _ = timed(repeat=3, fn=lambda: refused_after_conversion(lst))
    print(f"(10^6, 3) -> kriging coords, CPU: ndarray {tf*1e3:7.2f} ms   item by item {ts*1e3:7.2f} ms "
          f"({ts/tf:5.1f}x)   list of lists {tl*1e3:7.2f} ms ({tl/tf:5.1f}x)")
    # The whole call on a one-node lattice, and agreement of the two paths.
    small = a[:20000]
    ef, (est_f, var_f) = best(repeat=3, fn=lambda: qt.local_kriging_grid(small, LAT, VARIOGRAM, 8, 5.0))
    es, (est_s, var_s) = best(repeat=3, fn=lambda: qt.local_kriging_grid(ItemByItem(small), LAT, VARIOGRAM,
                                                                          8, 5.0))
    assert repr((est_f, var_f)) == repr((est_s, var_s))
    print(f"local_kriging_grid, 2*10^4 rows, one node: ndarray {ef*1e3:7.2f} ms   item by item {es*1e3:7.2f} ms")


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
    rows()


if __name__ == "__main__":
    main()
