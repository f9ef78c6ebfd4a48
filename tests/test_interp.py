"""interp1d: five methods, knot validation, extrapolation, lock release."""

import math
import random
import threading

import pytest

import quarntools as qt

NAN = math.nan
INF = math.inf
X2, Y2 = [0, 1], [0, 10]


def hexes(values):
    return [v.hex() for v in values]


# (x, y, query, method, extrapolate, expected); NaN compares through hex.
VALUES = [
    pytest.param(X2, Y2, [0.5], "linear", False, [5.0], id="linear-mid"),
    pytest.param(X2, Y2, [0.5], "nearest", False, [0.0], id="nearest-tie-goes-low"),
    pytest.param(X2, Y2, [0.5], "next", False, [10.0], id="next-mid"),
    pytest.param(X2, Y2, [0.5], "previous", False, [0.0], id="previous-mid"),
    pytest.param(X2, Y2, [0.5000001], "nearest", False, [10.0], id="nearest-past-tie"),
    pytest.param(X2, Y2, [2.0], "linear", False, [NAN], id="outside-is-nan"),
    pytest.param(X2, Y2, [-1e-300], "linear", False, [NAN], id="just-below-is-nan"),
    pytest.param(X2, Y2, [2.0], "linear", True, [20.0], id="linear-extends"),
    pytest.param(X2, Y2, [-1.0], "linear", True, [-10.0], id="linear-extends-left"),
    pytest.param(X2, Y2, [2.0], "nearest", True, [10.0], id="nearest-holds-right"),
    pytest.param(X2, Y2, [2.0], "previous", True, [10.0], id="previous-holds-right"),
    pytest.param(X2, Y2, [2.0], "next", True, [10.0], id="next-holds-right"),
    pytest.param(X2, Y2, [-1.0], "previous", True, [0.0], id="previous-holds-left"),
    pytest.param(X2, Y2, [-1.0], "next", True, [0.0], id="next-holds-left"),
    pytest.param(X2, Y2, [-1.0], "nearest", True, [0.0], id="nearest-holds-left"),
    pytest.param(X2, Y2, [NAN], "linear", True, [NAN], id="nan-query-even-extrapolating"),
    pytest.param(X2, Y2, [NAN], "previous", True, [NAN], id="nan-query-previous"),
    pytest.param(X2, Y2, [INF], "linear", True, [INF], id="inf-query-extends"),
    pytest.param(X2, Y2, [INF], "previous", False, [NAN], id="inf-query-outside"),
    pytest.param(X2, Y2, [0.0, 1.0], "linear", False, [0.0, 10.0], id="end-knots-are-inside"),
    # -0.0 sorts below a knot at +0.0: not the knot itself, but y[0] all the same.
    pytest.param(X2, [3, 10], [-0.0], "previous", False, [3.0], id="minus-zero-below-knot"),
    pytest.param(X2, [3, 10], [-0.0], "next", False, [3.0], id="minus-zero-next"),
    pytest.param([-1, 0], [3, 10], [-0.0], "next", False, [10.0], id="minus-zero-next-plus-zero-knot"),
    pytest.param([0.1, 0.2, 0.3], [0.0, 1.1, 0.2], [0.3], "linear", False, [0.19999999999999996],
                 id="linear-last-knot-uses-last-segment"),
    pytest.param([0, 1, 2], [0, 1, 0], [0.5, 1.5], "cubic", False, [0.6875, 0.6875], id="cubic-symmetric"),
    pytest.param([0, 1, 2, 3], [0, 1, 4, 9], [3.5], "cubic", True, [11.65], id="cubic-extends-end-piece"),
    pytest.param([0, 1], [1, 3], [0.25], "cubic", False, [1.5], id="cubic-two-knots-is-linear"),
    pytest.param([0, 1, 3], [5, 7, 2], [0, 1, 3], "spline", False, [5.0, 7.0, 2.0], id="cubic-at-knots"),
    pytest.param([0, 1, 3], [5, 7, 2], [0, 1, 3], "nearest", False, [5.0, 7.0, 2.0], id="nearest-at-knots"),
    pytest.param([0, 1, 3], [5, 7, 2], [0, 1, 3], "next", False, [5.0, 7.0, 2.0], id="next-at-knots"),
    pytest.param([0, 1, 3], [5, 7, 2], [0, 1, 3], "previous", False, [5.0, 7.0, 2.0], id="previous-at-knots"),
    pytest.param([0, 1, 3], [5, 7, 2], [2.0, 2.0000001], "nearest", False, [7.0, 2.0], id="nearest-uneven"),
]


