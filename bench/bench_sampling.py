"""Sampling benchmarks: Sampler.normal(0, 1).sample_n against numpy's standard_normal
(list included), and the raw ChaCha12 throughput of the portable and vector paths.

Run: PYTHONPATH=build/dev/pkg .venv-bench/bin/python bench/bench_sampling.py
The raw-throughput part compiles bench/bench_stream.cpp against build/dev/libquarn_core.a.
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import quarntools as qt
import quarntools.arrays as qta

ROOT = Path(__file__).resolve().parents[1]
N = 1_000_000
SEED = 20240607


def best_of(fn, repeat=7):
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times), statistics.median(times)


def check_agreement():
    # Different generators, same distribution: compare moments and quantiles.
    ours = np.array(qt.Sampler.normal(0, 1).sample_n_seeded(N, SEED))
    theirs = np.random.default_rng(SEED).standard_normal(N)
    for name, a, b, tol in [
        ("mean", ours.mean(), theirs.mean(), 0.01),
        ("std", ours.std(), theirs.std(), 0.01),
        ("q01", np.quantile(ours, 0.01), np.quantile(theirs, 0.01), 0.02),
        ("q99", np.quantile(ours, 0.99), np.quantile(theirs, 0.99), 0.02),
    ]:
        assert abs(a - b) < tol, (name, a, b)
    print(f"agreement: mean/std/q01/q99 within tolerance (ours mean={ours.mean():+.4f} std={ours.std():.4f})")


def bench_sample_n():
    sampler = qt.Sampler.normal(0, 1)
    rng = qt.Rng(SEED)
    gen = np.random.default_rng(SEED)
    ours = best_of(lambda: sampler.sample_n(N, rng))
    numpy_list = best_of(lambda: gen.standard_normal(N).tolist())
    numpy_raw = best_of(lambda: gen.standard_normal(N))
    print(f"sample_n({N:,}) normal        best {ours[0]*1e3:7.2f} ms  median {ours[1]*1e3:7.2f} ms")
    print(f"numpy standard_normal.tolist best {numpy_list[0]*1e3:7.2f} ms  median {numpy_list[1]*1e3:7.2f} ms")
    print(f"numpy standard_normal (array) best {numpy_raw[0]*1e3:7.2f} ms")
    print(f"ratio quarntools / numpy(list): {ours[0] / numpy_list[0]:.2f}x  (goal <= 1.5x)")
    uni = qt.Sampler.uniform(0, 1)
    u_ours = best_of(lambda: uni.sample_n(N, rng))
    u_np = best_of(lambda: gen.random(N).tolist())
    print(f"uniform sample_n {u_ours[0]*1e3:.2f} ms vs numpy random().tolist {u_np[0]*1e3:.2f} ms: "
          f"{u_ours[0] / u_np[0]:.2f}x")


def bench_arrays():
    # Arrays out, the form a NumPy user calls: quarntools.arrays.sample against numpy's
    # generator methods, alternating in one run.
    a, b = qt.Rng(SEED), qt.Rng(SEED)
    normal = qt.Sampler.normal(0, 1)
    assert qta.sample(normal, 1000, a).tolist() == normal.sample_n(1000, b)
    gen = np.random.default_rng(SEED)
    for label, sampler, peer in (("normal", normal, lambda: gen.standard_normal(N)),
                                 ("uniform", qt.Sampler.uniform(0, 1), lambda: gen.random(N))):
        ours = best_of(lambda: qta.sample(sampler, N, a), repeat=9)
        theirs = best_of(peer, repeat=9)
        print(f"arrays out, {label:7s} {N:,} draws: quarntools.arrays.sample {ours[0]*1e3:6.2f} ms | "
              f"numpy {theirs[0]*1e3:6.2f} ms | ratio {ours[0] / theirs[0]:.2f}x")


def bench_raw_stream():
    lib = ROOT / "build" / "dev" / "libquarn_core.a"
    if not lib.exists():
        print("raw stream: build/dev/libquarn_core.a missing (run tools/dev-build)")
        return
    import boost_headers  # noqa: F401  (the include path of the core headers)

    with tempfile.TemporaryDirectory() as tmp:
        exe = os.path.join(tmp, "bench_stream")
        cmd = ["c++", "-std=c++20", "-O3", "-ffp-contract=off", "-DBOOST_MATH_STANDALONE",
               f"-I{ROOT / 'src'}", str(ROOT / "bench" / "bench_stream.cpp"), str(lib), "-o", exe]
        subprocess.run(cmd, check=True)
        out = subprocess.run([exe], check=True, capture_output=True, text=True).stdout
    rows = dict(line.split(maxsplit=1) for line in out.strip().splitlines())
    port = float(rows["portable"])
    print(f"raw ChaCha12 blocks: portable {port:.2f} GB/s")
    for path in ("sse2", "avx2"):
        if path in rows:
            v = float(rows[path])
            print(f"raw ChaCha12 blocks: {path:8s} {v:.2f} GB/s  ({v / port:.2f}x portable)")
    gb, picked, _ = rows["stream_next_u64"].split()
    print(f"Stream.next_u64 loop ({picked} picked at run time): {float(gb):.2f} GB/s")
    print(f"draw_standard_normal: {float(rows['normal_ns'].split()[0]):.2f} ns per draw")


if __name__ == "__main__":
    print(f"python {sys.version.split()[0]}, numpy {np.__version__}")
    check_agreement()
    bench_sample_n()
    bench_arrays()
    bench_raw_stream()
