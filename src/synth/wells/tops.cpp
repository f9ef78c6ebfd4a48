#include "synth/wells/tops.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarn::synth::wells {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double value_at(const Field& field, const Lattice& lat, const LatticeFrame& frame, double x, double y) {
  const auto ij = frame.to_intrinsic(x, y);  // NaN-free, finite geometry, or none
  if (!ij) return kNaN;
  const auto [fi, fj] = *ij;
  if (fi < 0.0 || fj < 0.0 || fi > static_cast<double>(lat.ncol) - 1.0 || fj > static_cast<double>(lat.nrow) - 1.0)
    return kNaN;
  const double fi0 = std::floor(fi), fj0 = std::floor(fj);
  const auto i0 = static_cast<std::size_t>(fi0), j0 = static_cast<std::size_t>(fj0);
  const std::size_t i1 = std::min<std::size_t>(i0 + 1, field.ncol - 1);
  const std::size_t j1 = std::min<std::size_t>(j0 + 1, field.nrow - 1);
  const double tx = fi - fi0, ty = fj - fj0;
  const double a = field.at(i0, j0), b = field.at(i1, j0), c = field.at(i0, j1), d = field.at(i1, j1);
  // A NaN corner poisons the cell even where its weight is zero.
  if (std::isnan(a) || std::isnan(b) || std::isnan(c) || std::isnan(d)) return kNaN;
  const double lower = a * (1.0 - tx) + b * tx;
  const double upper = d * tx + c * (1.0 - tx);
  return (1.0 - ty) * lower + ty * upper;
}

}  // namespace

double surface_value_at(const Field& field, const Lattice& lattice, double x, double y) {
  if (field.ncol != lattice.ncol || field.nrow != lattice.nrow || field.size() == 0) return kNaN;
  return value_at(field, lattice, LatticeFrame(lattice), x, y);
}

Result<std::vector<double>> tops_from_surface(const Field& surface, const Lattice& lattice,
                                              std::span<const std::pair<double, double>> well_xy,
                                              const sampling::Sampler& residual, std::uint64_t seed) {
  sampling::Stream s = sampling::seeded_rng(seed);
  // The k-th well takes the k-th residual draw, whatever its surface value.
  QUARN_TRY(tops, residual.sample_n(well_xy.size(), s));
  const bool usable = surface.ncol == lattice.ncol && surface.nrow == lattice.nrow && surface.size() != 0;
  const LatticeFrame frame(lattice);
  for (std::size_t k = 0; k < well_xy.size(); ++k) {
    const double v = usable ? value_at(surface, lattice, frame, well_xy[k].first, well_xy[k].second) : kNaN;
    tops[k] = v + tops[k];
  }
  return tops;
}

}  // namespace quarn::synth::wells
