#include "synth/surface.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "cancel.hpp"
#include "geostat/nscore.hpp"
#include "geostat/sgs/sweep.hpp"
#include "sampling/stream.hpp"

namespace quarn::synth {
namespace {

constexpr double kTiny = 2.2250738585072014e-308;  // smallest normal double

// max() that ignores a NaN operand, as the generators' bounds do.
double max_of(double a, double b) { return std::fmax(a, b); }

}  // namespace

double surface_search_radius(const Lattice& lattice, const geostat::Variogram& variogram) {
  const double spacing = max_of(max_of(std::fabs(lattice.xinc), std::fabs(lattice.yinc)), kTiny);
  return max_of(1.5 * variogram.range, 4.0 * spacing);
}

Result<Field> synth_isochore(const Lattice& lattice, double mean_thickness, double variability,
                             const geostat::Variogram& variogram, std::uint64_t seed) {
  if (!std::isfinite(mean_thickness)) return invalid_argument("synth_isochore: mean_thickness must be finite");
  if (!std::isfinite(variability) || variability < 0.0)
    return invalid_argument("synth_isochore: variability must be finite and >= 0");
  QUARN_TRY(v, geostat::sgs_unconditional(lattice, mean_thickness, variability * variability, variogram,
                                          kSurfaceNeighbours, surface_search_radius(lattice, variogram), seed));
  for (double& x : v.data) x = x > 0.0 ? x : 0.0;
  return v;
}

Result<Field> synth_trend_map(const Lattice& lattice, const geostat::Variogram& variogram, std::uint64_t seed,
                              const std::optional<CorrelateWith>& correlate_with) {
  QUARN_TRY(z, geostat::sgs_unconditional(lattice, 0.0, 1.0, variogram, kSurfaceNeighbours,
                                          surface_search_radius(lattice, variogram), seed));
  if (correlate_with) {
    const double rho = correlate_with->rho;
    const Field& f = correlate_with->field;
    if (!std::isfinite(rho) || std::fabs(rho) > 1.0) return invalid_argument("synth_trend_map: rho must be in [-1, 1]");
    if (f.ncol != lattice.ncol || f.nrow != lattice.nrow || f.data.size() != z.data.size())
      return invalid_argument("synth_trend_map: correlate_with field shape must match the lattice");
    std::vector<double> finite;
    finite.reserve(f.data.size());
    for (double x : f.data)
      if (std::isfinite(x)) finite.push_back(x);
    QUARN_TRY(ns, geostat::NormalScore::fit(finite));
    const double s = std::sqrt(max_of(1.0 - rho * rho, 0.0));
    for (std::size_t k = 0; k < z.data.size(); ++k) {
      const double w = std::isfinite(f.data[k]) ? ns.transform(f.data[k]) : 0.0;
      z.data[k] = s * z.data[k] + w * rho;
    }
  }
  if (!cancel::each(z.data.size(), [&](std::size_t k) { z.data[k] = sampling::normal_cdf(z.data[k]); }))
    return cancel::error("synth_trend_map");
  return z;
}

Result<NoiseSpec> NoiseSpec::make(double variance, const geostat::Variogram& variogram) {
  if (!std::isfinite(variance) || variance < 0.0)
    return invalid_argument("NoiseSpec: variance must be finite and >= 0");
  return NoiseSpec{variance, variogram};
}

Result<Field> synth_dome_surface(const Lattice& lattice, double relief, double aspect, double tilt,
                                 const NoiseSpec& noise, std::uint64_t seed) {
  if (!std::isfinite(noise.variance) || noise.variance < 0.0)
    return invalid_argument("NoiseSpec: variance must be finite and >= 0");
  if (!std::isfinite(relief) || !std::isfinite(tilt))
    return invalid_argument("synth_dome_surface: relief and tilt must be finite");
  if (!std::isfinite(aspect) || !(aspect > 0.0)) return invalid_argument("synth_dome_surface: aspect must be finite and > 0");

  Field out;
  if (noise.variance > 0.0) {
    QUARN_TRY(n, geostat::sgs_unconditional(lattice, 0.0, noise.variance, noise.variogram, kSurfaceNeighbours,
                                            surface_search_radius(lattice, noise.variogram), seed));
    out = std::move(n);
  } else {
    if (!geostat::lattice_node_count(lattice))
      return invalid_argument("synth_dome_surface: lattice has too many nodes");
    out = Field(lattice.ncol, lattice.nrow, 0.0);
  }
  const std::size_t nc = lattice.ncol, nr = lattice.nrow;
  if (nc == 0 || nr == 0) return out;

  const LatticeFrame frame(lattice);
  const double last_i = static_cast<double>(nc - 1), last_j = static_cast<double>(nr - 1);
  const std::pair<double, double> corners[4] = {frame.to_world(0.0, 0.0), frame.to_world(last_i, 0.0),
                                                frame.to_world(0.0, last_j), frame.to_world(last_i, last_j)};
  double xmin = corners[0].first, xmax = xmin, ymin = corners[0].second, ymax = ymin;
  for (const auto& [x, y] : corners) {
    xmin = std::min(xmin, x);
    xmax = std::max(xmax, x);
    ymin = std::min(ymin, y);
    ymax = std::max(ymax, y);
  }
  const double w = xmax - xmin, h = ymax - ymin;
  const double cx = (xmin + xmax) * 0.5, cy = (ymin + ymax) * 0.5;
  const double sa = std::sqrt(aspect);
  const double ax = max_of(w * 0.5 * 0.5 * sa, kTiny);
  const double ay = max_of(h * 0.5 * 0.5 / sa, kTiny);
  const double wt = max_of(w, kTiny);

  for (std::size_t i = 0; i < nc; ++i) {
    if (cancel::poll_n(32 * nr)) return cancel::error("synth_dome_surface");
    for (std::size_t j = 0; j < nr; ++j) {
      const auto [x, y] = frame.to_world(static_cast<double>(i), static_cast<double>(j));
      const double dx = (x - cx) / ax, dy = (y - cy) / ay;
      double& v = out.data[i * nr + j];
      v = std::exp((dx * dx + dy * dy) * (-0.5)) * relief + ((x - xmin) / wt - 0.5) * tilt + v;
    }
  }
  return out;
}

}  // namespace quarn::synth
