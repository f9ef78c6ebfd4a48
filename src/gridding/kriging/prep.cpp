#include "gridding/kriging/prep.hpp"

namespace quarn::gridding::kriging {

void PairGammaCache::reset(std::size_t n_data) {
  slot.assign(n_data, -1);
  prev.clear();
  gamma.clear();
  stride = 0;
  kernels = geostat::gamma_kernels(simd::active());
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
    pc.pos.resize(n);
    pc.nx.resize(n);
    pc.ny.resize(n);
    for (std::size_t r = 0; r < n; ++r) {
      const std::uint64_t p = neighbours[r].payload;
      pc.pos[r] = pc.slot[p];
      pc.nx[r] = x[p];
      pc.ny[r] = y[p];
    }
    // Pairs of data that were both neighbours of the previous target: copied.
    const double* old = pc.gamma.data();
    for (std::size_t r = 0; r < n; ++r) {
      const std::int64_t pr = pc.pos[r];
      if (pr < 0) continue;
      const double* src = old + static_cast<std::size_t>(pr) * pc.stride;
      for (std::size_t c = r + 1; c < n; ++c) {
        const std::int64_t q = pc.pos[c];
        if (q < 0) continue;
        const double g = src[q];
        a[r * ld + c] = g;
        a[c * ld + r] = g;
      }
    }
    // The rest are the pairs of a datum new to this target: its whole row, mirrored
    // into its column. Row r's gamma of (p_r - p_c) is the same bits as row c's of
    // (p_c - p_r).
    for (std::size_t r = 0; r < n; ++r) {
      if (pc.pos[r] >= 0) continue;
      double* row = a + r * ld;
      pc.kernels.row(variogram, pc.nx[r], pc.ny[r], pc.nx.data(), pc.ny.data(), n, row);
      for (std::size_t c = 0; c < n; ++c) a[c * ld + r] = row[c];
    }
    for (std::size_t r = 0; r < n; ++r) a[r * ld + r] = 0.0;
    for (const std::uint64_t p : pc.prev) pc.slot[p] = -1;
    pc.prev.resize(n);
    for (std::size_t r = 0; r < n; ++r) {
      pc.prev[r] = neighbours[r].payload;
      pc.slot[neighbours[r].payload] = static_cast<std::int64_t>(r);
    }
    // The gammas as they stand, rows and all, for the next target.
    pc.gamma.assign(a, a + n * ld);
    pc.stride = ld;
  }
  for (std::size_t r = 0; r < n; ++r) {
    a[r * ld + n] = 1.0;
    a[n * ld + r] = 1.0;
  }
  if (cache != nullptr) {
    PairGammaCache& pc = *cache;
    pc.h.resize(n);
    for (std::size_t r = 0; r < n; ++r) pc.h[r] = neighbours[r].distance;
    pc.kernels.at(variogram, pc.h.data(), n, buf.rhs.data());
  } else {
    for (std::size_t r = 0; r < n; ++r) buf.rhs[r] = variogram.gamma_at(neighbours[r].distance);
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
