"""Variogram models, the experimental variogram and the fit."""

import math
import random
import threading

import pytest

import quarntools._quarntools as qt

MODEL_SUFFIX = " (expected 'nugget', 'spherical', 'exponential', or 'gaussian')"


def sph(h, a):
    r = h / a
    return 1.0 if r >= 1.0 else 1.5 * r - 0.5 * (r * r * r)


# ---- model names ------------------------------------------------------------

# Names go through the gamma of an isotropic AnisotropicVariogram at h = 50, range 100,
# nugget 0.1, sill 0.9: the shapes differ there, so a wrong parse shows.
SHAPE_AT_50 = {
    "nugget": 0.1,
    "spherical": 0.1 + 0.9 * sph(50.0, 100.0),
    "exponential": 0.1 + 0.9 * (1.0 - math.exp(-3.0 * 50.0 / 100.0)),
    "gaussian": 0.1 + 0.9 * (1.0 - math.exp(-3.0 * (0.5 * 0.5))),
}

MODEL_NAMES = [
    pytest.param("nugget", "nugget", id="nugget"),
    pytest.param(" NUGGET\t", "nugget", id="nugget-padded-upper"),
    pytest.param("Spherical", "spherical", id="Spherical"),
    pytest.param(" SPH ", "spherical", id="sph-padded-upper"),
    pytest.param("sph", "spherical", id="sph"),
    pytest.param("exp", "exponential", id="exp"),
    pytest.param("Exponential", "exponential", id="Exponential"),
    pytest.param("gauss", "gaussian", id="gauss"),
    pytest.param("\u2003GAUSSIAN\u00a0", "gaussian", id="gaussian-unicode-space"),
]


@pytest.mark.parametrize(("name", "shape"), MODEL_NAMES)
def test_model_names(name, shape):
    v = qt.AnisotropicVariogram.isotropic(name, 0.1, 0.9, 100.0)
    assert v.gamma_offset(50.0, 0.0) == SHAPE_AT_50[shape]


UNKNOWN_MODELS = [
    pytest.param("linear", "linear", id="linear"),
    pytest.param(" Linear ", "linear", id="trimmed-lowered"),
    pytest.param("", "", id="empty"),
    pytest.param("SPHÉRICAL", "sphÉrical", id="only-ascii-lowered"),
    pytest.param("@AMZ[`amz{", "@amz[`amz{", id="exactly-a-to-z-lowered"),
]

CONSTRUCTORS = [
    pytest.param(lambda m: qt.Variogram(m, 0.0, 1.0, 10.0), id="Variogram"),
    pytest.param(lambda m: qt.AnisotropicVariogram(m, 1.0, 1.0, 1.0, 0.0), id="AnisotropicVariogram"),
    pytest.param(lambda m: qt.AnisotropicVariogram.isotropic(m, 0.0, 1.0, 1.0), id="isotropic"),
    pytest.param(lambda m: qt.Variogram.fit(m, qt.experimental_variogram([[0, 0, 1], [1, 0, 2]], 1.0, 2)),
                 id="fit"),
]


@pytest.mark.parametrize("make", CONSTRUCTORS)
@pytest.mark.parametrize(("name", "key"), UNKNOWN_MODELS)
def test_unknown_model(make, name, key):
    with pytest.raises(ValueError) as err:
        make(name)
    assert str(err.value) == f"unknown variogram model '{key}'" + MODEL_SUFFIX


def test_model_parsed_before_numbers():
    with pytest.raises(ValueError) as err:
        qt.Variogram("linear", math.nan, -1.0, 0.0)
    assert str(err.value) == "unknown variogram model 'linear'" + MODEL_SUFFIX


# ---- validation ---------------------------------------------------------------

