"""Synthetic maps (isochore, trend map, dome) and outlines (closure, study area)."""
import math
import random
import statistics

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


def key6(v):
    """round(v * 1e6) with halves away from zero, NaN to 0."""
    v *= 1e6
    if math.isnan(v):
        return 0
    a = abs(v)
    r = math.floor(a) + (1 if a - math.floor(a) >= 0.5 else 0)
    return r if v >= 0 else -r


def traced_outline(field, lattice, level):
    """Direct marching squares: segments per cell, merged vertices, rings traced in
    segment order, the first ring of largest shoelace area."""
    segs = []

    def cross(vp, vq, pp, pq):
        t = 0.5 if abs(vq - vp) < 2.2250738585072014e-308 else (level - vp) / (vq - vp)
        return (pp[0] + (pq[0] - pp[0]) * t, pp[1] + (pq[1] - pp[1]) * t)

    for i in range(lattice.ncol - 1):
        for j in range(lattice.nrow - 1):
            a, b, c, d = field[i][j], field[i + 1][j], field[i + 1][j + 1], field[i][j + 1]
            if any(math.isnan(v) for v in (a, b, c, d)):
                continue
            pa, pb = lattice.node_xy(i, j), lattice.node_xy(i + 1, j)
            pc, pd = lattice.node_xy(i + 1, j + 1), lattice.node_xy(i, j + 1)
            edge = {"B": (a, b, pa, pb), "R": (b, c, pb, pc), "T": (d, c, pd, pc), "L": (a, d, pa, pd)}
            case = (level < a) | (level < b) << 1 | (level < c) << 2 | (level < d) << 3
            table = {1: "LB", 14: "LB", 2: "BR", 13: "BR", 3: "LR", 12: "LR", 4: "RT", 11: "RT",
                     5: "LBRT", 6: "BT", 9: "BT", 7: "TL", 8: "TL", 10: "BRTL"}
            names = table.get(case, "")
            for k in range(0, len(names), 2):
                segs.append((cross(*edge[names[k]]), cross(*edge[names[k + 1]])))
    ids, verts, adj, ends = {}, [], [], []

    def vertex(p):
        key = (key6(p[0]), key6(p[1]))
        if key not in ids:
            ids[key] = len(verts)
            verts.append(p)
            adj.append([])
        return ids[key]

    for k, (p, q) in enumerate(segs):
        a = vertex(p)
        b = vertex(q)
        ends.append((a, b))
        adj[a].append((b, k))
        adj[b].append((a, k))
    used = [False] * len(segs)
    best, best_area = [], 0.0
    for k in range(len(segs)):
        if used[k]:
            continue
        used[k] = True
        s, cur = ends[k]
        ring = [s, cur]
        closed = False
        while True:
            step = next(((nb, sg) for nb, sg in adj[cur] if not used[sg]), None)
            if step is None:
                break
            used[step[1]] = True
            if step[0] == s:
                closed = True
                break
            ring.append(step[0])
            cur = step[0]
        if not closed or len(ring) <= 2:
            continue
        total = 0.0
        for m in range(len(ring) - 1):
            (x0, y0), (x1, y1) = verts[ring[m]], verts[ring[m + 1]]
            total += x0 * y1 - y0 * x1
        (xl, yl), (xf, yf) = verts[ring[-1]], verts[ring[0]]
        total += xl * yf - xf * yl
        if abs(total) * 0.5 > best_area:
            best, best_area = ring, abs(total) * 0.5
    return [list(verts[v]) for v in best]


