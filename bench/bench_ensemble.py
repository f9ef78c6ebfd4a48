"""Ensembles: realizations per second of SGS 256x256 (24 neighbours) per executor, and the
overhead each executor adds per realization.

Run: PYTHONPATH=build/dev/pkg python bench/bench_ensemble.py [N]

Rows, all measured side by side in one run:
- hand loop: ``sgs_flat`` called serially (what a user writes without the ensemble layer);
- ensemble threads 1 / 2, processes 2, Dask LocalCluster of 2 single-thread workers (cluster
  start-up excluded, reported apart); speed-ups are against ensemble threads 1;
- overhead: an empty realization (a 256x256 array of zeros) run through each executor,
  wall time per realization; this is what a realization costs beyond its own work.
The reductions (node-wise mean, variance, P90/P50/P10) run in every ensemble row and are checked
to be bit-identical across executors before any time is reported.
"""
import os
import sys
import time

import numpy as np

import quarntools as qt
from quarntools import ensemble
from quarntools.seeds import spawn_seeds

LAT = qt.Lattice(0, 0, 10, 10, 256, 256)
VGM = ensemble.VariogramDesc("spherical", 0.0, 1.0, 600.0)
RNG = np.random.default_rng(7)
DATA = np.c_[RNG.uniform(0, 2550, 40), RNG.uniform(0, 2550, 40), RNG.normal(0.2, 0.03, 40)]
SEED = 424242


class Empty:
    """No work: measures what the executor itself costs per realization."""

    name = "empty"

    def __call__(self, index, seed):
        return np.zeros((256, 256))


def timed_run(workflow, n, executor, workers):
    t = time.perf_counter()
    res = ensemble.run(workflow, n, SEED, executor=executor, workers=workers, progress=False)
    return time.perf_counter() - t, res


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 8
    wf = ensemble.SgsWorkflow(DATA, LAT, VGM, 24, 1500.0, name="porosity")
    rows = DATA.tolist()
    vg = VGM.build()
    t = time.perf_counter()
    for s in spawn_seeds(SEED, n):
        qt.sgs_flat(rows, LAT, vg, 24, 1500.0, s)
    hand = time.perf_counter() - t

    import distributed

    t = time.perf_counter()
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1", dashboard_address=None)
    client = distributed.Client(cluster)
    startup = time.perf_counter() - t
    try:
        runs = {}
        for label, executor, workers in (("threads 1", "threads", 1), ("threads 2", "threads", 2),
                                         ("processes 2", "processes", 2), ("dask 2", client, None)):
            runs[label] = timed_run(wf, n, executor, workers)
        ref = runs["threads 1"][1]["porosity"]
        for label, (_, res) in runs.items():
            for key in ref:
                assert res["porosity"][key].values.tobytes() == ref[key].values.tobytes(), (label, key)
        over = {}
        m = 4 * n
        for label, executor, workers in (("threads 1", "threads", 1), ("threads 2", "threads", 2),
                                         ("processes 2", "processes", 2), ("dask 2", client, None)):
            over[label] = timed_run(Empty(), m, executor, workers)[0] / m
    finally:
        client.close()
        cluster.close()

    base = runs["threads 1"][0]
    print(f"SGS 256x256, 24 neighbours, {n} realizations, {os.cpu_count()} CPUs "
          f"(load average {os.getloadavg()[0]:.1f})")
    print(f"  {'hand loop (sgs_flat)':24s} {n / hand:6.2f} real/s")
    for label, (wall, _) in runs.items():
        print(f"  {'ensemble ' + label:24s} {n / wall:6.2f} real/s   x{base / wall:4.2f} vs threads 1")
    print(f"  (LocalCluster start-up {startup:.1f} s, not counted)")
    print(f"overhead per realization (empty 256x256 realization, {m} of them, reductions included):")
    for label, per in over.items():
        print(f"  {label:24s} {per * 1e3:7.2f} ms")


if __name__ == "__main__":
    main()