V = "invalid argument: variogram: "
VARIOGRAM_ERRORS = [
    pytest.param(("sph", math.nan, -1.0, 0.0), V + "nugget, sill and range must be finite", id="nan-first"),
    pytest.param(("sph", 0.0, 1.0, math.inf), V + "nugget, sill and range must be finite", id="inf-range"),
    pytest.param(("sph", -1.0, 1.0, 0.0), V + "nugget and sill must be non-negative", id="neg-nugget"),
    pytest.param(("exp", 1.0, -0.5, 1.0), V + "nugget and sill must be non-negative", id="neg-sill"),
    pytest.param(("nugget", 0.0, 1.0, 10.0),
                 V + "the Nugget model uses only its nugget (sill is ignored), so nugget must be positive",
                 id="nugget-zero-with-sill"),
    pytest.param(("nugget", 0.5, 0.0, 0.0), V + "range must be positive", id="nugget-range-zero"),
    pytest.param(("spherical", 0.0, 0.0, 10.0), V + "total sill (nugget + sill) must be positive",
                 id="total-sill"),
    pytest.param(("gauss", 0.0, 1.0, -3.0), V + "range must be positive", id="neg-range"),
]


@pytest.mark.parametrize(("args", "message"), VARIOGRAM_ERRORS)
def test_variogram_errors(args, message):
    with pytest.raises(ValueError) as err:
        qt.Variogram(*args)
    assert str(err.value) == message


A = "invalid argument: anisotropic variogram: "
ANISO_ERRORS = [
    pytest.param(("sph", 1, 1, 1, math.nan), {}, A + "nugget, sill, ranges and azimuth must be finite",
                 id="nan-azimuth"),
    pytest.param(("sph", 1, 1, math.inf, 0), {"nugget": -1}, A + "nugget, sill, ranges and azimuth must be finite",
                 id="inf-vertical-first"),
    pytest.param(("sph", 1, 1, 1, 0), {"sill": -1}, A + "nugget and sill must be non-negative", id="neg-sill"),
    pytest.param(("nugget", 1, 1, 1, 0), {},
                 A + "the Nugget model uses only its nugget (sill is ignored), so nugget must be positive",
                 id="nugget-default-zero"),
    pytest.param(("exp", 1, 1, 1, 0), {"sill": 0.0}, A + "total sill (nugget + sill) must be positive",
                 id="total-sill"),
    pytest.param(("exp", 1, 0, 1, 0), {}, A + "major, minor and vertical ranges must be positive", id="minor-0"),
    pytest.param(("exp", 1, 1, -1, 0), {}, A + "major, minor and vertical ranges must be positive", id="vert-neg"),
]


@pytest.mark.parametrize(("args", "kwargs", "message"), ANISO_ERRORS)
def test_anisotropic_errors(args, kwargs, message):
    with pytest.raises(ValueError) as err:
        qt.AnisotropicVariogram(*args, **kwargs)
    assert str(err.value) == message


def test_isotropic_reports_anisotropic_range_message():
    with pytest.raises(ValueError) as err:
        qt.AnisotropicVariogram.isotropic("sph", 0.0, 1.0, 0.0)
    assert str(err.value) == A + "major, minor and vertical ranges must be positive"


# ---- reprs, getters, azimuth --------------------------------------------------

REPRS = [
    pytest.param(qt.Variogram("sph", 0.0, 1.0, 100.0), "Variogram(nugget=0, sill=1, range=100)", id="whole"),
    pytest.param(qt.Variogram("gauss", 0.1, 0.25, 1e21), "Variogram(nugget=0.1, sill=0.25, range=1000000000000000000000)",
                 id="no-exponent"),
    pytest.param(qt.AnisotropicVariogram("exp", 200, 50, 10, 90),
                 "AnisotropicVariogram(major=200, minor=50, vertical=10, azimuth=90, nugget=0, sill=1)", id="aniso"),
    pytest.param(qt.AnisotropicVariogram.isotropic("nugget", 0.5, 0.0, 3.5),
                 "AnisotropicVariogram(major=3.5, minor=3.5, vertical=3.5, azimuth=0, nugget=0.5, sill=0)",
                 id="isotropic"),
]


@pytest.mark.parametrize(("obj", "text"), REPRS)
def test_reprs(obj, text):
    assert repr(obj) == text