def test_closure_outline_random_fields_against_direct_tracing():
    rng = random.Random(5)
    rings = 0
    for _ in range(400):
        ncol, nrow = rng.randint(2, 8), rng.randint(2, 8)
        lattice = qt.Lattice(rng.choice([0, 431000.5]), rng.choice([0, 6.5e6]), rng.choice([1, 25, 0.3]),
                             rng.choice([1, 0.7, -2]), ncol, nrow, rng.choice([0, 30, 90, 271.3]), rng.random() < 0.3)
        # small integer values with integer levels give corners on the level, zero-length
        # segments, plateaus and saddles
        levels = rng.random() < 0.5
        f = [[float(rng.randint(0, 3)) if levels else rng.random() * 4 for _ in range(nrow)] for _ in range(ncol)]
        if rng.random() < 0.2:
            f[rng.randrange(ncol)][rng.randrange(nrow)] = NAN
        level = rng.choice([0.5, 1.0, 1.5, 2.0, 2.5]) if levels else rng.random() * 4
        got = qt.closure_outline(f, lattice, level)
        assert repr(got) == repr(traced_outline(f, lattice, level)), (f, lattice, level)
        rings += bool(got)
    assert rings > 100


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


# ---- synth_isochore ---------------------------------------------------------------

import struct
import threading

import numpy as np

SPH = qt.Variogram("spherical", 0.0, 1.0, 8.0)
LAT = qt.Lattice(0, 0, 1, 1, 30, 20)


def flat(result):
    data, (ncol, nrow) = result
    return np.frombuffer(data, "<f8").reshape(ncol, nrow)


def as_bytes(nested):
    return b"".join(struct.pack("<%dd" % len(col), *col) for col in nested)


def noise(lattice, variance, variogram, seed):
    """The unconditional simulation itself: a dome with no relief and no tilt."""
    return flat(qt.synth_dome_surface_flat(lattice, 0.0, 1.0, 0.0, variance, variogram, seed))


@pytest.mark.parametrize(
    ("mean", "expected"),
    [pytest.param(12.5, 12.5, id="constant-mean"), pytest.param(-3.0, 0.0, id="negative-mean-clamps")],
)
@pytest.mark.parametrize("variability", [0.0, -0.0], ids=["zero", "minus-zero"])
def test_isochore_without_variability(mean, expected, variability):
    field = qt.synth_isochore(LAT, mean, variability, SPH, 1)
    assert field == [[expected] * 20 for _ in range(30)]
    assert field[0][0].hex() == expected.hex()
    assert field == qt.synth_isochore(LAT, mean, variability, SPH, 2)  # no draws at all


def test_isochore_is_the_clamped_simulation():
    n = noise(LAT, 4.0, SPH, 17)
    iso = flat(qt.synth_isochore_flat(LAT, 1.5, 2.0, SPH, 17))
    assert (iso == np.maximum(n + 1.5, 0.0)).all()
    assert (iso == 0.0).any() and (iso > 1.5).any()


def test_isochore_reproducible_nested_flat_and_threads():
    a = qt.synth_isochore(LAT, 10.0, 2.0, SPH, 5)
    assert a == qt.synth_isochore(LAT, 10.0, 2.0, SPH, 5)
    data, shape = qt.synth_isochore_flat(LAT, 10.0, 2.0, SPH, 5)
    assert shape == (30, 20) and data == as_bytes(a)
    assert qt.synth_isochore_flat(LAT, 10.0, 2.0, SPH, 6)[0] != data
    results = [None, None]

    def run(k):
        results[k] = qt.synth_isochore_flat(LAT, 10.0, 2.0, SPH, 5)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [(data, shape)] * 2


def test_isochore_statistics():
    field = flat(qt.synth_isochore_flat(qt.Lattice(0, 0, 10, 10, 100, 100), 50.0, 5.0,
                                        qt.Variogram("exponential", 0.0, 1.0, 40.0), 99))
    assert abs(field.mean() - 50.0) < 1.0
    assert abs(field.std() - 5.0) < 1.0


