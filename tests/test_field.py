"""Field: a float64 array on a lattice, with node coordinates, sampling and masks that give
the extension's bits."""
import math
import pickle
import sys

import pytest

np = pytest.importorskip("numpy")

import quarntools as qt  # noqa: E402
from quarntools import Field  # noqa: E402

# Lattices that exercise every branch of the transforms: rotation, flip, negative spacing,
# the rotation stored as 360 and as -0.0, a large origin, and empty shapes.
LATTICES = [
    pytest.param((0, 0, 25, 25, 4, 3), {}, id="axis-aligned"),
    pytest.param((431000.5, 6521000.25, 25.3, 17.1, 37, 23), {"rotation_deg": 33.7}, id="rotated"),
    pytest.param((-120.0, 55.5, 10.0, 7.5, 19, 31), {"rotation_deg": -30.0, "yflip": True}, id="rotated-flipped"),
    pytest.param((1e3, -2e3, -12.5, 8.0, 11, 9), {"rotation_deg": 90.0}, id="negative-xinc-90"),
    pytest.param((0.1, 0.2, 0.3, -0.7, 13, 17), {"rotation_deg": -1e-20, "yflip": True}, id="rotation-360"),
    pytest.param((5.0, 5.0, 2.0, 2.0, 6, 5), {"rotation_deg": -360.0}, id="rotation-minus-zero"),
    pytest.param((0, 0, 25, 25, 0, 7), {"rotation_deg": 15.0}, id="0x7"),
    pytest.param((0, 0, 25, 25, 7, 0), {}, id="7x0"),
]


def make(args, kwargs, seed=0, holes=0.0):
    lat = qt.Lattice(*args, **kwargs)
    rng = np.random.default_rng(seed)
    values = rng.normal(100.0, 10.0, size=(lat.ncol, lat.nrow))
    if holes:
        values[rng.random(values.shape) < holes] = np.nan
    return Field(values, lat)


def hexes(a):
    return [float(v).hex() for v in np.ravel(a)]


@pytest.mark.parametrize(("args", "kwargs"), LATTICES)
def test_xy_is_node_xy_bit_for_bit(args, kwargs):
    f = make(args, kwargs)
    x, y = f.xy()
    assert x.shape == y.shape == f.shape
    ncol, nrow = f.shape
    ref = [f.lattice.node_xy(i, j) for i in range(ncol) for j in range(nrow)]
    assert hexes(x) == [p[0].hex() for p in ref]
    assert hexes(y) == [p[1].hex() for p in ref]


def test_xy_by_hand():
    # Rotation 90: I runs north, J runs west; flipped J runs east.
    x, y = Field(np.zeros((2, 2)), qt.Lattice(10, 20, 2, 3, 2, 2, rotation_deg=90, yflip=True)).xy()
    c = math.cos(90 * 0.017453292519943295)
    assert x.tolist() == [[10.0, 13.0], [10.0 + 2 * c, (10.0 + 2 * c) + 3.0]]
    assert y.tolist() == [[20.0, 20.0 - 3 * c], [22.0, 22.0 - 3 * c]]


# ---- construction ---------------------------------------------------------------------------

LAT43 = qt.Lattice(0, 0, 25, 25, 4, 3)
BAD_LATTICES = [
    pytest.param(qt.Lattice(0, 0, 0.0, 25, 4, 3), "spacing must be finite and non-zero (got xinc=0.0, yinc=25.0)",
                 id="zero-xinc"),
    pytest.param(qt.Lattice(0, 0, 25, -0.0, 4, 3), "spacing must be finite and non-zero (got xinc=25.0, yinc=-0.0)",
                 id="minus-zero-yinc"),
    pytest.param(qt.Lattice(0, 0, math.nan, 25, 4, 3), "spacing must be finite and non-zero (got xinc=nan, yinc=25.0)",
                 id="nan-xinc"),
    pytest.param(qt.Lattice(0, 0, 25, math.inf, 4, 3), "spacing must be finite and non-zero (got xinc=25.0, yinc=inf)",
                 id="inf-yinc"),
    pytest.param(qt.Lattice(math.nan, 0, 25, 25, 4, 3), "origin must be finite (got xori=nan, yori=0.0)",
                 id="nan-xori"),
    pytest.param(qt.Lattice(0, -math.inf, 25, 25, 4, 3), "origin must be finite (got xori=0.0, yori=-inf)",
                 id="inf-yori"),
]


