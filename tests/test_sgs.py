"""Sequential Gaussian simulation: sgs and sgs_flat (the unconditional path is reached
through synth_dome_surface with no relief and no tilt, which returns its noise as is)."""
import math
import statistics
import struct
import threading

import numpy as np
import pytest

import quarntools as qt

SPH = qt.Variogram("spherical", 0.0, 1.0, 10.0)
LAT = qt.Lattice(0, 0, 1, 1, 12, 9)
DATA = [[1, 1, 3.0], [10, 2, 7.5], [5, 7, 1.0], [8, 5, 4.25], [2, 6, 9.0]]
SGSPARAMS = "invalid argument: SgsParams: need max_neighbours >= 1 and radius > 0"
QUANTILES = [statistics.NormalDist().inv_cdf((k + 0.5) / 4000) for k in range(4000)]


def flat(result):
    data, (ncol, nrow) = result
    return np.frombuffer(data, "<f8").reshape(ncol, nrow)


def nested_bytes(field):
    return b"".join(struct.pack("<%dd" % len(col), *col) for col in field)


def score_space_data():
    """Values equal to their own normal scores, placed off the lattice: they do not
    condition any node, and the back-transform is the identity inside their range."""
    return [[-1e6, -1e6, q] for q in QUANTILES]


# ---- errors ---------------------------------------------------------------------

ERRORS = [
    pytest.param((DATA, LAT, LAT, 8, 5.0, 1), "expected Variogram or AnisotropicVariogram", id="variogram-type"),
    pytest.param((DATA, LAT, None, 0, 5.0, 1), "expected Variogram or AnisotropicVariogram",
                 id="variogram-before-neighbourhood"),
    pytest.param((DATA, LAT, SPH, 0, 5.0, 1), SGSPARAMS, id="max-neighbours-0"),
    pytest.param((DATA, LAT, SPH, 8, 0.0, 1), SGSPARAMS, id="radius-0"),
    pytest.param((DATA, LAT, SPH, 8, -1.0, 1), SGSPARAMS, id="radius-negative"),
    pytest.param((DATA, LAT, SPH, 8, math.nan, 1), SGSPARAMS, id="radius-nan"),
    pytest.param((DATA, LAT, SPH, 8, math.inf, 1), SGSPARAMS, id="radius-inf"),
    pytest.param(([], LAT, SPH, 0, 5.0, 1), SGSPARAMS, id="params-before-empty-data"),
    pytest.param(([], LAT, SPH, 8, 5.0, 1), "empty input: sgs: no conditioning data", id="no-data"),
    pytest.param((DATA + [[3, 3, math.nan]], LAT, SPH, 8, 5.0, 1),
                 "invalid argument: sgs: conditioning values must be finite", id="nan-value"),
    pytest.param(([[1e9, 1e9, math.inf]], LAT, SPH, 8, 5.0, 1),
                 "invalid argument: sgs: conditioning values must be finite", id="inf-value-off-lattice"),
    pytest.param((DATA, qt.Lattice(0, 0, 1, 1, 2**40, 2**40), SPH, 8, 5.0, 1),
                 "invalid argument: sgs: lattice has too many nodes", id="too-many-nodes"),
    pytest.param((DATA, qt.Lattice(0, 0, 1, 1, 2**63, 4), SPH, 8, 5.0, 1),
                 "invalid argument: sgs: lattice has too many nodes", id="node-count-overflows"),
]


@pytest.mark.parametrize("fn", [qt.sgs, qt.sgs_flat], ids=["nested", "flat"])
@pytest.mark.parametrize(("args", "message"), ERRORS)
def test_sgs_errors(fn, args, message):
    with pytest.raises(ValueError) as err:
        fn(*args)
    assert str(err.value) == message
    assert not getattr(err.value, "__notes__", None)


