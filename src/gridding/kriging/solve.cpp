#include "gridding/kriging/solve.hpp"

#include <cmath>
#include <utility>

#include "cancel.hpp"

namespace quarn::gridding::kriging {

bool factorize(std::span<double> a, std::size_t m, std::span<std::size_t> perm) {
  for (std::size_t i = 0; i < m; ++i) perm[i] = i;
  if (m == 0) return true;
  // Pivot candidate of column 0; for later columns it is found while the previous
  // column's elimination writes that column (same rows, same ascending order).
  std::size_t p = 0;
  double best = std::fabs(a[0]);
  for (std::size_t k = 1; k < m; ++k) {
    const double v = std::fabs(a[k * m]);
    if (v > best) {
      best = v;
      p = k;
    }
  }
  for (std::size_t j = 0; j < m; ++j) {
    if (best == 0.0) return false;
    // Large systems also listen between columns; a stopped one reports itself singular
    // and the caller's own poll ends the operation.
    if (m >= 256 && cancel::poll_n((m - j) * (m - j))) return false;
    if (p != j) {
      for (std::size_t c = 0; c < m; ++c) std::swap(a[j * m + c], a[p * m + c]);
      std::swap(perm[j], perm[p]);
    }
    const double pivot = a[j * m + j];
    const double* __restrict rowj = &a[j * m];  // rows j and l never overlap
    const std::size_t next = j + 1;
    p = next;
    best = 0.0;
    std::size_t l = next;
    // Two rows at a time share the loads of row j; each element's arithmetic is unchanged.
    for (; l + 1 < m; l += 2) {
      double* __restrict r1 = &a[l * m];
      double* __restrict r2 = &a[(l + 1) * m];
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
      double* __restrict r1 = &a[l * m];
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

void solve(std::span<const double> a, std::size_t m, std::span<const std::size_t> perm,
           std::span<const double> rhs, std::span<double> out) {
  for (std::size_t i = 0; i < m; ++i) out[i] = rhs[perm[i]];
  for (std::size_t j = 0; j < m; ++j) {
    double sum = 0.0;
    for (std::size_t k = 0; k < j; ++k) sum += a[j * m + k] * out[k];
    out[j] -= sum;
  }
  for (std::size_t c = m; c-- > 0;) {
    double v = out[c];
    for (std::size_t k = c + 1; k < m; ++k) v -= a[c * m + k] * out[k];
    out[c] = v / a[c * m + c];
  }
}

void LuBuffers::resize(std::size_t size) {
  m = size;
  matrix.assign(size * size, 0.0);
  perm.resize(size);
  rhs.assign(size, 0.0);
  solution.resize(size);
}

bool LuBuffers::factorize() { return kriging::factorize(matrix, m, perm); }

void LuBuffers::solve() { kriging::solve(matrix, m, perm, rhs, solution); }

}  // namespace quarn::gridding::kriging
