"""Sizes taken from user numbers: each call works or raises MemoryError / ValueError.

Every pathological call runs in a child interpreter, so an abort (an escaped C++
exception, a crash) fails its test instead of ending the test run. The child caps its
address space so that a size that slips through cannot take the machine's memory.
"""
import os
import subprocess
import sys
import textwrap

import pytest

import quarntools as qt

SANITIZED = bool(os.environ.get("QUARN_SANITIZED"))

CHILD = textwrap.dedent("""\
    import os, resource, sys
    if not os.environ.get("QUARN_SANITIZED"):
        cap = {cap}
        resource.setrlimit(resource.RLIMIT_AS, (cap, cap))
    import quarntools as qt
    L = qt.Lattice
    SPH = qt.Variogram("spherical", 0.0, 1.0, 30.0)
    ZONE = qt.ZoneSpec(100.0, 0.2, 0.05, 1.0)
    PETRO = qt.PetroZoneSpec(0.5, 0.2, 0.05, 0.05, 0.02, 1.0, 1.0)
    SMALL = L(0.0, 0.0, 1.0, 1.0, 2, 2)
    ROWS = [[0.0, 0.0, 1.0], [1.0, 1.0, 2.0], [0.5, 2.0, 0.5]]

    class Liar:  # a sequence whose length claims far more items than it yields
        def __init__(self, items, n=2**62):
            self.items, self.n = items, n
        def __len__(self):
            return self.n
        def __iter__(self):
            return iter(self.items)
        def __getitem__(self, i):
            return self.items[i]
    {setup}
    try:
        result = {call}
    except MemoryError:
        print("MemoryError")
    except ValueError as e:
        print("ValueError")
        print(e)
    else:
        print("ok")
        print(repr({summary}))
""")

HUGE = "L(0.0, 0.0, 1.0, 1.0, 2**40, 2**40)"     # 2**80 nodes
WRAPS = "L(0.0, 0.0, 1.0, 1.0, 2**63 + 1, 2)"    # the node count wraps to 2 in 64 bits
VECTOR = "L(0.0, 0.0, 1.0, 1.0, 2**31, 2**31)"   # fits 64 bits, beyond any vector's max_size
COLS_ONLY = "L(0.0, 0.0, 1.0, 1.0, 2**62, 0)"    # no node at all, a huge column count
ROWS_ONLY = "L(0.0, 0.0, 1.0, 1.0, 0, 2**62)"    # no node at all, a huge row count
COLS_BEYOND_LISTS = "L(0.0, 0.0, 1.0, 1.0, 2**63 + 1, 0)"  # no node, more columns than a list can hold
MEM = "MemoryError"
VAL = "ValueError"


def run_child(call, summary="None", cap=4 << 30, setup="pass"):
    code = CHILD.format(call=call, summary=summary, cap=cap, setup=setup)
    try:
        proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    except subprocess.TimeoutExpired:
        pytest.fail(f"{call}: no answer within 60 s (a size was not bounded)")
    assert proc.returncode == 0, f"{call}: child ended with {proc.returncode}\n{proc.stderr[-2000:]}"
    lines = proc.stdout.splitlines()
    return lines[0], (lines[1] if len(lines) > 1 else "")


def needs(*names):
    for name in names:
        if not hasattr(qt, name):
            pytest.skip("not built yet")


def expect(call, kinds, needed, message=None, summary="None", value=None, cap=4 << 30, setup="pass"):
    needs(*needed)
    kinds = (kinds,) if isinstance(kinds, str) else kinds
    if SANITIZED and MEM in kinds:
        pytest.skip("the sanitizer's allocator aborts on a failed allocation instead of throwing")
    kind, detail = run_child(call, summary, cap, setup)
    assert kind in kinds, f"{call}: {kind} {detail}"
    if kind == VAL and message is not None:
        assert detail == message
    if kind == "ok" and value is not None:
        assert detail == value


# ---- station, sample and draw counts ------------------------------------------------

