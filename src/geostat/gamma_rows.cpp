#include "geostat/gamma_rows.hpp"

#include <cmath>
#include <type_traits>

#include "simd_lanes.hpp"

namespace quarn::geostat {
namespace {

void row_portable(const Variogram& v, double x0, double y0, const double* xs, const double* ys, std::size_t n,
                  double* out) {
  for (std::size_t k = 0; k < n; ++k) {
    const double dx = x0 - xs[k], dy = y0 - ys[k];
    out[k] = v.gamma_sq(dx * dx + dy * dy);
  }
}

void at_portable(const Variogram& v, const double* h, std::size_t n, double* out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = v.gamma_at(h[k]);
}

#ifdef QUARN_SIMD_X86
namespace sse2 {
using V = simd::lanes::Sse2;
#include "geostat/shape_lanes.inc"
#include "geostat/gamma_rows_lanes.inc"
}  // namespace sse2

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
using V = simd::lanes::Avx2;
#include "geostat/shape_lanes.inc"
#include "geostat/gamma_rows_lanes.inc"
}  // namespace avx2
#pragma GCC pop_options
#endif  // QUARN_SIMD_X86

}  // namespace

GammaKernels gamma_kernels(simd::Path path) noexcept {
#ifdef QUARN_SIMD_X86
  if (simd::available(path)) {
    if (path == simd::Path::Sse2) return {&sse2::row_lanes, &sse2::at_lanes};
    if (path == simd::Path::Avx2) return {&avx2::row_lanes, &avx2::at_lanes};
  }
#else
  (void)path;
#endif
  return {&row_portable, &at_portable};
}

}  // namespace quarn::geostat