@pytest.mark.parametrize(("x", "y", "query", "method", "extrapolate", "expected"), VALUES)
def test_values(x, y, query, method, extrapolate, expected):
    assert hexes(qt.interp1d(x, y, query, method, extrapolate)) == hexes(expected)


@pytest.mark.parametrize(("name", "method"), [
    pytest.param(" Spline ", "cubic", id="spline-blanks"),
    pytest.param("NATURAL", "cubic", id="natural-upper"),
    pytest.param("natural_cubic", "cubic", id="natural_cubic"),
    pytest.param("\u3000cubic_natural\n", "cubic", id="cubic_natural-unicode-space"),
    pytest.param("closest", "nearest", id="closest"),
    pytest.param("NN", "nearest", id="nn"),
    pytest.param("prev", "previous", id="prev"),
    pytest.param("ffill", "previous", id="ffill"),
    pytest.param("bfill", "next", id="bfill"),
    pytest.param("Linear ", "linear", id="linear-blank"),
])
def test_method_aliases(name, method):
    x, y, q = [0, 1, 2.5, 4], [1, -2, 0.5, 3], [-1, 0.3, 1.7, 2.5, 3.9, 5]
    assert hexes(qt.interp1d(x, y, q, name, True)) == hexes(qt.interp1d(x, y, q, method, True))


# the Unicode White_Space property, every code point of it, and neighbours that lack it
WHITE_SPACE = [0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B), 0x2028, 0x2029,
               0x202F, 0x205F, 0x3000]
NOT_WHITE_SPACE = [0x08, 0x0E, 0x1C, 0x1F, 0x84, 0x86, 0x9F, 0xA1, 0x167F, 0x1681, 0x180E, 0x1FFF, 0x200B,
                   0x2027, 0x202A, 0x202E, 0x2030, 0x205E, 0x2060, 0x2FFF, 0x3001, 0xFEFF]


@pytest.mark.parametrize("code", WHITE_SPACE, ids=[f"U+{c:04X}" for c in WHITE_SPACE])
def test_method_name_trims_white_space(code):
    ch = chr(code)
    assert qt.interp1d([0, 2], [0, 1], [0.5], f"{ch}{ch}Linear{ch}") == [0.25]


@pytest.mark.parametrize("code", NOT_WHITE_SPACE, ids=[f"U+{c:04X}" for c in NOT_WHITE_SPACE])
def test_method_name_keeps_other_characters(code):
    name = f"{chr(code)}linear"
    with pytest.raises(ValueError) as err:
        qt.interp1d([0, 2], [0, 1], [0.5], name)
    assert str(err.value) == f"invalid argument: unknown interpolation method '{name}'"


def test_linear_at_last_knot_evaluates_last_segment():
    x, y = [0.1, 0.2, 0.3], [0.0, 1.1, 0.2]
    assert qt.interp1d(x, y, [0.3])[0] == (y[2] - y[1]) * 1.0 + y[1] != 0.2
    for method in ("cubic", "nearest", "previous", "next"):
        assert qt.interp1d(x, y, [0.3], method)[0] == 0.2


def test_cubic_reproduces_a_line():
    x = [0, 0.5, 2, 3.25, 7]
    y = [2 * v - 1 for v in x]
    q = [0.1 * k for k in range(71)]
    for got, v in zip(qt.interp1d(x, y, q, "cubic"), q):
        assert got == pytest.approx(2 * v - 1, abs=1e-12)


