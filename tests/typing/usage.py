"""Typed use of every area of quarntools.

tests/test_stubs.py type-checks this file with `mypy --strict` (every `assert_type`
is a static claim about a result) and also runs it, with `assert_type` checking the
same claims against the values the extension returns.
"""

import array
from typing import TYPE_CHECKING, assert_type

import numpy as np
import numpy.typing as npt

import quarntools as qt
from quarntools import Lattice, Sampler

if TYPE_CHECKING:  # result dict shapes; they exist only in the stub
    from quarntools._quarntools import _FormulaInfo, _PetroCurves, _SummaryDict, _Trajectory

assert_type(qt.__version__, str)
assert_type(qt.__all__, list[str])

# ---- random sampling
rng = qt.Rng(42)
normal = Sampler.normal(0.0, 1.0)
assert_type(normal, Sampler)
assert_type(normal.sample(rng), float)
assert_type(normal.sample_n(3, rng), list[float])
assert_type(normal.sample_n_seeded(np.uint64(3), 7), list[float])
clamped = Sampler.uniform(-1, 1).clamped(-0.5, 0.5)
assert_type(clamped, qt.Clamped)
assert_type(clamped.sample(rng), float)
assert_type(clamped.sample_n(2, rng), list[float])
assert_type(clamped.sample_n_seeded(4, 7), list[float])
for dist in (Sampler.lognormal(0, 0.5), Sampler.triangular(0, 1, 3), Sampler.truncated_normal(0.5, 0.2, 0, 1)):
    assert_type(dist.sample(rng), float)

# ---- statistics: lists, tuples, array('d') and NumPy arrays all cross as lists of floats
data = [1.0, 2.0, 4.0, 8.0, 16.0]
weights = [1, 1, 2, 2, 1]
assert_type(qt.mean(data), float)
assert_type(qt.variance((1, 2, 3)), float)
assert_type(qt.std(array.array("d", data)), float)
assert_type(qt.percentile(np.array(data), 25), float)
assert_type(qt.median(np.arange(5.0)), float)
assert_type(qt.weighted_mean(data, weights), float)
assert_type(qt.weighted_variance(data, np.ones(5)), float)
assert_type(qt.weighted_std(data, weights), float)
assert_type(qt.weighted_percentile(data, weights, np.float64(50)), float)
summary = qt.reservoir_summary(data)
assert_type(summary, qt.ReservoirSummary)
assert_type(summary.p90 <= summary.p50 <= summary.p10, bool)
assert_type(summary.mean, float)
digest = summary.to_dict()
assert_type(digest, "_SummaryDict")
assert_type(digest["p50"], float)
assert_type(qt.aggregate([[1.0, 2.0], [3.0, 4.0, 5.0]], "comonotonic"), list[float])
assert_type(qt.aggregate(np.ones((3, 4))), list[float])

# ---- formulas
info = qt.formula_info(["b = 2 * a", "c = b + $k"])
assert_type(info, "_FormulaInfo")
assert_type(info["order"], list[str])
assert_type(info["properties"], list[str])
props: dict[str, list[float]] = {"a": data}
result = qt.evaluate_formula(["b = 2 * a", "c = b + $k"], props, {"k": 1})
assert_type(result, dict[str, list[float]])
assert_type(qt.evaluate_formula(("y = x * x",), {"x": np.arange(3.0)}), dict[str, list[float]])

# ---- lattice and world frame
lat = Lattice(0, 0, 25, 25, 4, 3, rotation_deg=30.0, yflip=False)
assert_type(lat.ncol, int)
assert_type(lat.nrow, int)
assert_type(lat.xori + lat.yori + lat.xinc + lat.yinc + lat.rotation_deg, float)
assert_type(lat.yflip, bool)
assert_type(lat.step_vectors(), tuple[list[float], list[float]])
assert_type(lat.intrinsic_to_world(0.5, 1), tuple[float, float])
assert_type(lat.node_xy(1, 2), tuple[float, float])
ij = lat.world_to_intrinsic(10, 10)
assert_type(ij, tuple[float, float] | None)
if ij is not None:
    fi, fj = ij
    assert_type(fi + fj, float)
assert_type(lat.xy_to_ij(1.0, 2.0), tuple[float, float] | None)
geo = qt.Georef(431000.0, 6521000.0)
assert_type(geo.east0 + geo.north0, float)
assert_type(geo.origin(), list[float])
world = geo.lattice(25.0, 25.0, 20, 16)
assert_type(world, Lattice)
assert_type(qt.Georef().lattice(10, 10, 2, 2, rotation_deg=15, yflip=True), Lattice)
assert_type(geo.place_point((100.0, 200.0)), list[float])
assert_type(geo.place_points([[0, 0], (10, 10)]), list[list[float]])
assert_type(geo.place_intrinsic(np.array([1.0, 2.0]), rotation_deg=15), list[float])

