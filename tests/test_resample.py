"""Field transfer between lattices, and the field crossings (nested lists and flat buffers)."""
import math
import random
import struct
import threading

import pytest

import quarntools as qt
from test_lattice import ref_to_intrinsic, ref_to_world

NAN = math.nan


def py_round(v):  # halves away from zero
    return math.floor(v + 0.5) if v >= 0 else -math.floor(-v + 0.5)


def ref_resample(src, sl, tl, method):
    out = [[NAN] * tl.nrow for _ in range(tl.ncol)]
    for i in range(tl.ncol):
        for j in range(tl.nrow):
            x, y = ref_to_world(tl, float(i), float(j))
            if not (math.isfinite(x) and math.isfinite(y)):
                continue
            r = ref_to_intrinsic(sl, x, y)
            if r is None:
                continue
            fi, fj = r
            fi = py_round(fi) if abs(fi - py_round(fi)) < 1e-9 else fi
            fj = py_round(fj) if abs(fj - py_round(fj)) < 1e-9 else fj
            if not (0 <= fi <= sl.ncol - 1 and 0 <= fj <= sl.nrow - 1):
                continue
            near = src[int(py_round(fi))][int(py_round(fj))]
            if method == "nearest":
                out[i][j] = near
                continue
            if math.isnan(near):
                continue
            i0, j0 = math.floor(fi), math.floor(fj)
            i1, j1 = min(i0 + 1, sl.ncol - 1), min(j0 + 1, sl.nrow - 1)
            tx, ty = fi - i0, fj - j0
            corners = [((1 - tx) * (1 - ty), src[i0][j0]), ((1 - ty) * tx, src[i1][j0]),
                       ((1 - tx) * ty, src[i0][j1]), (tx * ty, src[i1][j1])]
            W = V = 0.0
            for w, v in corners:
                if w > 0 and math.isfinite(v):
                    W += w
                    V += w * v
            if W > 0:
                out[i][j] = V / W
    return out


def flat(field):
    return b"".join(struct.pack("<%dd" % len(col), *col) for col in field)


def unflat(buf, shape):
    ncol, nrow = shape
    vals = struct.unpack("<%dd" % (ncol * nrow), buf)
    return [list(vals[c * nrow:(c + 1) * nrow]) for c in range(ncol)]


def same_bits(a, b):
    return flat(a) == flat(b)


def random_field(rnd, ncol, nrow, holes=0.1):
    return [[NAN if rnd.random() < holes else rnd.uniform(-100, 100) for _ in range(nrow)] for _ in range(ncol)]


@pytest.mark.parametrize("method", ["bilinear", "nearest"])
def test_matches_restatement_on_random_rotated_lattices(method):
    rnd = random.Random(42)
    for _ in range(25):
        sl = qt.Lattice(rnd.uniform(-50, 50), rnd.uniform(-50, 50), rnd.uniform(1, 5), rnd.uniform(1, 5),
                        rnd.randrange(1, 12), rnd.randrange(1, 12), rnd.uniform(-180, 180), rnd.random() < .5)
        tl = qt.Lattice(rnd.uniform(-50, 50), rnd.uniform(-50, 50), rnd.uniform(0.5, 4), rnd.uniform(0.5, 4),
                        rnd.randrange(0, 15), rnd.randrange(0, 15), rnd.uniform(-180, 180), rnd.random() < .5)
        src = random_field(rnd, sl.ncol, sl.nrow)
        expected = ref_resample(src, sl, tl, method)
        got = qt.resample(src, sl, tl, method)
        assert same_bits(got, expected)
        buf, shape = qt.resample_flat(flat(src), sl, tl, method)
        assert shape == (tl.ncol, tl.nrow) and buf == flat(expected)


def test_identity_transfer_is_bit_exact():
    rnd = random.Random(1)
    sl = qt.Lattice(10, 20, 2.5, 4, 7, 5, 33, True)
    src = random_field(rnd, 7, 5, holes=0.2)
    src[3][2] = math.inf
    nan_payload = struct.unpack("<d", struct.pack("<Q", 0x7FF8DEADBEEF0001))[0]
    src[1][1] = nan_payload
    near = qt.resample(src, sl, sl, "nearest")
    assert flat(near) == flat(src)  # NaN payloads included
    bil = qt.resample(src, sl, sl)
    for c in range(7):
        for r in range(5):
            if math.isinf(src[c][r]):
                assert math.isnan(bil[c][r])  # an infinite corner is a hole
            elif not math.isnan(src[c][r]):
                assert bil[c][r] == src[c][r]


