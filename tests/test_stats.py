"""Descriptive and weighted statistics, the reservoir summary and aggregation."""

import inspect
import math
import random

import pytest

import quarntools as qt

INF = math.inf
NAN = math.nan


def value_error(fn, *args):
    with pytest.raises(ValueError) as err:
        fn(*args)
    return str(err.value)


# ---- descriptive ------------------------------------------------------------

# Exact results; the recurrences fix the bits, so == is the right comparison.
DESCRIPTIVE = [
    pytest.param(qt.percentile, ([1, 2, 3, 4, 5], 25), 2.0, id="percentile-q1-odd-n"),
    pytest.param(qt.percentile, ([1, 2, 3, 4], 50), 2.5, id="percentile-median-interpolates"),
    pytest.param(qt.percentile, ([5, 1, 4, 2, 3], 0), 1.0, id="percentile-0-is-min"),
    pytest.param(qt.percentile, ([5, 1, 4, 2, 3], 100), 5.0, id="percentile-100-is-max"),
    pytest.param(qt.percentile, ([3, 1, 2], -0.0), 1.0, id="percentile-minus-zero-is-min"),
    pytest.param(qt.percentile, ([10, 20], 33), 13.3, id="percentile-two-values"),
    pytest.param(qt.percentile, ([0.0, -0.0], 100), -0.0, id="percentile-max-keeps-last-equal-zero"),
    pytest.param(qt.percentile, ([-0.0, 0.0], 100), 0.0, id="percentile-max-keeps-last-equal-zero-2"),
    pytest.param(qt.percentile, ([1, INF], 50), INF, id="percentile-inf-interpolates"),
    pytest.param(qt.median, ([3, 1, 2],), 2.0, id="median-odd"),
    pytest.param(qt.median, ([4, 1, 3, 2],), 2.5, id="median-even"),
    pytest.param(qt.mean, ([1, 2, 3, 4],), 2.5, id="mean-plain"),
    pytest.param(qt.mean, ([1e308, 1e308],), 1e308, id="mean-no-overflow"),
    pytest.param(qt.mean, ([1, INF],), INF, id="mean-inf-last"),
    pytest.param(qt.mean, ([0.1, 0.2, 0.3],), 0.2, id="mean-incremental-bits"),  # a plain sum gives 0.20000000000000004
    pytest.param(qt.variance, ([5.0],), 0.0, id="variance-single"),
    pytest.param(qt.variance, ([1, 2, 3, 4],), 1.6666666666666667, id="variance-four"),
    pytest.param(qt.variance, ([INF, 1],), INF, id="variance-inf-first"),
    pytest.param(qt.variance, ([1e200, -1e200],), INF, id="variance-overflows-honestly"),
    pytest.param(qt.std, ([5.0],), 0.0, id="std-single"),
    pytest.param(qt.std, ([2, 4, 4, 4, 5, 5, 7, 9],), 2.138089935299395, id="std-eight"),
]


@pytest.mark.parametrize(("fn", "args", "expected"), DESCRIPTIVE)
def test_descriptive(fn, args, expected):
    got = fn(*args)
    assert got.hex() == expected.hex()


NAN_RESULTS = [
    pytest.param(qt.mean, [INF, 1], id="mean-inf-first"),
    pytest.param(qt.variance, [1, INF], id="variance-inf-last"),
    pytest.param(qt.mean, [1, NAN, 3], id="mean-nan"),
    pytest.param(qt.std, [1, NAN], id="std-nan"),
]


@pytest.mark.parametrize(("fn", "data"), NAN_RESULTS)
def test_descriptive_nan(fn, data):
    assert math.isnan(fn(data))


@pytest.mark.parametrize("p", [0, 0.5, 10, 50, 99.9, 100])
def test_percentile_single_value(p):
    assert qt.percentile([7.0], p) == 7.0


