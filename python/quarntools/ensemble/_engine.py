"""The realization loop: submit in a bounded window, reduce in realization order, store as they come."""

from __future__ import annotations

import json
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


def run(workflow: Callable[[int, int], Any], n: int, seed: int, executor: Any = "threads",
        workers: int | None = None, reducers: Sequence[Any] | None = None,
        store: str | os.PathLike[str] | None = None,
        progress: bool | None | Callable[[int, int], Any] = None, *,
        scheduler: str | None = None, window: int | None = None, config: str | None = None,
        scratch: str | os.PathLike[str] | None = None) -> EnsembleResult:
    """Run realizations ``0 .. n-1`` of `workflow` and reduce them as they arrive.

    Realization ``k`` is ``workflow(k, spawn_seeds(seed, n)[k])``; it has the same seed and the
    same bits on every executor and worker count. Results are reduced in realization order, so
    the statistics do not depend on which realization finishes first.

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
        ``progress(done, n)`` after every realization.
    scheduler : str, optional
        Address of a Dask scheduler (with ``executor="dask"``).
    window : int, optional
        Realizations submitted but not yet reduced, at most (default ``4 * workers``); bounds
        memory at `window` results whatever `n` is.
    config : str, optional
        Text stored in the store's ``config`` attribute (default: the workflow's ``describe()``
        as JSON); a resumed run must have the same.
    scratch : path, optional
        Directory for the percentile stack (default: the system's temporary directory).

    Returns
    -------
    EnsembleResult

    Notes
    -----
    Ctrl-C (KeyboardInterrupt) cancels the outstanding realizations and re-raises; what was
    stored so far stays valid for a resume.
    """
    _check_count(n, seed)
    check_executor(executor, workers, scheduler)
    if window is not None and (isinstance(window, bool) or not isinstance(window, int) or window < 1):
        raise ValueError(f"ensemble: window must be >= 1 (got {window!r})")
    seeds = spawn_seeds(seed, n)
    name = getattr(workflow, "name", "field")
    if config is None:
        describe = getattr(workflow, "describe", None)
        config = json.dumps(describe(), sort_keys=True) if describe is not None else ""
    zstore = None if store is None else ZarrStore(store, n, seed, seeds, config)
    have = zstore.stored() if zstore is not None else np.zeros(n, dtype=bool)
    todo = [k for k in range(n) if not have[k]]

    backend = make_backend(executor, workflow, workers, scheduler) if todo else None
    width = window if window is not None else 4 * (backend.workers if backend is not None else 1)
    chosen = list(reducers) if reducers is not None else None
    bar = _progress_bar(progress, n, n - len(todo))

    buffer: dict[int, dict[str, Any]] = {}
    inflight: dict[Any, int] = {}
    next_reduce = 0
    next_todo = 0
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

    try:
        reduce_ready()
        while next_reduce < n:
            # Submit while the window (in flight + waiting to be reduced) has room.
            while next_todo < len(todo) and todo[next_todo] < next_reduce + width:
                k = todo[next_todo]
                assert backend is not None
                inflight[backend.submit(k, seeds[k])] = k
                next_todo += 1
            assert backend is not None
            for fut in backend.wait(inflight):
                k = inflight.pop(fut)
                variables = as_variables(backend.result(fut), name)
                if zstore is not None:
                    if not zstore.exists:
                        zstore.create(variables)
                    zstore.write(k, variables)
                buffer[k] = variables
                if bar is not None:
                    bar.update(1)
            reduce_ready()
        cancel = False
    finally:
        if backend is not None:
            if cancel:
                backend.cancel(inflight)
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
                          store=None if zstore is None else zstore.path, computed=len(todo))