# ---- variograms, kriging, simulation, interpolation, resampling
coords = [[0.0, 0.0, 1.0], [50.0, 0.0, 2.0], [0.0, 50.0, 3.0], [50.0, 50.0, 1.5], [25.0, 25.0, 2.0]]
ev = qt.experimental_variogram(coords, 20.0, 4)
assert_type(ev, qt.ExperimentalVariogram)
assert_type(ev.lags, list[float])
assert_type(ev.semivariances, list[float])
assert_type(ev.counts, list[int])
vg = qt.Variogram("spherical", 0.0, 1.0, 80.0)
assert_type(vg.nugget + vg.sill + vg.range, float)
assert_type(qt.Variogram.fit(" SPH ", ev), qt.Variogram)
aniso = qt.AnisotropicVariogram("exponential", 200, 50, 10, 90, sill=1.0, nugget=0.0)
assert_type(aniso.major + aniso.minor + aniso.vertical + aniso.azimuth + aniso.sill + aniso.nugget, float)
assert_type(aniso.anisotropic_distance(100, 0), float)
assert_type(aniso.gamma_offset(1, 2, dz=0.5), float)
assert_type(qt.AnisotropicVariogram.isotropic("gauss", 0.0, 1.0, 50.0), qt.AnisotropicVariogram)
est, var = qt.local_kriging_grid(coords, lat, vg, 8, 200.0)
assert_type(est, list[list[float]])
assert_type(var, list[list[float]])
est_bytes, var_bytes, shape = qt.local_kriging_grid_flat(np.array(coords), lat, vg, 8, 200.0)
assert_type(est_bytes + var_bytes, bytes)
assert_type(shape, tuple[int, int])
sim = qt.sgs(coords, lat, aniso, 8, 200.0, seed=1)
assert_type(sim, list[list[float]])
sim_flat = qt.sgs_flat(coords, lat, vg, 8, 200.0, 1)
assert_type(sim_flat, tuple[bytes, tuple[int, int]])
assert_type(qt.interp1d([0, 1, 2], [0, 10, 5], np.linspace(0, 2, 5), method="cubic", extrapolate=True), list[float])
target = Lattice(0, 0, 10, 10, 5, 5)
assert_type(qt.resample(sim, lat, target), list[list[float]])
assert_type(qt.resample(np.zeros((4, 3)), lat, target, "nearest"), list[list[float]])
flat, (ncol, nrow) = qt.resample_flat(sim_flat[0], lat, target, method="nn")
grid = np.frombuffer(flat, dtype="<f8").reshape(ncol, nrow)
assert_type(qt.resample_flat(np.ascontiguousarray(grid, "<f8").tobytes(), target, lat), tuple[bytes, tuple[int, int]])

# ---- synthetic logs
zones = [qt.ZoneSpec(10, 0.2, 0.05, 1.5), qt.ZoneSpec(5.0, 0.6, 0.1, 2.0)]
assert_type(zones[0].thickness_m + zones[0].mean + zones[0].std + zones[0].corr_length_m, float)
assert_type(qt.zone_sample_counts(zones, 0.5), list[int])
assert_type(qt.synth_log_series(zones, 0.5, 2, 3), list[float])
facies = qt.synth_facies_series(100, 0.5, 0.4, 2.0, 9)
assert_type(facies, list[int])
assert_type(qt.synth_por_with_facies(facies, 0.5, 0.22, 0.03, 0.06, 0.02, 3.0, 9), list[float])
assert_type(qt.synth_por_with_facies(np.array(facies), 0.5, 0.22, 0.03, 0.06, 0.02, 3.0, 9), list[float])
petro = qt.PetroZoneSpec(0.5, 0.2, 0.05, 0.05, 0.02, 1.0, 1.0, net_cutoff=0.1)
assert_type(petro.net_cutoff + petro.ntg_target + petro.bed_scale_m + petro.correlation_len_m, float)
assert_type(petro.net_por_mean + petro.net_por_std + petro.nonnet_por_mean + petro.nonnet_por_std, float)
curves = qt.synth_petro_curves(petro, 0.5, 40, 5)
assert_type(curves, "_PetroCurves")
assert_type(curves["phie"], list[float])
assert_type(curves["net_flag"], list[int])
assert_type(qt.ntg_curve(curves["net_flag"], 0.5, 5.0), list[float])