@pytest.mark.parametrize(("lattice", "message"), BAD_LATTICES)
@pytest.mark.parametrize("who", ["Field", "Field.from_nested", "Field.from_flat", "Field.resample"])
def test_refuses_a_lattice_it_cannot_place(lattice, message, who):
    values = np.zeros((4, 3))
    with pytest.raises(ValueError) as info:
        if who == "Field":
            Field(values, lattice)
        elif who == "Field.from_nested":
            Field.from_nested(values.tolist(), lattice)
        elif who == "Field.from_flat":
            Field.from_flat((values.tobytes(), (4, 3)), lattice)
        else:
            Field(values, LAT43).resample(lattice)
    assert str(info.value) == f"{who}: lattice {message}"


BAD_VALUES = [
    pytest.param(np.zeros((3, 4)), ValueError,
                 "Field: values must have the lattice's shape (ncol, nrow) = (4, 3) (got (3, 4))", id="transposed"),
    pytest.param(np.zeros(12), ValueError,
                 "Field: values must have the lattice's shape (ncol, nrow) = (4, 3) (got (12,))", id="flat"),
    pytest.param(np.zeros((4, 3), dtype=np.float32), TypeError,
                 "Field: values must be float64 with shape (4, 3) (got dtype float32)", id="float32"),
    pytest.param(np.zeros((4, 3), dtype=np.int64), TypeError,
                 "Field: values must be float64 with shape (4, 3) (got dtype int64)", id="int64"),
    pytest.param(np.zeros((4, 3), dtype=complex), TypeError,
                 "Field: values must be float64 with shape (4, 3) (got dtype complex128)", id="complex"),
    pytest.param([[0.0] * 3] * 4, TypeError,
                 "Field: values must be a numpy.ndarray of float64 with shape (4, 3) (got list); "
                 "use Field.from_nested for nested lists", id="list"),
]


@pytest.mark.parametrize(("values", "exc", "message"), BAD_VALUES)
def test_refuses_values_of_the_wrong_kind(values, exc, message):
    with pytest.raises(exc) as info:
        Field(values, LAT43)
    assert str(info.value) == message


def test_refuses_a_non_lattice():
    with pytest.raises(TypeError) as info:
        Field(np.zeros((4, 3)), (0, 0, 25, 25, 4, 3))
    assert str(info.value) == "Field: lattice must be a quarntools.Lattice (got tuple)"


def test_values_are_kept_or_copied_into_a_writable_c_array():
    a = np.zeros((4, 3))
    assert Field(a, LAT43).values is a
    for src in (np.zeros((3, 4)).T, np.zeros((4, 3)).astype(">f8"), np.frombuffer(bytes(96)).reshape(4, 3)):
        v = Field(src, LAT43).values
        assert v is not src and v.flags.c_contiguous and v.flags.writeable and v.dtype == np.float64
        assert v.dtype.isnative


def test_masked_nodes_become_undefined():
    data = np.arange(12.0).reshape(4, 3)
    f = Field(np.ma.masked_array(data, mask=data % 5 == 0), LAT43)
    assert type(f.values) is np.ndarray
    assert np.isnan(f.values).sum() == 3 and f.values[0, 1] == 1.0


# ---- the extension's field forms --------------------------------------------------------------


def test_nested_and_flat_round_trips_keep_every_bit():
    lat = qt.Lattice(0, 0, 1, 1, 3, 2)
    payload = np.frombuffer(bytes.fromhex("0100000000f87f"[:14] + "ff"), "<f8")[0]  # NaN with a payload
    values = np.array([[1.5, -0.0], [math.inf, payload], [5e-324, math.nan]])
    f = Field(values, lat)
    assert f.to_flat() == (values.astype("<f8").tobytes(), (3, 2))
    assert type(f.to_flat()[1][0]) is int
    assert Field.from_flat(f.to_flat(), lat).values.tobytes() == values.tobytes()
    nested = f.to_nested()
    assert type(nested) is list and type(nested[0][0]) is float
    assert Field.from_nested(nested, lat).values.tobytes() == values.tobytes()
    # The extension reads and writes the same forms.
    out = qt.resample_flat(f.to_flat()[0], lat, lat, "nearest")
    assert Field.from_flat(out, lat).values.tobytes() == values.tobytes()
    assert qt.resample(nested, lat, lat, "nearest")[0][0] == 1.5


