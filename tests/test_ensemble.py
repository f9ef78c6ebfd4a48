import json
import os
import pickle
import signal
import subprocess
import sys
import textwrap
import threading
import time
from pathlib import Path

import numpy as np
import pytest

import quarntools as qt
from quarntools import ensemble
from quarntools.ensemble._engine import TaskSizer
from quarntools.ensemble.reducers import Moments, Percentiles, Summary, type7
from quarntools.ensemble.storage import ZarrStore
from quarntools.field import Field
from quarntools.seeds import spawn_seeds

DATA = np.array([[35.0, 42.0, 0.21], [160.0, 75.0, 0.18], [90.0, 170.0, 0.26],
                 [210.0, 205.0, 0.23], [20.0, 230.0, 0.15]])
LATTICE = qt.Lattice(0, 0, 10, 10, 24, 24, rotation_deg=15.0)
VGM = ensemble.VariogramDesc("spherical", 0.0, 1.0, 120.0)
N = 10
SEED = 20261208


def sgs_workflow():
    return ensemble.SgsWorkflow(DATA, LATTICE, VGM, 8, 150.0, name="porosity")


def serial_values():
    wf = sgs_workflow()
    return [wf(k, s).values for k, s in enumerate(spawn_seeds(SEED, N))]


def tree_bytes(root):
    root = Path(root)
    return {str(p.relative_to(root)): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}


# ---- reducers against the extension's statistics, node by node -----------------------------

STACKS = [
    pytest.param([[1.0], [2.0], [3.0], [4.0], [5.0]], id="one-node-1-to-5"),
    pytest.param([[7.0, -0.0]], id="single-realization"),
    pytest.param([[0.1, 1e308], [0.7, 1e308], [0.2, -3.5]], id="huge-values"),
    pytest.param([[4.0, 1.0], [4.0, 2.0], [1.0, 3.0], [2.5, 4.0]], id="ties-and-order"),
    pytest.param([[0.0, -0.0], [-0.0, -0.0], [0.0, -0.0], [-0.0, -0.0], [0.0, -0.0]], id="signed-zeros"),
    pytest.param([[0.3, 1e-300], [-2.0, 5e-324], [0.1, -1e-300], [7.25, 0.0], [0.3, 3.0], [1e15, -7.0],
                  [0.1 + 0.2, 2.5], [-0.0, 1e-300]], id="eight-realizations-mixed-scales"),
]


@pytest.mark.parametrize("stack", STACKS)
def test_reducers_match_extension_per_node(stack, tmp_path):
    arr = np.array(stack)
    mom, pct = Moments("v"), Percentiles("v", tmp_path, block_bytes=8)  # one node per block
    for row in arr:
        mom.add(row)
        pct.add(row)
    m, p = mom.result(), pct.result()
    for j in range(arr.shape[1]):
        col = arr[:, j].tolist()
        assert m["mean"][j].hex() == qt.mean(col).hex()
        assert m["variance"][j].hex() == qt.variance(col).hex()
        for key, q in (("p90", 10), ("p50", 50), ("p10", 90)):
            assert p[key][j].hex() == qt.percentile(col, q).hex()
    assert list(tmp_path.iterdir()) == []  # the stack is removed


def test_percentile_hand_values():
    # One node with realizations 1..5: P90 (low, 10th percentile) 1.4, P50 3, P10 (high) 4.6.
    pct = Percentiles("v")
    for v in (3.0, 5.0, 1.0, 4.0, 2.0):
        pct.add(np.array([[v]]))
    got = pct.result()
    assert (got["p90"][0, 0], got["p50"][0, 0], got["p10"][0, 0]) == (1.4, 3.0, 4.6)


@pytest.mark.parametrize("p", [0.0, -0.0, 10.0, 33.3, 50.0, 90.0, 100.0])
def test_type7_matches_percentile(p):
    rows = np.sort(np.array([[0.3, 0.1, 0.9, 0.4], [5.0, 5.0, 5.0, 5.0], [-1.0, 2.0, 1e-300, 7.5]]), axis=1)
    assert [v.hex() for v in type7(rows, p)] == [qt.percentile(r.tolist(), p).hex() for r in rows]


