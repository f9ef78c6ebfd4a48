#include "gridding/kriging/lu_kernels.hpp"

#include <cmath>
#include <cstdint>
#include <utility>

#if defined(__GNUC__) && defined(__x86_64__)
#define QUARN_LU_X86 1
#include <immintrin.h>
#endif

namespace quarn::gridding::kriging {

bool factorize_portable(double* a, std::size_t m, std::size_t ld, std::size_t* perm, double* /*scratch*/) noexcept {
  for (std::size_t i = 0; i < m; ++i) perm[i] = i;
  if (m == 0) return true;
  // Pivot candidate of column 0; for later columns it is found while the previous
  // column's elimination writes that column (same rows, same ascending order).
  std::size_t p = 0;
  double best = std::fabs(a[0]);
  for (std::size_t k = 1; k < m; ++k) {
    const double v = std::fabs(a[k * ld]);
    if (v > best) {
      best = v;
      p = k;
    }
  }
  for (std::size_t j = 0; j < m; ++j) {
    if (best == 0.0) return false;
    if (p != j) {
      for (std::size_t c = 0; c < m; ++c) std::swap(a[j * ld + c], a[p * ld + c]);
      std::swap(perm[j], perm[p]);
    }
    const double pivot = a[j * ld + j];
    const double* __restrict rowj = &a[j * ld];  // rows j and l never overlap
    const std::size_t next = j + 1;
    p = next;
    best = 0.0;
    std::size_t l = next;
    // Two rows at a time share the loads of row j; each element's arithmetic is unchanged.
    for (; l + 1 < m; l += 2) {
      double* __restrict r1 = &a[l * ld];
      double* __restrict r2 = &a[(l + 1) * ld];
      const double f1 = r1[j] / pivot;
      const double f2 = r2[j] / pivot;
      r1[j] = f1;
      r2[j] = f2;
      for (std::size_t c = next; c < m; ++c) {
        r1[c] -= rowj[c] * f1;
        r2[c] -= rowj[c] * f2;
      }
      const double v1 = std::fabs(r1[next]);
      const double v2 = std::fabs(r2[next]);
      if (l == next || v1 > best) {
        best = v1;
        p = l;
      }
      if (v2 > best) {
        best = v2;
        p = l + 1;
      }
    }
    if (l < m) {
      double* __restrict r1 = &a[l * ld];
      const double f1 = r1[j] / pivot;
      r1[j] = f1;
      for (std::size_t c = next; c < m; ++c) r1[c] -= rowj[c] * f1;
      const double v1 = std::fabs(r1[next]);
      if (l == next || v1 > best) {
        best = v1;
        p = l;
      }
    }
  }
  return true;
}

void solve_rows(const double* a, std::size_t m, std::size_t ld, const std::size_t* perm, const double* rhs,
                double* out) noexcept {
  for (std::size_t i = 0; i < m; ++i) out[i] = rhs[perm[i]];
  for (std::size_t j = 0; j < m; ++j) {
    const double* row = a + j * ld;
    double sum = 0.0;
    for (std::size_t k = 0; k < j; ++k) sum += row[k] * out[k];
    out[j] -= sum;
  }
  for (std::size_t c = m; c-- > 0;) {
    const double* row = a + c * ld;
    double v = out[c];
    for (std::size_t k = c + 1; k < m; ++k) v -= row[k] * out[k];
    out[c] = v / row[c];
  }
}

void solve_rows_pair(const double* a, const double* b, std::size_t m, std::size_t ld, const std::size_t* perm_a,
                     const std::size_t* perm_b, const double* rhs_a, const double* rhs_b, double* out_a,
                     double* out_b) noexcept {
  for (std::size_t i = 0; i < m; ++i) {
    out_a[i] = rhs_a[perm_a[i]];
    out_b[i] = rhs_b[perm_b[i]];
  }
  for (std::size_t j = 0; j < m; ++j) {
    const double* ra = a + j * ld;
    const double* rb = b + j * ld;
    double sa = 0.0, sb = 0.0;
    for (std::size_t k = 0; k < j; ++k) {
      sa += ra[k] * out_a[k];
      sb += rb[k] * out_b[k];
    }
    out_a[j] -= sa;
    out_b[j] -= sb;
  }
  for (std::size_t c = m; c-- > 0;) {
    const double* ra = a + c * ld;
    const double* rb = b + c * ld;
    double va = out_a[c], vb = out_b[c];
    for (std::size_t k = c + 1; k < m; ++k) {
      va -= ra[k] * out_a[k];
      vb -= rb[k] * out_b[k];
    }
    out_a[c] = va / ra[c];
    out_b[c] = vb / rb[c];
  }
}

#ifdef QUARN_LU_X86
namespace {

namespace sse2 {
struct V {
  using R = __m128d;
  static constexpr std::size_t W = 2;
  static R load(const double* p) { return _mm_loadu_pd(p); }
  static void store(double* p, R x) { _mm_storeu_pd(p, x); }
  static R set1(double x) { return _mm_set1_pd(x); }
  static R sub(R x, R y) { return _mm_sub_pd(x, y); }
  static R mul(R x, R y) { return _mm_mul_pd(x, y); }
  static R div(R x, R y) { return _mm_div_pd(x, y); }
  static R gather(const double* p, std::size_t stride) { return _mm_setr_pd(p[0], p[stride]); }
  static R mask(bool lo, bool hi) {
    return _mm_castsi128_pd(_mm_set_epi64x(hi ? -1 : 0, lo ? -1 : 0));
  }
  static R lanes_below(std::size_t k) { return mask(k > 0, k > 1); }
  static R lane_is(std::size_t k) { return mask(k == 0, k == 1); }
  /// mask ? x : y, lane by lane (bit selection: exact).
  static R select(R mask, R x, R y) { return _mm_or_pd(_mm_and_pd(mask, x), _mm_andnot_pd(mask, y)); }
};
#include "gridding/kriging/lu_lanes.inc"
}  // namespace sse2

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
struct V {
  using R = __m256d;
  static constexpr std::size_t W = 4;
  static R load(const double* p) { return _mm256_loadu_pd(p); }
  static void store(double* p, R x) { _mm256_storeu_pd(p, x); }
  static R set1(double x) { return _mm256_set1_pd(x); }
  static R sub(R x, R y) { return _mm256_sub_pd(x, y); }
  static R mul(R x, R y) { return _mm256_mul_pd(x, y); }
  static R div(R x, R y) { return _mm256_div_pd(x, y); }
  static R gather(const double* p, std::size_t stride) {
    return _mm256_setr_pd(p[0], p[stride], p[2 * stride], p[3 * stride]);
  }
  static R lanes_below(std::size_t k) {
    const auto n = static_cast<long long>(k);
    return _mm256_castsi256_pd(_mm256_cmpgt_epi64(_mm256_set1_epi64x(n), _mm256_setr_epi64x(0, 1, 2, 3)));
  }
  static R lane_is(std::size_t k) {
    const auto n = static_cast<long long>(k);
    return _mm256_castsi256_pd(_mm256_cmpeq_epi64(_mm256_set1_epi64x(n), _mm256_setr_epi64x(0, 1, 2, 3)));
  }
  static R select(R mask, R x, R y) { return _mm256_blendv_pd(y, x, mask); }
};
#include "gridding/kriging/lu_lanes.inc"
}  // namespace avx2
#pragma GCC pop_options

}  // namespace
#endif  // QUARN_LU_X86

FactorizeFn factorize_kernel(simd::Path path) noexcept {
#ifdef QUARN_LU_X86
  if (!simd::available(path)) return &factorize_portable;
  switch (path) {
    case simd::Path::Sse2:
      return &sse2::factorize_lanes;
    case simd::Path::Avx2:
      return &avx2::factorize_lanes;
    case simd::Path::Portable:
      break;
  }
#else
  (void)path;
#endif
  return &factorize_portable;
}

}  // namespace quarn::gridding::kriging
