"""The module surface: registration, signatures, argument binding and conversion errors."""
import inspect
import math

import pytest

import quarntools as qt
from quarntools import _quarntools as ext


def test_version_and_all_are_reexported():
    assert ext.__version__ == "0.2.15"
    assert qt.__version__ == "0.2.15"
    # The package adds its NumPy layer after the extension's names.
    assert qt.__all__ == [*ext.__all__, "Field", "spawn_seeds"]
    assert ext.__all__[0] == "__version__"
    for name in ext.__all__:
        assert getattr(qt, name) is getattr(ext, name)


ORDER = [
    "__version__", "Rng", "Sampler", "Clamped", "mean", "variance", "std", "percentile", "median",
    "weighted_mean", "weighted_variance", "weighted_std", "weighted_percentile", "ReservoirSummary",
    "reservoir_summary", "aggregate", "formula_info", "evaluate_formula", "Lattice", "Variogram",
    "AnisotropicVariogram", "ExperimentalVariogram", "experimental_variogram", "local_kriging_grid",
    "local_kriging_grid_flat", "sgs", "sgs_flat", "interp1d", "resample", "resample_flat", "ZoneSpec",
    "zone_sample_counts", "synth_log_series", "synth_facies_series", "synth_por_with_facies",
    "PetroZoneSpec", "synth_petro_curves", "ntg_curve", "synth_dome_surface", "synth_dome_surface_flat",
    "synth_isochore", "synth_isochore_flat", "synth_trend_map", "synth_trend_map_flat", "place_wells",
    "place_wells_in_polygon", "tops_from_surface", "synth_trajectory", "synth_trajectory_profile",
    "max_dogleg_severity", "Georef", "closure_outline", "study_area_outline", "m3_to_mcm", "mcm_to_m3",
    "m3_to_msm3", "msm3_to_m3", "m3_to_bcm", "bcm_to_m3", "scf_to_sm3", "sm3_to_scf", "stb_to_sm3",
    "sm3_to_stb", "km2_to_m2", "m2_to_km2", "format_volume",
]


def test_all_follows_the_registration_order():
    # Every registered name appears in the documented relative order, exactly once.
    assert len(set(ext.__all__)) == len(ext.__all__)
    assert set(ext.__all__) <= set(ORDER)
    assert ext.__all__ == [n for n in ORDER if n in ext.__all__]


def test_module_docstring():
    assert ext.__doc__ == (
        "The compiled extension module (`quarntools._quarntools`); re-exported by the\n"
        "`quarntools` Python package's `__init__`."
    )


def test_every_function_has_a_text_signature():
    for name in ext.__all__[1:]:
        obj = getattr(ext, name)
        sig = inspect.signature(obj)  # raises when the docstring carries no signature
        assert isinstance(sig, inspect.Signature), name
        if not isinstance(obj, type):
            assert obj.__doc__ is None or not obj.__doc__.startswith(name + "("), name


SIGNATURES = [
    pytest.param(lambda: qt.Lattice, "(xori, yori, xinc, yinc, ncol, nrow, rotation_deg=0.0, yflip=False)",
                 id="Lattice"),
    pytest.param(lambda: qt.Georef.lattice, "(self, /, xinc, yinc, ncol, nrow, rotation_deg=0.0, yflip=False)",
                 id="Georef.lattice"),
    pytest.param(lambda: qt.Georef, "(east0=None, north0=None)", id="Georef"),
    pytest.param(lambda: qt.resample, "(src_grid, src_georef, target, method='bilinear')", id="resample"),
    pytest.param(lambda: qt.Lattice.xy_to_ij, "(self, /, x, y)", id="xy_to_ij"),
    # a bound method hides its instance, as for the interpreter's own methods
    pytest.param(lambda: qt.Lattice(0, 0, 1, 1, 1, 1).xy_to_ij, "(x, y)", id="bound-xy_to_ij"),
    pytest.param(lambda: qt.Georef().lattice, "(xinc, yinc, ncol, nrow, rotation_deg=0.0, yflip=False)",
                 id="bound-Georef.lattice"),
    pytest.param(lambda: qt.Georef().origin, "()", id="bound-no-arguments"),
    pytest.param(lambda: qt.Sampler.uniform(0, 1).sample_n, "(n, rng)", id="bound-Sampler.sample_n"),
]