def test_default_method_is_linear_and_keywords_work():
    got = qt.interp1d(query=[0.25], y=Y2, x=X2)
    assert got == [2.5]
    assert qt.interp1d(X2, Y2, [3], extrapolate=True, method="next") == [10.0]


ERRORS = [
    pytest.param([0], [1], [0], "linear", "empty input: interp1d requires at least two knots", id="one-knot"),
    pytest.param([], [], [0], "linear", "empty input: interp1d requires at least two knots", id="no-knots"),
    pytest.param([0, 1], [1], [0], "linear", "invalid argument: x/y length mismatch: 2 != 1", id="length"),
    pytest.param([0], [], [0], "linear", "invalid argument: x/y length mismatch: 1 != 0", id="length-before-count"),
    pytest.param([0, NAN], [1, 2], [0], "linear", "invalid argument: x values must be finite", id="x-nan"),
    pytest.param([0, INF], [NAN, 2], [0], "linear", "invalid argument: x values must be finite",
                 id="x-checked-before-y"),
    pytest.param([0, 1], [1, -INF], [0], "linear", "invalid argument: y values must be finite", id="y-inf"),
    pytest.param([1, 0], [NAN, 2], [0], "linear", "invalid argument: y values must be finite",
                 id="y-checked-before-order"),
    pytest.param([0, 0], [1, 2], [0], "linear", "invalid argument: x values must be strictly increasing",
                 id="repeated-knot"),
    pytest.param([-0.0, 0.0], [1, 2], [0], "linear", "invalid argument: x values must be strictly increasing",
                 id="signed-zeros-equal"),
    pytest.param([0, 2, 1], [1, 2, 3], [0], "linear", "invalid argument: x values must be strictly increasing",
                 id="decreasing"),
    pytest.param([0, 1e-17, 2e-17], [0, 1, 0], [0], "cubic", "invalid geometry: singular spline system",
                 id="singular-spline"),
    pytest.param([0, 1], [0, 1], [0], " Quadratic ", "invalid argument: unknown interpolation method 'quadratic'",
                 id="unknown-method"),
    pytest.param([0], [], [0], "quadratic", "invalid argument: unknown interpolation method 'quadratic'",
                 id="method-before-knots"),
    pytest.param([0, 1], [0, 1], [0], "li\x00near", "invalid argument: unknown interpolation method 'li\x00near'",
                 id="method-name-with-nul"),
]


@pytest.mark.parametrize(("x", "y", "query", "method", "message"), ERRORS)
def test_errors(x, y, query, method, message):
    with pytest.raises(ValueError) as err:
        qt.interp1d(x, y, query, method)
    assert str(err.value) == message


def test_tiny_spacing_is_fine_for_linear():
    assert qt.interp1d([0, 1e-17, 2e-17], [0, 1, 0], [1e-17]) == [1.0]


CONVERSION_ERRORS = [
    pytest.param(("ab", [0], [0]), TypeError, "Can't extract `str` to `Vec`", "x", id="x-str"),
    pytest.param(([0, 1], [0, 1], 5), TypeError, "'int' object is not an instance of 'Sequence'", "query",
                 id="query-int"),
    pytest.param(([0, 1], [0, 1], [0], b"linear"), TypeError, "'bytes' object is not an instance of 'str'",
                 "method", id="method-bytes"),
    pytest.param(([0, 1], [0, 1], [0], "linear", 1), TypeError, "'int' object is not an instance of 'bool'",
                 "extrapolate", id="extrapolate-int"),
]


@pytest.mark.parametrize(("args", "exc", "message", "param"), CONVERSION_ERRORS)
def test_conversion_errors(args, exc, message, param):
    with pytest.raises(exc) as err:
        qt.interp1d(*args)
    assert str(err.value) == message
    assert err.value.__notes__ == [f"while processing '{param}'"]


def test_too_many_arguments():
    with pytest.raises(TypeError) as err:
        qt.interp1d(X2, Y2, [0], "linear", False, 1)
    assert str(err.value) == "interp1d() takes from 3 to 5 positional arguments but 6 were given"


