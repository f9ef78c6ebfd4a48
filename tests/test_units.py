"""Volume and area conversions and format_volume."""

import math
import random
import struct

import pytest

import quarntools as qt

CONVERTERS = [
    # (function, multiplies?, constant)
    pytest.param(qt.m3_to_mcm, False, 1e6, id="m3_to_mcm"),
    pytest.param(qt.mcm_to_m3, True, 1e6, id="mcm_to_m3"),
    pytest.param(qt.m3_to_msm3, False, 1e6, id="m3_to_msm3"),
    pytest.param(qt.msm3_to_m3, True, 1e6, id="msm3_to_m3"),
    pytest.param(qt.m3_to_bcm, False, 1e9, id="m3_to_bcm"),
    pytest.param(qt.bcm_to_m3, True, 1e9, id="bcm_to_m3"),
    pytest.param(qt.scf_to_sm3, False, 35.31466672148859, id="scf_to_sm3"),
    pytest.param(qt.sm3_to_scf, True, 35.31466672148859, id="sm3_to_scf"),
    pytest.param(qt.stb_to_sm3, True, 0.158987294928, id="stb_to_sm3"),
    pytest.param(qt.sm3_to_stb, False, 0.158987294928, id="sm3_to_stb"),
    pytest.param(qt.km2_to_m2, True, 1e6, id="km2_to_m2"),
    pytest.param(qt.m2_to_km2, False, 1e6, id="m2_to_km2"),
]

# Values where multiplying by c and dividing by 1/c round differently for some c.
SAMPLES = [0.1, 0.7, 1.0, 3.0, 12.345678901234567, 1e-300, 5e-324, 1.7976931348623157e308, -2.5, -0.0, 0.0]


@pytest.mark.parametrize(("fn", "multiplies", "c"), CONVERTERS)
def test_converter_direction(fn, multiplies, c):
    for v in SAMPLES:
        want = v * c if multiplies else v / c
        assert fn(v).hex() == want.hex()
    assert math.isnan(fn(math.nan))
    assert fn(math.inf) == math.inf


@pytest.mark.parametrize(("fn", "v", "expected"), [
    pytest.param(qt.sm3_to_scf, 1.0, 35.31466672148859, id="scf-per-sm3"),
    pytest.param(qt.stb_to_sm3, 1.0, 0.158987294928, id="sm3-per-stb"),
    pytest.param(qt.scf_to_sm3, 35.31466672148859, 1.0, id="scf-round-trip"),
    pytest.param(qt.m3_to_mcm, 12.4e6, 12.4, id="mcm"),
    pytest.param(qt.m3_to_bcm, 3, 3e-9, id="bcm-of-int"),
])
def test_converter_values(fn, v, expected):
    assert fn(v).hex() == expected.hex()


FORMAT = [
    pytest.param(12.4e6, "12.4 mcm", id="mcm"),
    pytest.param(1e9, "1.0 bcm", id="bcm-threshold"),
    pytest.param(1e6, "1.0 mcm", id="mcm-threshold"),
    pytest.param(999999.0, "999999.0 m\u00b3", id="below-mcm"),
    pytest.param(0.0, "0.0 m\u00b3", id="zero"),
    pytest.param(-0.0, "-0.0 m\u00b3", id="minus-zero"),
    pytest.param(-0.04, "-0.0 m\u00b3", id="rounds-to-minus-zero"),
    pytest.param(999999999.96, "1000.0 mcm", id="unit-chosen-before-rounding"),
    pytest.param(999999.96, "1000000.0 m\u00b3", id="unit-chosen-before-rounding-m3"),
    pytest.param(-2.5e9, "-2.5 bcm", id="negative-bcm"),
    pytest.param(-1e6, "-1.0 mcm", id="negative-threshold"),
    pytest.param(0.25, "0.2 m\u00b3", id="tie-to-even"),
    pytest.param(0.75, "0.8 m\u00b3", id="tie-to-even-up"),
    pytest.param(0.35, "0.3 m\u00b3", id="stored-below-tie"),
    pytest.param(1e300, format(1e300 / 1e9, ".1f") + " bcm", id="huge-exact-digits"),
    pytest.param(math.nan, "NaN m\u00b3", id="nan"),
    pytest.param(math.inf, "inf bcm", id="inf"),
    pytest.param(-math.inf, "-inf bcm", id="minus-inf"),
    pytest.param(7, "7.0 m\u00b3", id="int-argument"),
]


@pytest.mark.parametrize(("v", "text"), FORMAT)
def test_format_volume(v, text):
    assert qt.format_volume(v) == text


def python_format(v):
    a = abs(v)
    if a >= 1e9:
        return format(v / 1e9, ".1f") + " bcm"
    if a >= 1e6:
        return format(v / 1e6, ".1f") + " mcm"
    return format(v, ".1f") + " m\u00b3"


def test_format_volume_matches_python_format():
    # Half log-uniform over the report range, half random bit patterns (every finite
    # magnitude, subnormals included).
    rng = random.Random(1234)
    for k in range(100_000):
        if k % 2:
            v = rng.choice((-1, 1)) * rng.random() * 10.0 ** rng.randint(-8, 20)
        else:
            v = struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]
            if not math.isfinite(v):
                continue
        assert qt.format_volume(v) == python_format(v)


def test_format_volume_at_half_tenths():
    # Values that sit near ".x5" exercise the exact-binary rounding.
    for k in range(0, 20000):
        v = k / 20 + 0.05
        assert qt.format_volume(v) == python_format(v)


def test_signatures_and_docstrings():
    import inspect
    assert str(inspect.signature(qt.format_volume)) == "(v_m3)"
    assert str(inspect.signature(qt.sm3_to_stb)) == "(sm3)"
    assert qt.m3_to_bcm.__doc__ == "Cubic metres (Sm\u00b3) -> bcm (billion Sm\u00b3) \u2014 gas reporting."


def test_argument_errors():
    with pytest.raises(TypeError) as err:
        qt.m3_to_mcm("1")
    assert err.value.__notes__ == ["while processing 'm3'"]
    with pytest.raises(TypeError, match=r"^m3_to_mcm\(\) missing 1 required positional argument: 'm3'$"):
        qt.m3_to_mcm()
