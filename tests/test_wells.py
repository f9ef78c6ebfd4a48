import math

import pytest

import quarntools as qt
from quarntools import Lattice, Sampler

INF, NAN = math.inf, math.nan


def hexes(values):
    return [v.hex() for v in values]


def flat_hexes(points):
    return [c.hex() for p in points for c in p]


# ---- place_wells -----------------------------------------------------------------------


def test_place_wells_reproducible_and_inside():
    pts = qt.place_wells(0, 0, 100, 50, 3, 42)
    assert len(pts) == 3 and all(isinstance(p, list) and len(p) == 2 for p in pts)
    assert all(0 <= x < 100 and 0 <= y < 50 for x, y in pts)
    assert flat_hexes(pts) == flat_hexes(qt.place_wells(0, 0, 100, 50, 3, 42))
    assert pts != qt.place_wells(0, 0, 100, 50, 3, 43)


def test_place_wells_draws_x_then_y_from_the_stream():
    # uniform(lo, hi) is exactly draw_range(lo, hi): alternate the two axes by hand
    rng = qt.Rng(42)
    ux, uy = Sampler.uniform(0, 100), Sampler.uniform(0, 50)
    expected = []
    for _ in range(40):  # 80 draws: crosses a refill
        expected.append([ux.sample(rng), uy.sample(rng)])
    assert flat_hexes(qt.place_wells(0, 0, 100, 50, 40, 42)) == flat_hexes(expected)


def test_place_wells_zero_is_empty():
    assert qt.place_wells(0, 0, 1, 1, 0, 1) == []


EXTENT = "invalid argument: place_wells: need a non-degenerate finite extent"
PLACE_ERRORS = [
    pytest.param((0, 0, 0, 10, 1, 1), EXTENT, id="zero-width"),
    pytest.param((0, 10, 5, 0, 1, 1), EXTENT, id="reversed-y"),
    pytest.param((NAN, 0, 1, 1, 1, 1), EXTENT, id="nan"),
    pytest.param((0, 0, INF, 1, 1, 1), EXTENT, id="inf"),
    pytest.param((-1e308, 0, 1e308, 1, 1, 1),
                 "invalid argument: place_wells: extent width or height overflows to infinity", id="width-overflows"),
    pytest.param((0, -1e308, 1, 1e308, 0, 1),
                 "invalid argument: place_wells: extent width or height overflows to infinity", id="height-overflows"),
    pytest.param((0, 0, 1, 1, 2**62, 1),
                 f"invalid argument: place_wells: n = {2**62} wells cannot be allocated", id="huge-n"),
]


@pytest.mark.parametrize(("args", "message"), PLACE_ERRORS)
def test_place_wells_errors(args, message):
    with pytest.raises(ValueError) as err:
        qt.place_wells(*args)
    assert str(err.value) == message


# ---- place_wells_in_polygon ---------------------------------------------------------------


def test_polygon_triangle():
    pts = qt.place_wells_in_polygon([[0, 0], [10, 0], [0, 10]], 5, 7)
    assert len(pts) == 5
    assert all(x >= 0 and y >= 0 and x + y < 10 for x, y in pts)


def test_polygon_square_equals_rectangle_first_point():
    square = [[0, 0], [100, 0], [100, 50], [0, 50]]
    assert flat_hexes(qt.place_wells_in_polygon(square, 1, 42)) == flat_hexes(qt.place_wells(0, 0, 100, 50, 1, 42))


def test_polygon_repeated_closing_vertex_is_harmless():
    open_ring = [[0, 0], [10, 0], [5, 8]]
    assert qt.place_wells_in_polygon(open_ring + [[0, 0]], 20, 3) == qt.place_wells_in_polygon(open_ring, 20, 3)


def test_polygon_rejection_keeps_stream_order():
    # every accepted point is one of the box draws, in order
    tri = [[0, 0], [10, 0], [0, 10]]
    box = qt.place_wells(0, 0, 10, 10, 200, 5)
    inside = [p for p in box if p[0] + p[1] < 10]
    assert qt.place_wells_in_polygon(tri, len(inside[:30]), 5) == inside[:30]


