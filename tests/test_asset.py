"""Asset builder: geoscience helpers against hand computations, and a whole (small) asset."""
import math
import pickle

import numpy as np
import pytest

import quarntools as qt
from quarntools.asset import (AssetError, ConfigError, build_asset, default_config, default_toml,
                              parse_config, realization_volumes, volume_inputs)
from quarntools.asset import geoscience as gs

SMALL = """
[frame]
ncol = 41
nrow = 41
xinc = 150.0
yinc = 150.0
[volumetrics]
realizations = 24
[porosity]
control_wells = 10
"""


@pytest.fixture(scope="module")
def small():
    return build_asset(parse_config(SMALL))


# ---- gross rock volume -----------------------------------------------------------------

# top and base on a 2 x 2 lattice, contact, mask -> expected sum of column heights (m)
GRV = [
    pytest.param([[100.0, 110.0], [120.0, 130.0]], [[120.0, 130.0], [140.0, 150.0]], 125.0, None,
                 20.0 + 15.0 + 5.0 + 0.0, id="contact-cuts-three-columns"),
    pytest.param([[100.0, 110.0], [120.0, 130.0]], [[120.0, 130.0], [140.0, 150.0]], 200.0, None,
                 80.0, id="contact-below-base-full-isochore"),
    pytest.param([[100.0, 110.0], [120.0, 130.0]], [[120.0, 130.0], [140.0, 150.0]], 90.0, None,
                 0.0, id="contact-above-crest"),
    pytest.param([[100.0, math.nan], [120.0, 130.0]], [[120.0, 130.0], [math.nan, 150.0]], 125.0, None,
                 20.0, id="undefined-top-or-base-skipped"),
    pytest.param([[100.0, 110.0], [120.0, 130.0]], [[120.0, 130.0], [140.0, 150.0]], 125.0,
                 [[True, False], [True, True]], 25.0, id="mask-excludes-a-column"),
]


@pytest.mark.parametrize(("top", "base", "contact", "mask", "heights"), GRV)
def test_grv_hand_computed(top, base, contact, mask, heights):
    m = None if mask is None else np.array(mask)
    assert gs.grv(np.array(top), np.array(base), contact, 50.0 * 50.0, m) == heights * 2500.0


def test_trap_excludes_a_separate_high():
    # crest 100 at (1, 1); a separate high 110 at (4, 4) also above the contact 120
    top = np.full((6, 6), 150.0)
    top[1, 1], top[4, 4], top[1, 2] = 100.0, 110.0, 115.0
    mask = gs.trap_mask(top, 120.0)
    assert sorted(map(tuple, np.argwhere(mask).tolist())) == [(1, 1), (1, 2)]
    base = top + 30.0
    assert gs.grv(top, base, 120.0, 1.0, mask) == 20.0 + 5.0
    assert gs.grv(top, base, 120.0, 1.0) == 20.0 + 5.0 + 10.0


# ---- spill point -----------------------------------------------------------------------

def test_spill_is_the_lowest_saddle_to_the_edge():
    # a bowl of 200 m; crest 100 at the centre; two passes toward the edge at 140 and 160 m
    top = np.full((7, 7), 200.0)
    top[2:5, 2:5] = 130.0
    top[3, 3] = 100.0
    top[3, 1], top[3, 0] = 160.0, 150.0      # west pass: deepest node 160
    top[5, 3], top[6, 3] = 140.0, 135.0      # south pass: deepest node 140
    level, crest, spill = gs.spill_depth(top)
    assert (level, crest, spill) == (140.0, (3, 3), (5, 3))
    assert int(gs.trap_mask(top, level).sum()) == 9


def test_spill_of_a_crest_on_the_edge_is_the_crest():
    top = np.array([[100.0, 120.0], [130.0, 140.0]])
    assert gs.spill_depth(top)[0] == 100.0


# ---- penetration picks -----------------------------------------------------------------

