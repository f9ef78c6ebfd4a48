// src/synth/surface.hpp: synthetic maps on a lattice: isochore, depositional trend map
// and dome structure, all built on the unconditional simulation.
//
// Builds on: geostat/sgs/sweep (sgs_unconditional), geostat/nscore, sampling/stream.
#pragma once
#include <cstdint>
#include <optional>

#include "error.hpp"
#include "field.hpp"
#include "geostat/variogram.hpp"
#include "lattice.hpp"

namespace quarn::synth {

/// Neighbourhood of the generators' simulation: 24 neighbours within
/// max(1.5 * range, 4 * max(|xinc|, |yinc|, smallest normal double)).
inline constexpr std::uint64_t kSurfaceNeighbours = 24;
[[nodiscard]] double surface_search_radius(const Lattice& lattice, const geostat::Variogram& variogram);

/// Thickness map: simulation about `mean_thickness` with standard deviation
/// `variability`, clamped at zero. InvalidArgument, in this order:
/// "synth_isochore: mean_thickness must be finite",
/// "synth_isochore: variability must be finite and >= 0"; then any simulation error.
[[nodiscard]] Result<Field> synth_isochore(const Lattice& lattice, double mean_thickness, double variability,
                                           const geostat::Variogram& variogram, std::uint64_t seed);

/// A field to correlate with and the coefficient.
struct CorrelateWith {
  Field field;
  double rho = 0.0;
};

/// Trend map in [0, 1]: Phi of a unit simulation, optionally blended with the normal
/// scores of `correlate_with` (sqrt(1 - rho^2) * z + w * rho). The simulation runs
/// first; then InvalidArgument "synth_trend_map: rho must be in [-1, 1]",
/// "synth_trend_map: correlate_with field shape must match the lattice", and the
/// normal-score fit's EmptyInput when the field has no finite value.
[[nodiscard]] Result<Field> synth_trend_map(const Lattice& lattice, const geostat::Variogram& variogram,
                                            std::uint64_t seed, const std::optional<CorrelateWith>& correlate_with);

/// Spatially correlated noise of a dome: variance (>= 0) and variogram.
struct NoiseSpec {
  double variance = 0.0;
  geostat::Variogram variogram;

  /// InvalidArgument "NoiseSpec: variance must be finite and >= 0".
  [[nodiscard]] static Result<NoiseSpec> make(double variance, const geostat::Variogram& variogram);
};

/// Elliptical Gaussian dome centred on the lattice's world bounding box, a linear tilt
/// rising east, plus the noise. InvalidArgument, in this order:
/// "synth_dome_surface: relief and tilt must be finite",
/// "synth_dome_surface: aspect must be finite and > 0"; then any simulation error.
[[nodiscard]] Result<Field> synth_dome_surface(const Lattice& lattice, double relief, double aspect, double tilt,
                                               const NoiseSpec& noise, std::uint64_t seed);

}  // namespace quarn::synth
