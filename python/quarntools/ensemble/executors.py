"""Where realizations run: a thread pool, a process pool, or a Dask cluster.

Each backend ships the workflow description to its workers once and then only tasks: a run of
consecutive realizations ``first, first + 1, ...`` with their seeds. A task returns the results
and the seconds its realizations took on the worker (from which the runner sizes later tasks).
"""

from __future__ import annotations

import concurrent.futures as cf
import multiprocessing
import os
import signal
import time
import uuid
from collections.abc import Callable, Sequence
from typing import Any


Workflow = Callable[[int, int], Any]

_worker_workflow: Workflow | None = None


def _ignore_ctrl_c() -> None:
    """In a worker this package started: leave Ctrl-C to the caller.

    A terminal's Ctrl-C goes to the whole process group: the caller cancels the outstanding
    tasks and winds its workers down, so a worker ignores it instead of dying with a traceback.
    """
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def _install(workflow: Workflow) -> None:
    """Pool process start-up: keep the workflow, ignore Ctrl-C."""
    global _worker_workflow
    _ignore_ctrl_c()
    _worker_workflow = workflow


def realize_run(workflow: Workflow, first: int, seeds: Sequence[int]) -> tuple[float, list[Any]]:
    """Realizations ``first, first + 1, ...`` (one per seed): the seconds they took and their results."""
    t = time.perf_counter()
    out = [workflow(first + i, s) for i, s in enumerate(seeds)]
    return time.perf_counter() - t, out


def _realize_run_installed(first: int, seeds: Sequence[int]) -> tuple[float, list[Any]]:
    assert _worker_workflow is not None
    return realize_run(_worker_workflow, first, seeds)


#: What a fork server imports once so that every pool process forked from it starts warm.
PRELOAD = "quarntools.ensemble"


def _process_context() -> Any:
    """The start method for process pools: never fork (the calling process may hold locks in
    other threads); a fork server where there is one, spawn elsewhere.

    The fork server imports `PRELOAD` (numpy and this package) before it forks: a new pool's
    workers then start in milliseconds instead of importing for ~0.3 s each, on every run. The
    server's own preload list (``['__main__']`` unless the caller set another) is kept.
    """
    if "forkserver" not in multiprocessing.get_all_start_methods():
        return multiprocessing.get_context("spawn")
    ctx = multiprocessing.get_context("forkserver")
    from multiprocessing import forkserver

    current = getattr(getattr(forkserver, "_forkserver", None), "_preload_modules", None)
    if isinstance(current, list) and PRELOAD not in current:
        ctx.set_forkserver_preload([*current, PRELOAD])
    return ctx


#: What a finished task gives back: its first realization, the seconds spent, the results.
Finished = tuple[int, float, list[Any]]


class Backend:
    """Submits tasks, waits for some to finish, cancels the rest."""

    workers: int
    #: Whether automatic batching applies: a task costs the caller and the scheduler far more
    #: on processes and Dask than on threads, so only those group short realizations.
    batches: bool = True

    def __init__(self) -> None:
        self._futures: dict[Any, int] = {}

    @property
    def pending(self) -> int:
        """Tasks submitted and not yet returned by `finished`."""
        return len(self._futures)

    def submit(self, first: int, seeds: Sequence[int]) -> None:
        self._futures[self._submit(first, list(seeds))] = first

    def _submit(self, first: int, seeds: list[int]) -> Any:
        raise NotImplementedError

    def finished(self) -> list[Finished]:
        """Wait for at least one task; the finished ones in order of their first realization.

        Re-raises the first failure of a realization (the other tasks stay pending)."""
        raise NotImplementedError

    def close(self, cancel: bool = False) -> None:
        raise NotImplementedError


class PoolBackend(Backend):
    """`concurrent.futures` pools: threads share the workflow, processes get it once each."""

    def __init__(self, kind: str, workflow: Workflow, workers: int | None) -> None:
        super().__init__()
        self.workers = workers or os.cpu_count() or 1
        self._pool: cf.Executor
        if kind == "threads":
            self.batches = False
            self._pool = cf.ThreadPoolExecutor(self.workers, thread_name_prefix="quarntools-ensemble")
            self._task: Callable[[int, list[int]], cf.Future[Any]] = (
                lambda first, seeds: self._pool.submit(realize_run, workflow, first, seeds))
        else:
            ctx = _process_context()
            self._pool = cf.ProcessPoolExecutor(self.workers, mp_context=ctx, initializer=_install,
                                                initargs=(workflow,))
            self._task = lambda first, seeds: self._pool.submit(_realize_run_installed, first, seeds)

    def _submit(self, first: int, seeds: list[int]) -> Any:
        return self._task(first, seeds)

    def finished(self) -> list[Finished]:
        done, _ = cf.wait(list(self._futures), return_when=cf.FIRST_COMPLETED)
        out = []
        for fut in sorted(done, key=self._futures.__getitem__):
            seconds, results = fut.result()
            out.append((self._futures.pop(fut), seconds, results))
        return out

    def close(self, cancel: bool = False) -> None:
        if cancel:
            for fut in self._futures:
                fut.cancel()
        self._pool.shutdown(wait=not cancel, cancel_futures=cancel)


