"""percentile, median, the reservoir summary and the moments against numpy, on list inputs.

Agreement is checked before timing (type 7 is numpy's default "linear" method;
numpy interpolates in another order, so the last bit may differ).

Run: PYTHONPATH=build/dev/pkg python bench/bench_stats.py   (or with quarntools installed)
"""
import random

import numpy as np

import quarntools as qt
import quarntools.arrays as qta
from timing import best

N = 1_000_000
REL_TOL = 1e-12


def race(label, ours, theirs, peer):
    tq, got = best(ours)
    tp, ref = best(theirs)
    got = np.atleast_1d(np.asarray(got, dtype=float))
    ref = np.atleast_1d(np.asarray(ref, dtype=float))
    err = float(np.max(np.abs(got - ref) / np.maximum(np.abs(ref), 1e-300)))
    assert err < REL_TOL, f"{label}: relative difference {err:.2e}"
    print(f"{label:28s} quarntools {tq*1e3:7.1f} ms | {peer} {tp*1e3:7.1f} ms | "
          f"quarntools/peer = {tq/tp:.2f}x | max rel diff {err:.1e}")


def main():
    rng = random.Random(0)
    data = [rng.lognormvariate(3.0, 0.8) for _ in range(N)]
    race("percentile(data, 37.5)", lambda: qt.percentile(data, 37.5),
         lambda: np.percentile(data, 37.5), "numpy.percentile")
    race("median(data)", lambda: qt.median(data), lambda: np.median(data), "numpy.median")
    race("reservoir_summary(data)",
         lambda: [(s := qt.reservoir_summary(data)).p90, s.p50, s.p10, s.mean],
         lambda: [*np.percentile(data, [10, 50, 90]), np.mean(data)], "numpy.percentile+mean")
    race("variance(data)", lambda: qt.variance(data), lambda: np.var(data, ddof=1), "numpy.var")
    weights = [rng.uniform(0.0, 2.0) for _ in range(N)]
    race("weighted_mean(data, w)", lambda: qt.weighted_mean(data, weights),
         lambda: np.average(data, weights=weights), "numpy.average")

    # aggregate: 20 segments of 50,000 realizations into a field total, lists against
    # arrays in and out (rows of a 2-D array), numpy's sum (and sort) beside them.
    seg = np.array([[rng.lognormvariate(13.0, 0.4) for _ in range(50_000)] for _ in range(20)])
    seg_lists = seg.tolist()
    for corr, peer in (("independent", lambda: seg.sum(axis=0)),
                       ("comonotonic", lambda: np.sort(seg, axis=1).sum(axis=0))):
        tl, got = best(lambda: qt.aggregate(seg_lists, corr))
        ta, arr = best(lambda: qta.aggregate(seg, corr))
        tn, ref = best(peer)
        assert arr.tolist() == got
        err = float(np.max(np.abs(arr - ref) / ref))
        assert err < REL_TOL
        print(f"aggregate {corr:12s} lists {tl*1e3:6.1f} ms | arrays in and out {ta*1e3:6.1f} ms | "
              f"numpy {tn*1e3:6.1f} ms | arrays/numpy = {ta/tn:.2f}x")


if __name__ == "__main__":
    main()
