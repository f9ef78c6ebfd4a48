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


def timed(fn, repeat=3):
    """Best CPU time and best wall time of `repeat` calls, and the last result."""
    best_cpu, best_wall, out = float("inf"), float("inf"), None
    for _ in range(repeat):
        w, c = time.perf_counter(), time.process_time()
        out = fn()
        best_cpu = min(best_cpu, time.process_time() - c)
        best_wall = min(best_wall, time.perf_counter() - w)
    return best_cpu, best_wall, out


def semivariogram(field, lags):
    """Mean half squared increment of a 2-D array along both axes, per integer lag."""
    import numpy as np

    return [0.5 * float(np.mean(np.concatenate([(field[h:, :] - field[:-h, :]).ravel() ** 2,
                                                 (field[:, h:] - field[:, :-h]).ravel() ** 2])))
            for h in lags]