class DaskBackend(Backend):
    """A `distributed.Client`: the workflow is scattered to every worker once."""

    def __init__(self, client: Any, workflow: Workflow, owned: list[Any]) -> None:
        import distributed

        super().__init__()
        self._distributed = distributed
        self._client = client
        self._owned = owned  # client / cluster started here, closed in `close`
        self.workers = max(1, sum(w.get("nthreads", 1) for w in client.scheduler_info()["workers"].values()))
        self._workflow = client.scatter(workflow, broadcast=True, hash=False)
        self._token = uuid.uuid4().hex

    def _submit(self, first: int, seeds: list[int]) -> Any:
        return self._client.submit(realize_run, self._workflow, first, seeds, pure=False,
                                   key=f"quarntools-realizations-{self._token}-{first}")

    def finished(self) -> list[Finished]:
        done, _ = self._distributed.wait(list(self._futures), return_when="FIRST_COMPLETED")
        ready = sorted(done, key=self._futures.__getitem__)
        values = self._client.gather(ready)  # one round trip for all of them
        return [(self._futures.pop(fut), seconds, results) for fut, (seconds, results) in zip(ready, values)]

    def close(self, cancel: bool = False) -> None:
        try:
            if cancel:
                self._client.cancel([*self._futures, self._workflow], force=True)
            else:
                self._workflow.release()
        finally:
            for obj in self._owned:
                obj.close()


def _import_distributed() -> Any:
    try:
        import distributed
    except ImportError as e:
        raise ImportError('the dask executor needs dask.distributed: pip install "quarntools[dask]"') from e
    return distributed


def _is_client(executor: Any) -> bool:
    return type(executor).__name__ == "Client" and hasattr(executor, "submit")


def check_executor(executor: Any, workers: int | None, scheduler: str | None) -> None:
    """Refuse an unknown executor or a meaningless combination of arguments (ValueError/TypeError)."""
    if workers is not None and (isinstance(workers, bool) or not isinstance(workers, int) or workers < 1):
        raise ValueError(f"ensemble: workers must be >= 1 (got {workers!r})")
    if isinstance(executor, str):
        if executor not in ("threads", "processes", "dask"):
            raise ValueError(f"ensemble: executor must be 'threads', 'processes', 'dask' or a "
                             f"distributed.Client (got {executor!r})")
        if executor != "dask" and scheduler is not None:
            raise ValueError(f"ensemble: a scheduler address needs the dask executor (got {executor!r})")
    elif _is_client(executor):
        if scheduler is not None:
            raise ValueError("ensemble: give either a Client or a scheduler address, not both")
    else:
        raise TypeError(f"ensemble: executor must be 'threads', 'processes', 'dask' or a "
                        f"distributed.Client (got {type(executor).__name__})")


def make_backend(executor: Any, workflow: Workflow, workers: int | None, scheduler: str | None) -> Backend:
    """A backend for `executor`: "threads", "processes", "dask" or a `distributed.Client`."""
    check_executor(executor, workers, scheduler)
    if _is_client(executor):
        return DaskBackend(executor, workflow, [])
    if executor != "dask":
        return PoolBackend(executor, workflow, workers)
    distributed = _import_distributed()
    owned: list[Any] = []  # client / cluster started here, closed by the backend or on failure
    try:
        if scheduler is None:
            cluster = distributed.LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1,
                                               dashboard_address=None)
            owned.append(cluster)
            client = distributed.Client(cluster)
            owned.insert(0, client)
            client.run(_ignore_ctrl_c)  # the cluster is ours and local: its workers share our terminal
        else:
            client = distributed.Client(scheduler)
            owned.insert(0, client)
        return DaskBackend(client, workflow, owned)
    except BaseException:
        for obj in owned:
            obj.close()
        raise
