"""Synthetic maps (isochore, trend map, dome) and outlines (closure, study area)."""
import math

import pytest

import quarntools as qt

NAN = math.nan
INF = math.inf


# ---- study_area_outline -----------------------------------------------------

SHARP = [[0.0, 0.0], [100.0, 0.0], [100.0, 50.0], [0.0, 50.0]]


def arc_ring(xmin, ymin, xmax, ymax, r, n):
    """Independent rendering of the rounded ring: quarter arcs from -90 degrees."""
    centres = [(xmax - r, ymin + r), (xmax - r, ymax - r), (xmin + r, ymax - r), (xmin + r, ymin + r)]
    offsets = [-1.5707963267948966, 0.0, 1.5707963267948966, 3.141592653589793]
    out = []
    for (cx, cy), off in zip(centres, offsets):
        for k in range(n + 1):
            q = (k / n) * 1.5707963267948966
            t = q - 1.5707963267948966 if off < 0 else (q if off == 0.0 else q + off)
            out.append([math.cos(t) * r + cx, math.sin(t) * r + cy])
    return out


@pytest.mark.parametrize(
    ("args", "expected"),
    [
        pytest.param((0, 0, 100, 50, 0, 8), SHARP, id="zero-radius"),
        pytest.param((0, 0, 100, 50, 10, 0), SHARP, id="zero-steps"),
        pytest.param((0, 0, 100, 50, -5, 8), SHARP, id="negative-radius"),
        pytest.param((0, 0, 100, 50, NAN, 8), SHARP, id="nan-radius"),
        pytest.param((100, 50, 0, 0, 10, 8), [[100.0, 50.0], [0.0, 50.0], [0.0, 0.0], [100.0, 0.0]],
                     id="inverted-extent"),
        pytest.param((0, 0, 100, 50, 10, 2), arc_ring(0, 0, 100, 50, 10, 2), id="rounded-2-steps"),
        pytest.param((0, 0, 100, 50, 40, 3), arc_ring(0, 0, 100, 50, 25, 3), id="radius-capped-at-half-height"),
        pytest.param((0, 0, 100, 50, INF, 1), arc_ring(0, 0, 100, 50, 25, 1), id="infinite-radius-capped"),
    ],
)
def test_study_area_outline(args, expected):
    assert qt.study_area_outline(*args) == expected


def test_study_area_outline_rounded_shape():
    ring = qt.study_area_outline(0, 0, 100, 50, 10, 2)
    assert len(ring) == 12
    assert ring[0] == [90.0, 0.0]
    assert ring[1] == pytest.approx([97.0710678, 2.9289322])
    assert ring[2:4] == [[100.0, 10.0], [100.0, 40.0]]
    assert ring[-1] == pytest.approx([10.0, 0.0])


def test_study_area_outline_capped_radius_keeps_touching_points():
    ring = qt.study_area_outline(0, 0, 100, 50, 40, 4)
    assert len(ring) == 20
    # r = 25: the right arcs meet at (100, 25); both points are kept
    assert ring[4] == ring[5] == [100.0, 25.0]


def test_study_area_outline_nan_extent_propagates():
    ring = qt.study_area_outline(NAN, 0, 100, 50, 10, 1)
    assert len(ring) == 8
    # the width is NaN, so the radius comes from the height; the left arcs carry the NaN
    assert ring[:4] == arc_ring(0, 0, 100, 50, 10, 1)[:4]
    assert all(math.isnan(p[0]) for p in ring[4:])


@pytest.mark.parametrize(
    ("steps", "exc", "message"),
    [
        pytest.param(-1, OverflowError, None, id="negative-steps"),
        pytest.param(2**64, OverflowError, None, id="steps-beyond-u64"),
        pytest.param(2**63, ValueError, "invalid argument: study_area_outline: arc_steps is too large",
                     id="steps-too-large"),
    ],
)
def test_study_area_outline_errors(steps, exc, message):
    with pytest.raises(exc) as err:
        qt.study_area_outline(0, 0, 100, 50, 10, steps)
    if message is not None:
        assert str(err.value) == message


# ---- closure_outline ----------------------------------------------------------

def grid(ncol, nrow, fill=0.0):
    return [[fill] * nrow for _ in range(ncol)]


