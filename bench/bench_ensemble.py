"""Ensembles: realizations per second of SGS 256x256 (24 neighbours) per executor, what the
calling process spends per realization, and the overhead each executor adds per realization.

Run: PYTHONPATH=build/dev/pkg python bench/bench_ensemble.py [--rounds R] [--n N]

The machine is shared and noisy, so nothing here is a single timing:
- first use: every executor runs once before anything is timed (a process pool's workers
  import numpy and quarntools, a Dask worker unpickles the workflow, ...); that first run and
  the LocalCluster start-up are reported apart, never inside a rate;
- rounds: R rounds (default 3) of N realizations (default 16) each; in every round the
  executors run in turn (pool 2, threads 1, threads 2, processes 2, dask 2), so a slow moment of
  the machine hits one round of all of them, not all rounds of one. Speed-ups are per round
  against threads 1 of the same round; the median over the rounds is the figure to quote.
  "pool 2" is a plain ThreadPoolExecutor over ``sgs_flat``: what two cores give right now;
- caller CPU: CPU seconds (user + system) of the calling process per realization
  (``resource.getrusage``; LocalCluster workers and pool processes are other processes, the
  scheduler, the nannies and the client run here). On threads it includes the realizations
  themselves; on Dask it includes the cluster's periodic work, reported apart as idle CPU;
- overhead: an empty realization (a 256x256 array of zeros) through each executor with one
  realization per task, reductions included: the per-realization cost of the executor;
- short realizations: the asset's volumetric realization (an SGS of the 31x31 simulation
  lattice and three draws, a few ms) with one per task against automatic batching.
The reductions (node-wise mean, variance, P90/P50/P10) run in every ensemble row and are checked
to be bit-identical across executors and batch sizes before any time is reported.
"""
import argparse
import concurrent.futures as cf
import os
import resource
import statistics
import time

import numpy as np

import quarntools as qt
from quarntools import ensemble
from quarntools.asset import parse_config
from quarntools.asset.build import volume_inputs
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


def caller_cpu():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime


def timed_run(workflow, n, executor, workers, batch=None):
    """Wall seconds, caller CPU seconds and the result of one ensemble run."""
    c, t = caller_cpu(), time.perf_counter()
    res = ensemble.run(workflow, n, SEED, executor=executor, workers=workers, progress=False, batch=batch)
    return time.perf_counter() - t, caller_cpu() - c, res


def pool_sgs(n, threads):
    rows, vg = DATA.tolist(), VGM.build()
    t = time.perf_counter()
    with cf.ThreadPoolExecutor(threads) as pool:
        list(pool.map(lambda s: qt.sgs_flat(rows, LAT, vg, 24, 1500.0, s), spawn_seeds(SEED, n)))
    return time.perf_counter() - t