HALFWAY = [
    pytest.param([[1.0, 0.0], [3.0, 0.0]], 2.0, id="mean-of-two"),
    pytest.param([[1.0, 0.0], [NAN, 0.0]], NAN, id="nan-is-nearest"),
    pytest.param([[NAN, 0.0], [3.0, 0.0]], 3.0, id="nan-renormalised"),
    pytest.param([[1.0, 0.0], [math.inf, 0.0]], 1.0, id="inf-nearest-is-only-a-hole"),
]


@pytest.mark.parametrize(("src", "expected"), HALFWAY)
def test_halfway_between_two_nodes(src, expected):
    sl = qt.Lattice(0, 0, 1, 1, 2, 2)
    tl = qt.Lattice(0.5, 0, 1, 1, 1, 1)  # x = 0.5 rounds to column 1
    got = qt.resample(src, sl, tl)[0][0]
    assert got == expected or (math.isnan(got) and math.isnan(expected))


def test_nearest_rounds_half_away_from_zero():
    sl = qt.Lattice(0, 0, 1, 1, 2, 1)
    assert qt.resample([[1.0], [2.0]], sl, qt.Lattice(0.5, 0, 1, 1, 1, 1), " Nearest ") == [[2.0]]


def test_outside_extent_is_nan_with_target_shape():
    sl = qt.Lattice(0, 0, 1, 1, 3, 3)
    out = qt.resample([[1.0] * 3] * 3, sl, qt.Lattice(100, 100, 1, 1, 4, 2))
    assert len(out) == 4 and all(len(c) == 2 and all(math.isnan(v) for v in c) for c in out)


def test_single_node_source():
    sl = qt.Lattice(5, 5, 1, 1, 1, 1)
    out = qt.resample([[7.0]], sl, qt.Lattice(4, 5, 1, 1, 3, 1))
    assert math.isnan(out[0][0]) and out[1][0] == 7.0 and math.isnan(out[2][0])


def test_snap_within_tolerance():
    sl = qt.Lattice(0, 0, 1, 1, 2, 1)
    assert qt.resample([[1.0], [2.0]], sl, qt.Lattice(1 + 5e-10, 0, 1, 1, 1, 1)) == [[2.0]]
    assert qt.resample([[1.0], [2.0]], sl, qt.Lattice(-5e-10, 0, 1, 1, 1, 1)) == [[1.0]]


# A target node at an exact binary offset from the source nodes: within 1e-9 of a node it
# snaps to it; beyond, bilinear weights apply (exactly: 1 + t on the column 1 -> 2, 1 + 3t
# on the row 1 -> 4) and past the last node by more than 1e-9 it is outside.
SNAP = [
    pytest.param(2**-30, 1.0, 1.0, id="2^-30-snaps"),
    pytest.param(-2**-30, 1.0, 1.0, id="minus-2^-30-snaps"),
    pytest.param(2**-29, 1 + 2**-29, 1 + 3 * 2**-29, id="2^-29-interpolates"),
    pytest.param(2**-20, 1 + 2**-20, 1 + 3 * 2**-20, id="2^-20-interpolates"),
    pytest.param(1 - 2**-29, 2 - 2**-29, 4 - 3 * 2**-29, id="below-last-interpolates"),
    pytest.param(1 + 2**-30, 2.0, 4.0, id="past-last-snaps"),
    pytest.param(1 + 2**-29, NAN, NAN, id="past-last-outside"),
    pytest.param(-2**-29, NAN, NAN, id="before-first-outside"),
]


@pytest.mark.parametrize(("offset", "along_i", "along_j"), SNAP)
def test_snap_tolerance_edges(offset, along_i, along_j):
    got_i = qt.resample([[1.0], [2.0]], qt.Lattice(0, 0, 1, 1, 2, 1), qt.Lattice(offset, 0, 1, 1, 1, 1))[0][0]
    got_j = qt.resample([[1.0, 4.0]], qt.Lattice(0, 0, 1, 1, 1, 2), qt.Lattice(0, offset, 1, 1, 1, 1))[0][0]
    assert [got_i.hex(), got_j.hex()] == [along_i.hex(), along_j.hex()]