def with_nodes(ncol, nrow, nodes, value=1.0, fill=0.0):
    f = grid(ncol, nrow, fill)
    for i, j in nodes:
        f[i][j] = value
    return f


def gauss_dome(ncol, nrow, cx, cy, sx, sy, relief=1.0):
    return [[relief * math.exp(-0.5 * (((i - cx) / sx) ** 2 + ((j - cy) / sy) ** 2)) for j in range(nrow)]
            for i in range(ncol)]


UNIT4 = qt.Lattice(0, 0, 1, 1, 4, 4)


@pytest.mark.parametrize(
    ("field", "level", "expected"),
    [
        pytest.param(with_nodes(4, 4, [(1, 1)]), 0.5,
                     [[1.0, 0.5], [0.5, 1.0], [1.0, 1.5], [1.5, 1.0]], id="single-node-diamond"),
        # a (1,1) and c (2,2) above in the middle cell: the peaks stay apart; equal areas, first wins
        pytest.param(with_nodes(4, 4, [(1, 1), (2, 2)]), 0.5,
                     [[1.0, 0.5], [0.5, 1.0], [1.0, 1.5], [1.5, 1.0]], id="saddle-case-5-separate"),
        pytest.param(with_nodes(4, 4, [(2, 1), (1, 2)]), 0.5,
                     [[1.0, 1.5], [0.5, 2.0], [1.0, 2.5], [1.5, 2.0]], id="saddle-case-10-separate"),
        pytest.param(with_nodes(4, 4, [(1, 1), (2, 2), (2, 1), (1, 2)]), 0.5,
                     [[1.0, 0.5], [0.5, 1.0], [0.5, 2.0], [1.0, 2.5], [2.0, 2.5], [2.5, 2.0], [2.5, 1.0],
                      [2.0, 0.5]], id="block-of-four"),
        # crossing at t = 0.25 along each edge
        pytest.param(with_nodes(4, 4, [(1, 1)], value=4.0), 1.0,
                     [[1.0, 0.25], [0.25, 1.0], [1.0, 1.75], [1.75, 1.0]], id="interpolated-crossing"),
        pytest.param(with_nodes(4, 4, [(1, 1)]), 1.0, [], id="level-at-crest"),
        pytest.param(with_nodes(4, 4, [(1, 1)]), 2.0, [], id="level-above-crest"),
        pytest.param(with_nodes(4, 4, [(1, 1)]), -1.0, [], id="level-below-everything"),
        pytest.param(with_nodes(4, 4, [(1, 1)]), NAN, [], id="nan-level"),
        pytest.param(with_nodes(4, 4, [(1, 1)]), -INF, [], id="minus-inf-level"),
        pytest.param([[float(i)] * 4 for i in range(4)], 1.5, [], id="plane-runs-off-the-edge"),
        pytest.param(with_nodes(4, 4, [(0, 1)]), 0.5, [], id="peak-on-the-edge-is-open"),
        pytest.param(with_nodes(4, 4, [(1, 1)], value=NAN, fill=0.0), 0.5, [], id="all-cells-flat-or-nan"),
    ],
)
def test_closure_outline_cases(field, level, expected):
    assert qt.closure_outline(field, UNIT4, level) == expected


def test_closure_outline_two_peaks_returns_the_larger():
    lat = qt.Lattice(0, 0, 1, 1, 30, 20)
    small = gauss_dome(30, 20, 7, 10, 2, 2)
    big = gauss_dome(30, 20, 20, 10, 4, 4)
    f = [[max(a, b) for a, b in zip(ca, cb)] for ca, cb in zip(small, big)]
    ring = qt.closure_outline(f, lat, 0.5)
    xs = [p[0] for p in ring]
    assert min(xs) > 14 and max(xs) < 26
    assert qt.closure_outline(small, lat, 0.5)  # the small peak alone closes too


def test_closure_outline_nan_node_opens_the_ring():
    lat = qt.Lattice(0, 0, 1, 1, 21, 21)
    f = gauss_dome(21, 21, 10, 10, 3, 3)
    assert qt.closure_outline(f, lat, 0.5)
    # the contour crosses column 10 near row 13.5; a NaN at (10, 13) removes its four cells
    f[10][13] = NAN
    assert qt.closure_outline(f, lat, 0.5) == []
    # a NaN far from the contour changes nothing
    g = gauss_dome(21, 21, 10, 10, 3, 3)
    ring = qt.closure_outline(g, lat, 0.5)
    g[0][0] = NAN
    assert qt.closure_outline(g, lat, 0.5) == ring