ISOCHORE_ERRORS = [
    pytest.param((LAT, math.nan, 1.0, SPH, 1), "invalid argument: synth_isochore: mean_thickness must be finite",
                 id="nan-mean"),
    pytest.param((LAT, INF, -1.0, SPH, 1), "invalid argument: synth_isochore: mean_thickness must be finite",
                 id="mean-checked-first"),
    pytest.param((LAT, 1.0, -1.0, SPH, 1), "invalid argument: synth_isochore: variability must be finite and >= 0",
                 id="negative-variability"),
    pytest.param((LAT, 1.0, NAN, SPH, 1), "invalid argument: synth_isochore: variability must be finite and >= 0",
                 id="nan-variability"),
    pytest.param((LAT, 1.0, INF, SPH, 1), "invalid argument: synth_isochore: variability must be finite and >= 0",
                 id="infinite-variability"),
    pytest.param((qt.Lattice(0, 0, 1, 1, 2**40, 2**40), 1.0, 1.0, SPH, 1),
                 "invalid argument: sgs_unconditional: lattice has too many nodes", id="too-many-nodes"),
    pytest.param((qt.Lattice(0, 0, INF, 1, 3, 3), 1.0, 1.0, SPH, 1),
                 "invalid argument: sgs_unconditional: need max_neighbours >= 1 and radius > 0",
                 id="infinite-spacing-radius"),
]


@pytest.mark.parametrize("fn", [qt.synth_isochore, qt.synth_isochore_flat], ids=["nested", "flat"])
@pytest.mark.parametrize(("args", "message"), ISOCHORE_ERRORS)
def test_isochore_errors(fn, args, message):
    with pytest.raises(ValueError) as err:
        fn(*args)
    assert str(err.value) == message


def test_generators_take_only_the_isotropic_variogram():
    aniso = qt.AnisotropicVariogram("spherical", 10.0, 5.0, 1.0, 0.0)
    with pytest.raises(TypeError) as err:
        qt.synth_isochore(LAT, 1.0, 1.0, aniso, 1)
    assert str(err.value) == "'AnisotropicVariogram' object is not an instance of 'Variogram'"
    assert err.value.__notes__ == ["while processing 'variogram'"]


def test_zero_spacing_lattice_still_simulates():
    field = flat(qt.synth_isochore_flat(qt.Lattice(0, 0, 0, 0, 4, 3), 5.0, 1.0, SPH, 3))
    assert field.shape == (4, 3) and np.isfinite(field).all()


# ---- synth_trend_map ----------------------------------------------------------------

def ranked_field(ncol, nrow):
    """Distinct values whose ranks are known: node (i, j) has rank i * nrow + j."""
    return [[float(i * nrow + j) * 0.5 - 7.0 for j in range(nrow)] for i in range(ncol)]


def test_trend_is_phi_of_the_simulation():
    t = flat(qt.synth_trend_map_flat(LAT, SPH, 8))
    n = noise(LAT, 1.0, SPH, 8)
    cdf = np.vectorize(statistics.NormalDist().cdf)
    assert np.allclose(t, cdf(n), rtol=0, atol=1e-14)
    assert ((t >= 0.0) & (t <= 1.0)).all()
    assert flat(qt.synth_trend_map_flat(LAT, SPH, 8, None)).tobytes() == t.tobytes()


@pytest.mark.parametrize(("rho", "sign"), [pytest.param(1.0, 1, id="rho-1"), pytest.param(-1.0, -1, id="rho-minus-1")])
def test_trend_fully_correlated(rho, sign):
    f = ranked_field(30, 20)
    f[3][4] = NAN
    t = qt.synth_trend_map(LAT, SPH, 8, (f, rho))
    assert t[3][4] == 0.5
    finite = sorted(v for col in f for v in col if not math.isnan(v))
    n = len(finite)
    for i in range(30):
        for j in range(20):
            if (i, j) == (3, 4):
                continue
            p = (finite.index(f[i][j]) + 0.5) / n
            assert t[i][j] == pytest.approx(p if sign > 0 else 1.0 - p, abs=1e-12)


