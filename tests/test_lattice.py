"""Lattice geometry and the Georef world frame, bit-exact against re-statements of the transforms."""
import math
import random

import pytest

import quarntools as qt

D2R = 0.017453292519943295


def ref_frame(rot, yinc, yflip):
    r = math.fmod(rot, 360.0)
    if r < 0:
        r = r + 360.0
    t = r * D2R
    d = -yinc if yflip else yinc
    return math.sin(t), math.cos(t), d


def ref_to_world(l, fi, fj):
    s, c, d = ref_frame(l.rotation_deg, l.yinc, l.yflip)
    return ((l.xori + fi * (c * l.xinc)) + (s * (-d)) * fj, (l.yori + fi * (s * l.xinc)) + (c * d) * fj)


def ref_to_intrinsic(l, x, y):
    if l.xinc == 0 or l.yinc == 0:
        return None
    if not all(math.isfinite(v) for v in (l.xori, l.yori, l.xinc, l.yinc, x, y, l.rotation_deg)):
        return None
    s, c, _ = ref_frame(l.rotation_deg, l.yinc, l.yflip)
    dx, dy = x - l.xori, y - l.yori
    fi = (dy * s + dx * c) / l.xinc
    g = dy * c - dx * s
    if l.yflip:
        g = -g
    fj = g / l.yinc
    if not (math.isfinite(fi) and math.isfinite(fj)):
        return None
    return (fi, fj)


ROTATIONS = [
    pytest.param(-90.0, 270.0, id="minus-90"),
    pytest.param(360.0, 0.0, id="full-turn"),
    pytest.param(720.0, 0.0, id="two-turns"),
    pytest.param(-30.0, 330.0, id="minus-30"),
    pytest.param(405.5, 45.5, id="over-turn"),
    pytest.param(-1e-20, 360.0, id="tiny-negative-rounds-to-360"),
]


@pytest.mark.parametrize(("given", "stored"), ROTATIONS)
def test_rotation_normalisation(given, stored):
    assert qt.Lattice(0, 0, 1, 1, 1, 1, given).rotation_deg == stored


def test_minus_360_stays_negative_zero_and_prints_short():
    l = qt.Lattice(0, 0, 1, 1, 1, 1, -360.0)
    assert math.copysign(1.0, l.rotation_deg) == -1.0 and l.rotation_deg == 0.0
    assert repr(l) == "Lattice(xori=0, yori=0, xinc=1, yinc=1, ncol=1, nrow=1)"


@pytest.mark.parametrize("bad", [math.nan, math.inf, -math.inf])
def test_non_finite_rotation(bad):
    with pytest.raises(ValueError) as err:
        qt.Lattice(0, 0, 1, 1, 2, 2, bad)
    assert str(err.value) == "invalid argument: Lattice: rotation_deg must be finite"


REPRS = [
    pytest.param((0, 0, 25, 25, 4, 3), "Lattice(xori=0, yori=0, xinc=25, yinc=25, ncol=4, nrow=3)", id="short"),
    pytest.param((0, 0, 25, 25, 4, 3, 30, True),
                 "Lattice(xori=0, yori=0, xinc=25, yinc=25, ncol=4, nrow=3, rotation_deg=30, yflip=true)",
                 id="rotated-flipped"),
    pytest.param((0, 0, 1, 1, 1, 1, 0, True),
                 "Lattice(xori=0, yori=0, xinc=1, yinc=1, ncol=1, nrow=1, rotation_deg=0, yflip=true)",
                 id="flip-only"),
    pytest.param((0.1, -0.0, 1e21, 1e-7, 0, 2**64 - 1, 12.5),
                 "Lattice(xori=0.1, yori=-0, xinc=1000000000000000000000, yinc=0.0000001, ncol=0, "
                 "nrow=18446744073709551615, rotation_deg=12.5, yflip=false)", id="number-forms"),
    pytest.param((math.nan, math.inf, -math.inf, 2.5, 1, 1),
                 "Lattice(xori=NaN, yori=inf, xinc=-inf, yinc=2.5, ncol=1, nrow=1)", id="non-finite"),
    pytest.param((1e23, -1.5e17, 9007199254740993, 5e-324, 1, 1),
                 "Lattice(xori=100000000000000000000000, yori=-150000000000000000, xinc=9007199254740992, "
                 "yinc=0." + "0" * 323 + "5, ncol=1, nrow=1)", id="shortest-digits-not-exact-binary"),
]


