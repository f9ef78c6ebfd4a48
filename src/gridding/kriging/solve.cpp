#include "gridding/kriging/solve.hpp"

#include <cstdint>

namespace quarn::gridding::kriging {

bool factorize(std::span<double> a, std::size_t m, std::span<std::size_t> perm) {
  return factorize_portable(a.data(), m, m, perm.data(), nullptr);
}

void solve(std::span<const double> a, std::size_t m, std::span<const std::size_t> perm,
           std::span<const double> rhs, std::span<double> out) {
  solve_rows(a.data(), m, m, perm.data(), rhs.data(), out.data());
}

void LuBuffers::resize(std::size_t size) {
  m = size;
  stride = size;
  offset = 0;
  matrix.assign(size * size, 0.0);
  perm.resize(size);
  rhs.assign(size, 0.0);
  solution.resize(size);
  multipliers.resize(2 * size);
}

void LuBuffers::reserve(std::uint64_t bound) {
  if (bound > 513) return;  // 2 MB of matrix
  const auto size = static_cast<std::size_t>(bound);
  const std::size_t padded = (size + 3) & ~std::size_t{3};
  matrix.reserve(size * padded + 3);
  perm.reserve(size);
  rhs.reserve(size);
  solution.reserve(size);
  multipliers.reserve(2 * size);
}

void LuBuffers::prepare(std::size_t size) {
  m = size;
  stride = (size + 3) & ~std::size_t{3};
  matrix.resize(size * stride + 3);
  // Rows on a 32-byte boundary keep every vector access inside one cache line.
  const auto addr = reinterpret_cast<std::uintptr_t>(matrix.data());
  offset = ((32 - addr % 32) % 32) / sizeof(double);
  // At most three padding columns: stores, not a memset call per row.
  double* a = rows() + size;
  const std::size_t pad = stride - size;
  if (pad > 0)
    for (std::size_t r = 0; r < size; ++r, a += stride) {
      a[0] = 0.0;
      if (pad > 1) a[1] = 0.0;
      if (pad > 2) a[2] = 0.0;
    }
  perm.resize(size);
  rhs.resize(size);
  solution.resize(size);
  multipliers.resize(2 * size);
}

bool LuBuffers::factorize() {
  const FactorizeFn fn = stride % 4 == 0 ? kernel : &factorize_portable;
  return fn(rows(), m, stride, perm.data(), multipliers.data());
}

void LuBuffers::solve() { solve_rows(rows(), m, stride, perm.data(), rhs.data(), solution.data()); }

void solve_both(LuBuffers& a, LuBuffers& b) {
  if (a.m != b.m || a.stride != b.stride) {
    a.solve();
    b.solve();
    return;
  }
  solve_rows_pair(a.rows(), b.rows(), a.m, a.stride, a.perm.data(), b.perm.data(), a.rhs.data(), b.rhs.data(),
                  a.solution.data(), b.solution.data());
}

void solve_four(LuBuffers& a, LuBuffers& b, LuBuffers& c, LuBuffers& d) {
  const bool same = a.m == b.m && a.m == c.m && a.m == d.m && a.stride == b.stride && a.stride == c.stride &&
                    a.stride == d.stride;
  if (!same) {
    solve_both(a, b);
    solve_both(c, d);
    return;
  }
  const double* const mats[4] = {a.rows(), b.rows(), c.rows(), d.rows()};
  const std::size_t* const perms[4] = {a.perm.data(), b.perm.data(), c.perm.data(), d.perm.data()};
  const double* const rhs[4] = {a.rhs.data(), b.rhs.data(), c.rhs.data(), d.rhs.data()};
  double* const outs[4] = {a.solution.data(), b.solution.data(), c.solution.data(), d.solution.data()};
  solve_rows_quad(mats, a.m, a.stride, perms, rhs, outs);
}

}  // namespace quarn::gridding::kriging