@pytest.mark.parametrize(
    ("args", "exc", "message", "note"),
    [
        pytest.param(([[1, 2]], LAT, SPH, 8, 5.0, 1), ValueError, "expected a sequence of length 3 (got 2)",
                     "coords", id="short-row"),
        pytest.param((DATA, LAT, SPH, 8, 5.0, -1), OverflowError, None, "seed", id="negative-seed"),
        pytest.param((DATA, LAT, SPH, 2.0, 5.0, 1), TypeError, None, "max_neighbours", id="float-count"),
        pytest.param((DATA, None, SPH, 8, 5.0, 1), TypeError, "'None' is not an instance of 'Lattice'", "lattice",
                     id="lattice-type"),
    ],
)
def test_sgs_conversion_errors(args, exc, message, note):
    with pytest.raises(exc) as err:
        qt.sgs(*args)
    if message is not None:
        assert str(err.value) == message
    assert err.value.__notes__ == [f"while processing '{note}'"]


# ---- conditioning ---------------------------------------------------------------------

@pytest.mark.parametrize(
    "lattice",
    [
        pytest.param(LAT, id="axis-aligned"),
        pytest.param(qt.Lattice(431000, 6521000, 25, 25, 12, 9, 30.0), id="rotated"),
        pytest.param(qt.Lattice(-50, 80, 10, 20, 12, 9, 300.0, True), id="rotated-flipped"),
    ],
)
def test_sgs_honours_every_datum(lattice):
    data = [[*lattice.node_xy(i, j), z] for i, j, z in DATA]
    field = qt.sgs(data, lattice, qt.Variogram("exponential", 0.1, 0.9, 4 * lattice.xinc), 8, 6 * lattice.xinc, 5)
    for i, j, z in DATA:
        assert field[i][j] == z
    values = [v for col in field for v in col]
    assert min(values) >= 1.0 and max(values) <= 9.0


def test_sgs_single_datum_fills_the_field():
    assert qt.sgs([[3, 4, 2.5]], LAT, SPH, 8, 5.0, 9) == [[2.5] * 9 for _ in range(12)]


def test_sgs_duplicate_node_keeps_first_as_known_point_and_last_as_value():
    base = [[1, 1, 3.0], [10, 2, 7.5], [5, 7, 1.0]]
    on_node = qt.sgs(base + [[4, 4, 2.0], [4.2, 3.9, 6.0]], LAT, SPH, 8, 5.0, 3)
    # the same multiset of values with the later one off the lattice: the same transform,
    # the same known points, the same path and draws
    off = qt.sgs(base + [[4, 4, 2.0], [1e9, 0, 6.0]], LAT, SPH, 8, 5.0, 3)
    assert on_node[4][4] == 6.0 and off[4][4] == 2.0
    on_node[4][4] = off[4][4]
    assert on_node == off


@pytest.mark.parametrize(
    ("x", "snapped_col"),
    [
        pytest.param(-0.4, 0, id="within-half-cell-before-first-column"),
        pytest.param(0.5, 1, id="half-rounds-away-from-zero"),
        pytest.param(1.5, 2, id="one-and-a-half-to-two"),
        pytest.param(11.49, 11, id="last-column"),
    ],
)
def test_sgs_snapping(x, snapped_col):
    field = qt.sgs(DATA + [[x, 4, 5.5]], LAT, SPH, 8, 5.0, 11)
    assert field[snapped_col][4] == 5.5


@pytest.mark.parametrize(
    "point",
    [
        pytest.param([-0.5, 4], id="half-cell-before-first-column"),
        pytest.param([11.5, 4], id="half-cell-after-last-column"),
        pytest.param([3, -0.5], id="half-cell-before-first-row"),
        pytest.param([math.nan, 4], id="nan-position"),
        pytest.param([math.inf, 4], id="infinite-position"),
    ],
)
def test_sgs_rows_off_the_lattice_only_shape_the_transform(point):
    dropped = qt.sgs_flat(DATA + [[*point, 5.5]], LAT, SPH, 8, 5.0, 11)
    far = qt.sgs_flat(DATA + [[1e12, -1e12, 5.5]], LAT, SPH, 8, 5.0, 11)
    assert dropped == far
    assert dropped != qt.sgs_flat(DATA, LAT, SPH, 8, 5.0, 11)