@pytest.mark.parametrize(("ncol", "nrow"), [(0, 3), (3, 0), (0, 0)], ids=["0x3", "3x0", "0x0"])
def test_empty_fields(ncol, nrow):
    lat = qt.Lattice(0, 0, 1, 1, ncol, nrow)
    nested = [[] for _ in range(ncol)]
    for f in (Field.from_nested(nested, lat), Field.from_flat((b"", (ncol, nrow)), lat)):
        assert f.shape == f.values.shape == (ncol, nrow)
        assert f.to_nested() == nested and f.to_flat() == (b"", (ncol, nrow))
        assert f.mask([[0, 0], [1, 0], [0, 1]]).shape == (ncol, nrow)


NESTED_BAD = [
    pytest.param([[1.0, 2.0, 3.0]] * 3, id="short"),
    pytest.param([[1.0, 2.0, 3.0]] * 3 + [[1.0, 2.0]], id="ragged"),
    pytest.param([[1.0, 2.0, 3.0, 4.0]] * 4, id="long-rows"),
    pytest.param([], id="empty"),
]


@pytest.mark.parametrize("nested", NESTED_BAD)
def test_from_nested_refuses_other_shapes(nested):
    with pytest.raises(ValueError) as info:
        Field.from_nested(nested, LAT43)
    assert str(info.value) == "Field.from_nested: field must be a rectangular 4x3 nested list (field[col][row])"


FLAT_BAD = [
    pytest.param((bytes(95), (4, 3)),
                 "Field.from_flat: flat grid is 95 bytes, expected 4×3×8 = 96 (little-endian f64, field[col][row])",
                 id="length"),
    pytest.param((bytes(96), (3, 4)), "Field.from_flat: shape (3, 4) does not match the lattice (4, 3)",
                 id="shape"),
]


@pytest.mark.parametrize(("flat", "message"), FLAT_BAD)
def test_from_flat_refuses_other_shapes(flat, message):
    with pytest.raises(ValueError) as info:
        Field.from_flat(flat, LAT43)
    assert str(info.value) == message


# ---- sample ---------------------------------------------------------------------------------


def sample_by_resampling(field, points, method):
    """The extension's answer: resample onto a 1 x 1 lattice at each point."""
    out = []
    buf = field.to_flat()[0]
    for x, y in points:
        one, _ = qt.resample_flat(buf, field.lattice, qt.Lattice(x, y, 1, 1, 1, 1), method)
        out.append(np.frombuffer(one, "<f8")[0])
    return np.array(out)


def probe_points(field, seed):
    """Random points inside and around the field, nodes and cell edges, near-nodes within the
    snapping distance and just outside it, half-way points, and non-finite points."""
    rng = np.random.default_rng(seed)
    ncol, nrow = field.shape
    fi = np.concatenate([rng.uniform(-1.5, ncol + 0.5, 300), rng.integers(0, ncol, 40),
                         rng.integers(0, ncol, 20) + 0.5, rng.integers(0, ncol, 20) + 4e-10,
                         rng.integers(0, ncol, 20) - 3e-9, [ncol - 1, 0, ncol - 1]])
    fj = np.concatenate([rng.uniform(-1.5, nrow + 0.5, 300), rng.integers(0, nrow, 40),
                         rng.integers(0, nrow, 20), rng.integers(0, nrow, 20) + 0.5 - 1e-10,
                         rng.integers(0, nrow, 20), [nrow - 1, nrow - 1, 0]])
    pts = [field.lattice.intrinsic_to_world(a, b) for a, b in zip(fi.tolist(), fj.tolist())]
    pts += [(math.nan, 0.0), (0.0, math.inf), (-math.inf, math.nan), (-0.0, -0.0), (-0.0, 0.0)]
    return np.array(pts)