def test_trend_partial_correlation():
    lat = qt.Lattice(0, 0, 1, 1, 60, 60)
    f = [[math.sin(i / 7.0) + math.cos(j / 5.0) for j in range(60)] for i in range(60)]
    t = flat(qt.synth_trend_map_flat(lat, qt.Variogram("spherical", 0.0, 1.0, 5.0), 4, (f, 0.7)))
    inv = np.vectorize(statistics.NormalDist().inv_cdf)
    r = np.corrcoef(inv(t).ravel(), np.asarray(f).ravel())[0, 1]
    assert 0.55 < r < 0.85
    assert ((t > 0.0) & (t < 1.0)).all()


def test_trend_nested_equals_flat():
    f = ranked_field(30, 20)
    nested = qt.synth_trend_map(LAT, SPH, 3, (f, 0.4))
    assert qt.synth_trend_map_flat(LAT, SPH, 3, (f, 0.4)) == (as_bytes(nested), (30, 20))
    assert qt.synth_trend_map(LAT, SPH, 3, correlate_with=(tuple(map(tuple, f)), 0.4)) == nested


TREND_ERRORS = [
    pytest.param((ranked_field(30, 20), 1.5), ValueError, "invalid argument: synth_trend_map: rho must be in [-1, 1]",
                 id="rho-above-1"),
    pytest.param((ranked_field(30, 20), -1.0000001), ValueError,
                 "invalid argument: synth_trend_map: rho must be in [-1, 1]", id="rho-below-minus-1"),
    pytest.param((ranked_field(30, 20), NAN), ValueError, "invalid argument: synth_trend_map: rho must be in [-1, 1]",
                 id="rho-nan"),
    pytest.param(([[NAN] * 20] * 30, 0.5), ValueError, "empty input: NormalScore::fit: no data", id="all-nan-field"),
    pytest.param((ranked_field(30, 19), 1.5), ValueError,
                 "field must be a rectangular 30x20 nested list (field[col][row])", id="shape-before-rho"),
    pytest.param((ranked_field(29, 20), 0.5), ValueError,
                 "field must be a rectangular 30x20 nested list (field[col][row])", id="too-few-columns"),
]


@pytest.mark.parametrize("fn", [qt.synth_trend_map, qt.synth_trend_map_flat], ids=["nested", "flat"])
@pytest.mark.parametrize(("correlate_with", "exc", "message"), TREND_ERRORS)
def test_trend_errors(fn, correlate_with, exc, message):
    with pytest.raises(exc) as err:
        fn(LAT, SPH, 1, correlate_with)
    assert str(err.value) == message


@pytest.mark.parametrize(
    ("correlate_with", "exc", "message"),
    [
        pytest.param([ranked_field(30, 20), 0.5], TypeError, "'list' object is not an instance of 'tuple'",
                     id="list-not-tuple"),
        pytest.param((ranked_field(30, 20), 0.5, 1), ValueError,
                     "expected tuple of length 2, but got tuple of length 3", id="three-items"),
        pytest.param((ranked_field(30, 20), "x"), TypeError, None, id="rho-not-a-number"),
        pytest.param(("abc", 0.5), TypeError, "Can't extract `str` to `Vec`", id="field-str"),
    ],
)
def test_trend_correlate_with_conversion(correlate_with, exc, message):
    with pytest.raises(exc) as err:
        qt.synth_trend_map(LAT, SPH, 1, correlate_with)
    if message is not None:
        assert str(err.value) == message
    assert err.value.__notes__ == ["while processing 'correlate_with'"]


# ---- synth_dome_surface -------------------------------------------------------------

def test_dome_without_noise_or_tilt():
    lat = qt.Lattice(100, 200, 10, 10, 21, 15)
    a = qt.synth_dome_surface(lat, 80.0, 1.5, 0.0, 0.0, SPH, 1)
    assert a == qt.synth_dome_surface(lat, 80.0, 1.5, 0.0, 0.0, SPH, 999)
    assert a[10][7] == 80.0
    assert max(v for col in a for v in col) == 80.0