def test_summary_is_the_reservoir_digest():
    s = Summary("stoiip")
    for v in (2.0, 1.0, 5.0, 3.0, 4.0):
        s.add(v)
    got = s.result()
    assert {k: got[k] for k in ("p90", "p50", "p10", "mean")} == {"p90": 1.4, "p50": 3.0, "p10": 4.6, "mean": 3.0}
    assert got["values"].tolist() == [2.0, 1.0, 5.0, 3.0, 4.0]


REDUCER_ERRORS = [
    pytest.param(lambda: Moments("v").result(), "Moments('v'): no realizations", id="moments-empty"),
    pytest.param(lambda: Summary("v").result(), "Summary('v'): no realizations", id="summary-empty"),
    pytest.param(lambda: Percentiles("v").result(), "Percentiles('v'): no realizations", id="pct-empty"),
]


@pytest.mark.parametrize(("call", "message"), REDUCER_ERRORS)
def test_reducer_errors(call, message):
    with pytest.raises(ValueError) as err:
        call()
    assert str(err.value) == message


ALLOCATING_ADD = [
    pytest.param(lambda: Moments("v"), "mean", lambda col: qt.mean(col), id="moments"),
    pytest.param(lambda: Percentiles("v"), "p50", lambda col: qt.percentile(col, 50), id="percentiles"),
]


@pytest.mark.parametrize(("make", "key", "expected"), ALLOCATING_ADD)
def test_reducer_add_allocates_no_realization_sized_array(make, key, expected):
    # The calling process adds every realization: an update works in buffers made by the first
    # one, so steady state allocates nothing of the realization's size (512 KiB here).
    import tracemalloc

    x = np.random.default_rng(3).normal(size=(256, 256))
    r = make()
    r.add(x)
    r.add(x * 2.0)
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        tracemalloc.reset_peak()
        r.add(x)
        peak = tracemalloc.get_traced_memory()[1] - before
    finally:
        tracemalloc.stop()
    assert peak < x.nbytes // 8, peak
    got = r.result()[key]
    for i, j in ((0, 0), (7, 11), (255, 3)):
        assert got[i, j].hex() == expected([x[i, j], x[i, j] * 2.0, x[i, j]]).hex()


def test_moments_result_is_not_changed_by_later_realizations():
    m = Moments("v")
    for v in (1.0, 2.0, 4.0):
        m.add(np.full((2, 2), v))
    first = m.result()
    m.add(np.full((2, 2), 9.0))
    assert first["mean"].tolist() == [[7.0 / 3.0] * 2] * 2
    assert first["variance"].tolist() == [[qt.variance([1.0, 2.0, 4.0])] * 2] * 2
    assert m.result()["mean"].tolist() == [[4.0] * 2] * 2


def test_moments_refuse_a_shape_change():
    m = Moments("v")
    m.add(np.zeros((2, 3)))
    with pytest.raises(ValueError) as err:
        m.add(np.zeros((3, 2)))
    assert str(err.value) == "Moments('v'): realization shape (3, 2) differs from (2, 3)"


# ---- workflows --------------------------------------------------------------------------

def test_sgs_workflow_is_the_extension_call_and_pickles():
    wf = sgs_workflow()
    seed = spawn_seeds(SEED, 3)[2]
    buf, shape = qt.sgs_flat(DATA.tolist(), LATTICE, qt.Variogram("spherical", 0.0, 1.0, 120.0), 8, 150.0, seed)
    got = pickle.loads(pickle.dumps(wf))(2, seed)
    assert isinstance(got, Field) and got.shape == shape == (24, 24)
    assert got.values.tobytes() == buf
    assert got.lattice.rotation_deg == 15.0