AZIMUTHS = [
    pytest.param(-45.0, 315.0, id="neg45"),
    pytest.param(720.0, 0.0, id="720"),
    pytest.param(370.0, 10.0, id="370"),
    pytest.param(-90.0, 270.0, id="neg90"),
    pytest.param(359.5, 359.5, id="kept"),
    # fmod gives -1e-20, and -1e-20 + 360 rounds to 360 itself: stored as 0, never 360.
    pytest.param(-1e-20, 0.0, id="tiny-neg-rounds-up"),
    pytest.param(-1e-13, float.fromhex("0x1.67ffffffffffep+8"), id="small-neg-below-360"),
]


@pytest.mark.parametrize(("given", "stored"), AZIMUTHS)
def test_azimuth_normalised(given, stored):
    assert qt.AnisotropicVariogram("sph", 2, 1, 1, given).azimuth == stored


def test_getters_read_only():
    v = qt.Variogram("exp", 0.25, 0.75, 30.0)
    assert (v.nugget, v.sill, v.range) == (0.25, 0.75, 30.0)
    a = qt.AnisotropicVariogram("exp", 200, 50, 10, 30, sill=2.0, nugget=0.5)
    assert (a.major, a.minor, a.vertical, a.azimuth, a.sill, a.nugget) == (200, 50, 10, 30, 2.0, 0.5)
    with pytest.raises(AttributeError):
        v.nugget = 1.0
    with pytest.raises(AttributeError):
        a.extra = 1


# ---- semivariance and anisotropic distance -------------------------------------

GAMMAS = [
    pytest.param(("sph", 0.1, 0.9, 100.0), 0.0, 0.0, id="sph-origin"),
    pytest.param(("sph", 0.1, 0.9, 100.0), 50.0, 0.1 + 0.9 * (0.75 - 0.0625), id="sph-half"),
    pytest.param(("sph", 0.1, 0.9, 100.0), 100.0, 1.0, id="sph-at-range"),
    pytest.param(("sph", 0.1, 0.9, 100.0), 250.0, 1.0, id="sph-beyond"),
    pytest.param(("exp", 0.0, 1.0, 100.0), 100.0, 1.0 - math.exp(-3.0), id="exp-practical-range"),
    pytest.param(("gauss", 0.0, 2.0, 10.0), 5.0, 2.0 * (1.0 - math.exp(-3.0 * 0.25)), id="gauss"),
    pytest.param(("nugget", 0.7, 0.0, 1.0), 1e-150, 0.7, id="nugget-any-h"),
    pytest.param(("nugget", 0.7, 0.0, 1.0), 1e-170, 0.0, id="squared-separation-underflows-to-zero"),
    pytest.param(("nugget", 0.7, 0.0, 1.0), 0.0, 0.0, id="nugget-origin-zero"),
    pytest.param(("exp", 0.3, 1.0, 1.0), 0.0, 0.0, id="origin-zero-with-nugget"),
]


@pytest.mark.parametrize(("args", "h", "expected"), GAMMAS)
def test_gamma(args, h, expected):
    assert qt.AnisotropicVariogram.isotropic(*args).gamma_offset(h, 0.0) == expected


@pytest.mark.parametrize("model", ["nugget", "sph", "exp", "gauss"])
def test_gamma_nan_propagates(model):
    assert math.isnan(qt.AnisotropicVariogram.isotropic(model, 0.5, 0.5, 10).gamma_offset(math.nan, 0.0))


def test_anisotropic_distance():
    a = qt.AnisotropicVariogram("exponential", 200, 50, 10, 90)
    assert a.anisotropic_distance(100, 0) == pytest.approx(100.0, rel=1e-15)
    assert a.anisotropic_distance(0, 100) == pytest.approx(400.0, rel=1e-15)
    assert a.anisotropic_distance(0, 0, 1) == 20.0
    assert a.anisotropic_distance(0, 0, dz=1) == 20.0
    # The stated grouping: along = dx sin t + dy cos t, across scaled by major / minor.
    b = qt.AnisotropicVariogram("sph", 300, 100, 5, 30)
    t = 30 * 0.017453292519943295
    along = 3.0 * math.sin(t) + 4.0 * math.cos(t)
    across = (3.0 * math.cos(t) - 4.0 * math.sin(t)) * 300 / 100
    vert = 2.0 * 300 / 5
    assert b.anisotropic_distance(3.0, 4.0, 2.0) == math.sqrt(vert * vert + (along * along + across * across))
    assert b.gamma_offset(3.0, 4.0, 2.0) == sph(b.anisotropic_distance(3.0, 4.0, 2.0), 300)


