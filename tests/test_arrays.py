"""quarntools.arrays: the extension's long-vector functions with NumPy arrays out.

Every result must carry the extension's exact bits (compared as bytes, so NaN payloads
and -0.0 count) and every failure the extension's exception type, message and notes.
"""
import gc
import math

import numpy as np
import pytest

import quarntools as qt
import quarntools.arrays as qta
from quarntools import _arrays

RNG = np.random.default_rng(20240607)
X = np.cumsum(RNG.uniform(0.1, 2.0, 40))
Y = RNG.normal(0.0, 3.0, 40)
Q = np.concatenate([RNG.uniform(X[0] - 5, X[-1] + 5, 300), X[::7], [math.nan, -0.0, X[0], X[-1]]])
ZONES = [qt.ZoneSpec(12.0, 0.08, 0.03, 2.0), qt.ZoneSpec(30.0, 0.22, 0.05, 0.8), qt.ZoneSpec(8.0, 0.12, 0.04, 1.5)]
PETRO = qt.PetroZoneSpec(0.3, 0.2, 0.05, 0.05, 0.02, bed_scale_m=2.0, correlation_len_m=1.0)
FACIES = qt.synth_facies_series(700, 0.1, 0.35, 1.5, 11)
FLAGS = qt.synth_petro_curves(PETRO, 0.1, 900, 5)["net_flag"]
BLOCK = ["vsh = clip((gr - $gr_clean) / ($gr_shale - $gr_clean), 0, 1)", "phie_c = phie * (1 - vsh)",
         "net = if(phie_c > $cutoff, 1, 0)", "k = 7.5", "lg = log(phie) + sqrt(gr) - exp(-vsh)"]
GR = RNG.uniform(20.0, 140.0, 500)
PHIE = np.concatenate([RNG.uniform(0.0, 0.35, 499), [-0.1]])  # log of a negative: NaN
PARAMS = {"gr_clean": 30.0, "gr_shale": 120.0, "cutoff": 0.1}
SEGMENTS = RNG.lognormal(13.0, 0.4, (4, 250))


def same_bits(array, expected, dtype):
    assert isinstance(array, np.ndarray) and array.dtype == dtype and array.ndim == 1
    assert array.flags.writeable and array.flags.c_contiguous
    assert array.tobytes() == np.asarray(expected, dtype=dtype).tobytes()


def interp_case(method, extrapolate):
    return pytest.param(lambda: qta.interp1d(X, Y, Q, method, extrapolate),
                        lambda: qt.interp1d(X.tolist(), Y.tolist(), Q.tolist(), method, extrapolate),
                        np.float64, id=f"interp1d-{method}-{'extra' if extrapolate else 'nan'}")