PLANE_LAT = qt.Lattice(-500.0, -500.0, 50.0, 50.0, 41, 41)


def _plane(a, b, c):
    x, y = qt.Field(np.zeros((41, 41)), PLANE_LAT).xy()
    return qt.Field(a + b * x + c * y, PLANE_LAT)


def _straight(incl_deg, azim_deg, kb_depth=-25.0, n=400, step=5.0):
    md = np.arange(n) * step
    i, az = math.radians(incl_deg), math.radians(azim_deg)
    return (md, md * math.sin(i) * math.sin(az), md * math.sin(i) * math.cos(az),
            kb_depth + md * math.cos(i))


PENETRATIONS = [
    # surface depth = a + b x + c y; path from (0, 0, -25) at inclination/azimuth
    pytest.param((1000.0, 0.0, 0.0), 0.0, 0.0, id="vertical-flat"),
    pytest.param((1000.0, 0.1, 0.0), 30.0, 90.0, id="east-dipping-plane-drilled-east"),
    pytest.param((950.0, -0.05, 0.02), 25.0, 200.0, id="oblique-plane"),
]


@pytest.mark.parametrize(("plane", "incl", "azim"), PENETRATIONS)
def test_penetration_of_a_plane_matches_the_closed_form(plane, incl, azim):
    a, b, c = plane
    md, x, y, tvd = _straight(incl, azim)
    pick, why = gs.penetration(md, x, y, tvd, _plane(a, b, c))
    i, az = math.radians(incl), math.radians(azim)
    # -25 + m cos i = a + b m sin i sin az + c m sin i cos az
    m = (a + 25.0) / (math.cos(i) - b * math.sin(i) * math.sin(az) - c * math.sin(i) * math.cos(az))
    assert why == ""
    assert pick.md == pytest.approx(m, abs=1e-6)
    assert pick.tvd == pytest.approx(-25.0 + m * math.cos(i), abs=1e-6)
    assert pick.tvd == pytest.approx(a + b * pick.x + c * pick.y, abs=1e-6)  # on the surface at its own x, y


def test_penetration_is_not_the_depth_below_the_head():
    # a deviated well into a dipping plane meets it far from the head and at another depth
    md, x, y, tvd = _straight(40.0, 90.0)
    surface = _plane(1000.0, 0.1, 0.0)
    pick, _ = gs.penetration(md, x, y, tvd, surface)
    below_head = gs.surface_at(surface, 0.0, 0.0)[0]
    assert below_head == 1000.0
    assert pick.x > 900.0 and pick.tvd - below_head > 90.0


NO_PICK = [
    pytest.param(3000.0, "TD reached at 1995.0 m MD, 1970.0 m TVD, 1030.0 m above the surface",
                 id="td-above-surface"),
    pytest.param(-100.0, "the well starts below the surface (KB at -25.0 m TVD, surface -100.0 m)",
                 id="starts-below"),
]


@pytest.mark.parametrize(("depth", "why"), NO_PICK)
def test_no_penetration_says_why(depth, why):
    md, x, y, tvd = _straight(0.0, 0.0)
    pick, reason = gs.penetration(md, x, y, tvd, _plane(depth, 0.0, 0.0))
    assert pick is None and reason == why


def test_penetration_outside_the_lattice_is_undefined():
    md, x, y, tvd = _straight(0.0, 0.0)
    lat = qt.Lattice(5000.0, 5000.0, 50.0, 50.0, 5, 5)
    pick, why = gs.penetration(md, x, y, tvd, qt.Field(np.full((5, 5), 100.0), lat))
    assert pick is None and why == "the surface is undefined along the whole path"


POLYGON = [
    pytest.param((5.0, 5.0), True, id="inside"),
    pytest.param((15.0, 5.0), False, id="right-of-square"),
    pytest.param((2.0, 8.5), False, id="in-the-notch"),
    pytest.param((8.0, 8.5), True, id="beside-the-notch"),
]


