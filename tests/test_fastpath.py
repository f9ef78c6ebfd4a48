"""Buffers of float64 (NumPy arrays, array('d')) cross in one copy with the same results as lists."""
import array
import math
import struct

import pytest

import quarntools as qt

np = pytest.importorskip("numpy")


def bits(x):
    return struct.pack("<%dd" % len(x), *x)


def nested_bits(f):
    return b"".join(bits(c) for c in f)


SOURCES = [
    pytest.param(lambda a: a, id="ndarray"),
    pytest.param(lambda a: a.astype("<f8"), id="little-endian-explicit"),
    pytest.param(lambda a: [array.array("d", row) for row in a], id="array-d-rows"),
    pytest.param(lambda a: list(a), id="list-of-ndarray-rows"),
    pytest.param(lambda a: a.astype(np.float32), id="float32-item-path"),
    pytest.param(lambda a: a.astype(">f8"), id="big-endian-item-path"),
    pytest.param(lambda a: np.asfortranarray(a)[:, ::1], id="fortran-order"),
    pytest.param(lambda a: a[:, ::-1][:, ::-1], id="strided-view"),
]


@pytest.mark.parametrize("make", SOURCES)
def test_fast_path_gives_list_results(make):
    rng = np.random.default_rng(3)
    a = rng.normal(size=(13, 9))
    a[2, 3] = np.nan
    a[4, 4] = -0.0
    lat = qt.Lattice(0, 0, 1, 1, 13, 9)
    dst = qt.Lattice(0.3, 0.2, 0.7, 0.7, 15, 11, 12.0)
    want = qt.resample(a.tolist(), lat, dst)
    src = make(a)
    expected = want if not (isinstance(src, np.ndarray) and src.dtype == np.float32) else qt.resample(
        src.astype(float).tolist(), lat, dst)
    assert nested_bits(qt.resample(src, lat, dst)) == nested_bits(expected)


def test_nan_payload_survives_the_buffer_copy():
    payload = struct.unpack("<d", struct.pack("<Q", 0x7FF80000DEADBEEF))[0]
    a = np.array([[payload, 1.0]])
    lat = qt.Lattice(0, 0, 1, 1, 1, 2)
    out = qt.resample(a, lat, lat, "nearest")
    assert struct.pack("<d", out[0][0]) == struct.pack("<Q", 0x7FF80000DEADBEEF)


ERRORS = [
    pytest.param(lambda: np.zeros((2, 2, 2)), TypeError, "numpy-scalar-message", id="3-d"),
    pytest.param(lambda: [np.array(["a", "b"])], TypeError, None, id="str-array"),
    pytest.param(lambda: [memoryview(b"\0" * 16).cast("d")], None, None, id="memoryview-d"),
]


@pytest.mark.parametrize(("make", "exc", "message"), ERRORS)
def test_other_objects_keep_their_behaviour(make, exc, message):
    lat = qt.Lattice(0, 0, 1, 1, 1, 2)
    obj = make()
    if exc is None:
        assert qt.resample(obj, lat, lat, "nearest") == [[0.0, 0.0]]
        return
    with pytest.raises(exc) as err:
        qt.resample(obj, qt.Lattice(0, 0, 1, 1, 2, 2), lat)
    if message == "numpy-scalar-message":  # numpy's own wording, whatever its version
        with pytest.raises(TypeError) as plain:
            float(np.zeros(2))
        message = str(plain.value)
    if message:
        assert str(err.value) == message
    assert err.value.__notes__ == ["while processing 'src_grid'"]


def test_inner_str_still_refused():
    lat = qt.Lattice(0, 0, 1, 1, 1, 2)
    with pytest.raises(TypeError) as err:
        qt.resample(["ab"], lat, lat)
    assert str(err.value) == "Can't extract `str` to `Vec`"
    assert math.isnan(qt.resample([np.array([np.nan, 1.0])], lat, lat)[0][0])


# ---- (n, 3) rows and (n, 2) points ------------------------------------------------------------

def rows_result(coords):
    ev = qt.experimental_variogram(coords, 0.7, 6)
    est, var = qt.local_kriging_grid(coords, qt.Lattice(-0.5, -0.5, 0.9, 0.8, 4, 3, rotation_deg=7.0),
                                     qt.Variogram("spherical", 0.1, 1.0, 3.0), 5, 4.0)
    return ([v.hex() for v in ev.lags + ev.semivariances], ev.counts, nested_bits(est), nested_bits(var))


def points_result(points):
    g = qt.Georef(431000.25, 6521000.5)
    return [v.hex() for p in g.place_points(points) for v in p]


def coords(shape, seed=7):
    a = np.random.default_rng(seed).normal(size=shape) * 2.0
    a[1, 0] = -0.0
    return a


