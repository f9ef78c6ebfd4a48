// The vector kernels of the variogram, instantiated once per instruction set: the
// simulation's correlations (sgs/correlation.hpp) and kriging's semivariances
// (gamma_rows.hpp), with their portable forms.
#include <cmath>
#include <type_traits>
#include <variant>

#include "geostat/gamma_rows.hpp"
#include "geostat/sgs/correlation.hpp"
#include "simd_lanes.hpp"

namespace quarn::geostat {
namespace sgs_detail {

CorrelationModel CorrelationModel::from(const VariogramSpec& spec) {
  CorrelationModel cm;
  if (const auto* v = std::get_if<Variogram>(&spec.model)) {
    cm.model = v->model;
    cm.nugget = v->nugget;
    cm.sill = v->sill;
    cm.range = v->range;
  } else {
    const auto& a = std::get<AnisotropicVariogram>(spec.model);
    cm.model = a.model;
    cm.anisotropic = true;
    cm.nugget = a.nugget;
    cm.sill = a.sill;
    cm.range = a.major;
    cm.sin_az = a.sin_az;
    cm.cos_az = a.cos_az;
    cm.major = a.major;
    cm.minor = a.minor;
    cm.vertical = a.vertical;
  }
  cm.total = spec.total_sill();
  return cm;
}

double CorrelationModel::rho(double dx, double dy) const {
  double h2;
  if (anisotropic) {
    // AnisotropicVariogram::scaled_distance_sq with dz = 0
    const double along = dx * sin_az + dy * cos_az;
    const double across = (dx * cos_az - dy * sin_az) * major / minor;
    const double vert = 0.0 * major / vertical;
    h2 = vert * vert + (along * along + across * across);
  } else {
    h2 = dx * dx + dy * dy;
  }
  const double g = h2 == 0.0 ? 0.0 : nugget + sill * unit_shape(model, std::sqrt(h2), range);
  return 1.0 - g / total;
}

}  // namespace sgs_detail

namespace {

using sgs_detail::CorrelationModel;

void row_portable(const CorrelationModel& cm, double x0, double y0, const double* xs, const double* ys,
                  std::size_t n, double* out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = cm.rho(x0 - xs[k], y0 - ys[k]);
}

// Row k from the correlations to the points before it; rho(p_b - p_k) is the same bits
// as rho(p_k - p_b) (negating dx, dy is exact), so the upper triangle mirrors it.
void rows_portable(const CorrelationModel& cm, const double* xs, const double* ys, std::size_t n, double* a,
                   std::size_t ld) {
  for (std::size_t k = 0; k < n; ++k) {
    double* row = a + k * ld;
    row_portable(cm, xs[k], ys[k], xs, ys, k, row);
    for (std::size_t b = 0; b < k; ++b) a[b * ld + k] = row[b];
    row[k] = 1.0;
  }
}

void gamma_row_portable(const Variogram& v, double x0, double y0, const double* xs, const double* ys, std::size_t n,
                  double* out) {
  for (std::size_t k = 0; k < n; ++k) {
    const double dx = x0 - xs[k], dy = y0 - ys[k];
    out[k] = v.gamma_sq(dx * dx + dy * dy);
  }
}

void gamma_at_portable(const Variogram& v, const double* h, std::size_t n, double* out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = v.gamma_at(h[k]);
}

#ifdef QUARN_SIMD_X86
namespace sse2 {
using V = simd::lanes::Sse2;
#include "geostat/shape_lanes.inc"
#include "geostat/sgs/correlation_lanes.inc"
#include "geostat/gamma_rows_lanes.inc"
}  // namespace sse2

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
using V = simd::lanes::Avx2;
#include "geostat/shape_lanes.inc"
#include "geostat/sgs/correlation_lanes.inc"
#include "geostat/gamma_rows_lanes.inc"
}  // namespace avx2
#pragma GCC pop_options
#endif  // QUARN_SIMD_X86

}  // namespace

namespace sgs_detail {

CorrelationRowFn correlation_row(simd::Path path) noexcept {
#ifdef QUARN_SIMD_X86
  if (simd::available(path)) {
    if (path == simd::Path::Sse2) return &sse2::row_lanes;
    if (path == simd::Path::Avx2) return &avx2::row_lanes;
  }
#else
  (void)path;
#endif
  return &row_portable;
}

CorrelationRowsFn correlation_rows(simd::Path path) noexcept {
#ifdef QUARN_SIMD_X86
  if (simd::available(path)) {
    if (path == simd::Path::Sse2) return &sse2::rows_lanes;
    if (path == simd::Path::Avx2) return &avx2::rows_lanes;
  }
#else
  (void)path;
#endif
  return &rows_portable;
}

}  // namespace sgs_detail

GammaKernels gamma_kernels(simd::Path path) noexcept {
#ifdef QUARN_SIMD_X86
  if (simd::available(path)) {
    if (path == simd::Path::Sse2) return {&sse2::gamma_row_lanes, &sse2::gamma_at_lanes};
    if (path == simd::Path::Avx2) return {&avx2::gamma_row_lanes, &avx2::gamma_at_lanes};
  }
#else
  (void)path;
#endif
  return {&gamma_row_portable, &gamma_at_portable};
}

}  // namespace quarn::geostat