def test_self_intersecting_polygon_even_odd():
    # a bow-tie: the left and right triangles meeting at (5, 5) are inside,
    # the top and bottom ones are outside
    bowtie = [[0, 0], [10, 10], [10, 0], [0, 10]]
    pts = qt.place_wells_in_polygon(bowtie, 50, 9)
    for x, y in pts:
        assert (x < y and x < 10 - y) or (x > y and x > 10 - y)


def test_doubly_covered_region_is_rejected():
    # the ring walks the square [0, 10]^2 twice: everything is covered an even number of times
    twice = [[0, 0], [10, 0], [10, 10], [0, 10]] * 2
    with pytest.raises(ValueError) as err:
        qt.place_wells_in_polygon(twice, 1, 1)
    assert str(err.value) == (
        "invalid argument: place_wells_in_polygon: could not place all wells (polygon area too small?)")


def test_polygon_zero_wells_draws_nothing():
    assert qt.place_wells_in_polygon([[0, 0], [1, 0], [0, 1]], 0, 1) == []


def test_polygon_nan_vertex_ignored_by_bounding_box():
    # the box is [0, 10]^2; the NaN vertex's edges never toggle, which removes the left
    # edge, so every box draw with x < 10 counts as inside
    ring = [[0, 0], [10, 0], [10, 10], [0, 10], [NAN, NAN]]
    assert qt.place_wells_in_polygon(ring, 6, 2) == qt.place_wells(0, 0, 10, 10, 6, 2)


POLYGON_ERRORS = [
    pytest.param([[0, 0], [1, 1]], 1, "invalid argument: place_wells_in_polygon: polygon needs >= 3 vertices",
                 id="two-vertices"),
    pytest.param([[0, 0], [5, 0], [9, 0]], 1,
                 "invalid argument: place_wells_in_polygon: polygon bounding box is degenerate", id="collinear"),
    pytest.param([[0, 0], [INF, 0], [0, 1]], 1,
                 "invalid argument: place_wells_in_polygon: polygon bounding box is degenerate", id="inf-vertex"),
    pytest.param([[NAN, NAN]] * 3, 1,
                 "invalid argument: place_wells_in_polygon: polygon bounding box is degenerate", id="all-nan"),
    pytest.param([[-1e308, 0], [1e308, 0], [0, 1]], 1,
                 "invalid argument: place_wells_in_polygon: polygon bounding box width or height overflows to infinity",
                 id="width-overflows"),
    pytest.param([[0, 0], [1e6, 1], [1e6, 1.000001]], 1,
                 "invalid argument: place_wells_in_polygon: could not place all wells (polygon area too small?)",
                 id="sliver-exhausts-cap"),
]


@pytest.mark.parametrize(("polygon", "n", "message"), POLYGON_ERRORS)
def test_polygon_errors(polygon, n, message):
    with pytest.raises(ValueError) as err:
        qt.place_wells_in_polygon(polygon, n, 1)
    assert str(err.value) == message


# ---- trajectories -------------------------------------------------------------------------

KEYS = {"md", "x", "y", "z", "tvd", "incl", "azim"}


@pytest.mark.parametrize(
    ("step", "mds"),
    [pytest.param(30, [0, 30, 60, 90, 100], id="extra-station-on-td"),
     pytest.param(25, [0, 25, 50, 75, 100], id="td-multiple-of-step")],
)
def test_vertical_trajectory(step, mds):
    t = qt.synth_trajectory([3, 4], 25, 100, step, 1)
    assert set(t) == KEYS
    assert t["md"] == mds and t["tvd"] == mds
    assert t["z"] == [25 - m for m in mds]
    assert t["x"] == [3.0] * len(mds) and t["y"] == [4.0] * len(mds)
    assert t["incl"] == [0.0] * len(mds) and t["azim"] == [0.0] * len(mds)


def test_vertical_profile_is_synth_trajectory():
    assert qt.synth_trajectory_profile([1, 2], 30, 95, 10, 0, "vertical", build_rate_deg_per_30m=99) == \
        qt.synth_trajectory([1, 2], 30, 95, 10, 0)


