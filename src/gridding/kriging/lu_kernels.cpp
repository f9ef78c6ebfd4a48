#include "gridding/kriging/lu_kernels.hpp"

#include <cmath>
#include <cstdint>
#include <utility>

#include "simd_lanes.hpp"

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

namespace {

// solve_rows() of K systems in lockstep: each value is still its own chain of dependent
// operations in the same order, but the K chains overlap in the processor.
template <std::size_t K>
void solve_rows_lockstep(const double* const* a, std::size_t m, std::size_t ld, const std::size_t* const* perm,
                         const double* const* rhs, double* const* out) noexcept {
  for (std::size_t i = 0; i < m; ++i)
    for (std::size_t s = 0; s < K; ++s) out[s][i] = rhs[s][perm[s][i]];
  for (std::size_t j = 0; j < m; ++j) {
    double sum[K];
    const double* row[K];
    for (std::size_t s = 0; s < K; ++s) {
      sum[s] = 0.0;
      row[s] = a[s] + j * ld;
    }
    for (std::size_t k = 0; k < j; ++k)
      for (std::size_t s = 0; s < K; ++s) sum[s] += row[s][k] * out[s][k];
    for (std::size_t s = 0; s < K; ++s) out[s][j] -= sum[s];
  }
  for (std::size_t c = m; c-- > 0;) {
    double v[K];
    const double* row[K];
    for (std::size_t s = 0; s < K; ++s) {
      v[s] = out[s][c];
      row[s] = a[s] + c * ld;
    }
    for (std::size_t k = c + 1; k < m; ++k)
      for (std::size_t s = 0; s < K; ++s) v[s] -= row[s][k] * out[s][k];
    for (std::size_t s = 0; s < K; ++s) out[s][c] = v[s] / row[s][c];
  }
}

}  // namespace

void solve_rows_pair(const double* a, const double* b, std::size_t m, std::size_t ld, const std::size_t* perm_a,
                     const std::size_t* perm_b, const double* rhs_a, const double* rhs_b, double* out_a,
                     double* out_b) noexcept {
  const double* const mats[2] = {a, b};
  const std::size_t* const perms[2] = {perm_a, perm_b};
  const double* const rhss[2] = {rhs_a, rhs_b};
  double* const outs[2] = {out_a, out_b};
  solve_rows_lockstep<2>(mats, m, ld, perms, rhss, outs);
}

void solve_rows_quad(const double* const* a, std::size_t m, std::size_t ld, const std::size_t* const* perm,
                     const double* const* rhs, double* const* out) noexcept {
  solve_rows_lockstep<4>(a, m, ld, perm, rhs, out);
}

#ifdef QUARN_SIMD_X86
namespace {

namespace sse2 {
using V = simd::lanes::Sse2;
#include "gridding/kriging/lu_lanes.inc"
}  // namespace sse2

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
using V = simd::lanes::Avx2;
#include "gridding/kriging/lu_lanes.inc"
}  // namespace avx2
#pragma GCC pop_options

}  // namespace
#endif  // QUARN_SIMD_X86

FactorizeFn factorize_kernel(simd::Path path) noexcept {
#ifdef QUARN_SIMD_X86
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