def same_bits(a, b, keys):
    return all(a[var][k].values.tobytes() == b[var][k].values.tobytes()
               if hasattr(a[var][k], "values") else np.asarray(a[var][k]).tobytes() == np.asarray(b[var][k]).tobytes()
               for var, k in keys)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--rounds", type=int, default=3, help="interleaved rounds (default 3)")
    ap.add_argument("--n", type=int, default=16, help="SGS realizations per executor and round (default 16)")
    args = ap.parse_args()
    n, rounds = args.n, args.rounds
    wf = ensemble.SgsWorkflow(DATA, LAT, VGM, 24, 1500.0, name="porosity")
    vol = ensemble.VolumetricsWorkflow(volume_inputs(parse_config(""))[0])
    load_before = os.getloadavg()[0]

    import distributed

    t = time.perf_counter()
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1", dashboard_address=None)
    client = distributed.Client(cluster)
    startup = time.perf_counter() - t
    c, t = caller_cpu(), time.perf_counter()
    time.sleep(2.0)  # an idle cluster: the scheduler's and nannies' periodic work in this process
    idle = (caller_cpu() - c) / (time.perf_counter() - t)
    executors = (("threads 1", "threads", 1), ("threads 2", "threads", 2),
                 ("processes 2", "processes", 2), ("dask 2", client, None))
    try:
        # First use: two realizations each, then the same again warm; the difference is what
        # the first run pays once (imports and workflow unpickling in new workers).
        first = {}
        for label, executor, workers in executors:
            cold = timed_run(wf, 2, executor, workers)[0]
            warm = timed_run(wf, 2, executor, workers)[0]
            first[label] = (cold, warm)
        t = time.perf_counter()
        rows, vg = DATA.tolist(), VGM.build()
        for s in spawn_seeds(SEED, n):
            qt.sgs_flat(rows, LAT, vg, 24, 1500.0, s)
        hand = time.perf_counter() - t

        walls = {label: [] for label in ("pool 2", *(e[0] for e in executors))}
        cpus = {e[0]: [] for e in executors}
        ref = None
        keys = [("porosity", k) for k in ("mean", "variance", "p90", "p50", "p10")]
        for _ in range(rounds):
            walls["pool 2"].append(pool_sgs(n, 2))
            for label, executor, workers in executors:
                wall, cpu, res = timed_run(wf, n, executor, workers)
                ref = res if ref is None else ref
                assert same_bits(res, ref, keys), label
                walls[label].append(wall)
                cpus[label].append(cpu)

        m = 4 * n
        over = {}
        for label, executor, workers in executors:
            wall, cpu, _ = timed_run(Empty(), m, executor, workers, batch=1)
            over[label] = (wall / m, cpu / m)

        nv = 25 * n
        short = {}
        vref = None
        vkeys = [("porosity", "mean"), ("porosity", "p90"), ("stoiip_sm3", "p90"), ("stoiip_sm3", "values")]
        for label, executor, workers in executors[1:]:
            for batch in (1, None):
                wall, cpu, res = timed_run(vol, nv, executor, workers, batch=batch)
                vref = res if vref is None else vref
                assert same_bits(res, vref, vkeys), (label, batch)
                short[label, batch] = (nv / wall, cpu / nv, res.tasks)
    finally:
        client.close()
        cluster.close()

    print(f"ensemble bench: {os.cpu_count()} CPUs, load average {load_before:.2f} before, "
          f"{os.getloadavg()[0]:.2f} after; {rounds} rounds of {n} realizations")
    print(f"LocalCluster: start-up {startup:.2f} s; idle, it takes {idle * 100:.1f} % of a core in the calling "
          "process (part of dask's caller CPU below, per second rather than per realization)")
    print("first use (2 realizations; cold wall, warm wall, difference):")
    for label, (cold, warm) in first.items():
        print(f"  {label:14s} {cold:6.2f} s  {warm:6.2f} s  {cold - warm:+6.2f} s")
    print(f"SGS 256x256, 24 neighbours: hand loop (sgs_flat, serial) {n / hand:5.2f} real/s")
    print(f"  {'':14s} {'real/s per round':>24s}  {'x vs threads 1 per round':>26s}  {'median x':>8s}  "
          f"{'caller CPU/real':>15s}")
    for label, ws in walls.items():
        rates = " ".join(f"{n / w:5.2f}" for w in ws)
        ratios = [t1 / w for t1, w in zip(walls["threads 1"], ws)]
        cpu = f"{statistics.median(cpus[label]) / n * 1e3:9.1f} ms" if label in cpus else ""
        cpu += " (incl. work)" if label.startswith("threads") else ""
        print(f"  {label:14s} {rates:>24s}  {' '.join(f'{r:4.2f}' for r in ratios):>26s}  "
              f"{statistics.median(ratios):8.2f}  {cpu}")
    print(f"overhead per realization (empty 256x256 realization, {m} of them, one per task, reductions "
          f"included): wall, caller CPU")
    for label, (wall, cpu) in over.items():
        print(f"  {label:14s} {wall * 1e3:7.2f} ms  {cpu * 1e3:7.2f} ms")
    print(f"short realizations (asset volumetrics, 31x31 SGS and three draws, {nv} of them): "
          f"one per task vs automatic batching")
    for label, executor, _ in executors[1:]:
        (r1, c1, t1), (ra, ca, ta) = short[label, 1], short[label, None]
        print(f"  {label:14s} batch 1 {r1:7.1f} real/s {c1 * 1e3:5.2f} ms caller CPU/real | automatic {ra:7.1f} "
              f"real/s {ca * 1e3:5.2f} ms/real in {ta} tasks | x{ra / r1:5.2f}")


if __name__ == "__main__":
    main()
