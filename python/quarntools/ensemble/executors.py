"""Where realizations run: a thread pool, a process pool, or a Dask cluster.

Each backend ships the workflow description to its workers once and then only
``(index, seed)`` per realization; results come back to the calling process.
"""

from __future__ import annotations

import concurrent.futures as cf
import multiprocessing
import os
import uuid
from collections.abc import Callable, Iterable
from typing import Any


Workflow = Callable[[int, int], Any]

_worker_workflow: Workflow | None = None


def _install(workflow: Workflow) -> None:
    global _worker_workflow
    _worker_workflow = workflow


def _realize_installed(index: int, seed: int) -> Any:
    assert _worker_workflow is not None
    return _worker_workflow(index, seed)


def _realize(workflow: Workflow, index: int, seed: int) -> Any:
    return workflow(index, seed)


class Backend:
    """Submits realizations, waits for some to finish, cancels the rest."""

    workers: int

    def submit(self, index: int, seed: int) -> Any:
        raise NotImplementedError

    def wait(self, futures: Iterable[Any]) -> set[Any]:
        raise NotImplementedError

    def result(self, future: Any) -> Any:
        return future.result()

    def cancel(self, futures: Iterable[Any]) -> None:
        for f in futures:
            f.cancel()

    def close(self, cancel: bool = False) -> None:
        raise NotImplementedError


class PoolBackend(Backend):
    """`concurrent.futures` pools: threads share the workflow, processes get it once each."""

    def __init__(self, kind: str, workflow: Workflow, workers: int | None) -> None:
        self.workers = workers or os.cpu_count() or 1
        self._pool: cf.Executor
        if kind == "threads":
            self._pool = cf.ThreadPoolExecutor(self.workers, thread_name_prefix="quarntools-ensemble")
            self._submit: Callable[[int, int], cf.Future[Any]] = (
                lambda i, s: self._pool.submit(_realize, workflow, i, s))
        else:
            methods = multiprocessing.get_all_start_methods()
            # Never fork: the calling process may hold locks in other threads.
            ctx = multiprocessing.get_context("forkserver" if "forkserver" in methods else "spawn")
            self._pool = cf.ProcessPoolExecutor(self.workers, mp_context=ctx, initializer=_install,
                                                initargs=(workflow,))
            self._submit = lambda i, s: self._pool.submit(_realize_installed, i, s)

    def submit(self, index: int, seed: int) -> Any:
        return self._submit(index, seed)

    def wait(self, futures: Iterable[Any]) -> set[Any]:
        done, _ = cf.wait(list(futures), return_when=cf.FIRST_COMPLETED)
        return done

    def close(self, cancel: bool = False) -> None:
        self._pool.shutdown(wait=not cancel, cancel_futures=cancel)


class DaskBackend(Backend):
    """A `distributed.Client`: the workflow is scattered to every worker once."""

    def __init__(self, client: Any, workflow: Workflow, owned: list[Any]) -> None:
        import distributed

        self._distributed = distributed
        self._client = client
        self._owned = owned  # client / cluster started here, closed in `close`
        self.workers = max(1, sum(w.get("nthreads", 1) for w in client.scheduler_info()["workers"].values()))
        self._workflow = client.scatter(workflow, broadcast=True, hash=False)
        self._token = uuid.uuid4().hex

    def submit(self, index: int, seed: int) -> Any:
        return self._client.submit(_realize, self._workflow, index, seed, pure=False,
                                   key=f"quarntools-realization-{self._token}-{index}")

    def wait(self, futures: Iterable[Any]) -> set[Any]:
        done, _ = self._distributed.wait(list(futures), return_when="FIRST_COMPLETED")
        return set(done)

    def cancel(self, futures: Iterable[Any]) -> None:
        self._client.cancel(list(futures), force=True)

    def close(self, cancel: bool = False) -> None:
        try:
            if cancel:
                self._client.cancel([self._workflow], force=True)
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
    owned: list[Any] = []
    if scheduler is None:
        cluster = distributed.LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1,
                                           dashboard_address=None)
        owned.append(cluster)
        client = distributed.Client(cluster)
    else:
        client = distributed.Client(scheduler)
    owned.insert(0, client)
    try:
        return DaskBackend(client, workflow, owned)
    except BaseException:
        for obj in owned:
            obj.close()
        raise
