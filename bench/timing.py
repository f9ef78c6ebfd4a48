"""Shared timing helper for the benchmark scripts."""
import time


def best(fn, repeat=3):
    """Best wall time of `repeat` calls, and the last result."""
    times, out = [], None
    for _ in range(repeat):
        t = time.perf_counter()
        out = fn()
        times.append(time.perf_counter() - t)
    return min(times), out