COUNTS = [
    pytest.param("qt.synth_trajectory([0.0, 0.0], 25.0, 1e300, 1e-300, 1)", VAL, ["synth_trajectory"],
                 "invalid argument: synth_trajectory: td / md_step gives more stations than can be allocated",
                 id="trajectory-td-1e300-step-1e-300"),
    pytest.param("qt.synth_trajectory([0.0, 0.0], 25.0, 1e12, 1e-3, 1)", MEM, ["synth_trajectory"],
                 None, id="trajectory-1e15-stations"),
    pytest.param("qt.synth_trajectory_profile([0.0, 0.0], 25.0, 1e300, 1e-300, 1, 'build_hold')", VAL,
                 ["synth_trajectory_profile"],
                 "invalid argument: synth_trajectory_profile: td / md_step gives more stations than can be "
                 "allocated", id="trajectory-profile-td-1e300"),
    pytest.param("qt.synth_trajectory_profile([0.0, 0.0], 25.0, 1e12, 1e-3, 1, 'build_hold')", MEM,
                 ["synth_trajectory_profile"], None, id="trajectory-profile-1e15-stations"),
    pytest.param("qt.synth_petro_curves(PETRO, 0.1, 2**62, 1)", VAL, ["synth_petro_curves"],
                 "invalid argument: synth_petro_curves: 4611686018427387904 samples requested, more than the "
                 "limit of 281474976710656", id="petro-2**62"),
    pytest.param("qt.synth_petro_curves(PETRO, 0.1, 10**13, 1)", MEM, ["synth_petro_curves"], None,
                 id="petro-1e13-within-limit"),
    pytest.param("qt.synth_log_series([ZONE], 1e-300, 0, 1)", VAL, ["synth_log_series"],
                 "invalid argument: synth_log_series: 18446744073709551615 samples requested, more than the "
                 "limit of 281474976710656", id="log-series-step-1e-300"),
    pytest.param("qt.synth_log_series([ZONE, ZONE], 5e-19, 3, 1)", VAL, ["synth_log_series"],
                 "invalid argument: synth_log_series: 18446744073709551615 samples requested, more than the "
                 "limit of 281474976710656", id="log-series-count-sum-wraps"),
    pytest.param("qt.synth_log_series([ZONE], 1e-9, 0, 1)", MEM, ["synth_log_series"], None,
                 id="log-series-1e11-samples"),
    pytest.param("qt.synth_facies_series(2**62, 0.1, 0.5, 1.0, 1)", VAL, ["synth_facies_series"],
                 "invalid argument: synth_facies_series: 4611686018427387904 samples requested, more than the "
                 "limit of 281474976710656", id="facies-2**62"),
    pytest.param("qt.synth_facies_series(10**12, 0.1, 0.5, 1.0, 1)", MEM, ["synth_facies_series"], None,
                 id="facies-1e12-within-limit"),
    pytest.param("qt.Sampler.uniform(0.0, 1.0).sample_n(2**62, qt.Rng(1))", VAL, ["Sampler"],
                 "invalid argument: sampling: n = 4611686018427387904 draws cannot be allocated",
                 id="sample_n-2**62"),
    pytest.param("qt.Sampler.normal(0.0, 1.0).clamped(-1.0, 1.0).sample_n(2**64 - 1, qt.Rng(1))", VAL,
                 ["Sampler"], "invalid argument: sampling: n = 18446744073709551615 draws cannot be allocated",
                 id="clamped-sample_n-2**64-1"),
    pytest.param("qt.Sampler.triangular(0.0, 1.0, 2.0).sample_n_seeded(2**62, 1)", VAL, ["Sampler"],
                 "invalid argument: sampling: n = 4611686018427387904 draws cannot be allocated",
                 id="sample_n_seeded-2**62"),
    pytest.param("qt.Sampler.uniform(0.0, 1.0).sample_n(10**12, qt.Rng(1))", MEM, ["Sampler"], None,
                 id="sample_n-1e12"),
    pytest.param("qt.experimental_variogram(ROWS, 1e-300, 2**64 - 1)", MEM, ["experimental_variogram"], None,
                 id="variogram-lags-reachable-2**64-1"),
    pytest.param("qt.study_area_outline(0.0, 0.0, 100.0, 50.0, 10.0, 2**62)", VAL, ["study_area_outline"],
                 "invalid argument: study_area_outline: arc_steps is too large", id="outline-arc-steps-2**62"),
    pytest.param("qt.study_area_outline(0.0, 0.0, 100.0, 50.0, 10.0, 10**12)", MEM, ["study_area_outline"],
                 None, id="outline-arc-steps-1e12"),
    pytest.param("qt.place_wells(0.0, 0.0, 100.0, 50.0, 2**62, 1)", VAL, ["place_wells"],
                 "invalid argument: place_wells: n = 4611686018427387904 wells cannot be allocated",
                 id="place-wells-2**62"),
    pytest.param("qt.place_wells(0.0, 0.0, 100.0, 50.0, 10**12, 1)", MEM, ["place_wells"], None,
                 id="place-wells-1e12"),
    pytest.param("qt.place_wells_in_polygon([[0.0, 0.0], [100.0, 0.0], [0.0, 100.0]], 2**62, 1)", VAL,
                 ["place_wells_in_polygon"],
                 "invalid argument: place_wells_in_polygon: n = 4611686018427387904 wells cannot be allocated",
                 id="polygon-wells-2**62"),
    # the attempt cap saturates at 2**64 - 1: only refusing the count up front ends this call
    pytest.param("qt.place_wells_in_polygon([[0.0, 0.0], [1e6, 1e6], [1e6, 1e6 + 1e-3]], 2**62, 1)", VAL,
                 ["place_wells_in_polygon"],
                 "invalid argument: place_wells_in_polygon: n = 4611686018427387904 wells cannot be allocated",
                 id="polygon-wells-2**62-sliver"),
    pytest.param("qt.place_wells_in_polygon([[0.0, 0.0], [100.0, 0.0], [0.0, 100.0]], 10**12, 1)", MEM,
                 ["place_wells_in_polygon"], None, id="polygon-wells-1e12"),
]