VECTORS = [
    *[interp_case(m, e) for m in ("linear", "nearest", "previous", "next", "cubic") for e in (False, True)],
    pytest.param(lambda: qta.interp1d(X, Y, np.sort(Q)), lambda: qt.interp1d(X.tolist(), Y.tolist(),
                 np.sort(Q).tolist()), np.float64, id="interp1d-sorted-queries"),
    pytest.param(lambda: qta.interp1d(X, Y, np.sort(Q)[::-1].copy(), "cubic", True),
                 lambda: qt.interp1d(X.tolist(), Y.tolist(), np.sort(Q)[::-1].tolist(), "cubic", True),
                 np.float64, id="interp1d-descending-queries"),
    pytest.param(lambda: qta.aggregate(SEGMENTS), lambda: qt.aggregate(SEGMENTS.tolist()), np.float64,
                 id="aggregate-independent"),
    pytest.param(lambda: qta.aggregate(list(SEGMENTS), "Comonotonic "),
                 lambda: qt.aggregate(SEGMENTS.tolist(), "Comonotonic "), np.float64, id="aggregate-comonotonic"),
    pytest.param(lambda: qta.aggregate([]), lambda: qt.aggregate([]), np.float64, id="aggregate-empty"),
    pytest.param(lambda: qta.sample(qt.Sampler.normal(2.0, 0.5), 5000, 42),
                 lambda: qt.Sampler.normal(2.0, 0.5).sample_n_seeded(5000, 42), np.float64, id="sample-normal-seed"),
    pytest.param(lambda: qta.sample(qt.Sampler.uniform(-1.0, 3.0), 999, qt.Rng(3)),
                 lambda: qt.Sampler.uniform(-1.0, 3.0).sample_n(999, qt.Rng(3)), np.float64, id="sample-uniform-rng"),
    pytest.param(lambda: qta.sample(qt.Sampler.truncated_normal(0.22, 0.05, 0.0, 0.35).clamped(0.1, 0.3), 777, 9),
                 lambda: qt.Sampler.truncated_normal(0.22, 0.05, 0.0, 0.35).clamped(0.1, 0.3).sample_n_seeded(777, 9),
                 np.float64, id="sample-clamped"),
    pytest.param(lambda: qta.sample(qt.Sampler.lognormal(0.0, 1.0), 0, 1), lambda: [], np.float64, id="sample-none"),
    pytest.param(lambda: qta.synth_log_series(ZONES, 0.1, 5, 42), lambda: qt.synth_log_series(ZONES, 0.1, 5, 42),
                 np.float64, id="synth_log_series"),
    pytest.param(lambda: qta.synth_facies_series(2000, 0.1, 0.4, 2.0, 8),
                 lambda: qt.synth_facies_series(2000, 0.1, 0.4, 2.0, 8), np.int64, id="synth_facies_series"),
    pytest.param(lambda: qta.synth_por_with_facies(np.array(FACIES), 0.1, 0.25, 0.04, 0.08, 0.02, 1.0, 4),
                 lambda: qt.synth_por_with_facies(FACIES, 0.1, 0.25, 0.04, 0.08, 0.02, 1.0, 4), np.float64,
                 id="synth_por_with_facies-int-array"),
    pytest.param(lambda: qta.synth_por_with_facies(np.array(FACIES, np.uint8) * 7, 0.1, 0.25, 0.04, 0.08, 0.02,
                                                   1.0, 4),
                 lambda: qt.synth_por_with_facies([7 * f for f in FACIES], 0.1, 0.25, 0.04, 0.08, 0.02, 1.0, 4),
                 np.float64, id="synth_por_with_facies-nonzero-is-sand"),
    pytest.param(lambda: qta.synth_por_with_facies(FACIES, 0.1, 0.25, 0.04, 0.08, 0.02, 1.0, 4),
                 lambda: qt.synth_por_with_facies(FACIES, 0.1, 0.25, 0.04, 0.08, 0.02, 1.0, 4), np.float64,
                 id="synth_por_with_facies-list"),
    pytest.param(lambda: qta.ntg_curve(np.array(FLAGS), 0.1, 5.0), lambda: qt.ntg_curve(FLAGS, 0.1, 5.0),
                 np.float64, id="ntg_curve-int-array"),
    pytest.param(lambda: qta.ntg_curve(np.array(FLAGS, float) * -0.5, 0.1, 0.05),
                 lambda: qt.ntg_curve([-0.5 * f for f in FLAGS], 0.1, 0.05), np.float64, id="ntg_curve-narrow"),
]


@pytest.mark.parametrize(("array_call", "list_call", "dtype"), VECTORS)
def test_vectors_carry_the_extension_bits(array_call, list_call, dtype):
    same_bits(array_call(), list_call(), dtype)


@pytest.mark.parametrize("params", [PARAMS, None], ids=["params", "no-params"])
def test_formula_outputs_carry_the_extension_bits(params):
    block = BLOCK if params else ["lg = log(phie) + sqrt(gr)", "k = 7.5"]
    got = qta.evaluate_formula(block, {"gr": GR, "phie": PHIE}, params)
    want = qt.evaluate_formula(block, {"gr": GR.tolist(), "phie": PHIE.tolist()}, params)
    assert list(got) == list(want)
    for name in want:
        same_bits(got[name], want[name], np.float64)
    assert math.isnan(got["lg"][-1])
    assert got["k"].tolist() == [7.5] * 500  # a constant broadcasts to the common length


def test_petro_curves_carry_the_extension_bits():
    got = qta.synth_petro_curves(PETRO, 0.1, 3000, 17)
    want = qt.synth_petro_curves(PETRO, 0.1, 3000, 17)
    assert list(got) == ["phie", "net_flag"]
    same_bits(got["phie"], want["phie"], np.float64)
    same_bits(got["net_flag"], want["net_flag"], np.int64)


