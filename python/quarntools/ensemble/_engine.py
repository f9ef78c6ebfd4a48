"""The realization loop: submit tasks in a bounded window, reduce in realization order, store as they come."""

from __future__ import annotations

import json
import math
import os
import sys
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from ..field import Field
from ..seeds import spawn_seeds
from .executors import check_executor, make_backend
from .reducers import default_reducers
from .storage import ZarrStore


@dataclass
class EnsembleResult:
    """What `run` returns.

    ``stats[name]`` holds the reductions of variable `name`: ``mean``, ``variance``, ``p90``,
    ``p50``, ``p10`` for fields (P90 = 10th percentile, the low case) and ``p90``, ``p50``,
    ``p10``, ``mean``, ``values`` for scalars, or whatever the given reducers return.
    """

    n: int
    seed: int
    seeds: list[int]
    stats: dict[str, dict[str, Any]] = field(default_factory=dict)
    store: str | None = None
    computed: int = 0  #: realizations computed by this call (the rest came from the store)
    tasks: int = 0  #: tasks these realizations were computed in (fewer than `computed` when batched)

    def __getitem__(self, name: str) -> dict[str, Any]:
        return self.stats[name]


def as_variables(result: Any, name: str) -> dict[str, Any]:
    """A realization's result as ``{variable: Field | array | float}``."""
    if isinstance(result, dict):
        return dict(result)
    if isinstance(result, Field) or np.ndim(result) > 0:
        return {name: result}
    return {name: float(result)}


def _check_count(n: Any, seed: Any) -> None:
    if isinstance(n, bool) or not isinstance(n, int) or n < 1:
        raise ValueError(f"ensemble: n must be an integer >= 1 (got {n!r})")
    if isinstance(seed, bool) or not isinstance(seed, int) or not 0 <= seed < 1 << 64:
        raise ValueError(f"ensemble: seed must be an integer in [0, 2**64) (got {seed!r})")


class _Callback:
    def __init__(self, report: Callable[[int, int], Any], n: int, done: int) -> None:
        self.report, self.n, self.done = report, n, done

    def update(self, k: int) -> None:
        self.done += k
        self.report(self.done, self.n)

    def close(self) -> None:
        pass


def _progress_bar(progress: bool | None | Callable[[int, int], Any], n: int, initial: int) -> Any:
    if callable(progress):
        return _Callback(progress, n, initial)
    if progress is None:
        progress = sys.stderr.isatty()
    if not progress:
        return None
    try:
        from tqdm import tqdm
    except ImportError as e:
        raise ImportError('the ensemble progress bar needs tqdm: pip install "quarntools[dask]"') from e
    return tqdm(total=n, initial=initial, unit="real", desc="realizations", leave=False)


#: Automatic batching makes a task last at least this long on its worker.
TASK_SECONDS = 0.2
#: Automatic batching widens the default window only while the results in it fit this budget.
WINDOW_BYTES = 64 << 20


def result_bytes(variables: dict[str, Any]) -> int:
    """Bytes of the values of one realization (8 per scalar)."""
    total = 0
    for v in variables.values():
        total += v.values.nbytes if isinstance(v, Field) else max(8, int(np.asarray(v).nbytes))
    return total