@pytest.mark.parametrize(("call", "kinds", "needed", "message"), COUNTS)
def test_counts(call, kinds, needed, message):
    expect(call, kinds, needed, message)


# ---- lattice node counts -------------------------------------------------------------

TOO_MANY = "invalid argument: {op}: lattice has too many nodes"

# (function, call template with {lat}, expected kind, message or None)
LATTICE_CALLS = [
    pytest.param("resample", "qt.resample([[0.0, 1.0], [2.0, 3.0]], SMALL, {lat})", MEM, None, id="resample"),
    pytest.param("resample_flat", "qt.resample_flat(bytes(32), SMALL, {lat})", MEM, None, id="resample_flat"),
    pytest.param("local_kriging_grid", "qt.local_kriging_grid(ROWS, {lat}, SPH, 4, 10.0)", MEM, None,
                 id="local_kriging_grid"),
    pytest.param("local_kriging_grid_flat", "qt.local_kriging_grid_flat(ROWS, {lat}, SPH, 4, 10.0)", MEM, None,
                 id="local_kriging_grid_flat"),
    pytest.param("sgs", "qt.sgs(ROWS, {lat}, SPH, 4, 10.0, 1)", VAL, TOO_MANY.format(op="sgs"), id="sgs"),
    pytest.param("sgs_flat", "qt.sgs_flat(ROWS, {lat}, SPH, 4, 10.0, 1)", VAL, TOO_MANY.format(op="sgs"),
                 id="sgs_flat"),
    pytest.param("synth_isochore", "qt.synth_isochore({lat}, 30.0, 2.0, SPH, 1)", VAL,
                 TOO_MANY.format(op="sgs_unconditional"), id="synth_isochore"),
    pytest.param("synth_isochore_flat", "qt.synth_isochore_flat({lat}, 30.0, 2.0, SPH, 1)", VAL,
                 TOO_MANY.format(op="sgs_unconditional"), id="synth_isochore_flat"),
    pytest.param("synth_trend_map", "qt.synth_trend_map({lat}, SPH, 1)", VAL,
                 TOO_MANY.format(op="sgs_unconditional"), id="synth_trend_map"),
    pytest.param("synth_trend_map_flat", "qt.synth_trend_map_flat({lat}, SPH, 1)", VAL,
                 TOO_MANY.format(op="sgs_unconditional"), id="synth_trend_map_flat"),
    pytest.param("synth_dome_surface", "qt.synth_dome_surface({lat}, 20.0, 1.5, 0.0, 1.0, SPH, 1)", VAL,
                 TOO_MANY.format(op="sgs_unconditional"), id="synth_dome_surface"),
    pytest.param("synth_dome_surface_flat", "qt.synth_dome_surface_flat({lat}, 20.0, 1.5, 0.0, 1.0, SPH, 1)", VAL,
                 TOO_MANY.format(op="sgs_unconditional"), id="synth_dome_surface_flat"),
    pytest.param("synth_dome_surface", "qt.synth_dome_surface({lat}, 20.0, 1.5, 0.0, 0.0, SPH, 1)", VAL,
                 TOO_MANY.format(op="synth_dome_surface"), id="synth_dome_surface-no-noise"),
]