@pytest.mark.parametrize("sampler", [qt.Sampler.normal(0.0, 1.0), qt.Sampler.triangular(1.0, 2.0, 5.0).clamped(1.5, 4.0)],
                         ids=["normal", "clamped-triangular"])
def test_sample_advances_an_rng_as_sample_n_does(sampler):
    a, b = qt.Rng(77), qt.Rng(77)
    same_bits(qta.sample(sampler, 1001, a), sampler.sample_n(1001, b), np.float64)
    assert sampler.sample_n(5, a) == sampler.sample_n(5, b)  # both streams stand at the same place


def test_sample_refuses_a_non_sampler():
    rng = qt.Rng(1)
    with pytest.raises(TypeError) as err:
        qta.sample("normal", 3, rng)
    assert str(err.value) == "'str' object is not an instance of 'Sampler'"
    assert err.value.__notes__ == ["while processing 'sampler'"]


ERRORS = [
    pytest.param(lambda m: m.interp1d([0.0, 1.0], [1.0], [0.5]), id="interp1d-length-mismatch"),
    pytest.param(lambda m: m.interp1d([0.0], [1.0], [0.5]), id="interp1d-one-knot"),
    pytest.param(lambda m: m.interp1d([1.0, 0.0], [1.0, 2.0], [0.5]), id="interp1d-decreasing"),
    pytest.param(lambda m: m.interp1d([0.0, 1.0], [1.0, 2.0], [0.5], " Quadratic "), id="interp1d-method"),
    pytest.param(lambda m: m.interp1d([0.0, 1.0], [1.0, 2.0], ["a"]), id="interp1d-query-type"),
    pytest.param(lambda m: m.interp1d([0.0, 1.0], [1.0, 2.0], [0.5], extrapolate=1), id="interp1d-flag-type"),
    pytest.param(lambda m: m.interp1d([0.0, 1.0], [1.0, 2.0]), id="interp1d-missing-query"),
    pytest.param(lambda m: m.aggregate([[1.0]], "copula"), id="aggregate-correlation"),
    pytest.param(lambda m: m.aggregate([[1.0, "x"]]), id="aggregate-item"),
    pytest.param(lambda m: m.evaluate_formula(["y = x +"], {"x": [1.0]}), id="formula-parse"),
    pytest.param(lambda m: m.evaluate_formula(["y = x * $k"], {"x": [1.0]}), id="formula-missing-param"),
    pytest.param(lambda m: m.evaluate_formula(["y = x + z"], {"x": [1.0, 2.0], "z": [1.0]}), id="formula-lengths"),
    pytest.param(lambda m: m.evaluate_formula(["y = x"], [("x", [1.0])]), id="formula-properties-type"),
    pytest.param(lambda m: m.synth_log_series([], 0.1, 5, 1), id="logs-no-zones"),
    pytest.param(lambda m: m.synth_log_series([ZONES[0], 3], 0.1, 5, 1), id="logs-zone-type"),
    pytest.param(lambda m: m.synth_log_series(ZONES, -0.1, 5, 1), id="logs-depth-step"),
    pytest.param(lambda m: m.synth_log_series(ZONES, 0.1, -5, 1), id="logs-negative-count"),
    pytest.param(lambda m: m.synth_facies_series(0, 0.1, 0.4, 2.0, 8), id="facies-n-zero"),
    pytest.param(lambda m: m.synth_facies_series(10, 0.1, 1.0, 2.0, 8), id="facies-ntg"),
    pytest.param(lambda m: m.synth_por_with_facies([], 0.1, 0.25, 0.04, 0.08, 0.02, 1.0, 4), id="por-empty"),
    pytest.param(lambda m: m.synth_por_with_facies([1, 0.5], 0.1, 0.25, 0.04, 0.08, 0.02, 1.0, 4),
                 id="por-float-facies"),
    pytest.param(lambda m: m.synth_por_with_facies(np.array([1.0, 0.0]), 0.1, 0.25, 0.04, 0.08, 0.02, 1.0, 4),
                 id="por-float-array-facies"),
    pytest.param(lambda m: m.synth_por_with_facies(np.array([True, False]), 0.1, 0.25, 0.04, 0.08, 0.02, 1.0, 4),
                 id="por-bool-array-facies"),
    pytest.param(lambda m: m.synth_por_with_facies([1, 0], 0.1, 0.9, 0.5, 0.08, 0.02, 1.0, 4), id="por-sand-std"),
    pytest.param(lambda m: m.synth_petro_curves(PETRO, 0.1, 0, 1), id="petro-no-samples"),
    pytest.param(lambda m: m.synth_petro_curves(ZONES[0], 0.1, 10, 1), id="petro-zone-type"),
    pytest.param(lambda m: m.synth_petro_curves(qt.PetroZoneSpec(0.95, 0.05, 0.01, 0.04, 0.01, 1.0, 1.0),
                                                0.1, 10, 1), id="petro-infeasible"),
    pytest.param(lambda m: m.ntg_curve([], 0.1, 5.0), id="ntg-empty"),
    pytest.param(lambda m: m.ntg_curve([1.0, 0.0], 0.1, math.inf), id="ntg-window"),
]