@pytest.mark.parametrize(("pt", "inside"), POLYGON)
def test_points_in_polygon(pt, inside):
    ring = np.array([[0, 0], [10, 0], [10, 10], [5, 10], [5, 7], [0, 7]], dtype=float)
    assert bool(gs.points_in_polygon(ring, *pt)[0]) is inside
    assert gs.ring_area(ring) == 85.0


# ---- per-realization volumetrics --------------------------------------------------------

def _inputs(weights=None):
    sim = gs.LatticeGeom(0.0, 0.0, 100.0, 100.0, 5, 4)
    w = np.arange(20.0).reshape(5, 4) if weights is None else weights
    return gs.VolumeInputs(((50.0, 50.0, 0.2), (350.0, 250.0, 0.25), (200.0, 120.0, 0.18)), sim,
                           ("spherical", 0.0, 1e-3, 300.0), 8, 1000.0, w, 2.0e8,
                           (0.5, 0.6, 0.7), (0.3, 0.05, 0.1, 0.6), (1.1, 1.3))


def test_realization_is_grv_ntg_net_porosity_saturation_and_bo():
    r = realization_volumes(_inputs(), 3, 12345)
    w = np.arange(20.0).reshape(5, 4)
    assert r.phi == float(np.sum(w * r.porosity)) / float(np.sum(w))
    assert r.stoiip_sm3 == 2.0e8 * r.ntg * r.phi * (1.0 - r.sw) / r.bo
    assert (r.index, r.seed, r.grv_m3) == (3, 12345, 2.0e8)
    assert 0.5 <= r.ntg <= 0.7 and 0.1 <= r.sw <= 0.6 and 1.1 <= r.bo < 1.3


def test_realization_is_a_pure_picklable_function_of_inputs_index_seed():
    inputs = pickle.loads(pickle.dumps(_inputs()))
    a, b = realization_volumes(_inputs(), 0, 99), realization_volumes(inputs, 0, 99)
    assert (a.stoiip_sm3.hex(), a.porosity.tobytes()) == (b.stoiip_sm3.hex(), b.porosity.tobytes())
    assert realization_volumes(_inputs(), 0, 100).stoiip_sm3 != a.stoiip_sm3


def test_coarse_weights_integrate_the_refined_field():
    rng = np.random.default_rng(1)
    h = rng.uniform(0, 30, size=(13, 9))
    coarse = rng.uniform(0.1, 0.3, size=(4, 3))
    w = gs.coarse_weights(h, 4, coarse.shape)
    assert float(np.sum(w * coarse)) == pytest.approx(float(np.sum(h * gs.refine_bilinear(coarse, 4, h.shape))),
                                                      rel=1e-13)
    assert float(np.sum(w)) == pytest.approx(float(np.sum(h)), rel=1e-13)


def test_realizations_use_the_package_child_seeds(small):
    stage = qt.spawn_seeds(small.seed, 10)[8]
    assert [r.seed for r in small.realizations] == qt.spawn_seeds(stage, 24)


# ---- a whole asset -------------------------------------------------------------------------

def test_percentiles_are_ordered_and_type_7(small):
    s = small.summary()
    st = sorted(r.stoiip_sm3 for r in small.realizations)
    assert s["stoiip"]["p90"] <= s["stoiip"]["p50"] <= s["stoiip"]["p10"]
    n = len(st)
    k = (n - 1) * 0.10                     # type 7: rank (n - 1) p
    lo = math.floor(k)
    assert s["stoiip"]["p90"] == pytest.approx(st[lo] + (k - lo) * (st[lo + 1] - st[lo]), rel=1e-15)
    assert s["stoiip"]["p90"] == qt.percentile(st, 10) and s["stoiip"]["p10"] == qt.percentile(st, 90)
    assert s["grv"]["p50"] == small.grv_m3 == s["grv_m3"]


