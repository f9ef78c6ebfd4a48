#include "geostat/experimental.hpp"

#include <algorithm>
#include <cmath>
#include <new>

namespace quarn::geostat {

Result<ExperimentalVariogram> experimental_variogram(std::span<const std::array<double, 3>> coords, double lag,
                                                     std::uint64_t n_lags) {
  if (coords.size() < 2) return empty_input("experimental_variogram: need at least two data");
  if (!std::isfinite(lag) || !(lag > 0.0) || n_lags == 0)
    return invalid_argument("experimental_variogram: need lag > 0 (finite) and n_lags >= 1");

  const std::size_t n = coords.size();
  const double reach = static_cast<double>(n_lags) * lag;

  // Classes beyond the data's extent can never be hit, so a huge n_lags costs nothing:
  // every |dx| <= xmax - xmin in floating point too (rounding is monotonic), hence
  // g <= gmax and floor(g / lag) <= floor(gmax / lag).
  double xmin = INFINITY, xmax = -INFINITY, ymin = INFINITY, ymax = -INFINITY;
  for (const auto& r : coords) {
    if (!std::isfinite(r[0]) || !std::isfinite(r[1])) continue;
    xmin = std::min(xmin, r[0]);
    xmax = std::max(xmax, r[0]);
    ymin = std::min(ymin, r[1]);
    ymax = std::max(ymax, r[1]);
  }
  std::uint64_t classes = 1;
  if (xmin <= xmax) {
    const double w = xmax - xmin, h = ymax - ymin;
    const double kmax = std::floor(std::sqrt(w * w + h * h) / lag);
    const double n_lags_d = static_cast<double>(n_lags);
    classes = kmax + 1.0 < n_lags_d ? static_cast<std::uint64_t>(kmax) + 1 : n_lags;
  }
  if (classes > std::vector<double>().max_size() / 4) throw std::bad_alloc();
  const double classes_d = static_cast<double>(classes);

  std::vector<double> sq(classes, 0.0), sep(classes, 0.0);
  std::vector<std::uint64_t> cnt(classes, 0);
  // Columns of coordinates, and per-row scratch for a first pass the compiler can
  // vectorise (separations, quotients, squared differences); the second pass adds them
  // to the classes in pair order.
  std::vector<double> xs(n), ys(n), zs(n), gs(n), qs(n), d2s(n);
  for (std::size_t i = 0; i < n; ++i) {
    xs[i] = coords[i][0];
    ys[i] = coords[i][1];
    zs[i] = coords[i][2];
  }
  for (std::size_t i = 0; i < n; ++i) {
    const double xi = xs[i], yi = ys[i], zi = zs[i];
    for (std::size_t j = i + 1; j < n; ++j) {
      const double dx = xi - xs[j];
      const double dy = yi - ys[j];
      const double g = std::sqrt(dx * dx + dy * dy);
      const double dz = zi - zs[j];
      gs[j] = g;
      qs[j] = g / lag;
      d2s[j] = dz * dz;
    }
    for (std::size_t j = i + 1; j < n; ++j) {
      const double g = gs[j];
      if (!(g < reach)) continue;
      // q >= 0 here, so truncation is floor. Just below n_lags * lag the quotient can
      // round up to n_lags: such a pair joins the last class.
      const double q = qs[j];
      const std::size_t k = q < classes_d ? static_cast<std::size_t>(q) : classes - 1;
      sq[k] += d2s[j];
      sep[k] += g;
      cnt[k] += 1;
    }
  }

  ExperimentalVariogram ev;
  for (std::size_t k = 0; k < classes; ++k) {
    if (cnt[k] == 0) continue;
    const double c = static_cast<double>(cnt[k]);
    ev.lags.push_back(sep[k] / c);
    ev.semivariances.push_back(sq[k] / (2.0 * c));
    ev.counts.push_back(cnt[k]);
  }
  return ev;
}

}  // namespace quarn::geostat