def test_dome_axes_and_tilt():
    lat = qt.Lattice(0, 0, 1, 1, 101, 101)
    d = qt.synth_dome_surface(lat, 10.0, 4.0, 0.0, 0.0, SPH, 1)
    # ax = 100 / 4 * sqrt(4) = 50: the east edge is one semi-axis from the crest
    assert d[100][50] == math.exp(-0.5) * 10.0
    assert d[50 + 20][50] > d[50][50 + 20]  # aspect > 1 stretches east-west
    t = qt.synth_dome_surface(lat, 0.0, 1.0, 6.0, 0.0, SPH, 1)
    assert t[0][0] == t[0][100] == -3.0
    assert t[100][7] == 3.0 and t[50][3] == 0.0


def test_dome_single_column():
    lat = qt.Lattice(5, 0, 1, 2, 1, 9)
    d = qt.synth_dome_surface(lat, 10.0, 1.0, 4.0, 0.0, SPH, 1)
    ay = 16 * 0.5 * 0.5
    assert d == [[math.exp(((2.0 * j - 8.0) / ay) ** 2 * -0.5) * 10.0 - 2.0 for j in range(9)]]


def test_dome_rotated_crest_matches_bounding_box():
    # a 90 degree rotation of a 5 x 5 lattice spans the same box as the axis-aligned one
    rot = qt.Lattice(10, 0, 1, 1, 5, 5, 90.0)
    plain = qt.Lattice(6, 0, 1, 1, 5, 5)

    def crest(lat):
        f = qt.synth_dome_surface(lat, 1.0, 1.0, 0.0, 0.0, SPH, 1)
        i, j = max(((i, j) for i in range(5) for j in range(5)), key=lambda ij: f[ij[0]][ij[1]])
        return lat.node_xy(i, j)

    assert crest(rot) == pytest.approx(crest(plain)) == (8.0, 2.0)


def test_dome_noise_is_the_simulation():
    lat = qt.Lattice(0, 0, 1, 1, 25, 25)
    base = flat(qt.synth_dome_surface_flat(lat, 5.0, 1.0, 2.0, 0.0, SPH, 4))
    noisy = flat(qt.synth_dome_surface_flat(lat, 5.0, 1.0, 2.0, 0.25, SPH, 4))
    assert (noisy == base + noise(lat, 0.25, SPH, 4)).all()
    assert qt.synth_dome_surface_flat(lat, 5.0, 1.0, 2.0, 0.25, SPH, 4) == (
        as_bytes(qt.synth_dome_surface(lat, 5.0, 1.0, 2.0, 0.25, SPH, 4)), (25, 25))


@pytest.mark.parametrize(
    ("lattice", "variogram", "radius"),
    [
        pytest.param(qt.Lattice(0, 0, 1, 2, 30, 20), qt.Variogram("spherical", 0.0, 1.0, 10.0), 15.0,
                     id="one-and-a-half-ranges"),
        pytest.param(qt.Lattice(5, 7, -3, 2, 30, 20), qt.Variogram("exponential", 0.1, 0.9, 7.5), 12.0,
                     id="four-of-the-larger-spacing"),
    ],
)
def test_generators_neighbourhood(lattice, variogram, radius):
    """The generators simulate with 24 neighbours within max(1.5 * range, 4 * spacing):
    the same sweep as sgs with that neighbourhood, conditioned only through values equal
    to their own normal scores placed off the lattice (an identity back-transform)."""
    scores = [statistics.NormalDist().inv_cdf((k + 0.5) / 4000) for k in range(4000)]
    data = [[-1e6, -1e6, q] for q in scores]
    unit = noise(lattice, 1.0, variogram, 42)
    inside = np.abs(unit) < 3.4  # beyond the extreme scores sgs clamps
    for count, r, same in [(24, radius, True), (24, radius * 0.99, False), (23, radius, False)]:
        field = flat(qt.sgs_flat(data, lattice, variogram, count, r, 42))
        assert (np.abs(field - unit)[inside].max() < 1e-12) == same, (count, r)


