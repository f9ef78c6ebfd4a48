"""quarntools.fields: arrays in, Fields out, the extension's bits."""
import math

import pytest

np = pytest.importorskip("numpy")

import quarntools as qt  # noqa: E402
from quarntools import Field, fields  # noqa: E402

LATTICES = [
    pytest.param((1000.0, 2000.0, 25.0, 25.0, 24, 18), {}, id="axis-aligned"),
    pytest.param((431000.5, 6521000.25, 30.0, 20.0, 21, 17), {"rotation_deg": 33.7}, id="rotated"),
    pytest.param((1200.0, 900.0, 25.0, 35.0, 19, 23), {"rotation_deg": -120.0, "yflip": True}, id="rotated-flipped"),
    pytest.param((1600.0, 1500.0, -30.0, 25.0, 20, 20), {"yflip": True}, id="negative-xinc-flipped"),
    pytest.param((1000.0, 2000.0, 25.0, 25.0, 0, 9), {}, id="0x9"),
    pytest.param((1000.0, 2000.0, 25.0, 25.0, 9, 0), {"rotation_deg": 10.0}, id="9x0"),
]

VG = qt.Variogram("spherical", 0.05, 1.0, 250.0)


def data(lat, n, seed):
    """Rows around the lattice's footprint (some outside it)."""
    rng = np.random.default_rng(seed)
    fi = rng.uniform(-2, max(lat.ncol, 1) + 2, n)
    fj = rng.uniform(-2, max(lat.nrow, 1) + 2, n)
    xy = np.array([lat.intrinsic_to_world(a, b) for a, b in zip(fi.tolist(), fj.tolist())]).reshape(n, 2)
    return np.column_stack([xy, rng.normal(20.0, 3.0, n)])


def outcome(call):
    """A call's result, or the type and text of the error it raises."""
    try:
        return ("ok", call())
    except Exception as e:  # noqa: BLE001 - compared as data
        return ("error", type(e), str(e))


def same(ours, theirs):
    """Field(s) from `ours` against the extension's flat result."""
    if ours[0] == "error" or theirs[0] == "error":
        assert ours == theirs
        return
    got, flat = ours[1], theirs[1]
    if isinstance(got, tuple):  # local kriging: estimate and variance
        assert [f.values.tobytes() for f in got] == list(flat[:2])
        assert all(f.shape == flat[2] for f in got)
    else:
        assert got.values.tobytes() == flat[0] and got.shape == flat[1]


@pytest.mark.parametrize(("args", "kwargs"), LATTICES)
def test_sgs(args, kwargs):
    lat = qt.Lattice(*args, **kwargs)
    rows = data(lat, 12, 1)
    for vg in (VG, qt.AnisotropicVariogram("exp", major=300, minor=120, vertical=10, azimuth=30)):
        same(outcome(lambda: fields.sgs(rows, lat, vg, 8, 300.0, 42)),
             outcome(lambda: qt.sgs_flat(rows.tolist(), lat, vg, 8, 300.0, 42)))


@pytest.mark.parametrize(("args", "kwargs"), LATTICES)
def test_local_kriging(args, kwargs):
    lat = qt.Lattice(*args, **kwargs)
    rows = data(lat, 40, 2)
    same(outcome(lambda: fields.local_kriging(rows, lat, VG, 12, 200.0)),
         outcome(lambda: qt.local_kriging_grid_flat(rows.tolist(), lat, VG, 12, 200.0)))