RESAMPLE_ERRORS = [
    pytest.param(lambda: qt.resample([[1.0]], qt.Lattice(0, 0, 1, 1, 1, 1), qt.Lattice(0, 0, 1, 1, 1, 1), "cubic"),
                 "unknown resample method 'cubic' (expected 'bilinear' or 'nearest')", id="method"),
    pytest.param(lambda: qt.resample([], qt.Lattice(0, 0, 1, 1, 2, 2), qt.Lattice(0, 0, 1, 1, 1, 1), " CUBIC\u3000"),
                 "unknown resample method 'cubic' (expected 'bilinear' or 'nearest')", id="method-before-shape"),
    pytest.param(lambda: qt.resample([[1.0]], qt.Lattice(0, 0, 1, 1, 1, 1), qt.Lattice(0, 0, 1, 1, 1, 1), "Near\0est"),
                 "unknown resample method 'near\0est' (expected 'bilinear' or 'nearest')", id="method-with-nul"),
    pytest.param(lambda: qt.resample([[1.0, 2.0], [3.0]], qt.Lattice(0, 0, 1, 1, 2, 2), qt.Lattice(0, 0, 1, 1, 1, 1)),
                 "src_grid must be a rectangular 2\u00d72 (ncol\u00d7nrow) nested list matching src_georef",
                 id="ragged"),
    pytest.param(lambda: qt.resample_flat(b"\0" * 95, qt.Lattice(0, 0, 1, 1, 3, 4), qt.Lattice(0, 0, 1, 1, 1, 1)),
                 "flat grid is 95 bytes, expected 3\u00d74\u00d78 = 96 (little-endian f64, field[col][row])",
                 id="flat-length"),
    pytest.param(lambda: qt.resample_flat(b"", qt.Lattice(0, 0, 1, 1, 2**32, 2**29), qt.Lattice(0, 0, 1, 1, 1, 1)),
                 "flat grid shape overflow", id="flat-2^61"),
    pytest.param(lambda: qt.resample_flat(b"", qt.Lattice(0, 0, 1, 1, 2**63, 4), qt.Lattice(0, 0, 1, 1, 1, 1)),
                 "flat grid shape overflow", id="flat-2^65"),
    pytest.param(lambda: qt.resample([[1.0]], qt.Lattice(0, 0, 0, 1, 1, 1), qt.Lattice(0, 0, 1, 1, 1, 1)),
                 "invalid geometry: resample: degenerate source geometry (empty grid or zero node spacing)",
                 id="zero-xinc"),
    pytest.param(lambda: qt.resample([], qt.Lattice(0, 0, 1, 1, 0, 5), qt.Lattice(0, 0, 1, 1, 1, 1)),
                 "invalid geometry: resample: degenerate source geometry (empty grid or zero node spacing)",
                 id="empty-source"),
]


@pytest.mark.parametrize(("call", "message"), RESAMPLE_ERRORS)
def test_resample_errors(call, message):
    with pytest.raises(ValueError) as err:
        call()
    assert str(err.value) == message
    assert not getattr(err.value, "__notes__", None)


FLAT_TYPE_ERRORS = [
    pytest.param(bytearray(8), "'bytearray' object is not an instance of 'bytes'", id="bytearray"),
    pytest.param(memoryview(b"\0" * 8), "'memoryview' object is not an instance of 'bytes'", id="memoryview"),
    pytest.param([[1.0]], "'list' object is not an instance of 'bytes'", id="list"),
]


@pytest.mark.parametrize(("arg", "message"), FLAT_TYPE_ERRORS)
def test_flat_accepts_only_bytes(arg, message):
    with pytest.raises(TypeError) as err:
        qt.resample_flat(arg, qt.Lattice(0, 0, 1, 1, 1, 1), qt.Lattice(0, 0, 1, 1, 1, 1))
    assert str(err.value) == message
    assert err.value.__notes__ == ["while processing 'src_grid'"]


def test_bytes_subclass_and_empty_grids():
    class B(bytes):
        pass

    one = qt.Lattice(0, 0, 1, 1, 1, 1)
    assert qt.resample_flat(B(struct.pack("<d", 3.0)), one, one, "nn") == (struct.pack("<d", 3.0), (1, 1))
    assert qt.resample_flat(struct.pack("<d", 3.0), one, qt.Lattice(0, 0, 1, 1, 0, 7)) == (b"", (0, 7))
    assert qt.resample([[3.0]], one, qt.Lattice(0, 0, 1, 1, 0, 7)) == []
    assert qt.resample([[3.0]], one, qt.Lattice(0, 0, 1, 1, 2, 0)) == [[], []]


