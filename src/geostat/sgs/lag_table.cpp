#include "geostat/sgs/lag_table.hpp"

#include <cmath>

namespace quarn::geostat::sgs_detail {
namespace {

// Largest table: 2^20 lags (8 MB), at most a few milliseconds to fill.
constexpr double kMostLags = 1048576.0;

// Lags 1 .. reach of the coordinates v: the differences v[i + d] - v[i] are one double
// per d (returned in diff[d], diff[0] = 0), or false. v[i] - v[i + d] is then exactly
// -diff[d] (subtraction is antisymmetric).
bool exact_lags(const std::vector<double>& v, std::int64_t reach, std::vector<double>& diff) {
  diff.assign(static_cast<std::size_t>(reach) + 1, 0.0);
  const auto n = static_cast<std::int64_t>(v.size());
  for (std::int64_t d = 1; d <= reach; ++d) {
    const double first = v[static_cast<std::size_t>(d)] - v[0];
    for (std::int64_t i = 1; i + d < n; ++i)
      if (!(v[static_cast<std::size_t>(i + d)] - v[static_cast<std::size_t>(i)] == first)) return false;
    diff[static_cast<std::size_t>(d)] = first;
  }
  return true;
}

}  // namespace

std::optional<LagTable> LagTable::make(const Lattice& lat, const CorrelationModel& cm, double radius) {
  const double ax = std::fabs(lat.xinc), ay = std::fabs(lat.yinc);
  if (!(ax > 0.0) || !(ay > 0.0) || !std::isfinite(radius) || !(radius > 0.0) || lat.ncol == 0 || lat.nrow == 0)
    return std::nullopt;
  // Neighbours lie within the radius of the node; one column more absorbs the rounding of
  // computed distances, and pairs of neighbours are up to twice as far apart.
  const double fi = std::min(std::floor(radius / ax) + 1.0, static_cast<double>(lat.ncol - 1));
  const double fj = std::min(std::floor(radius / ay) + 1.0, static_cast<double>(lat.nrow - 1));
  if (!std::isfinite(fi) || !std::isfinite(fj) || (4.0 * fi + 1.0) * (4.0 * fj + 1.0) > kMostLags)
    return std::nullopt;
  const auto ri = static_cast<std::int64_t>(fi), rj = static_cast<std::int64_t>(fj);
  const std::int64_t li = std::min<std::int64_t>(2 * ri, static_cast<std::int64_t>(lat.ncol - 1));
  const std::int64_t lj = std::min<std::int64_t>(2 * rj, static_cast<std::int64_t>(lat.nrow - 1));

  // x by column alone and y by row alone, on every node.
  const LatticeFrame frame(lat);
  std::vector<double> xs(lat.ncol), ys(lat.nrow);
  for (std::size_t i = 0; i < lat.ncol; ++i) xs[i] = frame.to_world(static_cast<double>(i), 0.0).first;
  for (std::size_t j = 0; j < lat.nrow; ++j) ys[j] = frame.to_world(0.0, static_cast<double>(j)).second;
  for (std::size_t i = 0; i < lat.ncol; ++i)
    for (std::size_t j = 0; j < lat.nrow; ++j) {
      const auto [x, y] = frame.to_world(static_cast<double>(i), static_cast<double>(j));
      if (!(x == xs[i]) || !(y == ys[j])) return std::nullopt;
    }
  std::vector<double> dx, dy;
  if (!exact_lags(xs, li, dx) || !exact_lags(ys, lj, dy)) return std::nullopt;

  LagTable t;
  t.li_ = 2 * ri;
  t.lj_ = 2 * rj;
  t.width_ = 2 * t.lj_ + 1;
  t.values_.assign(static_cast<std::size_t>((2 * t.li_ + 1) * t.width_), 0.0);
  // Lags beyond the lattice (a reach wider than it) never occur; they stay 0.
  for (std::int64_t di = -li; di <= li; ++di)
    for (std::int64_t dj = -lj; dj <= lj; ++dj) {
      const double sx = di >= 0 ? dx[static_cast<std::size_t>(di)] : -dx[static_cast<std::size_t>(-di)];
      const double sy = dj >= 0 ? dy[static_cast<std::size_t>(dj)] : -dy[static_cast<std::size_t>(-dj)];
      t.values_[static_cast<std::size_t>((di + t.li_) * t.width_ + (dj + t.lj_))] = cm.rho(sx, sy);
    }
  return t;
}

}  // namespace quarn::geostat::sgs_detail