@pytest.mark.parametrize(("get", "text"), SIGNATURES)
def test_signatures(get, text):
    assert str(inspect.signature(get())) == text


def test_defaults_round_trip_through_the_binder():
    # Passing every default explicitly gives the same object as leaving it out.
    a = qt.Lattice(1, 2, 3, 4, 5, 6)
    sig = inspect.signature(qt.Lattice)
    defaults = {k: p.default for k, p in sig.parameters.items() if p.default is not p.empty}
    b = qt.Lattice(1, 2, 3, 4, 5, 6, **defaults)
    assert repr(a) == repr(b)


BINDING_ERRORS = [
    pytest.param(lambda: qt.Lattice(0, 0, 1), TypeError,
                 "Lattice.__new__() missing 3 required positional arguments: 'yinc', 'ncol', and 'nrow'",
                 id="missing-three"),
    pytest.param(lambda: qt.Lattice(0, 0, 1, 1, 2), TypeError,
                 "Lattice.__new__() missing 1 required positional argument: 'nrow'", id="missing-one"),
    pytest.param(lambda: qt.Lattice(0, 0, 1, 1), TypeError,
                 "Lattice.__new__() missing 2 required positional arguments: 'ncol' and 'nrow'",
                 id="missing-two"),
    pytest.param(lambda: qt.Lattice(0, 0, 1, 1, 1, 1, 0.0, False, 9), TypeError,
                 "Lattice.__new__() takes from 6 to 8 positional arguments but 9 were given", id="too-many"),
    pytest.param(lambda: qt.Lattice(0, 0, 1, 1, 1, 1, bogus=1), TypeError,
                 "Lattice.__new__() got an unexpected keyword argument 'bogus'", id="unexpected-kw"),
    pytest.param(lambda: qt.Lattice(0, 0, 1, 1, 1, 1, xori=1), TypeError,
                 "Lattice.__new__() got multiple values for argument 'xori'", id="duplicate"),
    pytest.param(lambda: qt.Lattice(0, 0, 1, 1, 1, 1, **{"a\0b": 1}), TypeError,
                 "Lattice.__new__() got an unexpected keyword argument 'a\0b'", id="unexpected-kw-with-nul"),
    pytest.param(lambda: qt.Georef().lattice(1, 1, 1, 1, 0.0, False, 7), TypeError,
                 "Georef.lattice() takes from 4 to 6 positional arguments but 7 were given", id="method-too-many"),
    pytest.param(lambda: qt.Georef().origin(1), TypeError,
                 "Georef.origin() takes 0 positional arguments but 1 was given", id="method-takes-none"),
    pytest.param(lambda: qt.resample(), TypeError,
                 "resample() missing 3 required positional arguments: 'src_grid', 'src_georef', and 'target'",
                 id="function-missing"),
    pytest.param(lambda: qt.resample([], qt.Lattice(0, 0, 1, 1, 0, 0), qt.Lattice(0, 0, 1, 1, 0, 0), "x", 5),
                 TypeError, "resample() takes from 3 to 4 positional arguments but 5 were given",
                 id="function-too-many"),
]


@pytest.mark.parametrize(("call", "exc", "message"), BINDING_ERRORS)
def test_binding_errors(call, exc, message):
    with pytest.raises(exc) as err:
        call()
    assert str(err.value) == message
    assert not getattr(err.value, "__notes__", None)


class Floaty:
    def __float__(self):
        return 2.5


class Indexy:
    def __index__(self):
        return 7


class Raises:
    def __float__(self):
        raise RuntimeError("boom")

    def __index__(self):
        raise RuntimeError("boom")


def lat(**kw):
    args = dict(xori=0, yori=0, xinc=1, yinc=1, ncol=1, nrow=1)
    args.update(kw)
    return qt.Lattice(**args)