# ---- synthetic surfaces and outlines
dome = qt.synth_dome_surface(world, 100, 1.5, 10, 4, vg, 11)
assert_type(dome, list[list[float]])
assert_type(qt.synth_dome_surface_flat(world, 100.0, 1.5, 10.0, 0.0, vg, 11), tuple[bytes, tuple[int, int]])
assert_type(qt.synth_isochore(world, 30, 0.2, vg, 3), list[list[float]])
assert_type(qt.synth_isochore_flat(world, 30, 0.2, vg, 3), tuple[bytes, tuple[int, int]])
assert_type(qt.synth_trend_map(world, vg, 5, correlate_with=(dome, 0.7)), list[list[float]])
assert_type(qt.synth_trend_map_flat(world, vg, 5), tuple[bytes, tuple[int, int]])
ring = qt.closure_outline(dome, world, 50.0)
assert_type(ring, list[list[float]])
area = qt.study_area_outline(0, 0, 1000, 800, 100, 8)
assert_type(area, list[list[float]])

# ---- synthetic wells
heads = qt.place_wells(0, 0, 1000, 1000, 5, 2)
assert_type(heads, list[list[float]])
assert_type(qt.place_wells_in_polygon(area, 3, 4), list[list[float]])
world_heads = [geo.place_point(h) for h in heads]
assert_type(qt.tops_from_surface(dome, world, world_heads, Sampler.normal(0, 2), 6), list[float])
well = qt.synth_trajectory((500.0, 500.0), 25.0, 2000.0, 30.0, 0)
assert_type(well, "_Trajectory")
assert_type(well["md"], list[float])
assert_type(well["tvd"], list[float])
deviated = qt.synth_trajectory_profile(
    [500, 500], 25, 2500, 30, 0, "build_hold_drop", kickoff_md=500, drop_start_md=1500, final_incl_deg=5
)
assert_type(deviated, "_Trajectory")
assert_type(qt.max_dogleg_severity(deviated["md"], deviated["incl"], deviated["azim"]), float)

# ---- units
volume = qt.stb_to_sm3(qt.sm3_to_stb(qt.m3_to_msm3(qt.msm3_to_m3(qt.m3_to_mcm(qt.mcm_to_m3(12.4))))))
assert_type(volume, float)
assert_type(qt.bcm_to_m3(qt.m3_to_bcm(qt.sm3_to_scf(qt.scf_to_sm3(1e9)))), float)
assert_type(qt.m2_to_km2(qt.km2_to_m2(3)), float)
assert_type(qt.format_volume(12.4e6), str)

# ---- the NumPy layer: Field, quarntools.fields, spawn_seeds
field = qt.Field(np.zeros((4, 3)), lat)
assert_type(field, qt.Field)
assert_type(field.shape, tuple[int, int])
assert_type(field.lattice, Lattice)
assert_type(field.to_flat(), tuple[bytes, tuple[int, int]])
assert_type(field.to_nested(), list[list[float]])
assert_type(qt.Field.from_flat(field.to_flat(), lat), qt.Field)
assert_type(qt.Field.from_nested(field.to_nested(), lat), qt.Field)
assert_type(field.resample(target, "nearest"), qt.Field)
xs, ys = field.xy()
inside_ring = field.mask(np.array([[0.0, 0.0], [60.0, 0.0], [0.0, 60.0]]))
at_points = field.sample([[10.0, 10.0]], method="bilinear")
assert_type(qt.spawn_seeds(7, 3), list[int])
sph = qt.Variogram("spherical", 0.0, 1.0, 100.0)
assert_type(qt.fields.sgs(np.array([[10.0, 10.0, 1.0]]), lat, sph, 8, 200.0, 1), qt.Field)
assert_type(qt.fields.local_kriging([[10.0, 10.0, 1.0]], lat, sph, 8, 200.0), tuple[qt.Field, qt.Field])
assert_type(qt.fields.synth_trend_map(lat, sph, 1, correlate_with=(field, 0.5)), qt.Field)
assert_type(qt.fields.resample(field, target), qt.Field)

# ---- quarntools.arrays: vector results as arrays
FloatArr = npt.NDArray[np.float64]
IntArr = npt.NDArray[np.int64]
assert_type(qt.arrays.interp1d(np.arange(3.0), np.arange(3.0), [0.5], "cubic"), FloatArr)
assert_type(qt.arrays.evaluate_formula(["y = x"], {"x": np.arange(3.0)}), dict[str, FloatArr])
assert_type(qt.arrays.sample(normal, 3, rng), FloatArr)
assert_type(qt.arrays.sample(clamped, 3, 7), FloatArr)
assert_type(qt.arrays.aggregate(np.ones((2, 3)), "comonotonic"), FloatArr)
assert_type(qt.arrays.synth_facies_series(3, 0.1, 0.4, 1.0, 2), IntArr)