class TaskSizer:
    """Realizations per task: a fixed number, or grown from the measured time of finished tasks.

    The automatic size starts at 1; each finished task updates a running estimate of the
    seconds per realization (halfway towards the task's own rate), and later tasks take enough
    realizations to last `TASK_SECONDS`. `size` caps that so the window holds two tasks per
    worker and the last realizations still spread over every worker.
    """

    def __init__(self, fixed: int | None, grow: bool, workers: int) -> None:
        self.fixed, self.grow, self.workers = fixed, grow, workers
        self.per_realization: float | None = None

    def record(self, seconds: float, count: int) -> None:
        per = max(seconds, 0.0) / count
        self.per_realization = per if self.per_realization is None else 0.5 * (self.per_realization + per)

    def wanted(self) -> int:
        """The size before caps: fixed, 1 until a task has finished, else enough for TASK_SECONDS."""
        if self.fixed is not None:
            return self.fixed
        if not self.grow or self.per_realization is None:
            return 1
        if self.per_realization * (1 << 20) <= TASK_SECONDS:
            return 1 << 20
        return max(1, math.ceil(TASK_SECONDS / self.per_realization))

    def size(self, width: int, remaining: int) -> int:
        """Realizations for the next task with `remaining` left to submit and a window of `width`."""
        if self.fixed is not None:
            return self.fixed
        per_worker = -(-remaining // self.workers)
        return max(1, min(self.wanted(), width // (2 * self.workers), per_worker))

    def width(self, window: int | None, nbytes: int | None) -> int:
        """The window: as given, else four realizations per worker, widened to two tasks per worker
        of the wanted size while their results fit `WINDOW_BYTES` (and always one fixed-size task)."""
        if window is not None:
            return window
        width = 4 * self.workers
        wanted = self.wanted()
        if wanted > 1 and nbytes is not None:
            width = max(width, min(2 * self.workers * wanted, WINDOW_BYTES // max(nbytes, 1)))
        if self.fixed is not None:
            width = max(width, self.fixed)
        return width


def _check_positive(name: str, value: Any) -> None:
    if value is not None and (isinstance(value, bool) or not isinstance(value, int) or value < 1):
        raise ValueError(f"ensemble: {name} must be >= 1 (got {value!r})")


def run(workflow: Callable[[int, int], Any], n: int, seed: int, executor: Any = "threads",
        workers: int | None = None, reducers: Sequence[Any] | None = None,
        store: str | os.PathLike[str] | None = None,
        progress: bool | None | Callable[[int, int], Any] = None, *,
        scheduler: str | None = None, window: int | None = None, config: str | None = None,
        scratch: str | os.PathLike[str] | None = None, batch: int | None = None) -> EnsembleResult:
    """Run realizations ``0 .. n-1`` of `workflow` and reduce them as they arrive.

    Realization ``k`` is ``workflow(k, spawn_seeds(seed, n)[k])``; it has the same seed and the
    same bits on every executor, worker count and batch size. Results are reduced in realization
    order, so the statistics do not depend on which realization finishes first.

    Parameters
    ----------
    workflow : callable
        ``workflow(index, seed)`` returning a Field, an array, a float or a dict of those. It
        must pickle for the "processes" and Dask executors (the built-in workflows do).
    n : int
        Number of realizations, ``>= 1``.
    seed : int
        Master seed in ``[0, 2**64)``.
    executor : {"threads", "processes", "dask"} or distributed.Client
        "threads" (default) runs in this process (the extension releases the interpreter lock);
        "processes" in a process pool; "dask" on a new ``LocalCluster`` of `workers` workers,
        or on the cluster at `scheduler`; a Client runs on its cluster.
    workers : int, optional
        Pool size (default: the CPU count). Ignored for a given Client.
    reducers : sequence, optional
        Objects with ``key``, ``add(value)`` and ``result()`` (see `reducers`). Default:
        `Moments` and `Percentiles` of every field variable, `Summary` of every scalar one.
    store : path, optional
        Zarr directory to write every realization to (one chunk each). If it holds an earlier,
        interrupted run of the same workflow, seed and `n`, the stored realizations are read back
        instead of recomputed and the final store is the one an uninterrupted run writes.
    progress : bool or callable, optional
        Show a tqdm progress bar (default: when standard error is a terminal), or call
        ``progress(done, n)`` after every finished task.
    scheduler : str, optional
        Address of a Dask scheduler (with ``executor="dask"``).
    window : int, optional
        Realizations submitted but not yet reduced, at most; bounds memory at `window` results
        whatever `n` is. Default: four per worker, widened while automatic batching groups
        short realizations to two tasks per worker, as far as their results fit 64 MiB.
    config : str, optional
        Text stored in the store's ``config`` attribute (default: the workflow's ``describe()``
        as JSON); a resumed run must have the same.
    scratch : path, optional
        Directory for the percentile stack (default: the system's temporary directory).
    batch : int, optional
        Realizations per task, consecutive ones (each still ``workflow(k, seeds[k])``). Default:
        automatic for "processes" and Dask, where a task costs milliseconds of scheduling and
        transfer: one per task at first, then as many as make a task last about 0.2 s on its
        worker, judged from the finished tasks; one per task on threads.

    Returns
    -------
    EnsembleResult

    Notes
    -----
    Ctrl-C (KeyboardInterrupt) cancels the outstanding tasks and re-raises; what was stored so
    far stays valid for a resume.
    """
    _check_count(n, seed)
    check_executor(executor, workers, scheduler)
    _check_positive("window", window)
    _check_positive("batch", batch)
    if batch is not None and window is not None and batch > window:
        raise ValueError(f"ensemble: batch must not exceed window (got batch={batch}, window={window})")
    seeds = spawn_seeds(seed, n)
    name = getattr(workflow, "name", "field")
    if config is None:
        describe = getattr(workflow, "describe", None)
        config = json.dumps(describe(), sort_keys=True) if describe is not None else ""
    zstore = None if store is None else ZarrStore(store, n, seed, seeds, config)
    have = zstore.stored() if zstore is not None else np.zeros(n, dtype=bool)
    todo = [k for k in range(n) if not have[k]]

    backend = make_backend(executor, workflow, workers, scheduler) if todo else None
    sizer = TaskSizer(batch, backend is not None and backend.batches, backend.workers if backend is not None else 1)
    chosen = list(reducers) if reducers is not None else None
    bar = _progress_bar(progress, n, n - len(todo))

    buffer: dict[int, dict[str, Any]] = {}
    nbytes: int | None = None
    next_reduce = 0
    next_todo = 0
    tasks = 0
    cancel = True

    def reduce_ready() -> None:
        nonlocal next_reduce, chosen
        while next_reduce < n:
            if next_reduce in buffer:
                variables = buffer.pop(next_reduce)
            elif have[next_reduce]:
                assert zstore is not None
                variables = zstore.read(next_reduce)
            else:
                return
            if chosen is None:
                chosen = default_reducers(variables, scratch)
            for r in chosen:
                r.add(variables[r.key])
            next_reduce += 1

    def submit_ready() -> None:
        # Tasks are runs of consecutive realizations still to compute, every one inside the
        # window (submitted or waiting to be reduced: at most `width` results held).
        nonlocal next_todo, tasks
        assert backend is not None
        while next_todo < len(todo):
            width = sizer.width(window, nbytes)
            size = sizer.size(width, len(todo) - next_todo)
            first, end = todo[next_todo], next_reduce + width
            if first >= end:
                return
            count = 1
            while (count < size and next_todo + count < len(todo) and todo[next_todo + count] == first + count
                   and first + count < end):
                count += 1
            cut_by_window = (count < size and first + count == end and next_todo + count < len(todo)
                             and todo[next_todo + count] == end)
            if cut_by_window and backend.pending:
                return  # a full task fits once the oldest results are reduced
            backend.submit(first, seeds[first:first + count])
            next_todo += count
            tasks += 1

    try:
        reduce_ready()
        while next_reduce < n:
            submit_ready()
            assert backend is not None
            for first, seconds, results in backend.finished():
                sizer.record(seconds, len(results))
                for k, result in enumerate(results, first):
                    variables = as_variables(result, name)
                    if nbytes is None:
                        nbytes = result_bytes(variables)
                    if zstore is not None:
                        if not zstore.exists:
                            zstore.create(variables)
                        zstore.write(k, variables)
                    buffer[k] = variables
                if bar is not None:
                    bar.update(len(results))
            reduce_ready()
        cancel = False
    finally:
        if backend is not None:
            backend.close(cancel=cancel)
        if bar is not None:
            bar.close()
        if cancel and chosen is not None:
            for r in chosen:
                close = getattr(r, "close", None)
                if close is not None:
                    close()

    stats: dict[str, dict[str, Any]] = {}
    assert chosen is not None
    for r in chosen:
        stats.setdefault(r.key, {}).update(r.result())
    return EnsembleResult(n=n, seed=seed, seeds=seeds, stats=stats,
                          store=None if zstore is None else zstore.path, computed=len(todo), tasks=tasks)