def bilinear_at(field, lattice, x, y):
    fi, fj = lattice.world_to_intrinsic(x, y)
    i0 = min(int(math.floor(fi)), lattice.ncol - 2)
    j0 = min(int(math.floor(fj)), lattice.nrow - 2)
    tx, ty = fi - i0, fj - j0
    return ((1 - tx) * (1 - ty) * field[i0][j0] + tx * (1 - ty) * field[i0 + 1][j0]
            + (1 - tx) * ty * field[i0][j0 + 1] + tx * ty * field[i0 + 1][j0 + 1])


def trapezoid_area(ring):
    n = len(ring)
    return abs(sum((ring[(k + 1) % n][0] - ring[k][0]) * (ring[(k + 1) % n][1] + ring[k][1]) for k in range(n))) / 2


@pytest.mark.parametrize(
    "lattice",
    [
        pytest.param(qt.Lattice(1000, 2000, 25, 25, 41, 31), id="axis-aligned"),
        pytest.param(qt.Lattice(431000, 6521000, 50, 25, 41, 31, 30.0), id="rotated"),
        pytest.param(qt.Lattice(0, 0, 10, 20, 41, 31, 200.0, True), id="rotated-flipped"),
    ],
)
def test_closure_outline_dome_vertices_on_contour(lattice):
    f = gauss_dome(41, 31, 20, 15, 8, 6, relief=150.0)
    level = 75.0
    ring = qt.closure_outline(f, lattice, level)
    assert len(ring) > 20
    for x, y in ring:
        assert abs(bilinear_at(f, lattice, x, y) - level) <= 1e-9 * level
    # against the area of the ellipse the contour approximates, and an independent polygon area
    area = trapezoid_area(ring)
    ax, ay = 8 * math.sqrt(2 * math.log(2)), 6 * math.sqrt(2 * math.log(2))
    cell = abs(lattice.xinc * lattice.yinc)
    assert area == pytest.approx(math.pi * ax * ay * cell, rel=0.02)
    assert len({(round(x, 6), round(y, 6)) for x, y in ring}) == len(ring)


@pytest.mark.parametrize(
    ("field", "lattice", "exc", "message"),
    [
        pytest.param([[0.0, 1.0, 0.0]], qt.Lattice(0, 0, 1, 1, 1, 3), ValueError,
                     "invalid argument: closure_outline: need at least a 2x2 lattice", id="one-column"),
        pytest.param([[0.0], [1.0]], qt.Lattice(0, 0, 1, 1, 2, 1), ValueError,
                     "invalid argument: closure_outline: need at least a 2x2 lattice", id="one-row"),
        pytest.param([], qt.Lattice(0, 0, 1, 1, 0, 0), ValueError,
                     "invalid argument: closure_outline: need at least a 2x2 lattice", id="empty"),
        pytest.param([[0.0] * 3, [0.0] * 3, [0.0] * 2], qt.Lattice(0, 0, 1, 1, 3, 3), ValueError,
                     "field must be a rectangular 3x3 nested list (field[col][row])", id="ragged"),
        pytest.param([[0.0] * 3] * 2, qt.Lattice(0, 0, 1, 1, 3, 3), ValueError,
                     "field must be a rectangular 3x3 nested list (field[col][row])", id="too-few-columns"),
        pytest.param("abc", qt.Lattice(0, 0, 1, 1, 3, 3), TypeError, "Can't extract `str` to `Vec`",
                     id="str-surface"),
    ],
)
def test_closure_outline_errors(field, lattice, exc, message):
    with pytest.raises(exc) as err:
        qt.closure_outline(field, lattice, 0.5)
    assert str(err.value) == message


def test_closure_outline_lattice_argument_type():
    with pytest.raises(TypeError) as err:
        qt.closure_outline([[0.0, 0.0], [0.0, 0.0]], None, 0.5)
    assert str(err.value) == "'None' is not an instance of 'Lattice'"
    assert err.value.__notes__ == ["while processing 'lattice'"]