@pytest.mark.parametrize(("args", "kwargs"), LATTICES)
def test_surface_generators(args, kwargs):
    lat = qt.Lattice(*args, **kwargs)
    same(outcome(lambda: fields.synth_isochore(lat, 30.0, 5.0, VG, 7)),
         outcome(lambda: qt.synth_isochore_flat(lat, 30.0, 5.0, VG, 7)))
    same(outcome(lambda: fields.synth_dome_surface(lat, 120.0, 1.5, 20.0, 4.0, VG, 7)),
         outcome(lambda: qt.synth_dome_surface_flat(lat, 120.0, 1.5, 20.0, 4.0, VG, 7)))
    same(outcome(lambda: fields.synth_trend_map(lat, VG, 9)), outcome(lambda: qt.synth_trend_map_flat(lat, VG, 9)))
    iso = fields.synth_isochore(lat, 30.0, 5.0, VG, 3) if lat.ncol * lat.nrow else Field(
        np.zeros((lat.ncol, lat.nrow)), lat)
    for rho in (0.7, -1.0, 1.5):
        same(outcome(lambda: fields.synth_trend_map(lat, VG, 9, (iso, rho))),
             outcome(lambda: qt.synth_trend_map_flat(lat, VG, 9, (iso.to_nested(), rho))))


@pytest.mark.parametrize(("args", "kwargs"), LATTICES)
def test_resample(args, kwargs):
    lat = qt.Lattice(*args, **kwargs)
    src = fields.synth_isochore(qt.Lattice(900.0, 1900.0, 40.0, 40.0, 20, 20, rotation_deg=5.0), 30.0, 5.0, VG, 1)
    src.values[3:6, 4:9] = np.nan
    for method in ("bilinear", "nearest"):
        same(outcome(lambda: fields.resample(src, lat, method)),
             outcome(lambda: qt.resample_flat(src.to_flat()[0], src.lattice, lat, method)))
        # and with the lattice as the source (0 x n sources are refused alike)
        f = Field(np.arange(lat.ncol * lat.nrow, dtype=float).reshape(lat.ncol, lat.nrow), lat)
        same(outcome(lambda: fields.resample(f, src.lattice, method)),
             outcome(lambda: qt.resample_flat(f.to_flat()[0], lat, src.lattice, method)))


@pytest.mark.parametrize(("args", "kwargs"), LATTICES)
def test_closure_outline_and_tops(args, kwargs):
    lat = qt.Lattice(*args, **kwargs)
    dome = fields.synth_dome_surface(lat, 120.0, 1.3, 5.0, 1.0, VG, 7)
    for level in (60.0, 100.0, 1e9):
        ours = outcome(lambda: fields.closure_outline(dome, level))
        theirs = outcome(lambda: qt.closure_outline(dome.to_nested(), lat, level))
        if theirs[0] == "ok":
            assert ours[1].dtype == np.float64 and ours[1].shape == (len(theirs[1]), 2)
            ours = ("ok", ours[1].tolist())
        assert ours == theirs
    wells = data(lat, 15, 5)[:, :2]
    residual = qt.Sampler.normal(0.0, 5.0)
    got = fields.tops_from_surface(dome, wells, residual, 11)
    ref = qt.tops_from_surface(dome.to_nested(), lat, wells.tolist(), residual, 11)
    assert [v.hex() for v in got.tolist()] == [v.hex() for v in ref]


def test_closure_outline_is_empty_as_zero_rows():
    lat = qt.Lattice(0, 0, 10, 10, 5, 5)
    ring = fields.closure_outline(Field(np.zeros((5, 5)), lat), 1.0)
    assert ring.shape == (0, 2) and ring.dtype == np.float64


def test_dome_closure_mask_by_hand():
    # A dome with no tilt and no noise: the closure at a level is where the relief exceeds it,
    # and the nodes the ring encloses are the nodes above the level (away from the contour).
    lat = qt.Lattice(0, 0, 50, 50, 41, 41)
    dome = fields.synth_dome_surface(lat, 100.0, 1.0, 0.0, 0.0, VG, 1)
    ring = fields.closure_outline(dome, 50.0)
    inside = dome.mask(ring)
    above = dome.values > 50.0
    assert inside.sum() > 100
    assert np.array_equal(inside, above)
    assert float(np.nanmax(dome.values[inside])) == float(np.nanmax(dome.values))


# ---- refused input --------------------------------------------------------------------------