def test_build_hold_attitude():
    t = qt.synth_trajectory_profile([0, 0], 0, 1500, 10, 1, "build_hold", kickoff_md=500,
                                    build_rate_deg_per_30m=3, hold_incl_deg=45, azimuth_deg=90)
    md, incl, azim = t["md"], t["incl"], t["azim"]
    for m, i, a in zip(md, incl, azim):
        if m <= 500:
            assert (i, a) == (0.0, 0.0)
        elif m >= 950:
            assert (i, a) == (45.0, 90.0)
        else:
            assert i == (m - 500) * (3 / 30) and a == 90.0
    assert md[md.index(950.0)] == 950.0 and incl[md.index(950.0)] == 45.0
    # east-going well: y stays 0, x grows, tvd below md
    assert max(abs(v) for v in t["y"]) < 1e-9
    assert t["x"][-1] > 0 and t["tvd"][-1] < 1500
    assert [z == -d for z, d in zip(t["z"], t["tvd"])] == [True] * len(md)


def test_hold_section_is_straight():
    t = qt.synth_trajectory_profile([0, 0], 0, 2000, 50, 1, "build-hold", kickoff_md=100,
                                    build_rate_deg_per_30m=6, hold_incl_deg=30, azimuth_deg=-45)
    assert t["azim"][-1] == 315.0
    md, tvd = t["md"], t["tvd"]
    k = md.index(1000.0)
    # same attitude on both ends: ratio factor 1, tvd grows by cos(30 deg) * step
    step = (math.cos(30 * 0.017453292519943295) + math.cos(30 * 0.017453292519943295)) * (50 * 0.5 * 1.0)
    assert tvd[k + 1] == tvd[k] + step


def test_build_hold_drop_s_well():
    t = qt.synth_trajectory_profile([0, 0], 10, 3000, 30, 1, "build_hold_drop", kickoff_md=300,
                                    build_rate_deg_per_30m=3, hold_incl_deg=30, drop_start_md=1500,
                                    drop_rate_deg_per_30m=2, final_incl_deg=5)
    incl = dict(zip(t["md"], t["incl"]))
    assert incl[1500.0] == 30.0 and incl[1530.0] == 30 - 30 * (2 / 30)
    assert incl[3000.0] == 5.0 and incl[1890.0] == 5.0 and incl[1860.0] == 30 - 360 * (2 / 30)
    assert qt.max_dogleg_severity(t["md"], t["incl"], t["azim"]) == pytest.approx(3.0, rel=1e-9)


def test_trajectory_same_bits_every_call_and_seed_unused():
    a = qt.synth_trajectory_profile([5, 5], 20, 1234.5, 7.5, 1, "build_hold", kickoff_md=100)
    b = qt.synth_trajectory_profile([5, 5], 20, 1234.5, 7.5, 99, "build_hold", kickoff_md=100)
    assert {k: hexes(v) for k, v in a.items()} == {k: hexes(v) for k, v in b.items()}