# ---- experimental variogram -----------------------------------------------------

def test_experimental_two_points():
    ev = qt.experimental_variogram([[0, 0, 1], [10, 0, 3]], 5, 4)
    assert (ev.lags, ev.semivariances, ev.counts) == ([10.0], [2.0], [1])
    assert repr(ev) == "ExperimentalVariogram(1 lag classes)"
    assert ev.lags is ev.lags and ev.counts is ev.counts and ev.semivariances is ev.semivariances
    empty = qt.experimental_variogram([[0, 0, 1], [10, 0, 3]], 5, 2)
    assert (empty.lags, empty.semivariances, empty.counts) == ([], [], [])
    assert repr(empty) == "ExperimentalVariogram(0 lag classes)"
    with pytest.raises(ValueError) as err:
        qt.Variogram.fit("sph", empty)
    assert str(err.value) == "empty input: Variogram::fit: empty experimental variogram"


def test_experimental_coincident_and_upper_edge():
    ev = qt.experimental_variogram([[5, 5, 1], [5, 5, 4]], 1.0, 1)
    assert (ev.lags, ev.semivariances, ev.counts) == ([0.0], [4.5], [1])
    # g < n_lags * lag, yet g / lag rounds to n_lags: the pair joins the last class.
    lag, n, g = 1.602405398225189, 38, 60.891405132557175
    assert g < n * lag and math.floor(g / lag) == n
    ev = qt.experimental_variogram([[0, 0, 1], [g, 0, 2]], lag, n)
    assert (ev.lags, ev.counts) == ([g], [1])


def test_experimental_huge_n_lags_is_cheap():
    ev = qt.experimental_variogram([[0, 0, 1], [3, 4, 2], [6, 8, 4]], 1.0, 2**64 - 1)
    assert (ev.lags, ev.semivariances, ev.counts) == ([5.0, 10.0], [(1.0 + 4.0) / (2 * 2), 4.5], [2, 1])


EXPERIMENTAL_ERRORS = [
    pytest.param([[0, 0, 1]], -1.0, 0, "empty input: experimental_variogram: need at least two data",
                 id="one-row-first"),
    pytest.param([], 1.0, 3, "empty input: experimental_variogram: need at least two data", id="no-rows"),
    pytest.param([[0, 0, 1], [1, 1, 1]], 0.0, 3,
                 "invalid argument: experimental_variogram: need lag > 0 (finite) and n_lags >= 1", id="lag-0"),
    pytest.param([[0, 0, 1], [1, 1, 1]], -1.0, 3,
                 "invalid argument: experimental_variogram: need lag > 0 (finite) and n_lags >= 1", id="lag-neg"),
    pytest.param([[0, 0, 1], [1, 1, 1]], math.inf, 3,
                 "invalid argument: experimental_variogram: need lag > 0 (finite) and n_lags >= 1", id="lag-inf"),
    pytest.param([[0, 0, 1], [1, 1, 1]], math.nan, 3,
                 "invalid argument: experimental_variogram: need lag > 0 (finite) and n_lags >= 1", id="lag-nan"),
    pytest.param([[0, 0, 1], [1, 1, 1]], 1.0, 0,
                 "invalid argument: experimental_variogram: need lag > 0 (finite) and n_lags >= 1", id="n-lags-0"),
]


@pytest.mark.parametrize(("coords", "lag", "n_lags", "message"), EXPERIMENTAL_ERRORS)
def test_experimental_errors(coords, lag, n_lags, message):
    with pytest.raises(ValueError) as err:
        qt.experimental_variogram(coords, lag, n_lags)
    assert str(err.value) == message


def test_experimental_class_surface():
    with pytest.raises(TypeError):
        qt.ExperimentalVariogram()
    with pytest.raises(TypeError) as err:
        qt.Variogram.fit("sph", [[1.0, 2.0]])
    assert str(err.value) == "'list' object is not an instance of 'ExperimentalVariogram'"
    assert err.value.__notes__ == ["while processing 'experimental'"]