def test_sgs_zero_spacing_drops_every_datum():
    lat = qt.Lattice(0, 0, 0, 1, 3, 4)
    field = flat(qt.sgs_flat([[0, 0, 1.0], [0, 2, 2.0]], lat, SPH, 4, 2.0, 1))
    assert field.shape == (3, 4)
    assert ((field >= 1.0) & (field <= 2.0)).all()


def test_sgs_empty_lattice():
    assert qt.sgs(DATA, qt.Lattice(0, 0, 1, 1, 0, 5), SPH, 8, 5.0, 1) == []
    assert qt.sgs_flat(DATA, qt.Lattice(0, 0, 1, 1, 3, 0), SPH, 8, 5.0, 1) == (b"", (3, 0))


# ---- reproducibility ----------------------------------------------------------------------

def test_sgs_same_seed_same_bits_nested_and_flat():
    a = qt.sgs(DATA, LAT, SPH, 8, 5.0, 123)
    b = qt.sgs(DATA, LAT, SPH, 8, 5.0, 123)
    data, shape = qt.sgs_flat(DATA, LAT, SPH, 8, 5.0, 123)
    assert [[v.hex() for v in col] for col in a] == [[v.hex() for v in col] for col in b]
    assert shape == (12, 9)
    assert data == nested_bytes(a)
    assert qt.sgs_flat(DATA, LAT, SPH, 8, 5.0, 124)[0] != data


@pytest.mark.parametrize("seed", [0, 2**64 - 1], ids=["seed-0", "seed-max"])
def test_sgs_extreme_seeds(seed):
    assert qt.sgs_flat(DATA, LAT, SPH, 8, 5.0, seed) == qt.sgs_flat(DATA, LAT, SPH, 8, 5.0, seed)


def test_sgs_pinned_bits():
    # guards the stream order (shuffle draws, then one normal per node) and the kriging sums
    field = qt.sgs([[0, 0, 1.0], [3, 1, 2.0], [1, 2, 4.0]], qt.Lattice(0, 0, 1, 1, 4, 3), SPH, 4, 3.0, 42)
    assert [[v.hex() for v in col] for col in field] == PINNED


def test_sgs_on_threads_matches_serial():
    lat = qt.Lattice(0, 0, 1, 1, 60, 50)
    serial = qt.sgs_flat(DATA, lat, SPH, 12, 8.0, 77)
    results = [None, None]

    def run(k):
        results[k] = qt.sgs_flat(DATA, lat, SPH, 12, 8.0, 77)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [serial, serial]


def test_sgs_releases_the_lock():
    # while a simulation runs on a thread, this thread keeps executing Python code
    lat = qt.Lattice(0, 0, 1, 1, 120, 120)
    done = threading.Event()
    ticks = 0

    def run():
        qt.sgs_flat(DATA, lat, SPH, 24, 12.0, 1)
        done.set()

    t = threading.Thread(target=run)
    t.start()
    while not done.is_set():
        ticks += 1
    t.join()
    assert ticks > 1000


def test_sgs_error_raised_without_the_lock_reads_the_same():
    with pytest.raises(ValueError) as err:
        qt.sgs_flat([[0, 0, math.nan]], LAT, SPH, 8, 5.0, 1)
    assert str(err.value) == "invalid argument: sgs: conditioning values must be finite"


# ---- the neighbourhood -----------------------------------------------------------------------

def test_sgs_radius_below_spacing_makes_independent_draws():
    # no node sees a known point: the variogram plays no part at all
    data = score_space_data()
    a = qt.sgs_flat(data, LAT, SPH, 8, 0.9, 5)
    b = qt.sgs_flat(data, LAT, qt.Variogram("gaussian", 0.3, 2.0, 50.0), 8, 0.9, 5)
    assert a == b
    field = flat(qt.sgs_flat(data, qt.Lattice(0, 0, 1, 1, 100, 100), SPH, 8, 0.9, 5))
    lag1 = np.corrcoef(field[:-1].ravel(), field[1:].ravel())[0, 1]
    assert abs(lag1) < 0.05
    assert abs(field.mean()) < 0.05 and abs(field.var() - 1.0) < 0.05


