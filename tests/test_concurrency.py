"""Lock-releasing calls side by side: 8 threads at once, argument lists mutated under them.

Each call's inputs are copied while the interpreter lock is held, so neither the other
threads nor mutation of the very list objects passed in may change a result: every
threaded result must equal the serial result bit for bit. A `Tick` placed in the last
argument the binding converts marks the moment the call's lists have been copied; from
then on mutator threads clear, extend and overwrite them while the core still runs.
"""
import collections
import math
import sys
import threading
import time

import pytest

import quarntools as qt

THREADS = 8
ROUNDS = 3
MUTATORS = 2


class Tick:
    """A number whose conversion hands the call's lists over to the mutators."""

    def __init__(self, value, targets, armed):
        self.value = value
        self.targets = targets
        self.armed = armed

    def _fire(self):
        self.armed.extend(self.targets)
        return self.value

    def __float__(self):
        return float(self._fire())

    def __index__(self):
        return int(self._fire())


def serial_tick(value, *targets):
    return value


def fingerprint(x):
    """Exact, comparable form of a result: floats by their hex text, bytes as they are."""
    if isinstance(x, float):
        return x.hex()
    if isinstance(x, (bool, int, str, bytes)):
        return x
    if isinstance(x, (list, tuple)):
        return tuple(fingerprint(v) for v in x)
    if isinstance(x, dict):
        return tuple((k, fingerprint(v)) for k, v in sorted(x.items()))
    if isinstance(x, qt.Variogram):
        return (repr(x), x.nugget.hex(), x.sill.hex(), x.range.hex())
    if isinstance(x, qt.ExperimentalVariogram):
        return (fingerprint(x.lags), fingerprint(x.semivariances), fingerprint(x.counts))
    raise TypeError(f"no fingerprint for {type(x).__name__}")


# ---- inputs: small, so each call takes a few milliseconds ---------------------------

def coords_rows():
    return [[(i * 37 % 23) * 5.0 + 0.25 * i, (i * 11 % 17) * 6.0, math.sin(i * 0.7) * 3.0 + 10.0]
            for i in range(24)]


def field_columns(ncol, nrow):
    return [[math.cos(c * 0.3) * 2.0 + row * 0.125 for row in range(nrow)] for c in range(ncol)]


LATTICE = qt.Lattice(0.0, 0.0, 10.0, 10.0, 12, 10)
SRC = qt.Lattice(0.0, 0.0, 10.0, 10.0, 9, 7)
TARGET = qt.Lattice(3.0, -4.0, 6.5, 6.5, 14, 11, 17.0)
SPH = qt.Variogram("spherical", 0.1, 0.9, 40.0)
EXP = qt.Variogram("exponential", 0.0, 1.0, 25.0)


def ev():
    return qt.experimental_variogram(coords_rows(), 8.0, 10)


def zones():
    return [qt.ZoneSpec(6.0, 0.2, 0.05, 1.5), qt.ZoneSpec(4.0, 0.3, 0.08, 0.5), qt.ZoneSpec(5.0, 0.15, 0.04, 2.0)]


def petro_zone():
    return qt.PetroZoneSpec(0.6, 0.22, 0.04, 0.06, 0.03, 1.2, 0.8)


# Each builder takes a tick(value, *lists) and returns the argument tuple; the lists
# handed to tick are armed for mutation once that argument has been converted. The tick
# always sits in the last argument converted that can carry one.

def a_experimental(tick):
    c = coords_rows()
    return (c, 8.0, tick(10, c, *c))


def a_kriging(tick):
    c = coords_rows()
    return (c, LATTICE, SPH, 8, tick(45.0, c, *c))


def a_sgs(tick):
    c = coords_rows()
    return (c, LATTICE, SPH, 8, 45.0, tick(1234, c, *c))


