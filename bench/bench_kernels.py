"""Kriging and simulation kernels on one core: per vector path, per stage, and against PyKrige.

Run: PYTHONPATH=build/dev/pkg /work/.venv-bench/bin/python bench/bench_kernels.py [--stages] [--base LIB]
     [--rounds N]

1. Per path (portable, SSE2, AVX2), C++ driver bench/kernels_driver.cpp built here against
   build/dev/libquarn_core.a: ordinary kriging of 2,000 data onto 256 x 256 (24 nearest),
   conditional SGS 256 x 256 with 500 data (24 and 48 neighbours, radius 30), unconditional
   SGS 512 x 512 (24 neighbours). Best of alternating rounds; every path must give the same
   output bits.
2. The same kriging through the extension, list form and the NumPy form
   (quarntools.fields.local_kriging), against PyKrige's C backend (n_closest_points=24) on
   the same data and variogram; estimates and variances must agree to 1e-8 relative.
3. --stages: time per node by stage (perf record on the software cpu-clock, self time of each
   kernel's functions; it works in virtual machines without hardware counters) and instructions
   per node by stage (valgrind callgrind), the count that stays meaningful on a busy machine.
   --base LIB compares against another build of libquarn_core.a (e.g. one built from an
   earlier commit) in the same run: both drivers are timed alternately, best of the rounds.
The machine is shared: read the ratios within one run, not the absolute times.
"""
import os
import random
import re
import subprocess
import sys
import tempfile

import numpy as np

import quarntools as qt
from timing import best

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PATHS = ("portable", "sse2", "avx2")
WORK = (("krige", "kriging 2,000 data -> 256^2, 24 nb"), ("sgs24", "conditional SGS 256^2, 500 data, 24 nb"),
        ("sgs48", "conditional SGS 256^2, 500 data, 48 nb"), ("uncond", "unconditional SGS 512^2, 24 nb"))
STAGES = (("LU factorisation", ("factorize", "pick_pivot", "divide_column", "swap_rows")),
          ("substitution", ("solve_rows",)),
          ("neighbour search", ("nearest_within", "NodeSearch", "NeighbourIndex", "MovingSearch", "introsort",
                                "insertion_sort")),
          ("system build", ("row_lanes", "rows_lanes", "row_portable", "rows_portable", "CorrelationModel",
                            "ordinary_krige", "ordinary_system", "node_system", "table_system", "prepare", "unit_shape",
                            "gamma")))


def build_driver(tmp, lib=None, name="kernels_driver"):
    lib = lib or os.path.join(ROOT, "build", "dev", "libquarn_core.a")
    if not os.path.exists(lib):
        sys.exit(f"{lib} missing (run tools/dev-build)")
    exe = os.path.join(tmp, name)
    subprocess.run(["c++", "-std=c++20", "-O2", "-ffp-contract=off", "-I", os.path.join(ROOT, "src"),
                    os.path.join(ROOT, "bench", "kernels_driver.cpp"), lib, "-o", exe], check=True)
    return exe


def run_driver(exe, path, work, repeat):
    out = subprocess.run([exe, path, work, str(repeat)], check=True, capture_output=True, text=True).stdout.split()
    return None if out[-1] == "unavailable" else (float(out[3]), out[4])


def best_of_rounds(runs, work, rounds):
    """Best us/node of each (exe, path) in `runs`, timed alternately for `rounds` rounds."""
    best, digests = {}, set()
    for _ in range(rounds):
        for key in runs:
            got = run_driver(*key, work, 2)
            if got is None:
                continue
            best[key] = min(best.get(key, got[0]), got[0])
            digests.add(got[1])
    assert len(digests) <= 1, f"{work}: output bits differ {digests}"
    return best


def per_path(exe, rounds):
    print(f"per path, best of {rounds} alternating rounds (us per node; speed-up over the portable path)")
    print(f"  {'workload':42s}" + "".join(f"{p:>16s}" for p in PATHS))
    for work, label in WORK:
        best = best_of_rounds([(exe, p) for p in PATHS], work, rounds)
        base = best[(exe, "portable")]
        cells = [f"{best[(exe, p)]:9.2f} ({base / best[(exe, p)]:3.1f}x)" if (exe, p) in best else f"{'-':>16s}"
                 for p in PATHS]
        print(f"  {label:42s}" + "".join(cells))


def against_base(exe, base_exe, rounds):
    print(f"\nbefore -> after, best path, best of {rounds} alternating rounds (us per node), same output bits")
    for work, label in WORK:
        best = best_of_rounds([(base_exe, "best"), (exe, "best")], work, rounds)
        b, a = best[(base_exe, "best")], best[(exe, "best")]
        print(f"  {label:42s} {b:7.2f} -> {a:7.2f}   x{b / a:4.2f}")