@pytest.mark.parametrize("lattice", [HUGE, WRAPS, VECTOR], ids=["2**40x2**40", "(2**63+1)x2-wraps", "2**31x2**31"])
@pytest.mark.parametrize(("name", "call", "kind", "message"), LATTICE_CALLS)
def test_lattice_node_counts(name, call, kind, message, lattice):
    expect(call.format(lat=lattice), kind, [name], message)


@pytest.mark.parametrize(("name", "call", "kind", "message"), LATTICE_CALLS)
def test_lattice_beyond_memory(name, call, kind, message):
    # 2**40 nodes fit every count type and still cannot be allocated
    expect(call.format(lat="L(0.0, 0.0, 1.0, 1.0, 2**20, 2**20)"), MEM, [name])


def empty_result(name, ncol, nrow):
    if name == "local_kriging_grid_flat":
        return repr((b"", b"", (ncol, nrow)))
    if name.endswith("_flat"):
        return repr((b"", (ncol, nrow)))
    return repr(([], []) if name == "local_kriging_grid" else [])


@pytest.mark.parametrize(("name", "call", "kind", "message"), LATTICE_CALLS)
def test_lattice_of_rows_without_columns(name, call, kind, message):
    # no node, 2**62 rows: nothing to visit, nothing to allocate, an empty result at once
    expect(call.format(lat=ROWS_ONLY), "ok", [name], summary="result", value=empty_result(name, 0, 2**62))


@pytest.mark.parametrize("ncol", [2**62, 2**63 + 1], ids=["2**62", "2**63+1"])
@pytest.mark.parametrize(("name", "call", "kind", "message"),
                         [p for p in LATTICE_CALLS if p.values[0].endswith("_flat")])
def test_flat_result_of_columns_without_rows(name, call, kind, message, ncol):
    lat = f"L(0.0, 0.0, 1.0, 1.0, {ncol}, 0)"
    expect(call.format(lat=lat), "ok", [name], summary="result", value=empty_result(name, ncol, 0))


@pytest.mark.parametrize("lattice", [COLS_ONLY, COLS_BEYOND_LISTS], ids=["2**62", "2**63+1"])
@pytest.mark.parametrize(("name", "call", "kind", "message"),
                         [p for p in LATTICE_CALLS if not p.values[0].endswith("_flat")])
def test_nested_result_of_columns_without_rows(name, call, kind, message, lattice):
    # as nested lists the same lattice needs one list per column: more than memory holds,
    # or, past 2**63 - 1, more than a list can index
    expect(call.format(lat=lattice), MEM, [name])


def test_flat_source_shape_overflow():
    expect(f"qt.resample_flat(bytes(32), {HUGE}, SMALL)", VAL, ["resample_flat"], "flat grid shape overflow")


# ---- window sizes, attempt caps and other counts that need not allocate --------------

WORKS = [
    pytest.param("qt.zone_sample_counts([ZONE, ZONE], 1e-300)", "result", [2**64 - 1, 2**64 - 1],
                 ["zone_sample_counts"], id="zone-counts-saturate"),
    pytest.param("qt.ntg_curve([1.0, 0.0, 1.0, 1.0], 0.1, 1e300)", "result", [0.75] * 4, ["ntg_curve"],
                 id="ntg-window-1e300"),
    pytest.param("qt.ntg_curve([1.0, 0.0, 1.0, 1.0], 1e-300, 1e300)", "result", [0.75] * 4, ["ntg_curve"],
                 id="ntg-window-saturates"),
    pytest.param("qt.experimental_variogram(ROWS, 1.0, 2**62)", "len(result.lags) <= 3", True,
                 ["experimental_variogram"], id="variogram-lags-2**62"),
    pytest.param("qt.local_kriging_grid(ROWS, SMALL, SPH, 2**64 - 1, 10.0)", "len(result[0])", 2,
                 ["local_kriging_grid"], id="kriging-neighbours-2**64-1"),
    pytest.param("qt.sgs(ROWS, SMALL, SPH, 2**64 - 1, 10.0, 1)", "len(result)", 2, ["sgs"],
                 id="sgs-neighbours-2**64-1"),
    pytest.param("qt.synth_log_series([ZONE], 10.0, 2**64 - 1, 1)", "len(result)", 10, ["synth_log_series"],
                 id="log-transition-beds-2**64-1"),
    pytest.param("qt.synth_log_series([ZONE, ZONE], 10.0, 2**64 - 1, 1)", "len(result)", 20, ["synth_log_series"],
                 id="log-transition-beds-2**64-1-two-zones"),
]


