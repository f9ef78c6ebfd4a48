#include "gridding/kriging/solve.hpp"

#include <cmath>
#include <utility>

namespace quarn::gridding::kriging {

bool factorize(std::span<double> a, std::size_t m, std::span<std::size_t> perm) {
  for (std::size_t i = 0; i < m; ++i) perm[i] = i;
  for (std::size_t j = 0; j < m; ++j) {
    std::size_t p = j;
    double best = std::fabs(a[j * m + j]);
    for (std::size_t k = j + 1; k < m; ++k) {
      const double v = std::fabs(a[k * m + j]);
      if (v > best) {
        best = v;
        p = k;
      }
    }
    if (best == 0.0) return false;
    if (p != j) {
      for (std::size_t c = 0; c < m; ++c) std::swap(a[j * m + c], a[p * m + c]);
      std::swap(perm[j], perm[p]);
    }
    const double pivot = a[j * m + j];
    const double* __restrict rowj = &a[j * m];  // rows j and l never overlap
    for (std::size_t l = j + 1; l < m; ++l) {
      double* __restrict rowl = &a[l * m];
      const double f = rowl[j] / pivot;
      rowl[j] = f;
      for (std::size_t c = j + 1; c < m; ++c) rowl[c] -= rowj[c] * f;
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