def reference_experimental(coords, lag, n_lags):
    sq, sep, cnt = [0.0] * n_lags, [0.0] * n_lags, [0] * n_lags
    for i in range(len(coords)):
        for j in range(i + 1, len(coords)):
            dx = coords[i][0] - coords[j][0]
            dy = coords[i][1] - coords[j][1]
            g = math.sqrt(dx * dx + dy * dy)
            if g < n_lags * lag:
                k = min(int(g / lag), n_lags - 1)
                dz = coords[i][2] - coords[j][2]
                sq[k] += dz * dz
                sep[k] += g
                cnt[k] += 1
    keep = [k for k in range(n_lags) if cnt[k]]
    return [sep[k] / cnt[k] for k in keep], [sq[k] / (2.0 * cnt[k]) for k in keep], [cnt[k] for k in keep]


def random_coords(seed, n, extent=100.0):
    rng = random.Random(seed)
    return [[rng.uniform(0, extent), rng.uniform(0, extent), rng.gauss(0, 1)] for _ in range(n)]


@pytest.mark.parametrize(("seed", "n", "lag", "n_lags"), [
    pytest.param(1, 150, 5.0, 20, id="150-data"),
    pytest.param(2, 60, 33.0, 3, id="coarse"),
    pytest.param(3, 40, 0.5, 400, id="many-sparse-classes"),
])
def test_experimental_matches_reference(seed, n, lag, n_lags):
    coords = random_coords(seed, n)
    coords[5][:2] = coords[3][:2]  # a coincident pair
    ev = qt.experimental_variogram(coords, lag, n_lags)
    assert (ev.lags, ev.semivariances, ev.counts) == reference_experimental(coords, lag, n_lags)


# ---- fit ------------------------------------------------------------------------

def fit_shape(model, h, a):
    r = h / a
    if model == "sph":
        return 1.0 if r >= 1.0 else 1.5 * r - 0.5 * (r * r * r)
    if model == "exp":
        return 1.0 - math.exp(-3.0 * r)
    return 1.0 - math.exp(-3.0 * (r * r))


def reference_sills(model, lags, ys, ws, a):
    s = [fit_shape(model, h, a) for h in lags]
    sw = sws = sws2 = swy = swsy = 0.0
    for sk, y, w in zip(s, ys, ws):
        w = float(w)
        sw += w
        sws += w * sk
        sws2 += w * (sk * sk)
        swy += w * y
        swsy += w * sk * y
    cands = []
    det = sws2 * sw - sws * sws
    if abs(det) > 1e-300:
        cands.append(((sws2 * swy - sws * swsy) / det, (sw * swsy - sws * swy) / det))
    if sws2 > 0:
        cands.append((0.0, swsy / sws2))
    if sw > 0:
        cands.append((swy / sw, 0.0))
    cands.append((0.0, 0.0))
    best = None
    for c0, c in cands:
        if c0 < -1e-12 or c < -1e-12:
            continue
        c0, c = max(c0, 0.0), max(c, 0.0)
        sse = 0.0
        for sk, y, w in zip(s, ys, ws):
            e = c0 + c * sk - y
            sse += float(w) * (e * e)
        if best is None or sse < best[2]:
            best = (c0, c, sse)
    return best


def reference_fit(model, ev):
    lags, ys, ws = ev.lags, ev.semivariances, ev.counts
    H = max([0.0] + lags)

    def search(lo, span, count):
        best = None
        for j in range(count):
            a = j * span / (count - 1) + lo
            if a <= 0:
                continue
            f = reference_sills(model, lags, ys, ws, a)
            if best is None or f[2] < best[1][2]:
                best = (a, f)
        return best

    span = 2 * H - H / 50
    best = search(H / 50, span, 400)
    step = span / 399
    lo, hi = max(best[0] - step, H / 100), best[0] + step
    fine = search(lo, hi - lo, 100)
    if fine is not None and fine[1][2] < best[1][2]:
        best = fine
    return best[1][0], best[1][1], max(best[0], 1e-9)


