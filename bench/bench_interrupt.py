"""Cost of listening for Ctrl-C: sgs_flat on 256 x 256 with and without the signal hook.

Run: PYTHONPATH=build/dev/pkg /work/.venv-bench/bin/python bench/bench_interrupt.py [--repeat N]

On the main thread every lock-releasing call installs the hook that long loops ask at
intervals (and that re-takes the lock every ~50 ms to run the signal handlers); worker
threads, which never see signals, run the same code without it. Both are timed here in
alternation, best of N CPU times of the computing thread each (the machine is shared:
CPU time of the thread is far steadier than wall time).
Optional: --baseline DIR times the same call from another build's package folder
(e.g. one without any poll in the loops) in a child process, for the full cost.
"""
import argparse
import os
import subprocess
import sys
import threading
import time

import quarntools as qt

LAT = qt.Lattice(0, 0, 1, 1, 256, 256)
VG = qt.Variogram("spherical", 0.0, 1.0, 20.0)
DATA = [[float(3 + (37 * k) % 250), float(5 + (91 * k) % 250), float(k % 7)] for k in range(500)]
CALL = "qt.sgs_flat(DATA, LAT, VG, 24, 30.0, seed=7)"


def run():
    return qt.sgs_flat(DATA, LAT, VG, 24, 30.0, seed=7)


def on_worker():
    box = {}

    def target():
        t = time.thread_time()
        box["out"] = run()
        box["t"] = time.thread_time() - t

    th = threading.Thread(target=target)
    th.start()
    th.join()
    return box["t"], box["out"]


def on_main():
    t = time.thread_time()
    out = run()
    return time.thread_time() - t, out


def baseline(path, repeat):
    code = ("import time, quarntools as qt\n"
            f"LAT = qt.Lattice(0, 0, 1, 1, 256, 256); VG = qt.Variogram('spherical', 0.0, 1.0, 20.0)\n"
            f"DATA = {DATA!r}\nbest = 1e9\n"
            f"for _ in range({repeat}):\n    t = time.thread_time(); {CALL}; best = min(best, time.thread_time() - t)\n"
            "print(best)")
    env = dict(os.environ, PYTHONPATH=path)
    return float(subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                                check=True).stdout)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=7)
    ap.add_argument("--baseline", help="package folder of another build")
    args = ap.parse_args()
    main_t, worker_t = [], []
    ref = None
    for _ in range(args.repeat):
        tm, a = on_main()
        tw, b = on_worker()
        assert a == b and (ref is None or a == ref), "results differ"
        ref = a
        main_t.append(tm)
        worker_t.append(tw)
    bm, bw = min(main_t), min(worker_t)
    print(f"sgs_flat 256x256, 500 data, 24 neighbours; best of {args.repeat}")
    print(f"  main thread (hook installed)   {bm * 1e3:8.1f} ms")
    print(f"  worker thread (no hook)        {bw * 1e3:8.1f} ms")
    print(f"  overhead of listening          {100 * (bm / bw - 1):+8.2f} %")
    if args.baseline:
        bb = baseline(args.baseline, args.repeat)
        print(f"  baseline build ({args.baseline}) {bb * 1e3:8.1f} ms")
        print(f"  overhead against baseline      {100 * (bm / bb - 1):+8.2f} %")


if __name__ == "__main__":
    main()