@pytest.mark.parametrize(("args", "text"), REPRS)
def test_repr(args, text):
    assert repr(qt.Lattice(*args)) == text


def test_getters():
    l = qt.Lattice(1.5, -2.5, 10, 20, 3, 4, -90, True)
    assert (l.xori, l.yori, l.xinc, l.yinc, l.ncol, l.nrow, l.rotation_deg, l.yflip) == (
        1.5, -2.5, 10.0, 20.0, 3, 4, 270.0, True)
    assert type(l.ncol) is int and type(l.yflip) is bool
    assert qt.Lattice.xori.__doc__ == "Origin x of node `(0, 0)` (world units)."
    assert qt.Lattice.rotation_deg.__doc__ == "Intrinsic rotation in normalized degrees CCW from world east to I."
    assert qt.Lattice.yflip.__doc__ == "Whether positive intrinsic J follows the flipped axis."
    assert qt.Lattice.__doc__.startswith("A regular 2-D lattice \u2014 the target grid geometry.")


def test_axis_aligned_nodes_are_exact():
    l = qt.Lattice(100.0, 200.0, 25.0, 12.5, 10, 10)
    for i in range(10):
        for j in range(10):
            assert l.node_xy(i, j) == (100.0 + i * 25.0, 200.0 + j * 12.5)


def test_step_vectors():
    assert qt.Lattice(0, 0, 2, 3, 1, 1).step_vectors() == ([2.0, 0.0], [-0.0, 3.0])
    i, j = qt.Lattice(0, 0, 2, 3, 1, 1, 90).step_vectors()
    assert i[1] == 2.0 and abs(i[0]) < 1e-15 and i[0] != 0.0
    assert j[0] == -3.0 and abs(j[1]) < 1e-15
    assert qt.Lattice(0, 0, 2, 3, 1, 1, 0, True).step_vectors() == ([2.0, 0.0], [0.0, -3.0])


def random_lattices(n, seed=7):
    rnd = random.Random(seed)
    for _ in range(n):
        yield qt.Lattice(rnd.uniform(-1e6, 1e6), rnd.uniform(-1e6, 1e6), rnd.uniform(0.1, 100),
                         rnd.uniform(-100, 100), rnd.randrange(100), rnd.randrange(100),
                         rnd.uniform(-720, 720), rnd.random() < 0.5)


def test_transforms_bit_exact_against_restatement():
    rnd = random.Random(11)
    for l in random_lattices(200):
        for _ in range(5):
            fi, fj = rnd.uniform(-10, 110), rnd.uniform(-10, 110)
            assert l.intrinsic_to_world(fi, fj) == ref_to_world(l, fi, fj)
            x, y = rnd.uniform(-2e6, 2e6), rnd.uniform(-2e6, 2e6)
            assert l.world_to_intrinsic(x, y) == ref_to_intrinsic(l, x, y)
            assert l.xy_to_ij(x, y) == ref_to_intrinsic(l, x, y)
        i, j = rnd.randrange(100), rnd.randrange(100)
        assert l.node_xy(i, j) == ref_to_world(l, float(i), float(j))


def test_round_trip():
    rnd = random.Random(5)
    for l in random_lattices(100, seed=3):
        fi, fj = rnd.uniform(0, 50), rnd.uniform(0, 50)
        gi, gj = l.world_to_intrinsic(*l.intrinsic_to_world(fi, fj))
        assert gi == pytest.approx(fi, abs=1e-6) and gj == pytest.approx(fj, abs=1e-6)


UNDEFINED_INVERSE = [
    pytest.param((0, 0, 0, 1, 2, 2), (1.0, 1.0), id="zero-xinc"),
    pytest.param((0, 0, 1, 0, 2, 2), (1.0, 1.0), id="zero-yinc"),
    pytest.param((0, 0, 1, 1, 2, 2), (math.inf, 1.0), id="infinite-x"),
    pytest.param((0, 0, 1, 1, 2, 2), (1.0, math.nan), id="nan-y"),
    pytest.param((math.nan, 0, 1, 1, 2, 2), (1.0, 1.0), id="nan-origin"),
    pytest.param((0, 0, 1e-320, 1, 2, 2), (1e300, 1.0), id="overflowing-result"),
]