def a_interp(method):
    def build(tick):
        x = [0.0, 1.0, 2.5, 4.0, 4.5, 7.0, 9.0]
        y = [1.0, -0.5, 2.0, 3.5, 3.0, 0.25, 1.0]
        # the query is a tuple: its tick is its last item, and nothing after it can be mutated
        q = tuple(i * 0.0625 - 0.5 for i in range(160)) + (tick(8.75, x, y),)
        return (x, y, q, method, True)
    return build


def a_resample(method):
    def build(tick):
        cols = field_columns(SRC.ncol, SRC.nrow)
        last = tuple(cols[-1][:-1]) + (tick(cols[-1][-1], *cols[:-1]),)
        return (tuple(cols[:-1]) + (last,), SRC, TARGET, method)
    return build


def a_interp_ndarray(tick):
    np = pytest.importorskip("numpy")
    x = np.array([0.0, 1.0, 2.5, 4.0, 4.5, 7.0, 9.0])
    y = np.array([1.0, -0.5, 2.0, 3.5, 3.0, 0.25, 1.0])
    q = tuple(i * 0.0625 - 0.5 for i in range(160)) + (tick(8.75, x, y),)
    return (x, y, q, "cubic", True)


def a_resample_ndarray(tick):
    # the columns are rows of one array: the buffer path must copy them, not keep views
    np = pytest.importorskip("numpy")
    cols = field_columns(SRC.ncol, SRC.nrow)
    a = np.array(cols[:-1])
    last = tuple(cols[-1][:-1]) + (tick(cols[-1][-1], a),)
    return (tuple(a) + (last,), SRC, TARGET, "bilinear")


def a_resample_flat(tick):
    import struct
    cols = field_columns(SRC.ncol, SRC.nrow)
    buf = b"".join(struct.pack("<%dd" % len(c), *c) for c in cols)
    return (buf, SRC, TARGET, "bilinear")


def a_log_series(tick):
    z = zones()
    return (z, 0.05, 4, tick(99, z))


def a_facies(tick):
    return (900, 0.1, 0.35, 1.5, tick(5, []))