NESTED_TYPE_ERRORS = [
    pytest.param("ab", TypeError, "Can't extract `str` to `Vec`", id="str"),
    pytest.param(["ab"], TypeError, "Can't extract `str` to `Vec`", id="inner-str"),
    pytest.param([[1.0, "x"]], TypeError, "must be real number, not str", id="item"),
    pytest.param(5, TypeError, "'int' object is not an instance of 'Sequence'", id="int"),
]


@pytest.mark.parametrize(("arg", "exc", "message"), NESTED_TYPE_ERRORS)
def test_nested_conversion_errors(arg, exc, message):
    with pytest.raises(exc) as err:
        qt.resample(arg, qt.Lattice(0, 0, 1, 1, 1, 1), qt.Lattice(0, 0, 1, 1, 1, 1))
    assert str(err.value) == message
    assert err.value.__notes__ == ["while processing 'src_grid'"]


def test_nested_accepts_tuples_and_bytes_items():
    one = qt.Lattice(0, 0, 1, 1, 1, 2)
    assert qt.resample(((1, 2),), one, one, "nearest") == [[1.0, 2.0]]
    assert qt.resample([b"\x01\x02"], one, one, "nearest") == [[1.0, 2.0]]


def test_non_finite_source_geometry_gives_nan():
    out = qt.resample([[1.0]], qt.Lattice(0, 0, math.nan, 1, 1, 1), qt.Lattice(0, 0, 1, 1, 2, 2))
    assert all(math.isnan(v) for c in out for v in c)


def test_inputs_are_not_modified():
    src = [[1.0, 2.0], [3.0, 4.0]]
    before = [list(c) for c in src]
    qt.resample(src, qt.Lattice(0, 0, 1, 1, 2, 2), qt.Lattice(0.5, 0.5, 1, 1, 1, 1))
    assert src == before


def test_threads_give_serial_bits():
    rnd = random.Random(9)
    sl = qt.Lattice(0, 0, 1, 1, 120, 110, 10)
    tl = qt.Lattice(-3, 2, 0.7, 0.9, 130, 120, 37, True)
    buf = flat(random_field(rnd, 120, 110))
    serial = qt.resample_flat(buf, sl, tl)
    results = [None] * 4

    def work(k):
        results[k] = qt.resample_flat(buf, sl, tl)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(r == serial for r in results)


HUGE_TARGETS = [
    pytest.param(2**40, 2**40, MemoryError, None, id="product-overflows"),
    pytest.param(2**63 + 1, 2, MemoryError, None, id="product-wraps-to-small"),
    pytest.param(2**28, 2**28, MemoryError, None, id="fits-but-cannot-allocate"),
]


@pytest.mark.bigalloc
@pytest.mark.parametrize(("ncol", "nrow", "exc", "message"), HUGE_TARGETS)
def test_huge_target_lattice_is_refused(ncol, nrow, exc, message):
    one = qt.Lattice(0, 0, 1, 1, 1, 1)
    with pytest.raises(exc) as err:
        qt.resample_flat(struct.pack("<d", 1.0), one, qt.Lattice(0, 0, 1, 1, ncol, nrow))
    if message:
        assert str(err.value) == message


TARGETS = [
    pytest.param(qt.Lattice(0.3, -0.2, 0.7, 0.45, 9, 5, rotation_deg=23.0), id="rotated-wide"),
    pytest.param(qt.Lattice(5.1, 4.2, 0.6, 0.9, 4, 11, rotation_deg=200.0, yflip=True), id="flipped-tall"),
]


@pytest.mark.parametrize("method", ["bilinear", "nearest"])
@pytest.mark.parametrize("target", TARGETS)
def test_every_node_equals_a_one_node_resample_at_its_position(target, method):
    # Each target node is computed on its own: node (i, j) of the result is the value a
    # 1 x 1 lattice placed at that node's world position receives, bit for bit.
    rnd = random.Random(5)
    src = qt.Lattice(0, 0, 0.5, 0.5, 13, 12, rotation_deg=4.0)
    grid = random_field(rnd, 13, 12)
    grid[3][4] = math.nan
    out = qt.resample(grid, src, target, method)
    for i in range(target.ncol):
        for j in range(target.nrow):
            x, y = target.node_xy(i, j)
            one = qt.Lattice(x, y, 1.0, 1.0, 1, 1)
            assert struct.pack("<d", out[i][j]) == struct.pack("<d", qt.resample(grid, src, one, method)[0][0]), (i, j)