SAMPLE_LATTICES = [p for p in LATTICES if "0x" not in p.id and "x0" not in p.id] + [
    pytest.param((3.0, 4.0, 2.0, 2.0, 1, 1), {}, id="1x1"),
    pytest.param((3.0, 4.0, 2.0, -2.0, 1, 6), {"rotation_deg": 45.0}, id="1x6"),
]


@pytest.mark.parametrize("method", ["bilinear", "nearest"])
@pytest.mark.parametrize(("args", "kwargs"), SAMPLE_LATTICES)
def test_sample_is_resample_onto_one_node_lattices(args, kwargs, method):
    f = make(args, kwargs, seed=3, holes=0.2)
    f.values[f.values > 115.0] = math.inf  # infinite corners are holes too
    f.values[f.values < 85.0] = -math.inf
    pts = probe_points(f, seed=11)
    got = f.sample(pts, method)
    assert got.shape == (len(pts),)
    assert hexes(got) == hexes(sample_by_resampling(f, pts, method))


@pytest.mark.parametrize("method", ["bilinear", "nearest"])
def test_sample_in_chunks_equals_resample_onto_the_points_lattice(method):
    # 75 000 points (several passes of the chunked loop) placed as the nodes of a lattice:
    # sampling them must give what resample gives for that lattice.
    f = make((10.0, -20.0, 4.0, 3.0, 60, 50), {"rotation_deg": 17.0, "yflip": True}, seed=5, holes=0.15)
    target = qt.Lattice(-30.0, -60.0, 0.9, 0.8, 300, 250, rotation_deg=-11.0)
    x, y = Field(np.zeros((300, 250)), target).xy()
    got = f.sample(np.column_stack([x.ravel(), y.ravel()]), method)
    assert got.tobytes() == f.resample(target, method).values.tobytes()
    assert 0 < np.isnan(got).sum() < got.size


def test_sample_by_hand():
    # A plane 2 i + 3 j is reproduced exactly; the outer nodes are inside, and a point within
    # 1e-9 of a node snaps onto it; outside and non-finite points are NaN.
    lat = qt.Lattice(100, 200, 10, 20, 3, 3)
    i, j = np.meshgrid(np.arange(3.0), np.arange(3.0), indexing="ij")
    f = Field(2 * i + 3 * j, lat)
    pts = [[115, 210], [100, 200], [120, 240], [120.0000000001, 240], [125, 200], [99.99, 200], [math.nan, 200]]
    assert hexes(f.sample(pts)) == hexes([4.5, 0.0, 10.0, 10.0, math.nan, math.nan, math.nan])
    # nearest: a half rounds away from zero, to the higher index
    assert f.sample([[105, 210], [115, 230]], "nn").tolist() == [f.values[1, 1], f.values[2, 2]]
    f.values[1, 0] = np.nan
    # (0.25, 0.25) in the first cell: nearest node (0, 0) defined, corner (1, 0) a hole that
    # drops out while the other weights renormalise.
    w = [0.75 * 0.75, 0.75 * 0.25, 0.25 * 0.25]
    v = [0.0, 3.0, 5.0]
    expected = (w[0] * v[0] + w[1] * v[1] + w[2] * v[2]) / (w[0] + w[1] + w[2])
    assert f.sample([[102.5, 205]]).tolist() == [expected]
    # (0.8, 0.05): the nearest node (1, 0) is the hole, so NaN although three corners are defined.
    assert np.isnan(f.sample([[108, 201]])).all()
    assert np.isnan(f.sample([[108, 201]], "nearest")).all()


SAMPLE_BAD = [
    pytest.param([[0, 0, 0]], "bilinear", "Field.sample: points must be an (n, 2) array of x, y (got shape (1, 3))",
                 id="three-columns"),
    pytest.param([0, 0], "bilinear", "Field.sample: points must be an (n, 2) array of x, y (got shape (2,))",
                 id="one-point-flat"),
    pytest.param([[0, 0]], " Cubic ", "unknown resample method 'cubic' (expected 'bilinear' or 'nearest')",
                 id="method"),
]


@pytest.mark.parametrize(("points", "method", "message"), SAMPLE_BAD)
def test_sample_refuses(points, method, message):
    with pytest.raises(ValueError) as info:
        Field(np.zeros((4, 3)), LAT43).sample(points, method)
    assert str(info.value) == message