LAT = qt.Lattice(0, 0, 10, 10, 5, 5)
ROWS_BAD = [
    pytest.param([[1, 2, 3], [4, math.nan, 6], [7, 8, math.inf]],
                 "row 1 of coords is not finite (x=4.0, y=nan, z=6.0); drop or fill it first", id="nan-y"),
    pytest.param([[1, 2, 3], [4, 5, 6], [7, 8, -math.inf]],
                 "row 2 of coords is not finite (x=7.0, y=8.0, z=-inf); drop or fill it first", id="inf-z"),
    pytest.param([[math.nan, 2, 3]], "row 0 of coords is not finite (x=nan, y=2.0, z=3.0); drop or fill it first",
                 id="nan-x"),
    pytest.param([[1, 2]], "coords must be an (n, 3) array of x, y, z (got shape (1, 2))", id="two-columns"),
    pytest.param([1, 2, 3], "coords must be an (n, 3) array of x, y, z (got shape (3,))", id="one-row-flat"),
]


@pytest.mark.parametrize(("rows", "message"), ROWS_BAD)
@pytest.mark.parametrize("who", ["sgs", "local_kriging"])
def test_non_finite_or_misshapen_rows_are_refused(rows, message, who):
    with pytest.raises(ValueError) as info:
        if who == "sgs":
            fields.sgs(rows, LAT, VG, 8, 100.0, 1)
        else:
            fields.local_kriging(rows, LAT, VG, 8, 100.0)
    assert str(info.value) == f"{who}: {message}"


def test_one_nan_value_no_longer_spoils_the_kriged_grid():
    # The extension takes the NaN row and returns NaN wherever it enters a neighbourhood.
    rows = data(qt.Lattice(0, 0, 10, 10, 40, 40), 50, 3)
    rows[17, 2] = np.nan
    est, _, _ = qt.local_kriging_grid_flat(rows.tolist(), qt.Lattice(0, 0, 10, 10, 40, 40), VG, 8, 150.0)
    assert np.isnan(np.frombuffer(est, "<f8")).sum() > 100
    with pytest.raises(ValueError, match=r"^local_kriging: row 17 of coords is not finite"):
        fields.local_kriging(rows, qt.Lattice(0, 0, 10, 10, 40, 40), VG, 8, 150.0)


def test_empty_rows_reach_the_extension():
    with pytest.raises(ValueError) as info:
        fields.local_kriging(np.empty((0, 3)), LAT, VG, 8, 100.0)
    assert str(info.value) == "empty input: LocalKriging::krige: no points to grid"


def test_wells_must_be_finite():
    dome = Field(np.zeros((5, 5)), LAT)
    with pytest.raises(ValueError) as info:
        fields.tops_from_surface(dome, [[1, 1], [math.nan, 2]], qt.Sampler.normal(0, 1), 1)
    assert str(info.value) == ("tops_from_surface: row 1 of well_xy is not finite (x=nan, y=2.0); "
                               "drop or fill it first")


def test_fields_are_required_where_a_field_is_taken():
    for call, who in [(lambda: fields.closure_outline(np.zeros((5, 5)), 1.0), "closure_outline"),
                      (lambda: fields.resample([[0.0]], LAT), "resample"),
                      (lambda: fields.tops_from_surface(None, [[0, 0]], qt.Sampler.normal(0, 1), 1),
                       "tops_from_surface"),
                      (lambda: fields.synth_trend_map(LAT, VG, 1, (np.zeros((5, 5)), 0.5)), "synth_trend_map")]:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value).startswith(f"{who}: field must be a quarntools.Field (got ")


def test_trend_map_refuses_a_field_on_another_lattice():
    other = qt.Lattice(5, 0, 10, 10, 5, 5)
    with pytest.raises(ValueError) as info:
        fields.synth_trend_map(LAT, VG, 1, (Field(np.zeros((5, 5)), other), 0.5))
    assert str(info.value) == (
        "synth_trend_map: correlate_with field lies on Lattice(xori=5, yori=0, xinc=10, yinc=10, ncol=5, nrow=5), "
        "not on Lattice(xori=0, yori=0, xinc=10, yinc=10, ncol=5, nrow=5); resample it onto the lattice first")