CONVERSIONS_OK = [
    pytest.param(dict(xori=Floaty()), "xori", 2.5, id="float-via-__float__"),
    pytest.param(dict(xori=3), "xori", 3.0, id="float-from-int"),
    pytest.param(dict(xori=True), "xori", 1.0, id="float-from-bool"),
    pytest.param(dict(xori=Indexy()), "xori", 7.0, id="float-via-__index__"),
    pytest.param(dict(ncol=Indexy()), "ncol", 7, id="count-via-__index__"),
    pytest.param(dict(ncol=2**64 - 1), "ncol", 2**64 - 1, id="count-max"),
    pytest.param(dict(ncol=True), "ncol", 1, id="count-from-bool"),
    pytest.param(dict(yflip=True), "yflip", True, id="flag"),
]


@pytest.mark.parametrize(("kw", "attr", "expected"), CONVERSIONS_OK)
def test_conversions_accepted(kw, attr, expected):
    v = getattr(lat(**kw), attr)
    assert v == expected and type(v) is type(expected)


CONVERSION_ERRORS = [
    pytest.param(dict(ncol=-1), OverflowError, "can't convert negative int to unsigned", "ncol", id="count-negative"),
    pytest.param(dict(nrow=2**64), OverflowError, None, "nrow", id="count-too-large"),
    pytest.param(dict(ncol=2.0), TypeError, "'float' object cannot be interpreted as an integer", "ncol",
                 id="count-float"),
    pytest.param(dict(xinc="1"), TypeError, "must be real number, not str", "xinc", id="float-str"),
    pytest.param(dict(yori=None), TypeError, "must be real number, not NoneType", "yori", id="float-none"),
    pytest.param(dict(xori=Raises()), RuntimeError, "boom", "xori", id="float-raises"),
    pytest.param(dict(ncol=Raises()), RuntimeError, "boom", "ncol", id="count-raises"),
    pytest.param(dict(yflip=1), TypeError, "'int' object is not an instance of 'bool'", "yflip", id="flag-int"),
    pytest.param(dict(yflip=None), TypeError, "'None' is not an instance of 'bool'", "yflip", id="flag-none"),
]


@pytest.mark.parametrize(("kw", "exc", "message", "param"), CONVERSION_ERRORS)
def test_conversion_errors_carry_the_parameter_note(kw, exc, message, param):
    with pytest.raises(exc) as err:
        lat(**kw)
    if message is not None:
        assert str(err.value) == message
    assert err.value.__notes__ == [f"while processing '{param}'"]


def test_first_bad_parameter_is_reported():
    with pytest.raises(TypeError) as err:
        qt.Lattice("a", "b", 1, 1, -1, 1)
    assert err.value.__notes__ == ["while processing 'xori'"]


def test_numpy_bool_is_a_flag():
    np = pytest.importorskip("numpy")
    assert lat(yflip=np.bool_(True)).yflip is True
    with pytest.raises(TypeError):
        lat(yflip=np.int64(1))


SEQUENCE_ERRORS = [
    pytest.param("ab", TypeError, "Can't extract `str` to `Vec`", id="str"),
    pytest.param({(1, 2)}, TypeError, "'set' object is not an instance of 'Sequence'", id="set"),
    pytest.param({0: (1, 2)}, TypeError, "'dict' object is not an instance of 'Sequence'", id="dict"),
    pytest.param(((1, 2) for _ in range(1)), TypeError, "'generator' object is not an instance of 'Sequence'",
                 id="generator"),
    pytest.param([[1, 2, 3]], ValueError, "expected a sequence of length 2 (got 3)", id="point-too-long"),
    pytest.param([[1]], ValueError, "expected a sequence of length 2 (got 1)", id="point-too-short"),
    pytest.param([1.0], TypeError, "'float' object is not an instance of 'Sequence'", id="point-not-sequence"),
    pytest.param([["a", 1]], TypeError, "must be real number, not str", id="point-item"),
]


@pytest.mark.parametrize(("arg", "exc", "message"), SEQUENCE_ERRORS)
def test_list_of_points_errors(arg, exc, message):
    with pytest.raises(exc) as err:
        qt.Georef().place_points(arg)
    assert str(err.value) == message
    assert err.value.__notes__ == ["while processing 'locals'"]