def test_sample_method_errors_match_the_extension():
    f = Field(np.zeros((4, 3)), LAT43)
    for method in (" Cubic ", "NEARESŦ", ""):
        with pytest.raises(ValueError) as ours:
            f.sample([[0, 0]], method)
        with pytest.raises(ValueError) as theirs:
            qt.resample_flat(f.to_flat()[0], LAT43, LAT43, method)
        assert str(ours.value) == str(theirs.value)
    for method in (" NEAREST\t", "Linear", "nN"):
        f.sample([[0, 0]], method)


def test_sample_on_an_empty_field_and_no_points():
    with pytest.raises(ValueError) as info:
        Field(np.zeros((0, 3)), qt.Lattice(0, 0, 1, 1, 0, 3)).sample([[0, 0]])
    assert str(info.value) == "Field.sample: the field has no nodes (0x3 lattice)"
    assert Field(np.zeros((4, 3)), LAT43).sample(np.empty((0, 2))).shape == (0,)
    assert Field(np.zeros((4, 3)), LAT43).sample([]).shape == (0,)


# ---- mask -------------------------------------------------------------------------------------


def inside_even_odd(ring, x, y):
    """The even-odd test written out literally, one node at a time."""
    inside = False
    j = len(ring) - 1
    for i in range(len(ring)):
        xi, yi = ring[i]
        xj, yj = ring[j]
        if (y < yi) != (y < yj):
            xs = (y - yi) * (xj - xi) / (yj - yi) + xi
            if x < xs:
                inside = not inside
        j = i
    return inside


def literal_mask(field, ring):
    x, y = field.xy()
    return np.array([[inside_even_odd(ring, x[i, j], y[i, j]) for j in range(field.shape[1])]
                     for i in range(field.shape[0])], dtype=bool).reshape(field.shape)


def star(cx, cy, r, n, seed):
    rng = np.random.default_rng(seed)
    a = np.sort(rng.uniform(0, 2 * math.pi, n))
    rr = r * rng.uniform(0.3, 1.0, n)
    return np.column_stack([cx + rr * np.cos(a), cy + rr * np.sin(a)]).tolist()


@pytest.mark.parametrize(("args", "kwargs"), LATTICES)
def test_mask_is_the_literal_even_odd_test(args, kwargs):
    f = make(args, kwargs)
    x, y = f.xy() if f.values.size else (np.zeros(1), np.zeros(1))
    cx, cy = float(np.mean(x)), float(np.mean(y))
    r = float(np.ptp(x) + np.ptp(y)) / 3 + 1.0
    rings = [star(cx, cy, r, 40, seed) for seed in range(3)]
    # A ring whose vertices and edges run through nodes, and a self-intersecting bow tie.
    if f.values.size:
        nodes = [f.lattice.node_xy(i, j) for i, j in [(0, 0), (f.shape[0] - 1, 0), (f.shape[0] - 1, f.shape[1] - 1)]]
        rings.append([list(p) for p in nodes])
        rings.append([[cx - r, cy - r], [cx + r, cy + r], [cx + r, cy - r], [cx - r, cy + r]])
    for ring in rings:
        assert np.array_equal(f.mask(ring), literal_mask(f, ring))


MASK_SHAPES = [
    pytest.param(qt.Lattice(0, 0, 1, 1, 9, 1), id="one-row"),
    pytest.param(qt.Lattice(0, 0, 1, 1, 1, 9, rotation_deg=90.0), id="one-column-rotated"),
    pytest.param(qt.Lattice(0, 0, 1, 1, 1, 1), id="one-node"),
    pytest.param(qt.Lattice(-3e5, 2e5, 0.25, 0.5, 120, 100, rotation_deg=-8.0), id="12000-nodes"),
]


@pytest.mark.filterwarnings("ignore:overflow encountered")
@pytest.mark.parametrize("lattice", MASK_SHAPES)
def test_mask_on_thin_and_larger_lattices(lattice):
    f = Field(np.zeros(f_shape := (lattice.ncol, lattice.nrow)), lattice)
    x, y = f.xy()
    cx, cy = float(x.mean()), float(y.mean())
    rings = [star(cx, cy, 40.0, 60, 4),
             [[cx - 1.0, cy - 1.0], [1e300, cy - 1.0], [cx, 1e300]],   # far vertices
             [[cx, cy], [cx + 3.0, cy], [cx, cy + 3.0]]]               # a vertex on a node
    for ring in rings:
        got = f.mask(ring)
        assert got.shape == f_shape
        assert np.array_equal(got, literal_mask(f, ring))