ROW_SOURCES = [
    pytest.param(lambda a: a, id="c-contiguous"),
    pytest.param(lambda a: np.ascontiguousarray(np.vstack([a, a])[::2]), id="copy-of-strided"),
    pytest.param(lambda a: np.vstack([a, a])[::2], id="strided-rows"),
    pytest.param(lambda a: np.asfortranarray(a), id="fortran-order"),
    pytest.param(lambda a: a.astype(">f8"), id="big-endian"),
    pytest.param(lambda a: a.astype(np.float32).astype(np.float64), id="float32-values-as-f8"),
    pytest.param(lambda a: a.astype(object), id="object-dtype"),
    pytest.param(lambda a: a.tolist(), id="lists"),
    pytest.param(lambda a: tuple(map(tuple, a.tolist())), id="tuples"),
    pytest.param(lambda a: list(a), id="list-of-row-arrays"),
    pytest.param(lambda a: a[:0], id="empty"),
]


def outcome(f, arg):
    try:
        return f(arg)
    except Exception as e:  # the comparison below covers type, text and notes
        return type(e), str(e), getattr(e, "__notes__", None)


def as_lists(src):
    return [[float(v) for v in row] for row in src]


@pytest.mark.parametrize("make", ROW_SOURCES)
def test_rows_and_points_from_any_source_give_the_list_results(make):
    rows, points = make(coords((9, 3))), make(coords((6, 2)))
    assert outcome(rows_result, rows) == outcome(rows_result, as_lists(rows))
    assert outcome(points_result, points) == outcome(points_result, as_lists(points))


def test_row_values_cross_bit_for_bit():
    # NaN payloads, signed zeros and subnormals survive the one-pass copy.
    payload = struct.unpack("<d", struct.pack("<Q", 0x7FF80000DEADBEEF))[0]
    a = np.array([[payload, -0.0, 5e-324], [1.0, math.inf, -math.inf]])
    g = qt.Georef(0.0, 0.0)
    p = g.place_points(a[:, :2].copy())
    assert struct.pack("<d", p[0][0]) == struct.pack("<Q", 0x7FF80000DEADBEEF)
    assert [v.hex() for v in p[1]] == [(1.0).hex(), "inf"]
    rows = qt.experimental_variogram(np.array([[0.0, 0.0, 5e-324], [0.5, 0.0, 0.0]]), 1.0, 1)
    assert rows.semivariances == [(5e-324 ** 2) / 2]


ROW_ERRORS = [
    pytest.param(lambda: np.zeros((4, 4)), ValueError, "expected a sequence of length 3 (got 4)", id="too-wide"),
    pytest.param(lambda: np.zeros((4, 2)), ValueError, "expected a sequence of length 3 (got 2)", id="too-narrow"),
    pytest.param(lambda: np.zeros((4, 1, 3)), ValueError, "expected a sequence of length 3 (got 1)", id="3-d"),
    pytest.param(lambda: np.zeros(3), TypeError, "'float64' object is not an instance of 'Sequence'", id="1-d"),
    pytest.param(lambda: np.matrix(np.zeros((4, 3))), ValueError, "expected a sequence of length 3 (got 1)",
                 id="matrix-subclass-iterates-as-itself"),
    pytest.param(lambda: memoryview(np.zeros((4, 3))), NotImplementedError,
                 "multi-dimensional sub-views are not implemented", id="2-d-memoryview"),
    pytest.param(lambda: np.array([["a", "b", "c"]]), TypeError, "must be real number, not numpy.str_",
                 id="str-array"),
    pytest.param(lambda: np.array([[1.0, 2.0, None]], dtype=object), TypeError,
                 "must be real number, not NoneType", id="object-with-none"),
]


@pytest.mark.filterwarnings("ignore::PendingDeprecationWarning")  # np.matrix
@pytest.mark.parametrize(("make", "exc", "message"), ROW_ERRORS)
def test_rows_that_do_not_qualify_keep_their_errors(make, exc, message):
    with pytest.raises(exc) as err:
        qt.experimental_variogram(make(), 1.0, 3)
    assert str(err.value) == message
    assert err.value.__notes__ == ["while processing 'coords'"]


POINT_ERRORS = [
    pytest.param(lambda: np.zeros((2, 3)), ValueError, "expected a sequence of length 2 (got 3)", id="rows-for-points"),
    pytest.param(lambda: np.zeros((2, 2), dtype=np.int64)[:, :1], ValueError, "expected a sequence of length 2 (got 1)",
                 id="narrow-int-view"),
]


@pytest.mark.parametrize(("make", "exc", "message"), POINT_ERRORS)
def test_points_that_do_not_qualify_keep_their_errors(make, exc, message):
    with pytest.raises(exc) as err:
        qt.Georef().place_points(make())
    assert str(err.value) == message
    assert err.value.__notes__ == ["while processing 'locals'"]


def test_int_arrays_take_the_item_path_with_the_same_values():
    a = np.arange(6, dtype=np.int64).reshape(3, 2)
    assert qt.Georef(0.0, 0.0).place_points(a) == [[0.0, 1.0], [2.0, 3.0], [4.0, 5.0]]