def test_points_accept_tuples_lists_and_sequences():
    g = qt.Georef(0.0, 0.0)
    assert g.place_points([(1.0, 2.0), [1, 2], range(3, 5)]) == [[1.0, 2.0], [1.0, 2.0], [3.0, 4.0]]
    assert g.place_points(()) == []


CLASS_ERRORS = [
    pytest.param([], "'list' object is not an instance of 'Lattice'", id="list"),
    pytest.param(None, "'None' is not an instance of 'Lattice'", id="none"),
    pytest.param(qt.Georef(), "'Georef' object is not an instance of 'Lattice'", id="other-class"),
]


@pytest.mark.parametrize(("arg", "message"), CLASS_ERRORS)
def test_class_instance_errors(arg, message):
    with pytest.raises(TypeError) as err:
        qt.resample([[1.0]], arg, qt.Lattice(0, 0, 1, 1, 1, 1))
    assert str(err.value) == message
    assert err.value.__notes__ == ["while processing 'src_georef'"]


@pytest.mark.parametrize("cls", ["Lattice", "Georef"])
def test_instances_are_sealed(cls):
    obj = getattr(qt, cls)() if cls == "Georef" else qt.Lattice(0, 0, 1, 1, 1, 1)
    with pytest.raises(AttributeError):
        obj.anything = 1
    with pytest.raises(AttributeError):
        obj.__dict__
    first = next(n for n in dir(obj) if not n.startswith("_"))
    if not callable(getattr(obj, first)):
        with pytest.raises(AttributeError):
            setattr(obj, first, 1)


def test_core_error_from_unlocked_call_has_the_same_text():
    lat0 = qt.Lattice(0, 0, 0, 1, 2, 2)
    with pytest.raises(ValueError) as err:
        qt.resample([[1.0, 2.0], [3.0, 4.0]], lat0, lat0)
    assert str(err.value) == (
        "invalid geometry: resample: degenerate source geometry (empty grid or zero node spacing)")
    assert math.isnan(qt.resample([[1.0]], qt.Lattice(0, 0, math.nan, 1, 1, 1), lat0)[0][0])


# One row declares each nested/flat pair: the twin binds the same parameters under its own name.
TWINS = [
    pytest.param("resample", "'src_grid', 'src_georef', and 'target'", "from 3 to 4", 5, id="resample"),
    pytest.param("sgs", "'coords', 'lattice', 'variogram', 'max_neighbours', 'radius', and 'seed'", "6", 7,
                 id="sgs"),
    pytest.param("local_kriging_grid", "'coords', 'lattice', 'variogram', 'max_neighbours', and 'radius'", "5", 6,
                 id="kriging"),
    pytest.param("synth_isochore", "'lattice', 'mean_thickness', 'variability', 'variogram', and 'seed'", "5", 6,
                 id="isochore"),
    pytest.param("synth_trend_map", "'lattice', 'variogram', and 'seed'", "from 3 to 4", 5, id="trend"),
    pytest.param("synth_dome_surface", "'lattice', 'relief', 'aspect', 'tilt', 'noise_variance', "
                 "'noise_variogram', and 'seed'", "7", 8, id="dome"),
]


@pytest.mark.parametrize("flat", [False, True], ids=["nested", "flat"])
@pytest.mark.parametrize(("name", "required", "takes", "too_many"), TWINS)
def test_twins_bind_alike_under_their_own_names(name, required, takes, too_many, flat):
    full = name + "_flat" if flat else name
    f = getattr(qt, full)
    assert str(inspect.signature(f)) == str(inspect.signature(getattr(qt, name)))
    n = required.count("'") // 2
    with pytest.raises(TypeError) as err:
        f()
    assert str(err.value) == f"{full}() missing {n} required positional arguments: {required}"
    with pytest.raises(TypeError) as err:
        f(*range(too_many))
    assert str(err.value) == f"{full}() takes {takes} positional arguments but {too_many} were given"