WORKFLOW_ERRORS = [
    pytest.param(dict(data=[[1.0, 2.0]]), ValueError,
                 "SgsWorkflow: data must be (n, 3) rows [x, y, value] with n >= 1 (got shape (1, 2))", id="width"),
    pytest.param(dict(data=np.zeros((0, 3))), ValueError,
                 "SgsWorkflow: data must be (n, 3) rows [x, y, value] with n >= 1 (got shape (0, 3))", id="empty"),
    pytest.param(dict(data=[[1.0, 2.0, np.nan]]), ValueError, "SgsWorkflow: data must be finite", id="nan"),
    pytest.param(dict(radius=0.0), ValueError, "SgsWorkflow: need max_neighbours >= 1 and radius > 0", id="radius"),
    pytest.param(dict(max_neighbours=0), ValueError, "SgsWorkflow: need max_neighbours >= 1 and radius > 0",
                 id="neighbours"),
    pytest.param(dict(variogram=qt.Variogram("spherical", 0.0, 1.0, 1.0)), TypeError,
                 "SgsWorkflow: variogram must be a VariogramDesc (got Variogram)", id="live-variogram"),
]


@pytest.mark.parametrize(("change", "kind", "message"), WORKFLOW_ERRORS)
def test_sgs_workflow_errors(change, kind, message):
    args = dict(data=DATA, lattice=LATTICE, variogram=VGM, max_neighbours=8, radius=150.0) | change
    with pytest.raises(kind) as err:
        ensemble.SgsWorkflow(**args)
    assert str(err.value) == message


def test_variogram_desc_rejects_unknown_model():
    with pytest.raises(ValueError) as err:
        ensemble.VariogramDesc("cubic", 0.0, 1.0, 10.0)
    assert str(err.value) == "VariogramDesc: model must be one of spherical, exponential, gaussian, nugget (got 'cubic')"


# ---- the same bits on every executor -------------------------------------------------------

@pytest.fixture(scope="module")
def reference():
    vals = serial_values()
    return vals, ensemble.run(sgs_workflow(), N, SEED, workers=1, progress=False)


@pytest.fixture(scope="module")
def dask_client():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None, timeout=120) as cluster, \
            distributed.Client(cluster, timeout=120) as client:
        yield client


EXECUTORS = [
    pytest.param("threads", 2, None, id="threads-2"),
    pytest.param("threads", 1, None, id="threads-1"),
    pytest.param("processes", 2, None, id="processes-2"),
    pytest.param("dask", None, None, id="dask-localcluster-2"),
    pytest.param("threads", 2, 3, id="threads-2-batch-3"),
    pytest.param("processes", 2, 3, id="processes-2-batch-3"),
    pytest.param("processes", 1, 2, id="processes-1-batch-2"),
    pytest.param("dask", None, 3, id="dask-localcluster-2-batch-3"),
]