BH = "invalid argument: BuildHold: "
BHD = "invalid argument: BuildHoldDrop: "
PROFILE_ERRORS = [
    pytest.param(dict(profile="spiral"),
                 "unknown profile \"spiral\"; use 'vertical' | 'build_hold' | 'build_hold_drop'", id="unknown"),
    pytest.param(dict(profile="Vertical"),
                 "unknown profile \"Vertical\"; use 'vertical' | 'build_hold' | 'build_hold_drop'", id="case-sensitive"),
    pytest.param(dict(profile='a"b\\c\n'),
                 "unknown profile \"a\\\"b\\\\c\\n\"; use 'vertical' | 'build_hold' | 'build_hold_drop'", id="escaped"),
    pytest.param(dict(profile="build_hold", kickoff_md=-1), BH + "kickoff_md must be finite and >= 0", id="kickoff"),
    pytest.param(dict(profile="build_hold", build_rate_deg_per_30m=6.0001),
                 BH + "build_rate must be finite in (0, 6] deg/30m", id="rate-above-6"),
    pytest.param(dict(profile="build_hold", build_rate_deg_per_30m=0),
                 BH + "build_rate must be finite in (0, 6] deg/30m", id="rate-zero"),
    pytest.param(dict(profile="build_hold", hold_incl_deg=90), BH + "hold_incl must be finite in (0, 90)", id="incl-90"),
    pytest.param(dict(profile="build_hold", azimuth_deg=NAN), BH + "azimuth must be finite", id="azimuth-nan"),
    pytest.param(dict(profile="build_hold_drop"), "build_hold_drop needs drop_start_md", id="no-drop-start"),
    pytest.param(dict(profile="build_hold_drop", drop_start_md=None), "build_hold_drop needs drop_start_md",
                 id="explicit-none"),
    pytest.param(dict(profile="build-hold-drop", drop_start_md=400, build_rate_deg_per_30m=9),
                 BH + "build_rate must be finite in (0, 6] deg/30m", id="buildhold-checked-before-drop"),
    pytest.param(dict(profile="build_hold_drop", drop_start_md=1000, drop_rate_deg_per_30m=7),
                 BHD + "drop_rate must be finite in (0, 6] deg/30m", id="drop-rate"),
    pytest.param(dict(profile="build_hold_drop", drop_start_md=1000, final_incl_deg=46),
                 BHD + "final_incl must be finite in [0, hold_incl]", id="final-above-hold"),
    pytest.param(dict(profile="build_hold_drop", drop_start_md=449),
                 BHD + "drop_start_md must be finite and at/after the build end", id="drop-before-build-end"),
    pytest.param(dict(profile="build_hold", td=0),
                 "invalid argument: synth_trajectory_profile: td must be finite and > 0", id="td-directional"),
    pytest.param(dict(profile="vertical", td=0),
                 "invalid argument: synth_trajectory: td must be finite and > 0", id="td-vertical"),
    pytest.param(dict(profile="vertical", md_step=-1),
                 "invalid argument: synth_trajectory: md_step must be finite and > 0", id="step"),
    pytest.param(dict(profile="build_hold", kb_elevation=INF),
                 "invalid argument: synth_trajectory_profile: wellhead and kb_elevation must be finite", id="kb"),
    pytest.param(dict(profile="build_hold", build_rate_deg_per_30m=0, td=-5),
                 BH + "build_rate must be finite in (0, 6] deg/30m", id="profile-before-td"),
]


@pytest.mark.parametrize(("kwargs", "message"), PROFILE_ERRORS)
def test_profile_errors(kwargs, message):
    args = dict(wellhead_xy=[0, 0], kb_elevation=0, td=1000, md_step=10, seed=0)
    args.update(kwargs)
    with pytest.raises(ValueError) as err:
        qt.synth_trajectory_profile(**args)
    assert str(err.value) == message


def test_build_rate_six_and_drop_at_build_end_accepted():
    t = qt.synth_trajectory_profile([0, 0], 0, 1000, 10, 0, "build_hold_drop", build_rate_deg_per_30m=6,
                                    hold_incl_deg=45, drop_start_md=225)
    assert t["incl"][-1] == 0.0


@pytest.mark.parametrize(
    "call",
    [lambda: qt.synth_trajectory([0, 0], 0, 1e300, 1e-300, 1),
     lambda: qt.synth_trajectory_profile([0, 0], 0, 1e300, 1e-300, 1, "build_hold")],
    ids=["vertical", "directional"],
)
def test_pathological_station_count_raises(call):
    with pytest.raises(ValueError, match="td / md_step gives more stations than can be allocated"):
        call()


@pytest.mark.bigalloc
def test_large_station_count_is_memory_error():
    with pytest.raises(MemoryError):
        qt.synth_trajectory([0, 0], 0, 1e12, 1e-3, 1)


# ---- dogleg severity ----------------------------------------------------------------------

DOGLEG = [
    pytest.param([0, 30], [0, 3], [0, 0], 3.0, id="three-deg-per-30m"),
    pytest.param([], [], [], 0.0, id="empty"),
    pytest.param([5], [10], [20], 0.0, id="single"),
    pytest.param([0, 10, 10, 5], [0, 30, 40, 50], [0, 0, 0, 0], 90.0, id="non-increasing-pairs-skipped"),
    pytest.param([0, 30, 60], [0, NAN, 0], [0, 0, 0], 0.0, id="nan-never-wins"),
]


