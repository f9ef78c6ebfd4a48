"""Misuse that the stubs must catch: mypy --strict reports exactly the marked lines.

Each `# E: <code>` marks one expected error and its mypy error code. This file is
only type-checked, never run.
"""

import quarntools as qt

lat = qt.Lattice(0, 0, 25, 25, 2, 2)
vg = qt.Variogram("spherical", 0.0, 1.0, 80.0)
surface = [[0.0, 1.0], [1.0, 0.0]]

# list-like parameters refuse str and unordered containers, items must be numbers
qt.mean("1.0 2.0")  # E: arg-type
qt.mean({1.0, 2.0})  # E: arg-type
qt.mean([1.0, "2"])  # E: list-item
qt.percentile([1.0], "50")  # E: arg-type
# counts are integers, flags are bools, names are str
qt.Lattice(0, 0, 1, 1, 2.5, 2)  # E: arg-type
qt.Lattice(0, 0, 1, 1, 2, 2, yflip=1)  # E: arg-type
qt.synth_por_with_facies([0.5], 0.5, 0.2, 0.05, 0.1, 0.02, 1.0, 1)  # E: list-item
qt.interp1d([0, 1], [0, 1], [0.5], extrapolate="yes")  # E: arg-type
qt.aggregate([[1.0]], correlation=None)  # E: arg-type
# trajectory profiles are matched exactly
qt.synth_trajectory_profile((0, 0), 0, 100, 10, 0, "Vertical")  # E: arg-type
# fields: nested lists and flat bytes do not mix
qt.resample(b"\0" * 32, lat, lat)  # E: arg-type
qt.resample_flat(surface, lat, lat)  # E: arg-type
qt.synth_trend_map(lat, vg, 1, correlate_with=[surface, 0.5])  # E: arg-type
# class parameters take their own class only
qt.local_kriging_grid([[0, 0, 1]], lat, qt.AnisotropicVariogram("sph", 1, 1, 1, 0), 8, 10.0)  # E: arg-type
qt.tops_from_surface(surface, lat, [[0, 0]], qt.Sampler.normal(0, 1).clamped(0, 1), 1)  # E: arg-type
qt.Variogram.fit("sph", [1.0, 2.0])  # E: arg-type
qt.sgs([[0, 0, 1]], lat, "spherical", 8, 10.0, 1)  # E: arg-type
qt.Sampler.normal(0, 1).sample()  # E: call-arg
# binding: unknown keywords, missing arguments
qt.mean(data=[1.0], weights=[1.0])  # E: call-arg
qt.weighted_mean([1.0])  # E: call-arg
qt.Georef(east0="431000")  # E: arg-type
# getters are read-only
lat.ncol = 3  # E: misc
# results
total: str = qt.mean([1.0])  # E: assignment
shape: tuple[int, int] = qt.resample(surface, lat, lat)  # E: assignment
kb = qt.synth_trajectory((0, 0), 0, 100, 10, 0)["kb"]  # E: typeddict-item
ij = lat.world_to_intrinsic(0, 0)[0]  # E: index
third = lat.step_vectors()[2]  # E: misc
# the NumPy layer
qt.Field([[0.0, 0.0]], lat)  # E: arg-type
qt.spawn_seeds(1.5, 2)  # E: arg-type
qt.Field.from_nested([[0.0] * 3] * 4, lat).sample([[0.0, 0.0]], method="cubic")  # E: arg-type
qt.fields.synth_trend_map(lat, qt.Variogram("spherical", 0.0, 1.0, 1.0), 1, correlate_with=([[0.0]], 0.5))  # E: arg-type
