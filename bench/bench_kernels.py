"""Kriging and simulation kernels on one core: per vector path, per stage, and against PyKrige.

Run: PYTHONPATH=build/dev/pkg /work/.venv-bench/bin/python bench/bench_kernels.py [--stages]

1. Per path (portable, SSE2, AVX2), C++ driver bench/kernels_driver.cpp built here against
   build/dev/libquarn_core.a: ordinary kriging of 2,000 data onto 256 x 256 (24 nearest),
   conditional SGS 256 x 256 with 500 data (24 and 48 neighbours, radius 30), unconditional
   SGS 512 x 512 (24 neighbours). Best of 3 runs; every path must give the same output bits.
2. The same kriging through the extension, list form and the NumPy form
   (quarntools.fields.local_kriging), against PyKrige's C backend (n_closest_points=24) on
   the same data and variogram; estimates and variances must agree to 1e-8 relative.
3. --stages: instructions per node by stage (valgrind callgrind, self cost of each kernel's
   functions), the count that stays meaningful on a busy machine.
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
STAGES = (("LU factorisation", ("factorize",)), ("substitution", ("solve_rows",)),
          ("neighbour search", ("nearest_within", "NodeSearch", "NeighbourIndex")),
          ("system build", ("row_lanes", "row_portable", "CorrelationModel", "ordinary_krige", "prepare",
                            "unit_shape", "gamma")))


def build_driver(tmp):
    lib = os.path.join(ROOT, "build", "dev", "libquarn_core.a")
    if not os.path.exists(lib):
        sys.exit("build/dev/libquarn_core.a missing (run tools/dev-build)")
    exe = os.path.join(tmp, "kernels_driver")
    subprocess.run(["c++", "-std=c++20", "-O2", "-ffp-contract=off", "-I", os.path.join(ROOT, "src"),
                    os.path.join(ROOT, "bench", "kernels_driver.cpp"), lib, "-o", exe], check=True)
    return exe


def per_path(exe):
    print("per path, best of 3 (us per node; ratio to the portable path)")
    print(f"  {'workload':42s}" + "".join(f"{p:>16s}" for p in PATHS))
    for work, label in WORK:
        cells, digests, base = [], set(), None
        for path in PATHS:
            out = subprocess.run([exe, path, work, "3"], check=True, capture_output=True, text=True).stdout.split()
            if out[-1] == "unavailable":
                cells.append(f"{'-':>16s}")
                continue
            us = float(out[3])
            digests.add(out[4])
            base = base or us
            cells.append(f"{us:9.2f} ({base / us:3.1f}x)")
        assert len(digests) == 1, f"{work}: paths differ in output bits {digests}"
        print(f"  {label:42s}" + "".join(cells))


def against_pykrige():
    from pykrige.ok import OrdinaryKriging

    rng = random.Random(0)
    n, size, inc = 2000, 256, 10.0
    coords = [[rng.uniform(0, 2550), rng.uniform(0, 2550), rng.gauss(0, 1)] for _ in range(n)]
    arr = np.array(coords)
    lat = qt.Lattice(0.0, 0.0, inc, inc, size, size)
    nugget, sill, a = 0.1, 0.9, 500.0
    v = qt.Variogram("spherical", nugget, sill, a)
    tl, (est, var, shape) = best(lambda: qt.local_kriging_grid_flat(coords, lat, v, 24, 1e9))
    est = np.frombuffer(est, "<f8").reshape(shape)
    var = np.frombuffer(var, "<f8").reshape(shape)
    tn, (fe, fv) = best(lambda: qt.fields.local_kriging(arr, lat, v, 24, 1e9))
    assert np.array_equal(np.asarray(fe.values), est) and np.array_equal(np.asarray(fv.values), var)

    def pykrige():
        ok = OrdinaryKriging(arr[:, 0], arr[:, 1], arr[:, 2], variogram_model="spherical",
                             variogram_parameters={"psill": sill, "range": a, "nugget": nugget})
        return ok.execute("grid", np.arange(size) * inc, np.arange(size) * inc, n_closest_points=24, backend="C")

    tp, (pz, pss) = best(pykrige, repeat=2)
    for got, ref in ((est, np.asarray(pz).T), (var, np.asarray(pss).T)):
        err = float(np.max(np.abs(got - ref)) / np.max(np.abs(ref)))
        assert err < 1e-8, err
    nodes = size * size
    print(f"\nkriging 2,000 data -> 256^2, 24 nearest, one core (same run):")
    print(f"  quarntools list form   {tl * 1e3:7.1f} ms  {tl / nodes * 1e6:5.2f} us/node   goal <= 2.5 us/node")
    print(f"  quarntools NumPy form  {tn * 1e3:7.1f} ms  {tn / nodes * 1e6:5.2f} us/node")
    print(f"  PyKrige C backend      {tp * 1e3:7.1f} ms  {tp / nodes * 1e6:5.2f} us/node   "
          f"-> {tp / tl:.1f}x (goal >= 4x)")


def stages(exe):
    print("\ninstructions per node by stage (callgrind, self cost; best path)")
    print(f"  {'workload':42s}" + "".join(f"{s:>18s}" for s, _ in STAGES) + f"{'other':>10s}{'total':>10s}")
    nodes = {"krige": 65536, "sgs24": 65536, "sgs48": 65536, "uncond": 262144}
    for work, label in WORK:
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
        n = nodes[work]
        other = total - sum(got.values())
        print(f"  {label:42s}" + "".join(f"{got[s] / n:18,.0f}" for s, _ in STAGES) +
              f"{other / n:10,.0f}{total / n:10,.0f}")


def main():
    with tempfile.TemporaryDirectory() as tmp:
        exe = build_driver(tmp)
        per_path(exe)
        against_pykrige()
        if "--stages" in sys.argv:
            stages(exe)
    print("\nFortran figures from the issue (not re-run here): sgsim 512^2 1.60 s (6.1 us/node), "
          "kb2d 256^2 723 ms (11 us/node)")


if __name__ == "__main__":
    main()