def test_generators_refuse_a_lattice_a_field_cannot_hold():
    with pytest.raises(ValueError) as info:
        fields.synth_isochore(qt.Lattice(0, 0, 0.0, 10, 5, 5), 30.0, 5.0, VG, 1)
    assert str(info.value) == "synth_isochore: lattice spacing must be finite and non-zero (got xinc=0.0, yinc=10.0)"


def random_lattice(seed):
    """A seeded random lattice: any rotation, either flip, spacings of either sign, and node
    counts from 0 up."""
    rng = np.random.default_rng(seed)
    sign = rng.choice([-1.0, 1.0], 2)
    counts = [int(n) for n in rng.integers(1, 22, 2)]
    if seed % 4 == 3:  # every fourth lattice has no node: 0 x n or n x 0
        counts[seed % 8 == 7] = 0
    return qt.Lattice(float(rng.uniform(-1e5, 1e6)), float(rng.uniform(-1e5, 7e6)),
                      float(sign[0] * rng.uniform(5, 60)), float(sign[1] * rng.uniform(5, 60)), *counts,
                      rotation_deg=float(rng.uniform(-720, 720)), yflip=bool(rng.integers(0, 2)))


@pytest.mark.parametrize("seed", range(8))
def test_every_function_on_random_lattices(seed):
    lat = random_lattice(seed)
    rows = data(lat, 25, seed)
    same(outcome(lambda: fields.sgs(rows, lat, VG, 8, 400.0, seed)),
         outcome(lambda: qt.sgs_flat(rows.tolist(), lat, VG, 8, 400.0, seed)))
    same(outcome(lambda: fields.local_kriging(rows, lat, VG, 8, 400.0)),
         outcome(lambda: qt.local_kriging_grid_flat(rows.tolist(), lat, VG, 8, 400.0)))
    same(outcome(lambda: fields.synth_isochore(lat, 30.0, 5.0, VG, seed)),
         outcome(lambda: qt.synth_isochore_flat(lat, 30.0, 5.0, VG, seed)))
    same(outcome(lambda: fields.synth_trend_map(lat, VG, seed)), outcome(lambda: qt.synth_trend_map_flat(lat, VG, seed)))
    same(outcome(lambda: fields.synth_dome_surface(lat, 100.0, 1.2, 10.0, 2.0, VG, seed)),
         outcome(lambda: qt.synth_dome_surface_flat(lat, 100.0, 1.2, 10.0, 2.0, VG, seed)))
    # a second lattice over the same ground, turned and flipped the other way
    other = qt.Lattice(lat.xori + 30.0, lat.yori - 20.0, 7.0, -9.0, 15, 12, rotation_deg=lat.rotation_deg + 33.0,
                       yflip=not lat.yflip)
    f = Field(np.random.default_rng(seed).normal(size=(lat.ncol, lat.nrow)), lat)
    for method in ("bilinear", "nearest"):
        same(outcome(lambda: fields.resample(f, other, method)),
             outcome(lambda: qt.resample_flat(f.to_flat()[0], lat, other, method)))
    x, y = f.xy()
    assert [(a.hex(), b.hex()) for a, b in zip(x.ravel().tolist(), y.ravel().tolist())] == [
        tuple(v.hex() for v in lat.node_xy(i, j)) for i in range(lat.ncol) for j in range(lat.nrow)]
    if f.values.size:
        level = float(np.median(f.values))
        ring = outcome(lambda: fields.closure_outline(f, level))
        theirs = outcome(lambda: qt.closure_outline(f.to_nested(), lat, level))
        assert (ring[0], ring[1].tolist() if ring[0] == "ok" else ring[1:]) == (
            theirs[0], theirs[1] if theirs[0] == "ok" else theirs[1:])