def test_dome_closure_outline():
    lat = qt.Lattice(431000, 6521000, 25, 25, 81, 61, 15.0)
    relief, level = 120.0, 80.0
    f = qt.synth_dome_surface(lat, relief, 2.0, 0.0, 0.0, SPH, 1)
    ring = qt.closure_outline(f, lat, level)
    for x, y in ring:
        assert abs(bilinear_at(f, lat, x, y) - level) <= 1e-9 * level
    # the contour is the ellipse exp(-r^2 / 2) * relief = level around the world-box centre
    xs = [lat.node_xy(i, j)[0] for i in (0, 80) for j in (0, 60)]
    ys = [lat.node_xy(i, j)[1] for i in (0, 80) for j in (0, 60)]
    ax = (max(xs) - min(xs)) * 0.25 * math.sqrt(2.0)
    ay = (max(ys) - min(ys)) * 0.25 / math.sqrt(2.0)
    expected = math.pi * ax * ay * 2.0 * math.log(relief / level)
    assert trapezoid_area(ring) == pytest.approx(expected, rel=0.01)


DOME_ERRORS = [
    pytest.param((1.0, 0.0, 0.0, -1.0), "invalid argument: NoiseSpec: variance must be finite and >= 0",
                 id="negative-noise-first"),
    pytest.param((NAN, 1.0, 0.0, NAN), "invalid argument: NoiseSpec: variance must be finite and >= 0",
                 id="nan-noise"),
    pytest.param((1.0, 1.0, 0.0, INF), "invalid argument: NoiseSpec: variance must be finite and >= 0",
                 id="infinite-noise"),
    pytest.param((NAN, 0.0, 0.0, 0.0), "invalid argument: synth_dome_surface: relief and tilt must be finite",
                 id="nan-relief-before-aspect"),
    pytest.param((1.0, 1.0, INF, 0.0), "invalid argument: synth_dome_surface: relief and tilt must be finite",
                 id="infinite-tilt"),
    pytest.param((1.0, 0.0, 0.0, 0.0), "invalid argument: synth_dome_surface: aspect must be finite and > 0",
                 id="zero-aspect"),
    pytest.param((1.0, -2.0, 0.0, 0.0), "invalid argument: synth_dome_surface: aspect must be finite and > 0",
                 id="negative-aspect"),
    pytest.param((1.0, INF, 0.0, 0.0), "invalid argument: synth_dome_surface: aspect must be finite and > 0",
                 id="infinite-aspect"),
]


@pytest.mark.parametrize("fn", [qt.synth_dome_surface, qt.synth_dome_surface_flat], ids=["nested", "flat"])
@pytest.mark.parametrize(("args", "message"), DOME_ERRORS)
def test_dome_errors(fn, args, message):
    relief, aspect, tilt, var = args
    with pytest.raises(ValueError) as err:
        fn(LAT, relief, aspect, tilt, var, SPH, 1)
    assert str(err.value) == message


@pytest.mark.parametrize(
    ("variance", "message"),
    [
        pytest.param(0.0, "invalid argument: synth_dome_surface: lattice has too many nodes", id="no-noise"),
        pytest.param(1.0, "invalid argument: sgs_unconditional: lattice has too many nodes", id="with-noise"),
    ],
)
def test_dome_huge_lattice(variance, message):
    with pytest.raises(ValueError) as err:
        qt.synth_dome_surface_flat(qt.Lattice(0, 0, 1, 1, 2**33, 2**33), 1.0, 1.0, 0.0, variance, SPH, 1)
    assert str(err.value) == message


def test_dome_empty_lattice_and_minus_zero_noise():
    assert qt.synth_dome_surface(qt.Lattice(0, 0, 1, 1, 0, 4), 1.0, 1.0, 0.0, -0.0, SPH, 1) == []
    assert qt.synth_dome_surface_flat(qt.Lattice(0, 0, 1, 1, 3, 0), 1.0, 1.0, 0.0, 1.0, SPH, 1) == (b"", (3, 0))