@pytest.mark.parametrize(("args", "xy"), UNDEFINED_INVERSE)
def test_undefined_inverse_is_none(args, xy):
    l = qt.Lattice(*args)
    assert l.world_to_intrinsic(*xy) is None
    assert l.xy_to_ij(*xy) is None


def test_nan_spacing_is_not_zero_spacing():
    l = qt.Lattice(0, 0, math.nan, 1, 2, 2)
    assert l.world_to_intrinsic(1.0, 1.0) is None  # not finite, not the zero rule


def test_xy_to_ij_does_not_round_or_clip():
    l = qt.Lattice(0, 0, 10, 10, 3, 3)
    assert l.xy_to_ij(-5.0, 55.0) == (-0.5, 5.5)
    assert qt.Lattice.xy_to_ij.__doc__ in (None, "")


# ---- Georef -----------------------------------------------------------------

def test_georef_default_origin():
    for g in (qt.Georef(), qt.Georef(None, None), qt.Georef(east0=None)):
        assert g.origin() == [431000.0, 6521000.0]
        assert repr(g) == "Georef(east0=431000, north0=6521000)"


@pytest.mark.parametrize("kw", [dict(east0=1.0), dict(north0=2.0), dict(east0=1.0, north0=None)])
def test_georef_both_or_neither(kw):
    with pytest.raises(ValueError) as err:
        qt.Georef(**kw)
    assert str(err.value) == "Georef: pass both east0 and north0, or neither (fictional default)"


@pytest.mark.parametrize("bad", [(math.nan, 0.0), (0.0, math.inf)])
def test_georef_non_finite(bad):
    with pytest.raises(ValueError) as err:
        qt.Georef(*bad)
    assert str(err.value) == "invalid argument: Georef: east0 and north0 must be finite"


def test_georef_conversion_order():
    with pytest.raises(TypeError) as err:
        qt.Georef("x")
    assert err.value.__notes__ == ["while processing 'east0'"]


def test_georef_places_points():
    g = qt.Georef(0.0, 0.0)
    assert g.place_point([1, 2]) == [1.0, 2.0]
    assert g.place_points([]) == []
    g = qt.Georef(0.1, 0.2)
    assert g.place_point((0.2, 0.1)) == [0.2 + 0.1, 0.1 + 0.2]
    assert g.place_points([(1, 1), (2, 3)]) == [[1.1, 1.2], [2.1, 3.2]]
    assert (g.east0, g.north0) == (0.1, 0.2)


def ref_place_intrinsic(e, n, u, v, rot, flip):
    s, c, _ = ref_frame(rot, 1.0, False)
    if not flip:
        return [(e + u * c) + v * (-s), (n + u * s) + v * c]
    return [(e + u * c) + v * s, (n + u * s) + v * (-c)]


def test_place_intrinsic():
    g = qt.Georef()
    x, y = g.place_intrinsic([1, 0], 90)
    assert x == pytest.approx(431000.0) and y == 6521001.0
    assert g.place_intrinsic([0, 1], 0, True) == [431000.0, 6520999.0]
    rnd = random.Random(2)
    for _ in range(200):
        u, v, rot, flip = rnd.uniform(-1e3, 1e3), rnd.uniform(-1e3, 1e3), rnd.uniform(-800, 800), rnd.random() < .5
        assert g.place_intrinsic((u, v), rot, flip) == ref_place_intrinsic(431000.0, 6521000.0, u, v, rot, flip)
    with pytest.raises(ValueError) as err:
        g.place_intrinsic([0, 0], math.nan)
    assert str(err.value) == "invalid argument: Lattice: rotation_deg must be finite"


def test_georef_lattice():
    l = qt.Georef().lattice(10, 10, 3, 3, -30)
    assert (l.xori, l.yori, l.rotation_deg, l.ncol) == (431000.0, 6521000.0, 330.0, 3)
    assert isinstance(l, qt.Lattice)
    with pytest.raises(ValueError) as err:
        qt.Georef().lattice(1, 1, 1, 1, math.inf)
    assert str(err.value) == "invalid argument: Lattice: rotation_deg must be finite"


def test_georef_docs():
    assert qt.Georef.origin.__doc__ == "The origin as an `[east, north]` world point."
    assert qt.Georef.place_point.__doc__ == "Translate a local `[x, y]` (from `(0, 0)`) into this world frame."
    assert qt.Georef.__doc__.startswith("A fictional **world-frame** origin")