def test_mask_by_hand():
    # Nodes on the left and bottom edges are inside, on the right and top edges outside.
    f = Field(np.zeros((5, 5)), qt.Lattice(0, 0, 1, 1, 5, 5))
    square = [[1, 1], [3, 1], [3, 3], [1, 3]]
    expected = np.zeros((5, 5), dtype=bool)
    expected[1:3, 1:3] = True
    assert f.mask(square).tolist() == expected.tolist()
    assert f.mask(square + [square[0]]).tolist() == expected.tolist()  # closed ring: same
    assert f.mask(square[::-1]).tolist() == expected.tolist()          # orientation: same
    # Two overlapping squares traced as one ring: the overlap is outside (even-odd).
    ring = [[0.5, 0.5], [2.5, 0.5], [2.5, 2.5], [0.5, 2.5], [0.5, 0.5],
            [1.5, 1.5], [3.5, 1.5], [3.5, 3.5], [1.5, 3.5], [1.5, 1.5]]
    m = f.mask(ring)
    assert m[1, 1] and not m[2, 2] and m[3, 3] and not m[0, 0]


def test_an_empty_ring_encloses_nothing():
    # closure_outline's answer when no contour closes
    f = Field(np.zeros((4, 3)), LAT43)
    for ring in (np.empty((0, 2)), [], qt.closure_outline(f.to_nested(), LAT43, 1.0)):
        m = f.mask(ring)
        assert m.shape == (4, 3) and m.dtype == bool and not m.any()


MASK_BAD = [
    pytest.param([[0, 0], [1, 0]], "Field.mask: ring needs >= 3 vertices (got 2)", id="two-vertices"),
    pytest.param([[0, 0]], "Field.mask: ring needs >= 3 vertices (got 1)", id="one-vertex"),
    pytest.param([[0, 0, 0], [1, 0, 0], [0, 1, 0]], "Field.mask: ring must be an (n, 2) array of x, y (got shape (3, 3))",
                 id="three-columns"),
    pytest.param([[0, 0], [1, 0], [math.nan, 1]],
                 "Field.mask: row 2 of ring is not finite (x=nan, y=1.0); drop or fill it first", id="nan-vertex"),
]


@pytest.mark.parametrize(("ring", "message"), MASK_BAD)
def test_mask_refuses(ring, message):
    with pytest.raises(ValueError) as info:
        Field(np.zeros((4, 3)), LAT43).mask(ring)
    assert str(info.value) == message


# ---- resample, pickle, repr, numpy --------------------------------------------------------------


@pytest.mark.parametrize("method", ["bilinear", "nearest"])
def test_resample_is_resample_flat(method):
    f = make((0, 0, 10, 10, 30, 20), {"rotation_deg": 20.0}, holes=0.1)
    target = qt.Lattice(40, -30, 7.5, 6.0, 25, 33, rotation_deg=-75.0, yflip=True)
    g = f.resample(target, method)
    assert g.lattice is target
    buf, shape = qt.resample_flat(f.values.tobytes(), f.lattice, target, method)
    assert g.shape == shape and g.values.tobytes() == buf


@pytest.mark.parametrize(("args", "kwargs"), LATTICES)
def test_pickle_keeps_values_and_lattice_exactly(args, kwargs):
    f = make(args, kwargs, holes=0.1)
    g = pickle.loads(pickle.dumps(f))
    assert g.values.tobytes() == f.values.tobytes()
    params = ("xori", "yori", "xinc", "yinc", "ncol", "nrow", "rotation_deg", "yflip")
    assert [repr(getattr(g.lattice, k)) for k in params] == [repr(getattr(f.lattice, k)) for k in params]
    assert hexes(g.xy()[0]) == hexes(f.xy()[0])


def test_rotation_360_survives_pickling():
    lat = qt.Lattice(0, 0, 1, 1, 2, 2, rotation_deg=-1e-20)
    assert lat.rotation_deg == 360.0
    assert pickle.loads(pickle.dumps(Field(np.zeros((2, 2)), lat))).lattice.rotation_deg == 360.0