@pytest.mark.parametrize(("executor", "workers", "batch"), EXECUTORS)
def test_executors_give_identical_bits(executor, workers, batch, reference, tmp_path, request):
    vals, ref = reference
    if executor == "dask":
        executor = request.getfixturevalue("dask_client")
    store = tmp_path / "run.zarr"
    got = ensemble.run(sgs_workflow(), N, SEED, executor=executor, workers=workers, store=store,
                       progress=False, window=3, batch=batch)
    if batch is not None:  # runs of `batch` consecutive realizations: 0-2, 3-5, 6-8, 9 (or 0-1, ..., 8-9)
        assert got.tasks == -(-N // batch)
    elif executor == "threads":
        assert got.tasks == N
    for key in ("mean", "variance", "p90", "p50", "p10"):
        assert got["porosity"][key].values.tobytes() == ref["porosity"][key].values.tobytes(), key
    # the reductions are the extension's statistics of the serial realizations
    node = [v[5, 17] for v in vals]
    assert got["porosity"]["mean"].values[5, 17] == qt.mean(node)
    assert got["porosity"]["p90"].values[5, 17] == qt.percentile(node, 10)
    xr = pytest.importorskip("xarray")
    with xr.open_zarr(store) as ds:
        assert ds.porosity.shape == (N, 24, 24)
        assert ds.porosity.encoding["chunks"] == (1, 24, 24)
        assert ds.stored.values.tolist() == [1] * N
        assert ds.seed.values.tolist() == spawn_seeds(SEED, N)
        assert ds.attrs["master_seed"] == SEED and ds.attrs["realizations"] == N
        for k in range(N):
            assert ds.porosity.values[k].tobytes() == vals[k].tobytes()
        back = Field.from_xarray(ds.porosity.isel(realization=4).compute())
        assert back.values.tobytes() == vals[4].tobytes() and back.lattice.rotation_deg == 15.0


class LateFirst:
    """Realization k sleeps longer the smaller k is, so they finish in reverse order."""

    name = "porosity"

    def __init__(self):
        self.inner = sgs_workflow()
        self.finished = []
        self.lock = threading.Lock()

    def __call__(self, index, seed):
        time.sleep(0.02 * (N - index))
        out = self.inner(index, seed)
        with self.lock:
            self.finished.append(index)
        return out

    def describe(self):
        return self.inner.describe()


def test_completion_order_does_not_matter(reference):
    _, ref = reference
    wf = LateFirst()
    got = ensemble.run(wf, N, SEED, workers=N, window=N, progress=False)
    assert wf.finished != sorted(wf.finished)
    for key in ("mean", "variance", "p90", "p50", "p10"):
        assert got["porosity"][key].values.tobytes() == ref["porosity"][key].values.tobytes(), key


# ---- storage and resume ----------------------------------------------------------------

class StopAt:
    """As the SGS workflow, but Ctrl-C arrives while realization `at` runs."""

    name = "porosity"

    def __init__(self, at):
        self.inner, self.at, self.calls = sgs_workflow(), at, []

    def __call__(self, index, seed):
        self.calls.append(index)
        if index == self.at:
            raise KeyboardInterrupt
        return self.inner(index, seed)

    def describe(self):
        return self.inner.describe()


@pytest.mark.parametrize(("workers", "batch"), [pytest.param(1, None, id="1-worker"),
                                                 pytest.param(3, None, id="3-workers"),
                                                 pytest.param(2, 2, id="2-workers-batch-2")])
def test_resume_after_interrupt_gives_the_same_store(workers, batch, reference, tmp_path):
    _, ref = reference
    whole = tmp_path / "whole.zarr"
    ensemble.run(sgs_workflow(), N, SEED, workers=workers, store=whole, progress=False)

    part = tmp_path / "part.zarr"
    stopper = StopAt(6)
    with pytest.raises(KeyboardInterrupt):
        ensemble.run(stopper, N, SEED, workers=workers, store=part, progress=False, window=2, batch=batch)
    assert max(stopper.calls) < 8  # the window held back the rest: nothing past 6 + 2 started
    xr = pytest.importorskip("xarray")
    with xr.open_zarr(part) as ds:
        stored = ds.stored.values.astype(bool)
    assert 0 < stored.sum() < N and not stored[6]

    got = ensemble.run(sgs_workflow(), N, SEED, workers=workers, store=part, progress=False, batch=batch)
    assert got.computed == N - stored.sum()
    assert tree_bytes(part) == tree_bytes(whole)
    for key in ("mean", "variance", "p90", "p50", "p10"):
        assert got["porosity"][key].values.tobytes() == ref["porosity"][key].values.tobytes(), key

    again = ensemble.run(sgs_workflow(), N, SEED, workers=workers, store=part, progress=False)
    assert again.computed == 0  # everything stored: read back, nothing recomputed
    assert again["porosity"]["p50"].values.tobytes() == ref["porosity"]["p50"].values.tobytes()


MISMATCH = [
    pytest.param(dict(seed=SEED + 1), "master_seed", id="seed"),
    pytest.param(dict(n=N + 1), "realizations", id="count"),
    pytest.param(dict(workflow=ensemble.SgsWorkflow(DATA, LATTICE, VGM, 9, 150.0, name="porosity")), "config",
                 id="workflow"),
]


@pytest.mark.parametrize(("change", "key"), MISMATCH)
def test_resume_refuses_another_run(change, key, tmp_path):
    store = tmp_path / "s.zarr"
    ensemble.run(sgs_workflow(), N, SEED, store=store, progress=False)
    before = tree_bytes(store)
    args = dict(workflow=sgs_workflow(), n=N, seed=SEED) | change
    with pytest.raises(ensemble.StoreMismatchError) as err:
        ensemble.run(args["workflow"], args["n"], args["seed"], store=store, progress=False)
    assert str(err.value) == (f"ensemble: {store} holds a different run ({key} differs); "
                              "remove it or choose another path")
    assert tree_bytes(store) == before


def test_store_refuses_a_foreign_directory(tmp_path):
    (tmp_path / "notes.txt").write_text("not a store")
    with pytest.raises(ensemble.StoreMismatchError) as err:
        ensemble.run(sgs_workflow(), 2, SEED, store=tmp_path, progress=False)
    assert str(err.value).startswith(f"ensemble: {tmp_path} exists and is not an ensemble store")
    assert [p.name for p in tmp_path.iterdir()] == ["notes.txt"]


# ---- arguments --------------------------------------------------------------------------

RUN_ERRORS = [
    pytest.param(dict(n=0), "ensemble: n must be an integer >= 1 (got 0)", id="n-zero"),
    pytest.param(dict(n=True), "ensemble: n must be an integer >= 1 (got True)", id="n-bool"),
    pytest.param(dict(seed=-1), "ensemble: seed must be an integer in [0, 2**64) (got -1)", id="seed-negative"),
    pytest.param(dict(seed=2**64), f"ensemble: seed must be an integer in [0, 2**64) (got {2**64})", id="seed-big"),
    pytest.param(dict(executor="fibers"), "ensemble: executor must be 'threads', 'processes', 'dask' or a "
                 "distributed.Client (got 'fibers')", id="executor"),
    pytest.param(dict(workers=0), "ensemble: workers must be >= 1 (got 0)", id="workers"),
    pytest.param(dict(scheduler="tcp://127.0.0.1:1"), "ensemble: a scheduler address needs the dask executor "
                 "(got 'threads')", id="scheduler-without-dask"),
    pytest.param(dict(window=0), "ensemble: window must be >= 1 (got 0)", id="window"),
    pytest.param(dict(batch=0), "ensemble: batch must be >= 1 (got 0)", id="batch-zero"),
    pytest.param(dict(batch=2.0), "ensemble: batch must be >= 1 (got 2.0)", id="batch-float"),
    pytest.param(dict(batch=False), "ensemble: batch must be >= 1 (got False)", id="batch-bool"),
    pytest.param(dict(batch=5, window=4), "ensemble: batch must not exceed window (got batch=5, window=4)",
                 id="batch-over-window"),
]


@pytest.mark.parametrize(("change", "message"), RUN_ERRORS)
def test_run_argument_errors(change, message):
    args = dict(workflow=sgs_workflow(), n=2, seed=1, progress=False) | change
    with pytest.raises(ValueError) as err:
        ensemble.run(**args)
    assert str(err.value) == message


# ---- tasks of several realizations ---------------------------------------------------------

def sized(fixed=None, grow=True, workers=2, records=()):
    sizer = TaskSizer(fixed, grow, workers)
    for seconds, count in records:
        sizer.record(seconds, count)
    return sizer


TASK_SIZES = [
    # (sizer, window, result bytes, remaining) -> (window width, realizations in the next task)
    pytest.param(sized(), None, None, 100, (8, 1), id="auto-starts-at-one"),
    pytest.param(sized(grow=False, records=[(0.0125, 1)]), None, 800, 100, (8, 1), id="threads-never-grow"),
    pytest.param(sized(records=[(0.0125, 1)]), None, 800, 100, (64, 16), id="0.2-s-of-12.5-ms"),
    pytest.param(sized(records=[(0.05, 2)]), None, 800, 100, (32, 8), id="rate-per-realization"),
    pytest.param(sized(records=[(0.1, 1), (0.02, 2)]), None, 800, 100, (16, 4),
                 id="halfway-to-the-latest-rate"),
    pytest.param(sized(records=[(0.0125, 1)]), None, 800, 9, (64, 5), id="tail-spread-over-workers"),
    pytest.param(sized(records=[(0.0125, 1)]), None, 8 << 20, 100, (8, 2), id="64-MiB-budget-of-8-MiB-results"),
    pytest.param(sized(records=[(0.0125, 1)]), None, 64 << 20, 100, (8, 2), id="budget-keeps-4-per-worker"),
    pytest.param(sized(records=[(0.0125, 1)]), 12, 800, 100, (12, 3), id="given-window-caps"),
    pytest.param(sized(records=[(0.0125, 1)]), 3, 800, 100, (3, 1), id="window-below-two-per-worker"),
    pytest.param(sized(records=[(0.0, 4)]), None, 8, 10**9, (1 << 22, 1 << 20), id="instant-realizations"),
    pytest.param(sized(fixed=5, records=[(9.0, 1)]), None, None, 3, (8, 5), id="fixed"),
    pytest.param(sized(fixed=20, workers=3), None, 800, 100, (120, 20), id="fixed-two-tasks-per-worker"),
    pytest.param(sized(fixed=20, workers=3), None, 1 << 20, 100, (64, 20), id="fixed-within-the-budget"),
    pytest.param(sized(fixed=20, workers=3), None, 32 << 20, 100, (20, 20), id="fixed-holds-one-task"),
    pytest.param(sized(fixed=1, records=[(0.001, 1)]), None, 800, 100, (8, 1), id="fixed-one-never-grows"),
]


@pytest.mark.parametrize(("sizer", "window", "nbytes", "remaining", "expected"), TASK_SIZES)
def test_task_sizes(sizer, window, nbytes, remaining, expected):
    width = sizer.width(window, nbytes)
    assert (width, sizer.size(width, remaining)) == expected


class Watched:
    """A cheap realization that checks, as it starts, that it lies inside the reorder window."""

    name = "v"

    def __init__(self, window):
        self.window, self.lock, self.reduced, self.started, self.late = window, threading.Lock(), 0, [], []

    def __call__(self, index, seed):
        with self.lock:
            self.started.append(index)
            if index >= self.reduced + self.window:
                self.late.append((index, self.reduced))
        time.sleep(0.002 * (index % 3))
        return np.full((3, 2), float(seed >> 40))


class CountReduced:
    key = "v"

    def __init__(self, watched):
        self.watched = watched

    def add(self, value):
        with self.watched.lock:
            self.watched.reduced += 1

    def result(self):
        return {}


@pytest.mark.parametrize(("workers", "batch", "window", "tasks"), [
    pytest.param(2, 3, 6, 14, id="2-workers-batch-3-window-6"),
    pytest.param(3, 1, 4, 40, id="3-workers-batch-1-window-4"),
    pytest.param(2, 4, 4, 10, id="batch-equal-to-window"),
    pytest.param(1, 2, 5, 20, id="1-worker-batch-2-window-5"),
    pytest.param(4, 2, 5, 20, id="window-not-a-multiple-of-batch"),  # 4-5 waits for 0-1 to be reduced
])
def test_batches_stay_inside_the_window(workers, batch, window, tasks):
    wf = Watched(window)
    got = ensemble.run(wf, 40, SEED, workers=workers, batch=batch, window=window, progress=False,
                       reducers=[CountReduced(wf), Moments("v")])
    assert wf.late == []
    assert sorted(wf.started) == list(range(40)) and got.tasks == tasks
    seeds = spawn_seeds(SEED, 40)
    assert got["v"]["mean"][1, 1] == qt.mean([float(s >> 40) for s in seeds])


def test_resume_batches_runs_between_stored_realizations(tmp_path):
    store = tmp_path / "gaps.zarr"
    whole = tmp_path / "whole.zarr"
    wf = sgs_workflow()
    ensemble.run(wf, N, SEED, store=whole, progress=False)
    seeds = spawn_seeds(SEED, N)
    z = ZarrStore(store, N, SEED, seeds, json.dumps(wf.describe(), sort_keys=True))
    z.create({"porosity": wf(0, seeds[0])})
    for k in (0, 1, 2, 5, 6):
        z.write(k, {"porosity": wf(k, seeds[k])})
    calls = StopAt(N)  # records, never stops
    got = ensemble.run(calls, N, SEED, store=store, progress=False, batch=4, workers=1)
    assert sorted(calls.calls) == [3, 4, 7, 8, 9]
    assert (got.computed, got.tasks) == (5, 2)  # 3-4 and 7-9: a task never spans a stored one
    assert tree_bytes(store) == tree_bytes(whole)


class SignalOnWrite:
    """A store array that receives Ctrl-C in the middle of a write, then records the write."""

    def __init__(self, array):
        self.array, self.done = array, []

    def __getitem__(self, key):
        return self.array[key]

    def __setitem__(self, key, value):
        signal.raise_signal(signal.SIGINT)
        self.array[key] = value
        self.done.append(key)


def test_ctrl_c_waits_for_the_store_write_to_finish(tmp_path):
    wf = sgs_workflow()
    seeds = spawn_seeds(SEED, N)
    z = ZarrStore(tmp_path / "s.zarr", N, SEED, seeds, json.dumps(wf.describe(), sort_keys=True))
    z.create({"porosity": wf(0, seeds[0])})
    z._arrays["porosity"] = SignalOnWrite(z._arrays["porosity"])
    with pytest.raises(KeyboardInterrupt):
        z.write(3, {"porosity": wf(3, seeds[3])})
    # the write went through to its stored flag before the interrupt was raised
    assert z._arrays["porosity"].done == [slice(3, 4)]
    assert z.stored().tolist() == [k == 3 for k in range(N)]
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler


class Tiny:
    """A realization of microseconds: automatic batching groups many per task."""

    name = "v"

    def __call__(self, index, seed):
        return np.full((4, 4), float(seed >> 11) * 2.0**-53)


@pytest.mark.parametrize("executor", ["processes", "dask"])
def test_automatic_batching_groups_short_realizations(executor, request):
    ex = request.getfixturevalue("dask_client") if executor == "dask" else executor
    one = ensemble.run(Tiny(), 300, SEED, workers=1, progress=False)
    got = ensemble.run(Tiny(), 300, SEED, executor=ex, workers=2, progress=False)
    assert got.tasks <= 300 // 4, got.tasks  # starts at one per task, then grows
    for key in ("mean", "variance", "p90", "p50", "p10"):
        assert got["v"][key].tobytes() == one["v"][key].tobytes(), key
    values = [float(s >> 11) * 2.0**-53 for s in spawn_seeds(SEED, 300)]
    assert got["v"]["p90"][2, 3] == qt.percentile(values, 10)


PRELOAD_SCRIPT = textwrap.dedent("""
    import multiprocessing
    from multiprocessing import forkserver
    import numpy as np
    from quarntools import ensemble

    class Ones:
        name = "v"
        def __call__(self, index, seed):
            return np.ones((2, 2))

    if __name__ == "__main__":
        multiprocessing.set_forkserver_preload(["json"])
        res = ensemble.run(Ones(), 4, 1, executor="processes", workers=2, progress=False, batch=1)
        print(forkserver._forkserver._preload_modules, res.tasks, res["v"]["mean"].tolist())
""")


@pytest.mark.skipif("forkserver" not in __import__("multiprocessing").get_all_start_methods(),
                    reason="no fork server on this platform")
def test_process_pool_adds_to_the_fork_servers_preload(tmp_path):
    # Pool processes fork from a server that has imported the package (they start warm); the
    # caller's own preload list is kept.
    script = tmp_path / "preload.py"
    script.write_text(PRELOAD_SCRIPT)
    out = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=300, check=True)
    assert out.stdout == "['json', 'quarntools.ensemble'] 4 [[1.0, 1.0], [1.0, 1.0]]\n"