def test_grv_is_integrated_over_the_trap(small):
    h = np.minimum(small.base, small.contact_tvd_m) - small.top
    expected = float(np.sum(np.where(small.trap, np.maximum(h, 0.0), 0.0))) * 150.0 * 150.0
    assert small.grv_m3 == expected
    # not the closure area times the mean isochore (the old overstatement)
    assert small.grv_m3 < gs.ring_area(small.closure) * float(np.mean(small.isochore[small.trap]))


def test_stoiip_uses_each_realizations_net_porosity(small):
    w = small.volume_inputs.weights
    for r in small.realizations[:5]:
        assert r.phi == float(np.sum(w * r.porosity)) / float(np.sum(w))
        assert r.stoiip_sm3 == small.grv_m3 * r.ntg * r.phi * (1.0 - r.sw) / r.bo
    assert len({r.phi for r in small.realizations}) == len(small.realizations)


def test_wells_are_in_the_closure_at_their_penetration_point(small):
    for w in small.wells:
        pen = w.penetration["top"]
        assert w.in_closure and pen.tvd < small.contact_tvd_m
        assert gs.points_in_polygon(small.closure, pen.x, pen.y)[0]
        # the penetration is well away from the head: the wells are deviated
        assert math.hypot(pen.x - w.head[0], pen.y - w.head[1]) > 500.0


def test_picks_are_penetration_plus_residual_and_the_logs_agree(small):
    for w in small.wells:
        for key in ("top", "base"):
            pen, pick = w.penetration[key], w.picks[key]
            assert pick.tvd == pen.tvd + w.residual[key]
            assert pick.md == float(np.interp(pick.tvd, w.survey["tvd"], w.survey["md"]))
        md, zone = w.log["DEPT"], w.log["ZONE"]
        res = md[zone == 2]
        assert res[0] >= w.picks["top"].md > res[0] - small.config.logs.step_m
        assert res[-1] < w.picks["base"].md <= res[-1] + small.config.logs.step_m


def test_contact_below_spill_is_refused():
    with pytest.raises(AssetError) as err:
        build_asset(parse_config(SMALL + "[contact]\ntvd_m = 2390.0\n"))
    assert str(err.value).startswith("contact.tvd_m: 2390.0 m is below the spill point (")


def test_shallower_contact_shrinks_grv(small):
    shallow = build_asset(parse_config(SMALL + f"[contact]\ntvd_m = {small.contact_tvd_m - 20.0}\n"))
    assert shallow.contact_tvd_m == small.contact_tvd_m - 20.0
    assert 0 < shallow.grv_m3 < small.grv_m3
    assert shallow.summary()["contact_source"] == "config"


# ---- configuration ----------------------------------------------------------------------

def test_default_toml_round_trips():
    assert parse_config(default_toml()) == default_config()


