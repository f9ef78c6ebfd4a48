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