# ---- memory stays bounded ---------------------------------------------------------------

MEMORY_SCRIPT = textwrap.dedent("""
    import resource, sys
    import numpy as np
    from quarntools import ensemble

    RAMP = np.add.outer(np.arange(512.0), np.arange(512.0))

    class Ramp:
        # A cheap 512 x 512 field per realization (an SGS sweep of this size takes seconds).
        name = "ramp"
        def __call__(self, index, seed):
            return RAMP * float(seed >> 54)

    res = ensemble.run(Ramp(), 500, 99, workers=2, progress=False, scratch=sys.argv[1])
    assert res["ramp"]["p50"].shape == (512, 512)
    print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024)
""")


@pytest.mark.skipif(bool(os.environ.get("QUARN_SANITIZED")),
                    reason="the sanitizer allocator's quarantine and shadow memory inflate RSS")
def test_memory_stays_bounded(tmp_path):
    # 500 realizations of 512^2 are 1 GiB of values; the run keeps a window of them plus the
    # node blocks of the percentile stack.
    env = dict(os.environ)
    out = subprocess.run([sys.executable, "-c", MEMORY_SCRIPT, str(tmp_path)], capture_output=True, text=True,
                         env=env, timeout=600, check=True)
    peak = int(out.stdout.strip())
    assert peak < 1 << 30, f"peak RSS {peak / 2**20:.0f} MiB"
    assert list(tmp_path.iterdir()) == []