@pytest.mark.parametrize(("md", "incl", "azim", "expected"), DOGLEG)
def test_max_dogleg_severity(md, incl, azim, expected):
    assert qt.max_dogleg_severity(md, incl, azim) == pytest.approx(expected, rel=1e-12)


def test_dogleg_of_vertical_well_is_zero():
    t = qt.synth_trajectory([0, 0], 0, 500, 10, 0)
    assert qt.max_dogleg_severity(t["md"], t["incl"], t["azim"]) == 0.0


def test_dogleg_unequal_lengths():
    with pytest.raises(ValueError) as err:
        qt.max_dogleg_severity([0, 1], [0], [0, 0])
    assert str(err.value) == "max_dogleg_severity: md, incl and azim must be equal length"


# ---- tops_from_surface ---------------------------------------------------------------------

LAT = Lattice(100, 200, 10, 20, 3, 2)
SURF = [[1.0, 2.0], [3.0, 4.0], [5.0, 6.0]]  # surface[col][row]


def test_tops_residuals_in_well_order():
    wells = [[100, 200], [120, 220], [110, 210], [115, 205]]
    tops = qt.tops_from_surface(SURF, LAT, wells, Sampler.normal(0, 1), 8)
    r = Sampler.normal(0, 1).sample_n_seeded(4, 8)
    base = [1.0, 6.0, 3.5, (1 - 0.25) * (3 * 0.5 + 5 * 0.5) + 0.25 * (6 * 0.5 + 4 * 0.5)]
    assert hexes(tops) == hexes([b + e for b, e in zip(base, r)])


def test_tops_outside_well_keeps_residual_sequence():
    inside = qt.tops_from_surface(SURF, LAT, [[100, 200], [110, 200]], Sampler.normal(0, 1), 4)
    mixed = qt.tops_from_surface(SURF, LAT, [[0, 0], [110, 200]], Sampler.normal(0, 1), 4)
    assert math.isnan(mixed[0]) and mixed[1] == inside[1]


EDGE_WELLS = [
    pytest.param([120, 200], 5.0, id="last-column-inside"),
    pytest.param([100, 220], 2.0, id="last-row-inside"),
    pytest.param([120.000001, 200], NAN, id="beyond-last-column"),
    pytest.param([99.9999, 200], NAN, id="before-first-column"),
    pytest.param([NAN, 200], NAN, id="nan-x"),
]


@pytest.mark.parametrize(("xy", "expected"), EDGE_WELLS)
def test_tops_edges(xy, expected):
    top = qt.tops_from_surface(SURF, LAT, [xy], Sampler.uniform(0, 1e-300), 0)[0]
    if math.isnan(expected):
        assert math.isnan(top)
    else:
        assert top == pytest.approx(expected, abs=1e-299)


def test_tops_nan_corner_poisons_cell():
    surf = [[1.0, 2.0], [3.0, NAN], [5.0, 6.0]]
    # node (0, 0) itself: its cell has the NaN corner (1, 1), weight zero or not
    tops = qt.tops_from_surface(surf, LAT, [[100, 200], [120, 200], [119, 219]], Sampler.normal(0, 1), 1)
    assert math.isnan(tops[0]) and not math.isnan(tops[1]) and math.isnan(tops[2])


def test_tops_rotated_lattice():
    lat = Lattice(0, 0, 10, 10, 2, 2, rotation_deg=90)
    # I points north: node (1, 0) sits at world (0, 10)
    top = qt.tops_from_surface([[0.0, 0.0], [7.0, 7.0]], lat, [[0, 10]], Sampler.uniform(0, 1e-300), 0)[0]
    assert top == pytest.approx(7.0, abs=1e-12)