def against_pykrige(rounds):
    from pykrige.ok import OrdinaryKriging

    rng = random.Random(0)
    n, size, inc = 2000, 256, 10.0
    coords = [[rng.uniform(0, 2550), rng.uniform(0, 2550), rng.gauss(0, 1)] for _ in range(n)]
    arr = np.array(coords)
    lat = qt.Lattice(0.0, 0.0, inc, inc, size, size)
    nugget, sill, a = 0.1, 0.9, 500.0
    v = qt.Variogram("spherical", nugget, sill, a)

    def pykrige():
        ok = OrdinaryKriging(arr[:, 0], arr[:, 1], arr[:, 2], variogram_model="spherical",
                             variogram_parameters={"psill": sill, "range": a, "nugget": nugget})
        return ok.execute("grid", np.arange(size) * inc, np.arange(size) * inc, n_closest_points=24, backend="C")

    # The three forms timed alternately, best of the rounds.
    tl = tn = tp = float("inf")
    for _ in range(rounds):
        t, (est, var, shape) = best(lambda: qt.local_kriging_grid_flat(coords, lat, v, 24, 1e9), repeat=1)
        tl = min(tl, t)
        t, (fe, fv) = best(lambda: qt.fields.local_kriging(arr, lat, v, 24, 1e9), repeat=1)
        tn = min(tn, t)
        t, (pz, pss) = best(pykrige, repeat=1)
        tp = min(tp, t)
    est = np.frombuffer(est, "<f8").reshape(shape)
    var = np.frombuffer(var, "<f8").reshape(shape)
    assert np.array_equal(np.asarray(fe.values), est) and np.array_equal(np.asarray(fv.values), var)
    for got, ref in ((est, np.asarray(pz).T), (var, np.asarray(pss).T)):
        err = float(np.max(np.abs(got - ref)) / np.max(np.abs(ref)))
        assert err < 1e-8, err
    nodes = size * size
    print(f"\nkriging 2,000 data -> 256^2, 24 nearest, one core, best of {rounds} alternating rounds:")
    print(f"  quarntools list form   {tl * 1e3:7.1f} ms  {tl / nodes * 1e6:5.2f} us/node   goal <= 2.5 us/node")
    print(f"  quarntools NumPy form  {tn * 1e3:7.1f} ms  {tn / nodes * 1e6:5.2f} us/node")
    print(f"  PyKrige C backend      {tp * 1e3:7.1f} ms  {tp / nodes * 1e6:5.2f} us/node   "
          f"-> {tp / tl:.1f}x (goal >= 4x)")


def perf_shares(exe, work):
    """Self-time share of each stage (perf record, software cpu-clock), or None without perf."""
    with tempfile.TemporaryDirectory() as tmp:
        data = os.path.join(tmp, "perf.data")
        try:
            subprocess.run(["perf", "record", "-q", "-e", "cpu-clock", "-F", "5000", "-o", data, exe, "best", work,
                            "2"], check=True, capture_output=True)
            rep = subprocess.run(["perf", "report", "-i", data, "--stdio", "--sort", "sym", "-q"], check=True,
                                 capture_output=True, text=True).stdout
        except (OSError, subprocess.CalledProcessError):
            return None
    got = {s: 0.0 for s, _ in STAGES}
    other = 0.0
    for line in rep.splitlines():
        m = re.match(r"\s*([\d.]+)%\s+\[.\]\s+(.*)$", line)
        if not m:
            continue
        share, sym = float(m.group(1)) / 100.0, m.group(2)
        for stage, keys in STAGES:
            if any(k in sym for k in keys):
                got[stage] += share
                break
        else:
            other += share
    return got, other


def callgrind_counts(exe, work):
    with tempfile.TemporaryDirectory() as tmp:
        cg = os.path.join(tmp, "cg.out")
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={cg}", exe, "best", work, "1"],
                       check=True, capture_output=True)
        rep = subprocess.run(["callgrind_annotate", "--inclusive=no", "--threshold=100", cg], check=True,
                             capture_output=True, text=True).stdout
    total, got = 0, {s: 0 for s, _ in STAGES}
    for line in rep.splitlines():
        m = re.match(r"\s*([\d,]+) .*?\s(\S*:.*|PROGRAM TOTALS)$", line)
        if not m:
            continue
        count, sym = int(m.group(1).replace(",", "")), m.group(2)
        if sym == "PROGRAM TOTALS":
            total = count
            continue
        for stage, keys in STAGES:
            if any(k in sym for k in keys):
                got[stage] += count
                break
    return got, total - sum(got.values())


def stages(exes):
    nodes = {"krige": 65536, "sgs24": 65536, "sgs48": 65536, "uncond": 262144}
    head = f"  {'workload':51s}" + "".join(f"{s:>18s}" for s, _ in STAGES) + f"{'other':>10s}{'total':>10s}"
    print("\ntime per node by stage (us; perf cpu-clock self time x best time per node; best path)")
    print(head)
    for work, label in WORK:
        for name, exe in exes:
            shares = perf_shares(exe, work)
            if shares is None:
                print("  (perf not available)")
                break
            got, other = shares
            us = min(run_driver(exe, "best", work, 2)[0] for _ in range(3))
            print(f"  {label + name:51s}" + "".join(f"{got[s] * us:18.2f}" for s, _ in STAGES) +
                  f"{other * us:10.2f}{us:10.2f}")
    print("\ninstructions per node by stage (callgrind, self cost; best path)")
    print(head)
    for work, label in WORK:
        for name, exe in exes:
            got, other = callgrind_counts(exe, work)
            n = nodes[work]
            print(f"  {label + name:51s}" + "".join(f"{got[s] / n:18,.0f}" for s, _ in STAGES) +
                  f"{other / n:10,.0f}{(sum(got.values()) + other) / n:10,.0f}")


def main():
    args = sys.argv[1:]
    base_lib = args[args.index("--base") + 1] if "--base" in args else None
    rounds = int(args[args.index("--rounds") + 1]) if "--rounds" in args else 5
    with tempfile.TemporaryDirectory() as tmp:
        exe = build_driver(tmp)
        base_exe = build_driver(tmp, base_lib, "kernels_driver_base") if base_lib else None
        per_path(exe, rounds)
        if base_exe:
            against_base(exe, base_exe, rounds)
        against_pykrige(rounds)
        if "--stages" in args:
            stages([("", exe)] + ([(" (before)", base_exe)] if base_exe else []))
    print("\nFortran figures from the issue (not re-run here): sgsim 512^2 1.60 s (6.1 us/node), "
          "kb2d 256^2 723 ms (11 us/node)")


if __name__ == "__main__":
    main()