DESCRIPTIVE_ERRORS = [
    pytest.param(qt.mean, ([],), "empty input: stats: no data", id="mean-empty"),
    pytest.param(qt.variance, ([],), "empty input: stats: no data", id="variance-empty"),
    pytest.param(qt.std, ([],), "empty input: stats: no data", id="std-empty"),
    pytest.param(qt.median, ([],), "empty input: stats: no data", id="median-empty"),
    pytest.param(qt.percentile, ([], 200), "empty input: stats: no data", id="empty-checked-before-p"),
    pytest.param(qt.percentile, ([1.0], 101), "invalid argument: percentile: p must be in [0, 100]", id="p-above"),
    pytest.param(qt.percentile, ([1.0], -1e-300), "invalid argument: percentile: p must be in [0, 100]",
                 id="p-below"),
    pytest.param(qt.percentile, ([1.0], NAN), "invalid argument: percentile: p must be in [0, 100]", id="p-nan"),
]


@pytest.mark.parametrize(("fn", "args", "message"), DESCRIPTIVE_ERRORS)
def test_descriptive_errors(fn, args, message):
    assert value_error(fn, *args) == message


def test_percentile_conversion_order():
    # data converts before p: a str data is reported even with a bad p.
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`") as err:
        qt.percentile("abc", "p")
    assert err.value.__notes__ == ["while processing 'data'"]


def test_percentile_matches_numpy():
    np = pytest.importorskip("numpy")
    rng = random.Random(7)
    for n in (1, 2, 3, 10, 101, 1000):
        data = [rng.uniform(-1e3, 1e3) for _ in range(n)]
        data += data[: n // 4]  # ties
        for p in (0, 1, 10, 25, 33.3, 50, 90, 99.99, 100):
            want = float(np.percentile(data, p, method="linear"))
            assert qt.percentile(data, p) == pytest.approx(want, rel=1e-12, abs=1e-300)


def test_percentile_with_nan_is_deterministic():
    data = [3.0, NAN, 1.0, 2.0, NAN, 0.5]
    first = [qt.percentile(data, p) for p in range(0, 101, 5)]
    again = [qt.percentile(list(data), p) for p in range(0, 101, 5)]
    assert [v.hex() for v in first] == [v.hex() for v in again]


INPUT_UNTOUCHED = [
    pytest.param(lambda d: qt.percentile(d, 30), id="percentile"),
    pytest.param(qt.median, id="median"),
    pytest.param(lambda d: qt.weighted_percentile(d, [1.0] * len(d), 30), id="weighted_percentile"),
    pytest.param(lambda d: qt.aggregate([d, d], "comonotonic"), id="aggregate"),
    pytest.param(qt.reservoir_summary, id="reservoir_summary"),
]


@pytest.mark.parametrize("call", INPUT_UNTOUCHED)
def test_input_not_modified(call):
    data = [5.0, 1.0, NAN, 3.0, -0.0, 0.0, 2.0]
    before = [v.hex() for v in data]
    call(data)
    assert [v.hex() for v in data] == before


# ---- weighted ---------------------------------------------------------------

WEIGHTED = [
    pytest.param(qt.weighted_mean, ([1, 2, 3], [1, 1, 1]), 2.0, id="mean-equal"),
    pytest.param(qt.weighted_mean, ([1, 2], [0, 1]), 2.0, id="mean-zero-weight"),
    pytest.param(qt.weighted_mean, ([1, 2], [1, -0.0]), 1.0, id="mean-minus-zero-weight"),
    pytest.param(qt.weighted_mean, ([-0.0, -0.0], [1, 1]), -0.0, id="mean-sum-starts-minus-zero"),
    pytest.param(qt.weighted_variance, ([1, 2, 3, 4], [1, 1, 1, 1]), 1.6666666666666667, id="variance-equal"),
    pytest.param(qt.weighted_variance, ([5], [2]), 0.0, id="variance-single"),
    pytest.param(qt.weighted_variance, ([1, 9], [0, 3]), 0.0, id="variance-one-carries-all"),
    pytest.param(qt.weighted_variance, ([1, 3], [1, 3]), 2.0, id="variance-reliability"),
    pytest.param(qt.weighted_std, ([5], [2]), 0.0, id="std-single"),
    pytest.param(qt.weighted_std, ([1, 3], [1, 3]), 1.4142135623730951, id="std-reliability"),
    pytest.param(qt.weighted_percentile, ([1, 2, 3, 4, 5], [1] * 5, 25), 1.75, id="percentile-q1"),
    pytest.param(qt.weighted_percentile, ([1, 2, 3, 4, 5], [1] * 5, 0), 1.0, id="percentile-0"),
    pytest.param(qt.weighted_percentile, ([1, 2, 3, 4, 5], [1] * 5, 100), 5.0, id="percentile-100"),
    pytest.param(qt.weighted_percentile, ([10, 20], [3, 1], 50), 12.5, id="percentile-positions"),
    pytest.param(qt.weighted_percentile, ([20, 10], [1, 3], 50), 12.5, id="percentile-sorts-pairs"),
    pytest.param(qt.weighted_percentile, ([1, 2, 3], [1, 0, 1], 50), 2.0, id="percentile-zero-weight-midpoint"),
    # Equal values keep input order, so their weights lay out the positions in that order.
    pytest.param(qt.weighted_percentile, ([1, 2, 1], [0, 1, 2], 50), 1.3333333333333335,
                 id="percentile-equal-values-input-order"),
    pytest.param(qt.weighted_percentile, ([1, 2, 1], [2, 1, 0], 50), 1.0, id="percentile-equal-values-swapped"),
    pytest.param(qt.weighted_percentile, ([7], [0.5], 63), 7.0, id="percentile-single"),
]


@pytest.mark.parametrize(("fn", "args", "expected"), WEIGHTED)
def test_weighted(fn, args, expected):
    assert fn(*args).hex() == expected.hex()


def test_weighted_percentile_nan_value_is_carried():
    assert math.isnan(qt.weighted_percentile([NAN, 1.0], [1, 1], 0))
    assert math.isnan(qt.weighted_percentile([1.0, 2.0, NAN], [1, 1, 1], 100))


def test_weighted_percentile_equal_weights_against_midpoints():
    rng = random.Random(3)
    data = [rng.uniform(0, 1) for _ in range(40)]
    s = sorted(data)
    for p in (5, 20, 50, 80, 95):
        q = p / 100
        pos = [(k + 0.5) / len(s) for k in range(len(s))]
        k = max(i for i in range(len(s) - 1) if pos[i] < q)
        want = s[k] + (s[k + 1] - s[k]) * (q - pos[k]) / (pos[k + 1] - pos[k])
        assert qt.weighted_percentile(data, [2.0] * len(data), p) == pytest.approx(want, rel=1e-12)


W_PREFIX = "invalid argument: weighted stats: "
WEIGHTED_ERRORS = [
    pytest.param(qt.weighted_mean, ([], []), "empty input: weighted stats: no data", id="empty"),
    pytest.param(qt.weighted_mean, ([], [1]), "empty input: weighted stats: no data", id="empty-before-length"),
    pytest.param(qt.weighted_mean, ([1], []), W_PREFIX + "values and weights differ in length", id="length"),
    pytest.param(qt.weighted_variance, ([1, 2], [1, -1e-300]), W_PREFIX + "weights must be finite and non-negative",
                 id="negative"),
    pytest.param(qt.weighted_std, ([1, 2], [NAN, 1]), W_PREFIX + "weights must be finite and non-negative",
                 id="nan-weight"),
    pytest.param(qt.weighted_mean, ([1, 2], [INF, 1]), W_PREFIX + "weights must be finite and non-negative",
                 id="inf-weight"),
    pytest.param(qt.weighted_mean, ([1, 2], [0, -0.0]), W_PREFIX + "weights sum to zero", id="zero-sum"),
    pytest.param(qt.weighted_percentile, ([1, 2], [0, 0], 500), W_PREFIX + "weights sum to zero",
                 id="weights-before-p"),
    pytest.param(qt.weighted_percentile, ([1, 2], [1, 1], 100.5),
                 "invalid argument: weighted_percentile: p must be in [0, 100]", id="p-above"),
    pytest.param(qt.weighted_percentile, ([1, 2], [1, 1], NAN),
                 "invalid argument: weighted_percentile: p must be in [0, 100]", id="p-nan"),
    # Weights that overflow their sum would leave the positions NaN with no bracket.
    pytest.param(qt.weighted_percentile, ([1, 2, 3], [1e308, 1e308, 1], 50),
                 "invalid argument: weighted_percentile: weights must sum to a finite value", id="sum-overflow"),
]


@pytest.mark.parametrize(("fn", "args", "message"), WEIGHTED_ERRORS)
def test_weighted_errors(fn, args, message):
    assert value_error(fn, *args) == message


# ---- reservoir summary ------------------------------------------------------

def test_reservoir_summary_fields_dict_and_repr():
    s = qt.reservoir_summary([1, 2, 3, 4, 5])
    assert (s.p90, s.p50, s.p10, s.mean) == (1.4, 3.0, 4.6, 3.0)
    d = s.to_dict()
    assert list(d) == ["p90", "p50", "p10", "mean"]
    assert d == {"p90": 1.4, "p50": 3.0, "p10": 4.6, "mean": 3.0}
    assert repr(s) == "ReservoirSummary(p90=1.4, p50=3, p10=4.6, mean=3)"


@pytest.mark.parametrize(("data", "text"), [
    pytest.param([7.0], "ReservoirSummary(p90=7, p50=7, p10=7, mean=7)", id="single"),
    pytest.param([1e21, 1e21], "ReservoirSummary(p90=1000000000000000000000, p50=1000000000000000000000, "
                 "p10=1000000000000000000000, mean=1000000000000000000000)", id="no-exponent"),
    pytest.param([-0.0], "ReservoirSummary(p90=-0, p50=-0, p10=-0, mean=0)", id="minus-zero"),
    pytest.param([1, NAN], "ReservoirSummary(p90=NaN, p50=NaN, p10=NaN, mean=NaN)", id="nan"),
])
def test_reservoir_summary_repr(data, text):
    assert repr(qt.reservoir_summary(data)) == text


def test_reservoir_summary_is_read_only_and_has_no_constructor():
    s = qt.reservoir_summary([1, 2])
    with pytest.raises(AttributeError):
        s.p90 = 0.0
    with pytest.raises(AttributeError):
        s.extra = 1
    with pytest.raises(TypeError):
        qt.ReservoirSummary()


def test_reservoir_summary_matches_percentiles():
    rng = random.Random(11)
    data = [rng.lognormvariate(0, 1) for _ in range(257)]
    s = qt.reservoir_summary(data)
    assert (s.p90, s.p50, s.p10, s.mean) == (
        qt.percentile(data, 10), qt.percentile(data, 50), qt.percentile(data, 90), qt.mean(data))
    assert s.p90 <= s.p50 <= s.p10


def test_reservoir_summary_empty():
    assert value_error(qt.reservoir_summary, []) == "empty input: stats: no data"


# ---- aggregation ------------------------------------------------------------

AGGREGATE = [
    pytest.param([[1, 2, 3], [10, 20]], (), [11.0, 22.0], id="independent-default-truncates"),
    pytest.param([[1, 2, 3], [10, 20]], ("comonotonic",), [11.0, 22.0], id="comonotonic-sorted-input"),
    pytest.param([[3, 1], [10, 20]], ("comonotonic",), [11.0, 23.0], id="comonotonic-sorts"),
    pytest.param([[3, 1], [10, 20]], ("independent",), [13.0, 21.0], id="independent-index-wise"),
    pytest.param([[5, 1, 0], [1, 1]], ("comonotonic",), [2.0, 6.0], id="comonotonic-truncates-before-sort"),
    pytest.param([], (), [], id="no-segments"),
    pytest.param([[1], []], (), [], id="one-empty-segment"),
    pytest.param([[-0.0, 1]], (), [0.0, 1.0], id="starts-from-plus-zero"),
    pytest.param([[INF, 1], [-INF, 1]], (), [NAN, 2.0], id="no-validation"),
    pytest.param([[1, 2]], (" comono ",), [1.0, 2.0], id="comono-blanks"),
    pytest.param([[2, 1]], ("INDEP",), [2.0, 1.0], id="indep-upper"),
    pytest.param([[2, 1]], ("\u2003Comonotonic\u00a0",), [1.0, 2.0], id="unicode-space"),
]


@pytest.mark.parametrize(("segments", "args", "expected"), AGGREGATE)
def test_aggregate(segments, args, expected):
    got = qt.aggregate(segments, *args)
    assert [v.hex() for v in got] == [v.hex() for v in expected]


@pytest.mark.parametrize(("segments", "name", "shown"), [
    pytest.param([], "x", "x", id="checked-before-summing"),
    pytest.param([[1]], "como", "como", id="short-prefix"),
    pytest.param([[1]], "independents", "independents", id="longer"),
    pytest.param([[1]], "  Ind  ", "ind", id="shown-normalised"),
    pytest.param([[1]], "in\x00dep", "in\x00dep", id="nul-kept-in-message"),
])
def test_aggregate_correlation_errors(segments, name, shown):
    assert value_error(qt.aggregate, segments, name) == (
        f"unknown correlation '{shown}' (expected 'independent' or 'comonotonic')")


def test_aggregate_conversion_errors():
    with pytest.raises(TypeError) as err:
        qt.aggregate([[1], "ab"])
    assert str(err.value) == "Can't extract `str` to `Vec`"
    assert err.value.__notes__ == ["while processing 'segments'"]


# ---- surface ------------------------------------------------------------------

DOCS = [
    pytest.param(qt.mean, "mean(data)", "Arithmetic mean of `data`. Errors on empty input.", id="mean"),
    pytest.param(qt.variance, "variance(data)",
                 "Unbiased sample variance (`n \u2212 1` denominator). A single value yields `0.0`.", id="variance"),
    pytest.param(qt.std, "std(data)", "Unbiased sample standard deviation (`\u221avariance`).", id="std"),
    pytest.param(qt.median, "median(data)", "The median (50th percentile) of `data`.", id="median"),
    pytest.param(qt.percentile, "percentile(data, p)",
                 "The `p`-th percentile (`p` in `[0, 100]`), type-7 (Excel `PERCENTILE`\n"
                 "parity): `percentile([1, 2, 3, 4, 5], 25) == 2.0`.", id="percentile"),
    pytest.param(qt.weighted_mean, "weighted_mean(values, weights)",
                 "Weighted arithmetic mean of `values` under `weights` (equal length,\n"
                 "non-negative weights summing > 0).", id="weighted_mean"),
    pytest.param(qt.weighted_variance, "weighted_variance(values, weights)",
                 "Weighted (reliability-weighted, unbiased) sample variance.", id="weighted_variance"),
    pytest.param(qt.weighted_std, "weighted_std(values, weights)",
                 "Weighted sample standard deviation (`\u221aweighted_variance`).", id="weighted_std"),
    pytest.param(qt.reservoir_summary, "reservoir_summary(data)",
                 "Summarise `data` (one realization per element) into a [`ReservoirSummary`]\n"
                 "under the oil-industry P90 = low convention. Errors on empty input.", id="reservoir_summary"),
]


@pytest.mark.parametrize(("fn", "signature", "doc"), DOCS)
def test_docstrings(fn, signature, doc):
    assert fn.__name__ + str(inspect.signature(fn)) == signature
    assert fn.__doc__ == doc


def test_summary_class_doc():
    assert qt.ReservoirSummary.__doc__.startswith(
        "The P90 (low) / P50 (mid) / P10 (high) / mean digest of a realization set.\n\n")
    assert qt.ReservoirSummary.__doc__.endswith("Read-only getters plus a `to_dict()`.")