def test_repr_and_array_protocol():
    f = Field(np.array([[1.0, np.nan, 3.0]] * 4), LAT43)
    assert repr(f) == "Field(Lattice(xori=0, yori=0, xinc=25, yinc=25, ncol=4, nrow=3), defined=8/12)"
    assert np.asarray(f) is f.values
    assert float(np.nansum(f)) == 16.0


# ---- xarray --------------------------------------------------------------------------------------


@pytest.mark.parametrize(("args", "kwargs"), LATTICES)
def test_xarray_round_trip(args, kwargs):
    pytest.importorskip("xarray")
    f = make(args, kwargs, holes=0.1)
    da = f.to_xarray(name="depth")
    assert da.dims == ("col", "row") and da.name == "depth"
    assert da.attrs == {"xori": f.lattice.xori, "yori": f.lattice.yori, "xinc": f.lattice.xinc,
                        "yinc": f.lattice.yinc, "ncol": f.shape[0], "nrow": f.shape[1],
                        "rotation_deg": f.lattice.rotation_deg, "yflip": int(f.lattice.yflip)}
    x, y = f.xy()
    assert da.coords["x"].values.tobytes() == x.tobytes() and da.coords["y"].values.tobytes() == y.tobytes()
    for back in (Field.from_xarray(da), Field.from_xarray(da.transpose("row", "col"))):
        assert back.values.tobytes() == f.values.tobytes()
        assert repr(back.lattice) == repr(f.lattice)
        assert back.lattice.rotation_deg.hex() == f.lattice.rotation_deg.hex()


def test_xarray_round_trip_through_netcdf(tmp_path):
    xr = pytest.importorskip("xarray")
    pytest.importorskip("scipy")
    f = make((431000.5, 6521000.25, 25.3, 17.1, 7, 5), {"rotation_deg": 33.7, "yflip": True}, holes=0.2)
    path = tmp_path / "f.nc"
    f.to_xarray(name="z").to_netcdf(path, engine="scipy")
    with xr.open_dataarray(path, engine="scipy") as da:
        back = Field.from_xarray(da.load())
    assert back.values.tobytes() == f.values.tobytes() and repr(back.lattice) == repr(f.lattice)


def test_from_xarray_refuses_what_it_cannot_trust():
    pytest.importorskip("xarray")
    da = make((0, 0, 10, 10, 6, 5), {"rotation_deg": 10.0}).to_xarray()
    cases = [
        (da.isel(col=slice(1, 4)), "Field.from_xarray: shape (3, 5) differs from the lattice in attrs (6, 5); "
                                   "was the array sliced?"),
        (da.isel(col=slice(None, None, -1)), "Field.from_xarray: coordinates x, y are not the node positions of "
                                             "the lattice in attrs"),
        (da.drop_attrs(), "Field.from_xarray: attrs lack the lattice parameters ['xori', 'yori', 'xinc', 'yinc', "
                          "'ncol', 'nrow', 'rotation_deg', 'yflip']"),
        (da.rename(col="x_index"), "Field.from_xarray: dims must be ('col', 'row') (got ('x_index', 'row'))"),
        (da.assign_attrs(yflip=2), "Field.from_xarray: attribute yflip must be 0 or 1 (got 2)"),
    ]
    for bad, message in cases:
        with pytest.raises(ValueError) as info:
            Field.from_xarray(bad)
        assert str(info.value) == message


@pytest.mark.parametrize("call", ["to_xarray", "from_xarray"])
def test_xarray_missing_names_the_extra(monkeypatch, call):
    monkeypatch.setitem(sys.modules, "xarray", None)
    f = Field(np.zeros((4, 3)), LAT43)
    with pytest.raises(ImportError) as info:
        f.to_xarray() if call == "to_xarray" else Field.from_xarray(object())
    assert str(info.value) == f'Field.{call} needs xarray: pip install "quarntools[io]"'


def test_to_xarray_shares_the_values():
    pytest.importorskip("xarray")
    f = Field(np.zeros((4, 3)), LAT43)
    f.to_xarray()[1, 2] = 7.5
    assert f.values[1, 2] == 7.5
