// src/simd_lanes.hpp: the vector operations the lane kernels are written in, once per
// instruction set (x86-64 builds only). A kernel body is included once per set inside a
// namespace declaring `using V = simd::lanes::Sse2;` (or Avx2, within a GCC target
// "avx2" region). Every operation is one IEEE operation per lane or an exact bit
// selection, so lanes give the bits of the scalar code.
#pragma once
#if defined(__GNUC__) && defined(__x86_64__)
#define QUARN_SIMD_X86 1
#include <immintrin.h>

#include <cstddef>

namespace quarn::simd::lanes {

struct Sse2 {
  using R = __m128d;
  static constexpr std::size_t W = 2;
  static R load(const double* p) { return _mm_loadu_pd(p); }
  static void store(double* p, R x) { _mm_storeu_pd(p, x); }
  static R set1(double x) { return _mm_set1_pd(x); }
  static R add(R x, R y) { return _mm_add_pd(x, y); }
  static R sub(R x, R y) { return _mm_sub_pd(x, y); }
  static R mul(R x, R y) { return _mm_mul_pd(x, y); }
  static R div(R x, R y) { return _mm_div_pd(x, y); }
  static R sqrt(R x) { return _mm_sqrt_pd(x); }
  static R eq(R x, R y) { return _mm_cmpeq_pd(x, y); }
  static R ge(R x, R y) { return _mm_cmpge_pd(x, y); }
  static R is_nan(R x) { return _mm_cmpunord_pd(x, x); }
  /// p[0], p[stride].
  static R gather(const double* p, std::size_t stride) { return _mm_setr_pd(p[0], p[stride]); }
  static R mask(bool lo, bool hi) { return _mm_castsi128_pd(_mm_set_epi64x(hi ? -1 : 0, lo ? -1 : 0)); }
  /// Lanes below k set.
  static R lanes_below(std::size_t k) { return mask(k > 0, k > 1); }
  /// Lane k set (none for k >= W).
  static R lane_is(std::size_t k) { return mask(k == 0, k == 1); }
  /// mask ? x : y, lane by lane.
  static R select(R mask, R x, R y) { return _mm_or_pd(_mm_and_pd(mask, x), _mm_andnot_pd(mask, y)); }
};

#pragma GCC push_options
#pragma GCC target("avx2")
struct Avx2 {
  using R = __m256d;
  static constexpr std::size_t W = 4;
  static R load(const double* p) { return _mm256_loadu_pd(p); }
  static void store(double* p, R x) { _mm256_storeu_pd(p, x); }
  static R set1(double x) { return _mm256_set1_pd(x); }
  static R add(R x, R y) { return _mm256_add_pd(x, y); }
  static R sub(R x, R y) { return _mm256_sub_pd(x, y); }
  static R mul(R x, R y) { return _mm256_mul_pd(x, y); }
  static R div(R x, R y) { return _mm256_div_pd(x, y); }
  static R sqrt(R x) { return _mm256_sqrt_pd(x); }
  static R eq(R x, R y) { return _mm256_cmp_pd(x, y, _CMP_EQ_OQ); }
  static R ge(R x, R y) { return _mm256_cmp_pd(x, y, _CMP_GE_OQ); }
  static R is_nan(R x) { return _mm256_cmp_pd(x, x, _CMP_UNORD_Q); }
  static R gather(const double* p, std::size_t stride) {
    return _mm256_setr_pd(p[0], p[stride], p[2 * stride], p[3 * stride]);
  }
  static R lanes_below(std::size_t k) {
    return _mm256_castsi256_pd(
        _mm256_cmpgt_epi64(_mm256_set1_epi64x(static_cast<long long>(k)), _mm256_setr_epi64x(0, 1, 2, 3)));
  }
  static R lane_is(std::size_t k) {
    return _mm256_castsi256_pd(
        _mm256_cmpeq_epi64(_mm256_set1_epi64x(static_cast<long long>(k)), _mm256_setr_epi64x(0, 1, 2, 3)));
  }
  static R select(R mask, R x, R y) { return _mm256_blendv_pd(y, x, mask); }
};
#pragma GCC pop_options

}  // namespace quarn::simd::lanes
#endif