SIGINT_SCRIPT = textwrap.dedent("""
    import os, sys, time
    import numpy as np
    from quarntools import ensemble

    class Slow:
        name = "v"
        def __call__(self, index, seed):
            open(os.path.join(sys.argv[1], str(index)), "w").close()
            time.sleep(0.1)
            return np.full((4, 4), float(index))

    ensemble.run(Slow(), 1000, 5, workers=2, window=4, progress=False)
""")


def test_ctrl_c_cancels_outstanding_work(tmp_path):
    proc = subprocess.Popen([sys.executable, "-c", SIGINT_SCRIPT, str(tmp_path)], stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + 120
        while len(list(tmp_path.iterdir())) < 6:  # a few realizations have started
            assert time.monotonic() < deadline and proc.poll() is None
            time.sleep(0.02)
        proc.send_signal(signal.SIGINT)
        started = len(list(tmp_path.iterdir()))
        _, err = proc.communicate(timeout=120)
    finally:
        proc.kill()
    assert proc.returncode != 0 and err.rstrip().endswith("KeyboardInterrupt")
    # at most the window (4) started after the signal; the other ~990 never ran
    assert len(list(tmp_path.iterdir())) <= started + 4


@pytest.mark.parametrize(("rotation", "stored"), [pytest.param(-1e-20, 360.0, id="tiny-negative-stored-as-360"),
                                                  pytest.param(-30.0, 330.0, id="negative"),
                                                  pytest.param(720.0, 0.0, id="full-turns")])
def test_lattice_desc_rebuilds_the_stored_rotation(rotation, stored):
    lat = qt.Lattice(5.0, -3.0, 2.0, 4.0, 3, 2, rotation_deg=rotation, yflip=True)
    back = pickle.loads(pickle.dumps(ensemble.LatticeDesc.of(lat))).lattice()
    assert lat.rotation_deg == back.rotation_deg == stored
    assert back.node_xy(2, 1) == lat.node_xy(2, 1)