@pytest.mark.parametrize("call", ERRORS)
def test_errors_are_the_extensions(call):
    with pytest.raises(Exception) as want:
        call(qt)
    with pytest.raises(Exception) as got:
        call(qta)
    assert type(got.value) is type(want.value)
    assert str(got.value) == str(want.value)
    assert getattr(got.value, "__notes__", None) == getattr(want.value, "__notes__", None)


@pytest.mark.parametrize(("n", "rng"), [(-1, 5), (2**64, 5), (3, -1), (3, "seed")],
                         ids=["n-negative", "n-too-large", "seed-negative", "seed-type"])
def test_sample_errors_are_the_extensions(n, rng):
    s = qt.Sampler.normal(0.0, 1.0)
    with pytest.raises(Exception) as want:
        s.sample_n_seeded(n, rng)
    with pytest.raises(Exception) as got:
        qta.sample(s, n, rng)
    assert (type(got.value), str(got.value)) == (type(want.value), str(want.value))
    assert got.value.__notes__ == want.value.__notes__


@pytest.mark.parametrize("n_queries", [1, 7, 5000], ids=["one", "few", "many"])
def test_interp_query_order_does_not_change_values(n_queries):
    # The search starts from the previous answer; sorted, reversed and shuffled queries
    # and one call per query must agree bit for bit.
    x = np.cumsum(RNG.uniform(0.01, 1.0, 3000))
    y = RNG.normal(size=3000)
    q = RNG.uniform(x[0] - 1, x[-1] + 1, n_queries)
    q[: n_queries // 2] = x[RNG.integers(0, 3000, n_queries // 2)]  # exact knots too
    order = np.argsort(q)
    for method in ("linear", "nearest", "previous", "next", "cubic"):
        base = qta.interp1d(x, y, q, method, True)
        for perm in (order, order[::-1], RNG.permutation(n_queries)):
            assert qta.interp1d(x, y, q[perm], method, True).tobytes() == base[perm].tobytes()
        singles = [qta.interp1d(x, y, q[i:i + 1], method, True)[0] for i in range(min(n_queries, 50))]
        assert np.array(singles).tobytes() == base[:len(singles)].tobytes()


def test_results_own_their_memory():
    a = qta.interp1d(X, Y, Q)
    b = qta.interp1d(X, Y, Q)
    a[:] = 0.0  # writable and independent
    gc.collect()
    same_bits(b, qt.interp1d(X.tolist(), Y.tolist(), Q.tolist()), np.float64)
    vec = _arrays.synth_facies_series(5, 0.1, 0.4, 2.0, 8)
    view = memoryview(vec)
    assert (view.format, view.itemsize, view.shape, view.readonly) == ("q", 8, (5,), False)
    with pytest.raises(TypeError):
        _arrays.Vector()


@pytest.mark.parametrize("name", ["evaluate_formula", "interp1d", "aggregate", "synth_log_series",
                                  "synth_facies_series", "synth_por_with_facies", "synth_petro_curves", "ntg_curve"])
def test_signatures_are_the_extensions(name):
    import inspect

    assert inspect.signature(getattr(_arrays, name)) == inspect.signature(getattr(qt, name))
    wrapper = inspect.signature(getattr(qta, name))
    assert [(p.name, p.default) for p in wrapper.parameters.values()] == [
        (p.name, p.default) for p in inspect.signature(getattr(qt, name)).parameters.values()]