def test_tops_empty_wells_and_errors():
    assert qt.tops_from_surface(SURF, LAT, [], Sampler.normal(0, 1), 0) == []
    with pytest.raises(ValueError) as err:
        qt.tops_from_surface([[1.0, 2.0]], LAT, [[0, 0]], Sampler.normal(0, 1), 0)
    assert str(err.value) == "field must be a rectangular 3x2 nested list (field[col][row])"
    with pytest.raises(TypeError) as err:
        qt.tops_from_surface(SURF, LAT, [[0, 0]], Sampler.normal(0, 1).clamped(0, 1), 0)
    assert str(err.value).startswith("'Clamped' object is not an instance of 'Sampler'")
    with pytest.raises(ValueError) as err:
        qt.tops_from_surface(SURF, LAT, [[100, 200]], Sampler.uniform(-1e308, 1e308), 0)
    assert "uniform width hi - lo overflows to infinity" in str(err.value)
    # no well, no draw: nothing to refuse
    assert qt.tops_from_surface(SURF, LAT, [], Sampler.uniform(-1e308, 1e308), 0) == []


def test_same_bits_in_a_fresh_process():
    import subprocess
    import sys

    code = (
        "import quarntools as qt;"
        "p = qt.place_wells_in_polygon([[0, 0], [10, 0], [3, 9]], 20, 77);"
        "t = qt.tops_from_surface([[1.0, 2.0], [3.0, 4.0]], qt.Lattice(0, 0, 10, 10, 2, 2), p,"
        " qt.Sampler.lognormal(0, 1), 77);"
        "print([c.hex() for q in p for c in q] + [v.hex() for v in t])"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout.strip()
    p = qt.place_wells_in_polygon([[0, 0], [10, 0], [3, 9]], 20, 77)
    t = qt.tops_from_surface([[1.0, 2.0], [3.0, 4.0]], Lattice(0, 0, 10, 10, 2, 2), p, Sampler.lognormal(0, 1), 77)
    assert out == repr(flat_hexes(p) + hexes(t))


# ---- trajectory positions against independent geometry ------------------------------------
#
# Two references that share nothing with the core's evaluation: the exact geometry of
# the designed path (circular arcs joined by straight holds, valid wherever the
# stations fall on the section ends, since minimum curvature is exact on an arc) and
# a textbook minimum-curvature walk (dogleg from cos(i2 - i1), ratio factor
# 2 / beta * tan(beta / 2)) fed with the designed attitudes.

RAD = math.pi / 180.0


class Design:
    """The designed profile: kickoff, build, hold, optional drop, final hold."""

    def __init__(self, kickoff, build, hold, azimuth, drop_start=None, drop=3.0, final=0.0):
        self.kickoff, self.build, self.hold, self.azimuth = kickoff, build, hold, azimuth % 360.0
        self.build_end = kickoff + hold / (build / 30.0)
        self.drop_start, self.drop, self.final = drop_start, drop, final
        self.drop_end = None if drop_start is None else drop_start + (hold - final) / (drop / 30.0)

    def kwargs(self):
        kw = dict(kickoff_md=self.kickoff, build_rate_deg_per_30m=self.build, hold_incl_deg=self.hold,
                  azimuth_deg=self.azimuth)
        if self.drop_start is not None:
            kw.update(drop_start_md=self.drop_start, drop_rate_deg_per_30m=self.drop, final_incl_deg=self.final)
        return kw

    def profile(self):
        return "build_hold" if self.drop_start is None else "build_hold_drop"

    def incl(self, m):
        if self.drop_start is not None and m > self.drop_start:
            return self.final if m >= self.drop_end else self.hold - (m - self.drop_start) * (self.drop / 30.0)
        if m <= self.kickoff:
            return 0.0
        return self.hold if m >= self.build_end else (m - self.kickoff) * (self.build / 30.0)

    def exact(self, m):
        """(east, north, tvd) on the designed path at MD m."""
        tvd = min(m, self.kickoff)
        horiz = 0.0
        if m > self.kickoff:  # build arc of radius 30 / (build rate in rad)
            r = 30.0 / (self.build * RAD)
            i = self.incl(min(m, self.build_end)) * RAD
            horiz += r * (1.0 - math.cos(i))
            tvd += r * math.sin(i)
        hold_end = math.inf if self.drop_start is None else self.drop_start
        straight = min(m, hold_end) - self.build_end
        if straight > 0.0:
            horiz += straight * math.sin(self.hold * RAD)
            tvd += straight * math.cos(self.hold * RAD)
        if self.drop_start is not None and m > self.drop_start:  # drop arc, then the final hold
            r = 30.0 / (self.drop * RAD)
            h, i = self.hold * RAD, self.incl(min(m, self.drop_end)) * RAD
            horiz += r * (math.cos(i) - math.cos(h))
            tvd += r * (math.sin(h) - math.sin(i))
            tail = m - self.drop_end
            if tail > 0.0:
                horiz += tail * math.sin(self.final * RAD)
                tvd += tail * math.cos(self.final * RAD)
        az = self.azimuth * RAD
        return horiz * math.sin(az), horiz * math.cos(az), tvd

    def textbook(self, mds):
        """Minimum curvature over the stations, written the way survey textbooks give it."""
        out = [(0.0, 0.0, 0.0)]
        e = n = v = 0.0
        for m1, m2 in zip(mds, mds[1:]):
            i1, i2 = self.incl(m1) * RAD, self.incl(m2) * RAD
            a1 = self.azimuth * RAD if m1 > self.kickoff else 0.0
            a2 = self.azimuth * RAD if m2 > self.kickoff else 0.0
            cos_dl = math.cos(i2 - i1) - math.sin(i1) * math.sin(i2) * (1.0 - math.cos(a2 - a1))
            dl = math.acos(max(-1.0, min(1.0, cos_dl)))
            rf = 1.0 if dl == 0.0 else 2.0 / dl * math.tan(dl / 2.0)
            half = (m2 - m1) / 2.0 * rf
            e += half * (math.sin(i1) * math.sin(a1) + math.sin(i2) * math.sin(a2))
            n += half * (math.sin(i1) * math.cos(a1) + math.sin(i2) * math.cos(a2))
            v += half * (math.cos(i1) + math.cos(i2))
            out.append((e, n, v))
        return out


# (design, td, md_step): every section end sits on a station, so the exact path applies
ON_STATIONS = [
    pytest.param(Design(300, 3, 30, 0), 1200, 30, id="north-build-hold"),
    pytest.param(Design(100, 2.5, 60, 135), 2000, 20, id="south-east-steep"),
    pytest.param(Design(0, 6, 85, -100), 1000, 5, id="kick-at-surface-near-horizontal"),
    pytest.param(Design(300, 3, 30, 45, drop_start=1500, drop=2, final=5), 3000, 15, id="s-well"),
    pytest.param(Design(250, 1.5, 24, 300, drop_start=730, drop=4, final=0), 1500, 10, id="drop-to-vertical"),
]
# stations that straddle the section ends: only the textbook walk applies
OFF_STATIONS = ON_STATIONS + [
    pytest.param(Design(505, 4, 72, 250), 2500.5, 33, id="unaligned-build-hold"),
    pytest.param(Design(120, 5.5, 50, 10, drop_start=777, drop=1.25, final=12), 2222, 47, id="unaligned-s-well"),
    pytest.param(Design(0, 0.5, 3, 90), 400, 7.25, id="gentle-build"),
]


def trajectory(design, td, step, wellhead=(1000.0, 2000.0), kb=25.0):
    return qt.synth_trajectory_profile(list(wellhead), kb, td, step, 0, design.profile(), **design.kwargs())


def offsets(t, wellhead=(1000.0, 2000.0)):
    return [(x - wellhead[0], y - wellhead[1], v) for x, y, v in zip(t["x"], t["y"], t["tvd"])]


@pytest.mark.parametrize(("design", "td", "step"), ON_STATIONS)
def test_positions_follow_the_designed_arcs(design, td, step):
    t = trajectory(design, td, step)
    assert t["incl"] == [design.incl(m) for m in t["md"]]
    for m, got in zip(t["md"], offsets(t)):
        assert got == pytest.approx(design.exact(m), rel=0, abs=1e-9), m


@pytest.mark.parametrize(("design", "td", "step"), OFF_STATIONS)
def test_positions_match_a_textbook_minimum_curvature_walk(design, td, step):
    t = trajectory(design, td, step)
    for m, got, want in zip(t["md"], offsets(t), design.textbook(t["md"])):
        assert got == pytest.approx(want, rel=0, abs=1e-9), m
    assert [z == 25.0 - v for z, v in zip(t["z"], t["tvd"])] == [True] * len(t["md"])


def test_a_straddling_step_cuts_the_corner():
    # the walk assumes one arc between stations: the step from MD 1023 (70.4 deg) to 1056
    # spans the build end at 1035, so it bends over 33 m what the design bends over 12 m,
    # and every later station carries that tvd gap
    d = Design(495, 4, 72, 250)  # kickoff on station 15
    t = trajectory(d, 1500, 33)
    gaps = [got[2] - d.exact(m)[2] for m, got in zip(t["md"], offsets(t))]
    i1, i2 = 70.4 * RAD, 72 * RAD
    walk = 33 / (i2 - i1) * (math.sin(i2) - math.sin(i1))
    design = 30 / (4 * RAD) * (math.sin(i2) - math.sin(i1)) + 21 * math.cos(i2)
    assert t["md"][31:33] == [1023.0, 1056.0]
    assert gaps[:32] == pytest.approx([0.0] * 32, abs=1e-9)
    assert gaps[32:] == pytest.approx([walk - design] * (len(gaps) - 32), abs=1e-9)
    assert 0.27 < walk - design < 0.28


# x, y, tvd at a few stations, bit for bit
PINNED = [
    pytest.param(Design(300, 3, 30, 0), 1200, 30, 600.0,
                 ("0x1.f400000000000p+9", "0x1.03986093da0c9p+11", "0x1.253d4c83f2c9dp+9"), id="north-build-end"),
    pytest.param(Design(505, 4, 72, 250), 2500.5, 33, 2500.5,
                 ("-0x1.21fbe75500e42p+9", "0x1.643c134c96de2p+10", "0x1.54ee37b46bc4dp+10"), id="unaligned-td"),
    pytest.param(Design(120, 5.5, 50, 10, drop_start=777, drop=1.25, final=12), 2222, 47, 1645.0,
                 ("0x1.1f3a39457d370p+10", "0x1.63904ad0eb037p+11", "0x1.4cf08f9d1b823p+10"), id="s-well-in-drop"),
    pytest.param(Design(300, 3, 30, 45, drop_start=1500, drop=2, final=5), 3000, 15, 3000.0,
                 ("0x1.7c3a86348905ap+10", "0x1.3b1d431a4482dp+11", "0x1.632de5c7ce2f2p+11"), id="s-well-td"),
    # where the ratio factor's rounding shows: tan(b / 2) / (b / 2) and 2 / b * tan(b / 2)
    # differ in the last bit for some of these steps
    pytest.param(Design(300, 3, 30, 45, drop_start=1500, drop=2, final=5), 3000, 15, 750.0,
                 ("0x1.14d3f45f524bep+10", "0x1.0769fa2fa925fp+11", "0x1.6630fc9481bdcp+9"), id="s-well-hold"),
    pytest.param(Design(0, 2.5, 45, 37), 840, 33, 840.0,
                 ("0x1.3831d1f8704eep+10", "0x1.23447c099ceb2p+11", "0x1.5d3741072eeecp+9"), id="surface-kickoff"),
    pytest.param(Design(0, 2.5, 30, 135), 660, 10, 660.0,
                 ("0x1.24ccd5e5a198bp+10", "0x1.c9332a1a5e675p+10", "0x1.2dca88bf74734p+9"), id="south-east-fine"),
    pytest.param(Design(200, 3, 60, 300), 1100, 33, 1100.0,
                 ("0x1.077735fc11bf1p+9", "0x1.1c240ad288fecp+11", "0x1.a72c423e28bf5p+9"), id="north-west"),
]


@pytest.mark.parametrize(("design", "td", "step", "md", "expected"), PINNED)
def test_positions_pinned_bits(design, td, step, md, expected):
    t = trajectory(design, td, step)
    k = t["md"].index(md)
    assert (t["x"][k].hex(), t["y"][k].hex(), t["tvd"][k].hex()) == expected