@pytest.mark.parametrize(("call", "summary", "value", "needed"), WORKS)
def test_works(call, summary, value, needed):
    expect(call, "ok", needed, summary=summary, value=repr(value))


SLIVER = "[[0.0, 0.0], [1e6, 1e6], [1e6, 1e6 + 1e-3]]"  # area / bounding box = 5e-10

ATTEMPTS = [
    pytest.param(SLIVER, 1, id="sliver-1-well"),
    pytest.param(SLIVER, 1000, id="sliver-1000-wells"),
]


@pytest.mark.parametrize(("polygon", "n"), ATTEMPTS)
def test_attempt_cap(polygon, n):
    expect(f"qt.place_wells_in_polygon({polygon}, {n}, 1)", VAL, ["place_wells_in_polygon"],
           "invalid argument: place_wells_in_polygon: could not place all wells (polygon area too small?)")


# The length of a sequence may pre-size its conversion; a length no vector can hold is
# then a MemoryError, as it is for the interpreter's own list(), never an internal error.
LYING = [
    pytest.param("list(Liar([1.0]))", ["mean"], id="list-itself"),
    pytest.param("qt.mean(Liar([1.0, 2.0]))", ["mean"], id="floats"),
    pytest.param("qt.interp1d([0.0, 1.0], [0.0, 1.0], Liar([0.5]))", ["interp1d"], id="interp1d-query"),
    pytest.param("qt.local_kriging_grid(Liar(ROWS), SMALL, SPH, 4, 10.0)", ["local_kriging_grid"], id="rows"),
    pytest.param("qt.resample(Liar([[0.0, 1.0], [2.0, 3.0]]), SMALL, SMALL)", ["resample"], id="nested-outer"),
    pytest.param("qt.resample([Liar([0.0, 1.0]), [2.0, 3.0]], SMALL, SMALL)", ["resample"], id="nested-inner"),
    pytest.param("qt.aggregate(Liar([[1.0], [2.0]]))", ["aggregate"], id="segments"),
    pytest.param("qt.evaluate_formula(Liar(['y = 1']), {})", ["evaluate_formula"], id="formula-block"),
    pytest.param("qt.synth_log_series(Liar([ZONE]), 1.0, 0, 1)", ["synth_log_series"], id="zones"),
    pytest.param("qt.place_wells_in_polygon(Liar([[0.0, 0.0], [1.0, 0.0], [0.0, 1.0]]), 1, 1)",
                 ["place_wells_in_polygon"], id="polygon"),
    pytest.param("qt.synth_por_with_facies(Liar([1, 0]), 0.1, 0.2, 0.05, 0.1, 0.05, 1.0, 1)",
                 ["synth_por_with_facies"], id="facies"),
]


@pytest.mark.parametrize(("call", "needed"), LYING)
def test_lying_sequence_length(call, needed):
    expect(call, (MEM, "ok"), needed)


def test_constructor_with_more_arguments_than_memory():
    # a 160 MB argument tuple under a 256 MB cap: copying the argument list for binding
    # fails, and must fail as MemoryError rather than escape into the interpreter
    expect("qt.Lattice(*ARGS)", MEM, ["Lattice"], cap=256 << 20, setup="ARGS = (0,) * (20 * 10**6)")


def test_child_reports_an_abort():
    # the harness itself: a child that aborts fails the test rather than passing
    code = "import os; os.abort()"
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, timeout=60)
    assert proc.returncode != 0