CONFIG_ERRORS = [
    pytest.param("[frame]\nncol = 12.5\n", "a.toml:2: frame.ncol: expected an integer, got 12.5", id="float-for-int"),
    pytest.param("[frame]\nxinc = -50\n", "a.toml:2: frame.xinc: must be > 0, got -50.0", id="out-of-range"),
    pytest.param("\n[frame]\nrotation = 3\n",
                 "a.toml:3: frame.rotation: unknown key (did you mean 'rotation_deg'?)", id="unknown-key"),
    pytest.param("[frmae]\n", "a.toml:1: frmae: unknown section (did you mean 'frame'?)", id="unknown-section"),
    pytest.param("[frame]\nyflip = 1\n", "a.toml:2: frame.yflip: expected true or false, got 1", id="int-for-bool"),
    pytest.param('[contact]\ntvd_m = "deep"\n',
                 "a.toml:2: contact.tvd_m: expected a number or \"spill\", got 'deep'", id="bad-contact"),
    pytest.param('[wells]\nprofile = "spiral"\n',
                 "a.toml:2: wells.profile: expected one of \"vertical\", \"build_hold\", "
                 "\"build_hold_drop\", got 'spiral'", id="bad-choice"),
    pytest.param("[volumetrics]\nrealizations = 0\n",
                 "a.toml:2: volumetrics.realizations: must be >= 1, <= 100000, got 0", id="no-realizations"),
    pytest.param("[volumetrics]\nntg_min = 0.7\nntg_max = 0.6\n",
                 "a.toml:3: volumetrics.ntg_max: must be > ntg_min (0.7), got 0.6", id="cross-field"),
    pytest.param("[asset]\nseed = -1\n", "a.toml:2: asset.seed: must be >= 0, <= 18446744073709551615, got -1",
                 id="negative-seed"),
    pytest.param("frame = 3\n", "a.toml:1: frame: expected a table [frame], got 3", id="section-not-table"),
    pytest.param("[frame]\nxinc = nan\n", "a.toml:2: frame.xinc: must be finite, got nan", id="nan"),
    pytest.param("\nframe = { ncol = 3 }\n", "a.toml:2: frame.ncol: must be >= 8, <= 4001, got 3",
                 id="inline-table"),
    pytest.param("[frame]\nncol = 41\n[logs]\nstep_m = 0\n", "a.toml:4: logs.step_m: must be >= 0.01, <= 10, got 0.0",
                 id="second-table"),
    pytest.param('[wells]\nprofile = "build_hold_drop"\ndrop_start_md_m = 700.0\n',
                 "a.toml:3: wells.drop_start_md_m: must be at/after the build end (975.0 m MD), got 700.0",
                 id="drop-before-build-end"),
]


@pytest.mark.parametrize(("text", "message"), CONFIG_ERRORS)
def test_config_errors_name_the_key_and_line(text, message):
    with pytest.raises(ConfigError) as err:
        parse_config(text, "a.toml")
    assert str(err.value) == message


def test_config_syntax_error_names_the_file():
    with pytest.raises(ConfigError) as err:
        parse_config("[frame\n", "a.toml")
    assert str(err.value).startswith("a.toml: not valid TOML: ") and "line 1" in str(err.value)


def test_with_seed_validates():
    assert default_config().with_seed(5).asset.seed == 5
    with pytest.raises(ConfigError) as err:
        default_config().with_seed(2**64)
    assert str(err.value) == "<command line>: asset.seed: must be >= 0, <= 18446744073709551615, got 18446744073709551616"


def test_thread_count_does_not_change_the_bits(small):
    one = build_asset(parse_config(SMALL + "[output]\nthreads = 1\n"))
    assert [r.stoiip_sm3.hex() for r in one.realizations] == [r.stoiip_sm3.hex() for r in small.realizations]
    assert one.porosity_pct["p50"].tobytes() == small.porosity_pct["p50"].tobytes()


def test_volume_inputs_reproduce_the_assets_realizations(small):
    inputs, seeds = volume_inputs(parse_config(SMALL))
    assert len(seeds) == 24 and inputs.grv_m3 == small.grv_m3
    for k in (0, 23):
        r = realization_volumes(inputs, k, seeds[k])
        assert (r.stoiip_sm3.hex(), r.porosity.tobytes()) == \
            (small.realizations[k].stoiip_sm3.hex(), small.realizations[k].porosity.tobytes())


@pytest.mark.parametrize("profile", [
    pytest.param('profile = "vertical"', id="vertical"),
    pytest.param('profile = "build_hold_drop"\ndrop_start_md_m = 1500.0\nfinal_incl_deg = 5.0',
                 id="build-hold-drop"),
])
def test_every_profile_penetrates_inside_the_closure(profile):
    a = build_asset(parse_config(SMALL.replace("[volumetrics]", f"[wells]\n{profile}\n[volumetrics]")))
    for w in a.wells:
        assert w.in_closure and w.picks["top"].md < w.picks["base"].md
        if profile.startswith('profile = "vertical"'):
            assert (w.picks["top"].x, w.picks["top"].y) == w.head
        else:
            assert w.survey["incl"][-1] == 5.0
