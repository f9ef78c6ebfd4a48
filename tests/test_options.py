"""Option names: every accepted spelling of every option, and the refusal of near misses.

Each option is a small table of names and aliases read by one parser; a typo in a table
shows up here as a name that picks the wrong choice or none.
"""
import pytest

import quarntools as qt

LAT = qt.Lattice(0, 0, 1, 1, 3, 2)
DST = qt.Lattice(0.25, 0.5, 0.5, 0.5, 4, 3, rotation_deg=10.0)
GRID = [[0.0, 1.0], [2.0, 4.0], [8.0, 16.0]]
EXPERIMENTAL = qt.experimental_variogram([[0, 0, 1], [1, 0, 2], [0, 2, 0.5], [3, 1, 4]], 1.0, 4)


def resample(name):
    return [[v.hex() for v in col] for col in qt.resample(GRID, LAT, DST, name)]


def interp(name):
    return [v.hex() for v in qt.interp1d([0.0, 1.0, 2.0, 4.0], [0.0, 3.0, 1.0, 2.0], [0.4, 0.5, 1.5, 3.9, 5.0], name, True)]


def model(name):
    v = qt.Variogram.fit(name, EXPERIMENTAL)
    return (repr(qt.Variogram(name, 0.5, 1.0, 10.0)), v.nugget.hex(), v.sill.hex(), v.range.hex())


def correlation(name):
    return [v.hex() for v in qt.aggregate([[3.0, 1.0, 2.0], [1.0, 2.0, 0.5]], name)]


def profile(name):
    t = qt.synth_trajectory_profile([0, 0], 10, 600, 50, 1, name, kickoff_md=100, hold_incl_deg=15,
                                    drop_start_md=300)
    return {k: [x.hex() for x in v] for k, v in t.items()}


OPTIONS = {"resample": resample, "interp": interp, "model": model, "correlation": correlation,
           "profile": profile}

# (option, spelling, the canonical name it must mean)
ACCEPTED = [
    ("resample", "bilinear", "bilinear"), ("resample", "linear", "bilinear"),
    ("resample", " NEAREST\t", "nearest"), ("resample", "nn", "nearest"),
    ("interp", "nearest", "nearest"), ("interp", "closest", "nearest"), ("interp", "NN", "nearest"),
    ("interp", "previous", "previous"), ("interp", "prev", "previous"), ("interp", "ffill", "previous"),
    ("interp", "next", "next"), ("interp", "bfill", "next"), ("interp", "\u3000Linear", "linear"),
    ("interp", "spline", "cubic"), ("interp", "natural", "cubic"), ("interp", "natural_cubic", "cubic"),
    ("interp", "Cubic_Natural", "cubic"),
    ("model", "sph", "spherical"), ("model", "exp", "exponential"), ("model", " Gauss ", "gaussian"),
    ("model", "GAUSSIAN", "gaussian"), ("model", "Nugget", "nugget"),
    ("correlation", "indep", "independent"), ("correlation", "\u00a0Comono", "comonotonic"),
    ("correlation", "COMONOTONIC", "comonotonic"),
    ("profile", "build-hold", "build_hold"), ("profile", "build-hold-drop", "build_hold_drop"),
]


@pytest.mark.parametrize(("option", "spelling", "canonical"), ACCEPTED,
                         ids=[f"{o}-{s.strip()}" for o, s, _ in ACCEPTED])
def test_every_spelling_means_its_choice(option, spelling, canonical):
    run = OPTIONS[option]
    assert run(spelling) == run(canonical)


def test_the_choices_differ():
    # Otherwise the table above would pass with every name mapped to one choice.
    for option, names in [("resample", ["bilinear", "nearest"]),
                          ("interp", ["nearest", "previous", "next", "linear", "cubic"]),
                          ("model", ["nugget", "spherical", "exponential", "gaussian"]),
                          ("correlation", ["independent", "comonotonic"]),
                          ("profile", ["vertical", "build_hold", "build_hold_drop"])]:
        results = [OPTIONS[option](n) for n in names]
        assert all(results.count(r) == 1 for r in results), option


MODEL_SUFFIX = " (expected 'nugget', 'spherical', 'exponential', or 'gaussian')"
PROFILE_SUFFIX = "; use 'vertical' | 'build_hold' | 'build_hold_drop'"
REFUSED = [
    pytest.param("resample", "bi linear",
                 "unknown resample method 'bi linear' (expected 'bilinear' or 'nearest')", id="resample-inner-space"),
    pytest.param("resample", "nearest\x00", "unknown resample method 'nearest\x00' (expected 'bilinear' or 'nearest')",
                 id="resample-trailing-nul"),
    pytest.param("interp", "prev ious", "invalid argument: unknown interpolation method 'prev ious'",
                 id="interp-inner-space"),
    pytest.param("interp", "Cubic-Natural", "invalid argument: unknown interpolation method 'cubic-natural'",
                 id="interp-dash-not-underscore"),
    pytest.param("model", "spher", "unknown variogram model 'spher'" + MODEL_SUFFIX, id="model-prefix"),
    pytest.param("model", "\u00c9XP", "unknown variogram model '\u00c9xp'" + MODEL_SUFFIX,
                 id="model-only-ascii-folded"),
    pytest.param("correlation", "", "unknown correlation '' (expected 'independent' or 'comonotonic')",
                 id="correlation-empty"),
    pytest.param("profile", " vertical", "unknown profile \" vertical\"" + PROFILE_SUFFIX, id="profile-not-trimmed"),
    pytest.param("profile", "build_hold-drop", "unknown profile \"build_hold-drop\"" + PROFILE_SUFFIX,
                 id="profile-mixed-separators"),
]


@pytest.mark.parametrize(("option", "spelling", "message"), REFUSED)
def test_near_misses_are_refused(option, spelling, message):
    with pytest.raises(ValueError) as err:
        OPTIONS[option](spelling)
    assert str(err.value) == message
    assert not getattr(err.value, "__notes__", None)