def a_por_with_facies(tick):
    f = [(i // 7) % 2 for i in range(900)]
    return (f, 0.1, 0.25, 0.04, 0.08, 0.03, 1.2, tick(17, f))


def a_petro(tick):
    return (petro_zone(), 0.1, 400, tick(3, []))


def a_dome(tick):
    return (LATTICE, 25.0, 1.5, 0.02, 1.0, SPH, tick(11, []))


def a_isochore(tick):
    return (LATTICE, 30.0, 4.0, EXP, tick(12, []))


def a_trend(tick):
    return (LATTICE, EXP, tick(13, []))


def a_trend_correlated(tick):
    cols = field_columns(LATTICE.ncol, LATTICE.nrow)
    return (LATTICE, EXP, 13, (cols, tick(0.6, cols, *cols)))


def a_fit(model):
    def build(tick):
        return (model, ev())
    return build


def variogram_fit(*args):
    return qt.Variogram.fit(*args)


CASES = [
    pytest.param("experimental_variogram", a_experimental, id="experimental_variogram"),
    pytest.param("local_kriging_grid", a_kriging, id="local_kriging_grid"),
    pytest.param("local_kriging_grid_flat", a_kriging, id="local_kriging_grid_flat"),
    pytest.param("sgs", a_sgs, id="sgs"),
    pytest.param("sgs_flat", a_sgs, id="sgs_flat"),
    pytest.param("interp1d", a_interp("linear"), id="interp1d-linear"),
    pytest.param("interp1d", a_interp("cubic"), id="interp1d-cubic"),
    pytest.param("resample", a_resample("bilinear"), id="resample-bilinear"),
    pytest.param("resample", a_resample("nearest"), id="resample-nearest"),
    pytest.param("interp1d", a_interp_ndarray, id="interp1d-ndarray"),
    pytest.param("resample", a_resample_ndarray, id="resample-ndarray"),
    pytest.param("resample_flat", a_resample_flat, id="resample_flat"),
    pytest.param("synth_log_series", a_log_series, id="synth_log_series"),
    pytest.param("synth_facies_series", a_facies, id="synth_facies_series"),
    pytest.param("synth_por_with_facies", a_por_with_facies, id="synth_por_with_facies"),
    pytest.param("synth_petro_curves", a_petro, id="synth_petro_curves"),
    pytest.param("synth_dome_surface", a_dome, id="synth_dome_surface"),
    pytest.param("synth_dome_surface_flat", a_dome, id="synth_dome_surface_flat"),
    pytest.param("synth_isochore", a_isochore, id="synth_isochore"),
    pytest.param("synth_isochore_flat", a_isochore, id="synth_isochore_flat"),
    pytest.param("synth_trend_map", a_trend, id="synth_trend_map"),
    pytest.param("synth_trend_map_flat", a_trend, id="synth_trend_map_flat"),
    pytest.param("synth_trend_map", a_trend_correlated, id="synth_trend_map-correlated"),
    pytest.param("synth_trend_map_flat", a_trend_correlated, id="synth_trend_map_flat-correlated"),
    pytest.param("Variogram.fit", a_fit("spherical"), id="Variogram.fit-spherical"),
    pytest.param("Variogram.fit", a_fit("exponential"), id="Variogram.fit-exponential"),
]


def resolve(name):
    if name == "Variogram.fit":
        return variogram_fit
    fn = getattr(qt, name, None)
    if fn is None:
        pytest.skip("not built yet")
    return fn


JUNK = [1e300, -0.0, math.nan, 7.0]


def mutate(obj, k):
    """One mutation of a list or array the call has already copied."""
    if hasattr(obj, "fill"):  # an ndarray: overwrite in place, the memory a view would read
        obj.fill(JUNK[k % 4])
    elif isinstance(obj, list):
        op = k % 5
        if op == 0:
            obj.clear()
        elif op == 1:
            obj.extend(JUNK)
        elif op == 2:
            obj[:] = JUNK[: 1 + k % 4]
        elif op == 3 and obj:
            obj[k % len(obj)] = JUNK[k % 4]
        else:
            obj.append([JUNK[k % 4]] * 3)


@pytest.fixture
def fast_switching():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    yield
    sys.setswitchinterval(old)


def run_threads(targets):
    errors = []

    def guard(fn):
        def run():
            try:
                fn()
            except BaseException as e:  # reported on the main thread
                errors.append(e)
        return run

    threads = [threading.Thread(target=guard(t)) for t in targets]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if errors:
        raise errors[0]


@pytest.mark.parametrize(("name", "build"), CASES)
def test_parallel_calls_match_serial(name, build, fast_switching):
    fn = resolve(name)
    expected = fingerprint(fn(*build(serial_tick)))
    assert fingerprint(fn(*build(serial_tick))) == expected  # deterministic to begin with

    armed = collections.deque(maxlen=512)
    stop = threading.Event()
    start = threading.Barrier(THREADS + MUTATORS)
    got = [[] for _ in range(THREADS)]
    def tick(value, *targets):
        return Tick(value, targets, armed)

    def worker(slot):
        def run():
            start.wait()
            for _ in range(ROUNDS):
                got[slot].append(fingerprint(fn(*build(tick))))
        return run

    def mutator():
        start.wait()
        k = 0
        while not stop.is_set():
            for obj in list(armed):
                mutate(obj, k)
                k += 1
            if not armed:
                stop.wait(1e-5)

    mutators = [threading.Thread(target=mutator) for _ in range(MUTATORS)]
    for m in mutators:
        m.start()
    try:
        run_threads([worker(i) for i in range(THREADS)])
    finally:
        stop.set()
        for m in mutators:
            m.join()
    assert all(len(g) == ROUNDS for g in got)
    for g in got:
        for result in g:
            assert result == expected


def test_tick_reaches_the_converter():
    # the mutation protocol depends on the tick's conversion running inside the call
    armed = []
    target = [1.0]
    assert qt.interp1d([0.0, 1.0], [0.0, 2.0], (Tick(0.5, (target,), armed),)) == [1.0]
    assert armed == [target]


# ---- the lock really is released ---------------------------------------------------

def progress_while(call, seconds=0.1):
    """Steps a sleeping counter thread takes while `call` runs in a loop.

    With forced switching off, the looping thread keeps the lock except where a call
    releases it, so a call that holds the lock throughout lets the counter take no step.
    """
    count = [0]
    stop = threading.Event()

    def counter():
        while not stop.is_set():
            count[0] += 1
            time.sleep(1e-4)

    old = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    t = threading.Thread(target=counter)
    t.start()
    try:
        while count[0] == 0:
            time.sleep(1e-3)
        before = count[0]
        deadline = time.perf_counter() + seconds
        calls = 0
        while calls < 3 or time.perf_counter() < deadline:
            call()
            calls += 1
        return count[0] - before
    finally:
        stop.set()
        sys.setswitchinterval(old)
        t.join()


@pytest.mark.parametrize(("name", "build"), CASES)
def test_lock_is_released(name, build):
    fn = resolve(name)
    args = build(serial_tick)
    # a second, longer look only for a machine too busy to wake the counter at once
    assert progress_while(lambda: fn(*args)) > 0 or progress_while(lambda: fn(*args), 1.0) > 0


HELD = [
    pytest.param(lambda: qt.median([float(i % 97) for i in range(20000)]), id="median"),
    pytest.param(lambda: qt.Sampler.normal(0.0, 1.0).sample_n(20000, qt.Rng(1)), id="sample_n"),
    pytest.param(lambda: qt.zone_sample_counts([qt.ZoneSpec(1.0, 0.2, 0.05, 1.0)] * 2000, 0.1),
                 id="zone_sample_counts"),
]


@pytest.mark.parametrize("call", HELD)
def test_other_calls_hold_the_lock(call):
    # the control of the measurement above: these keep the lock throughout
    assert progress_while(call) == 0


# ---- a shared Rng: exclusive use or refusal, never interleaved draws -------------------

RNG_SAMPLERS = [
    pytest.param(lambda: qt.Sampler.uniform(0.0, 1.0), id="uniform"),
    pytest.param(lambda: qt.Sampler.normal(0.0, 1.0), id="normal"),
    pytest.param(lambda: qt.Sampler.triangular(0.0, 0.25, 1.0).clamped(0.1, 0.9), id="clamped-triangular"),
]


@pytest.mark.parametrize("make", RNG_SAMPLERS)
def test_shared_rng_is_exclusive(make, fast_switching):
    sampler = make()
    n = 20000
    refused = 0
    for seed in range(6):
        serial = [v.hex() for v in sampler.sample_n(2 * n, qt.Rng(seed))]
        first, second = serial[:n], serial[n:]
        rng = qt.Rng(seed)
        start = threading.Barrier(2)
        out = [None, None]

        def draw(slot):
            def run():
                start.wait()
                try:
                    out[slot] = [v.hex() for v in sampler.sample_n(n, rng)]
                except RuntimeError as e:
                    out[slot] = e
            return run

        run_threads([draw(0), draw(1)])
        a, b = out
        if isinstance(a, RuntimeError) or isinstance(b, RuntimeError):
            # a refusal draws nothing: the other call got the stream from its start
            refused += 1
            assert not (isinstance(a, RuntimeError) and isinstance(b, RuntimeError))
            ok = b if isinstance(a, RuntimeError) else a
            assert ok == first
        else:
            assert (a, b) in ((first, second), (second, first))
    assert refused <= 6


def test_shared_rng_continues_after_threads():
    # the stream advanced by both threads continues where the serial stream does
    s = qt.Sampler.uniform(0.0, 1.0)
    serial = [v.hex() for v in s.sample_n(300, qt.Rng(8))]
    rng = qt.Rng(8)
    done = []

    def draw():
        try:
            done.append(s.sample_n(100, rng))
        except RuntimeError:
            pass

    run_threads([draw, draw])
    k = len(done)
    assert k >= 1
    assert [v.hex() for v in s.sample_n(100, rng)] == serial[100 * k:100 * k + 100]


# ---- errors raised while the lock is released ----------------------------------------

ERROR_CASES = [
    pytest.param("sgs", lambda: ([], LATTICE, SPH, 8, 45.0, 1), id="sgs-no-data"),
    pytest.param("local_kriging_grid_flat", lambda: ([], LATTICE, SPH, 8, 45.0), id="kriging-no-points"),
    pytest.param("interp1d", lambda: ([0.0, 0.0], [1.0, 2.0], [0.5]), id="interp1d-not-increasing"),
    pytest.param("resample", lambda: ([[1.0]], qt.Lattice(0, 0, 0, 1, 1, 1), TARGET), id="resample-degenerate"),
    pytest.param("synth_log_series", lambda: ([], 0.1, 0, 1), id="log-series-empty"),
    pytest.param("synth_facies_series", lambda: (0, 0.1, 0.5, 1.0, 1), id="facies-n-0"),
    pytest.param("synth_isochore_flat", lambda: (LATTICE, math.nan, 1.0, SPH, 1), id="isochore-nan-mean"),
    pytest.param("synth_trend_map", lambda: (LATTICE, EXP, 1, (field_columns(12, 10), 1.5)), id="trend-rho"),
    pytest.param("Variogram.fit", lambda: ("spherical", qt.experimental_variogram([[0, 0, 1], [10, 0, 3]], 5.0, 2)),
                 id="fit-no-lag-class"),
]


@pytest.mark.parametrize(("name", "args"), ERROR_CASES)
def test_parallel_errors_match_serial(name, args, fast_switching):
    fn = resolve(name)
    with pytest.raises(ValueError) as err:
        fn(*args())
    message = str(err.value)
    got = []

    def worker():
        for _ in range(ROUNDS):
            try:
                fn(*args())
            except ValueError as e:
                got.append(str(e))

    run_threads([worker] * THREADS)
    assert got == [message] * (THREADS * ROUNDS)


def test_shared_rng_single_draws_partition_the_stream(fast_switching):
    # draw by draw from two threads: each thread sees an increasing part of the one
    # stream, and together they see every draw exactly once
    s = qt.Sampler.uniform(0.0, 1.0)
    n = 3000
    position = {v.hex(): i for i, v in enumerate(s.sample_n(2 * n, qt.Rng(21)))}
    assert len(position) == 2 * n
    rng = qt.Rng(21)
    seen = [[], []]

    def draw(slot):
        def run():
            for _ in range(n):
                try:
                    seen[slot].append(position[s.sample(rng).hex()])
                except RuntimeError:
                    pass
        return run

    run_threads([draw(0), draw(1)])
    for part in seen:
        assert part == sorted(part)
    assert sorted(seen[0] + seen[1]) == list(range(len(seen[0]) + len(seen[1])))


# ---- an argument rewritten while it is being converted ---------------------------------

class Rewriter:
    """A number whose conversion replaces the contents of the list that holds it."""

    def __init__(self, target, value, refill):
        self.target, self.value, self.refill = target, value, refill

    def __float__(self):
        self.target[:] = self.refill
        return self.value


def test_list_rewritten_by_its_own_item():
    # the conversion takes the items as iteration yields them: the first, then the refill
    data = [0.0]
    data[0] = Rewriter(data, 1.0, [9.0] * 1000)
    assert qt.mean(data).hex() == qt.mean([1.0] + [9.0] * 999).hex()


def test_row_emptied_by_its_own_item():
    # rows are read by index after one length check: a row emptied under the reader
    # ends its conversion with an error, never with a read past the end
    row = [0.0, 0.0, 1.0]
    row[0] = Rewriter(row, 0.0, [])
    with pytest.raises(IndexError) as err:
        qt.experimental_variogram([row, [1.0, 1.0, 2.0]], 1.0, 3)
    assert err.value.__notes__ == ["while processing 'coords'"]