@pytest.mark.parametrize("max_neighbours", [1, 3, 50, 2**64 - 1], ids=["one", "three", "fifty", "u64-max"])
def test_sgs_any_neighbour_count(max_neighbours):
    field = flat(qt.sgs_flat(DATA, LAT, SPH, max_neighbours, 5.0, 8))
    assert ((field >= 1.0) & (field <= 9.0)).all()


def test_sgs_huge_radius_uses_the_whole_lattice():
    field = flat(qt.sgs_flat(DATA, LAT, SPH, 4, 1e300, 8))
    assert ((field >= 1.0) & (field <= 9.0)).all()


def lag_correlation(field, di, dj):
    a = field[: field.shape[0] - di, : field.shape[1] - dj]
    b = field[di:, dj:]
    return np.corrcoef(a.ravel(), b.ravel())[0, 1]


def test_sgs_anisotropy_follows_the_azimuth():
    lat = qt.Lattice(0, 0, 1, 1, 80, 80)
    east = qt.AnisotropicVariogram("spherical", 30.0, 4.0, 1.0, 90.0)
    field = flat(qt.sgs_flat(score_space_data(), lat, east, 16, 12.0, 31))
    assert lag_correlation(field, 5, 0) > 0.5      # along x (east, the major axis)
    assert lag_correlation(field, 0, 5) < 0.15     # across it
    north = qt.AnisotropicVariogram("spherical", 30.0, 4.0, 1.0, 0.0)
    field = flat(qt.sgs_flat(score_space_data(), lat, north, 16, 12.0, 31))
    assert lag_correlation(field, 0, 5) > 0.5
    assert lag_correlation(field, 5, 0) < 0.15


# ---- statistics ----------------------------------------------------------------------------

def model_gamma(h, a):
    r = h / a
    return 1.0 if r >= 1.0 else 1.5 * r - 0.5 * r ** 3


@pytest.mark.parametrize(
    "make",
    [
        pytest.param(lambda lat, vg, seed: flat(qt.sgs_flat(score_space_data(), lat, vg, 24, 9.0, seed)),
                     id="sgs-in-score-space"),
        pytest.param(lambda lat, vg, seed: flat(qt.synth_dome_surface_flat(lat, 0.0, 1.0, 0.0, 1.0, vg, seed)),
                     id="unconditional"),
    ],
)
def test_unconditional_field_statistics(make):
    lat = qt.Lattice(0, 0, 1, 1, 120, 120)
    vg = qt.Variogram("spherical", 0.0, 1.0, 6.0)
    field = make(lat, vg, 2024)
    # about (120 / 6)^2 = 400 independent patches: the mean is within ~3 standard errors
    assert abs(field.mean()) < 0.15
    assert abs(field.var() - 1.0) < 0.15
    # experimental variogram of a sample of nodes against the model's shape
    rng = np.random.default_rng(5)
    pick = rng.choice(field.size, 1500, replace=False)
    cols, rows = np.divmod(pick, field.shape[1])
    coords = [[float(c), float(r), float(field[c, r])] for c, r in zip(cols, rows)]
    ev = qt.experimental_variogram(coords, 1.0, 10)
    for h, g, n in zip(ev.lags, ev.semivariances, ev.counts):
        if n >= 200:
            assert abs(g - model_gamma(h, 6.0)) < 0.2, (h, g)
    assert ev.semivariances[0] < 0.5 < ev.semivariances[-1]


PINNED = [
    ["0x1.0000000000000p+0", "0x1.0000000000000p+0", "0x1.1ae10fd882ec9p+1"],
    ["0x1.5e2c8b658c2c0p+0", "0x1.d2cbd0e7c9eddp+0", "0x1.0000000000000p+2"],
    ["0x1.d575130ee5f5dp+0", "0x1.327c7ae25abb1p+1", "0x1.ff3a1fe61edb8p+0"],
    ["0x1.77ca83841ff72p+1", "0x1.0000000000000p+1", "0x1.c134dcbc2583cp+1"],
]