def random_knots(rng, n):
    x = sorted({round(rng.uniform(-50, 50), 6) for _ in range(n)})
    return x, [rng.uniform(-10, 10) for _ in x]


def test_cubic_matches_scipy_natural_spline():
    interpolate = pytest.importorskip("scipy.interpolate")
    rng = random.Random(5)
    for n in (3, 4, 9, 64):
        x, y = random_knots(rng, n)
        q = [rng.uniform(x[0], x[-1]) for _ in range(200)] + x
        want = interpolate.CubicSpline(x, y, bc_type="natural")(q)
        scale = max(abs(v) for v in y)
        for got, ref in zip(qt.interp1d(x, y, q, "cubic"), want):
            assert got == pytest.approx(float(ref), rel=1e-12, abs=1e-12 * scale)


def test_linear_matches_numpy_interp():
    np = pytest.importorskip("numpy")
    rng = random.Random(9)
    x, y = random_knots(rng, 50)
    q = [rng.uniform(x[0], x[-1]) for _ in range(500)]
    for got, ref in zip(qt.interp1d(x, y, q), np.interp(q, x, y)):
        assert got == pytest.approx(float(ref), rel=1e-12, abs=1e-12)


def test_step_methods_match_a_scan():
    rng = random.Random(13)
    x, y = random_knots(rng, 30)
    q = [rng.uniform(x[0] - 5, x[-1] + 5) for _ in range(300)] + x
    prev = qt.interp1d(x, y, q, "previous", True)
    nxt = qt.interp1d(x, y, q, "next", True)
    near = qt.interp1d(x, y, q, "nearest", True)
    for v, p, n_, c in zip(q, prev, nxt, near):
        below = [k for k in range(len(x)) if x[k] <= v]
        above = [k for k in range(len(x)) if x[k] >= v]
        assert p == y[below[-1] if below else 0]
        assert n_ == y[above[0] if above else -1]
        lo, hi = (below[-1] if below else 0), (above[0] if above else len(x) - 1)
        assert c == (y[lo] if abs(v - x[hi]) >= abs(v - x[lo]) else y[hi])


def test_unsorted_queries_match_one_by_one():
    rng = random.Random(17)
    x, y = random_knots(rng, 40)
    q = [rng.uniform(x[0] - 1, x[-1] + 1) for _ in range(300)]
    for method in ("linear", "cubic", "nearest"):
        batch = qt.interp1d(x, y, q, method, True)
        single = [qt.interp1d(x, y, [v], method, True)[0] for v in q]
        assert hexes(batch) == hexes(single)
        assert hexes(qt.interp1d(x, y, sorted(q), method, True)) == hexes(
            [b for _, b in sorted(zip(q, batch), key=lambda t: t[0])])


def test_threads_match_serial_run():
    rng = random.Random(21)
    x, y = random_knots(rng, 2000)
    queries = [[rng.uniform(x[0], x[-1]) for _ in range(20000)] for _ in range(4)]
    serial = [qt.interp1d(x, y, q, "cubic") for q in queries]
    results = [None] * len(queries)

    def run(i):
        results[i] = qt.interp1d(x, y, queries[i], "cubic")

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(queries))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert [hexes(r) for r in results] == [hexes(s) for s in serial]


def test_error_raised_without_the_lock_reads_the_same():
    # Knot validation runs with the lock released; its text matches the plain path.
    with pytest.raises(ValueError, match=r"^invalid argument: x values must be strictly increasing$"):
        qt.interp1d([0, 0], [1, 2], [0], "cubic")


def test_inputs_not_modified():
    x, y, q = [0.0, 1.0, 2.0], [1.0, 3.0, 2.0], [1.5, -1.0, NAN]
    copies = (list(x), list(y), list(q))
    qt.interp1d(x, y, q, "cubic", True)
    assert (hexes(x), hexes(y), hexes(q)) == tuple(hexes(c) for c in copies)
