#include "gridding/kriging/prep.hpp"

namespace quarn::gridding::kriging {

void PairGammaCache::reset(std::size_t n_data) {
  slot.assign(n_data, -1);
  prev.clear();
  gamma.clear();
}

bool ordinary_system(std::span<const double> x, std::span<const double> y,
                     std::span<const geostat::Neighbour> neighbours, const geostat::Variogram& variogram,
                     LuBuffers& buf, PairGammaCache* cache) {
  const std::size_t n = neighbours.size();
  const std::size_t m = n + 1;
  buf.prepare(m);
  double* a = buf.rows();
  const std::size_t ld = buf.stride;
  for (std::size_t r = 0; r < n; ++r) a[r * ld + r] = 0.0;
  if (cache == nullptr) {
    for (std::size_t r = 0; r < n; ++r) {
      const double xr = x[neighbours[r].payload], yr = y[neighbours[r].payload];
      // (-d)^2 == d^2 exactly, so the lower triangle mirrors the upper one bit for bit.
      for (std::size_t c = r + 1; c < n; ++c) {
        const double dx = xr - x[neighbours[c].payload];
        const double dy = yr - y[neighbours[c].payload];
        const double g = variogram.gamma_sq(dx * dx + dy * dy);
        a[r * ld + c] = g;
        a[c * ld + r] = g;
      }
    }
  } else {
    PairGammaCache& pc = *cache;
    const std::size_t np = pc.prev.size();
    pc.pos.resize(n);
    pc.next.resize(n * n);  // the diagonal is never read
    for (std::size_t r = 0; r < n; ++r) pc.pos[r] = pc.slot[neighbours[r].payload];
    const double* old = pc.gamma.data();
    double* g_new = pc.next.data();
    for (std::size_t r = 0; r < n; ++r) {
      const double xr = x[neighbours[r].payload], yr = y[neighbours[r].payload];
      const std::int64_t pr = pc.pos[r];
      for (std::size_t c = r + 1; c < n; ++c) {
        const std::int64_t pcol = pc.pos[c];
        double g;
        if (pr >= 0 && pcol >= 0) {
          g = old[static_cast<std::size_t>(pr) * np + static_cast<std::size_t>(pcol)];
        } else {
          const double dx = xr - x[neighbours[c].payload];
          const double dy = yr - y[neighbours[c].payload];
          g = variogram.gamma_sq(dx * dx + dy * dy);
        }
        a[r * ld + c] = g;
        a[c * ld + r] = g;
        g_new[r * n + c] = g;
        g_new[c * n + r] = g;
      }
    }
    for (const std::uint64_t p : pc.prev) pc.slot[p] = -1;
    pc.prev.resize(n);
    for (std::size_t r = 0; r < n; ++r) {
      pc.prev[r] = neighbours[r].payload;
      pc.slot[neighbours[r].payload] = static_cast<std::int64_t>(r);
    }
    pc.gamma.swap(pc.next);
  }
  for (std::size_t r = 0; r < n; ++r) {
    a[r * ld + n] = 1.0;
    a[n * ld + r] = 1.0;
    buf.rhs[r] = variogram.gamma_at(neighbours[r].distance);
  }
  a[n * ld + n] = 0.0;
  buf.rhs[n] = 1.0;
  return buf.factorize();
}

KrigeEstimate ordinary_estimate(std::span<const double> z, std::span<const geostat::Neighbour> neighbours,
                                const LuBuffers& buf) {
  const std::size_t n = neighbours.size();
  const double* s = buf.solution.data();
  double est = 0.0;
  for (std::size_t r = 0; r < n; ++r) est += s[r] * z[neighbours[r].payload];
  double var = s[n];
  for (std::size_t r = 0; r < n; ++r) var += s[r] * buf.rhs[r];
  if (!(var > 0.0)) var = 0.0;
  return KrigeEstimate{est, var};
}

std::optional<KrigeEstimate> ordinary_krige(std::span<const double> x, std::span<const double> y,
                                            std::span<const double> z,
                                            std::span<const geostat::Neighbour> neighbours,
                                            const geostat::Variogram& variogram, LuBuffers& buf,
                                            PairGammaCache* cache) {
  if (!ordinary_system(x, y, neighbours, variogram, buf, cache)) return std::nullopt;
  buf.solve();
  return ordinary_estimate(z, neighbours, buf);
}

}  // namespace quarn::gridding::kriging