@pytest.mark.parametrize("model", ["sph", "exp", "gauss"])
@pytest.mark.parametrize("seed", [11, 12])
def test_fit_matches_reference_search(model, seed):
    ev = qt.experimental_variogram(random_coords(seed, 90, extent=300.0), 12.0, 18)
    v = qt.Variogram.fit(model, ev)
    assert (v.nugget, v.sill, v.range) == reference_fit(model, ev)


def exact_model_variogram(nugget, sill, a, model="sph"):
    """An ExperimentalVariogram that samples a model exactly: 24 far-apart pairs, each
    alone in its lag class, with values whose half squared difference is gamma(h)."""
    coords = []
    lag = 7.0
    for k in range(1, 25):
        h = k * lag + 0.5
        g = nugget + sill * fit_shape(model, h, a)
        coords.append([0.0, 1000.0 * k, 0.0])
        coords.append([h, 1000.0 * k, math.sqrt(2.0 * g)])
    return qt.experimental_variogram(coords, lag, 25)


@pytest.mark.parametrize("model", ["sph", "exp", "gauss"])
def test_fit_matches_reference_search_on_exact_model(model):
    ev = exact_model_variogram(0.2, 0.8, 80.0, model)
    v = qt.Variogram.fit(model, ev)
    assert (v.nugget, v.sill, v.range) == reference_fit(model, ev)


def test_fit_recovers_exact_spherical():
    R = 80.0
    ev = exact_model_variogram(0.2, 0.8, R)
    assert len(ev.lags) == 24
    v = qt.Variogram.fit(" Spherical ", ev)
    H = max(ev.lags)
    fine_step = 2 * ((2 * H - H / 50) / 399) / 99
    assert abs(v.range - R) <= fine_step
    assert v.nugget == pytest.approx(0.2, abs=0.02)
    assert v.sill == pytest.approx(0.8, abs=0.02)


def test_fit_nugget_model():
    ev = qt.experimental_variogram([[0, 0, 1], [0.5, 0, 2], [0, 0.2, 4]], 1.0, 1)
    v = qt.Variogram.fit("nugget", ev)
    assert (v.nugget, v.sill, v.range) == (ev.semivariances[0], 0.0, 1.0)
    ev = qt.experimental_variogram([[0, 0, 1], [3, 4, 2], [6, 8, 4]], 1.0, 20)
    v = qt.Variogram.fit("nugget", ev)
    assert (v.nugget, v.sill, v.range) == ((2 * 1.25 + 1 * 4.5) / 3, 0.0, 10.0)


FIT_ERRORS = [
    pytest.param("sph", [[0, 0, 1], [3, 4, 1], [6, 8, 1]],
                 "invalid argument: variogram: total sill (nugget + sill) must be positive", id="all-zero-sph"),
    pytest.param("nugget", [[0, 0, 1], [3, 4, 1]],
                 "invalid argument: variogram: the Nugget model uses only its nugget (sill is ignored), "
                 "so nugget must be positive", id="all-zero-nugget"),
]


@pytest.mark.parametrize(("model", "coords", "message"), FIT_ERRORS)
def test_fit_errors(model, coords, message):
    ev = qt.experimental_variogram(coords, 1.0, 20)
    with pytest.raises(ValueError) as err:
        qt.Variogram.fit(model, ev)
    assert str(err.value) == message


def test_fit_all_lags_zero_gives_pure_nugget():
    # Every pair coincident: no range can be told apart; the nugget carries the variance.
    ev = qt.experimental_variogram([[1, 1, 0], [1, 1, 2], [1, 1, 4]], 1.0, 3)
    v = qt.Variogram.fit("exp", ev)
    assert (v.nugget, v.sill, v.range) == (ev.semivariances[0], 0.0, 1e-9)


def test_fit_and_experimental_on_threads():
    coords = random_coords(5, 400, extent=500.0)
    serial_ev = qt.experimental_variogram(coords, 20.0, 15)
    serial = repr(qt.Variogram.fit("exp", serial_ev))
    results = []

    def work():
        ev = qt.experimental_variogram(coords, 20.0, 15)
        results.append((ev.lags, ev.semivariances, ev.counts, repr(qt.Variogram.fit("exp", ev))))

    threads = [threading.Thread(target=work) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [(serial_ev.lags, serial_ev.semivariances, serial_ev.counts, serial)] * 2
