// src/gridding/kriging/solve.hpp: dense LU factorisation with partial pivoting and the
// substitution that solves the small kriging systems, with buffers reused across targets.
//
// The operation order is fixed (pivot choice, elimination, sums) so results are
// reproducible bit for bit; see each function.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "gridding/kriging/lu_kernels.hpp"

namespace quarn::gridding::kriging {

/// In-place LU of the m x m row-major matrix `a` (a.size() >= m * m) with partial
/// pivoting; `perm` (size >= m) is set to 0..m-1 and then follows the row swaps.
/// For column j: the pivot is the first row k >= j with the largest |a[k][j]| (a later
/// row replaces it only when strictly larger); a zero pivot returns false (singular,
/// no tolerance); rows j and pivot are swapped whole, with their perm entries; then for
/// l > j: L = a[l][j] / a[j][j], a[l][j] = L, a[l][c] -= a[j][c] * L for c > j.
/// On success `a` holds L strictly below the diagonal (unit diagonal implied) and U on
/// and above it. On failure `a` and `perm` hold partial work.
[[nodiscard]] bool factorize(std::span<double> a, std::size_t m, std::span<std::size_t> perm);

/// Work units (cancel.hpp) of filling, factorising and solving a d x d system.
[[nodiscard]] inline std::int64_t solve_work(std::size_t d) {
  const auto n = static_cast<std::int64_t>(d < 1000000 ? d : 1000000);
  return n * n * n / 3 + 4 * n * n + 64;
}

/// Solves with a factorisation from factorize(): s[i] = rhs[perm[i]]; forward, for j
/// ascending, s[j] -= (0 + sum over k < j ascending of a[j][k] * s[k]); backward, for c
/// descending, s[c] = (s[c] - a[c][c+1] * s[c+1] - ... in k ascending order) / a[c][c].
/// Writes m values to `out` (size >= m; must not alias `rhs`).
void solve(std::span<const double> a, std::size_t m, std::span<const std::size_t> perm,
           std::span<const double> rhs, std::span<double> out);

/// Scratch for one system of size m: matrix, permutation, right-hand side, solution.
/// Owned by a caller's sweep and reused for every target: resizing keeps capacity, so
/// no allocation happens once the largest size has been seen. Rows of the matrix lie
/// `stride` doubles apart; factorize() takes the vector form of the path that was
/// active on this thread when the buffers were made (simd::active()) whenever the
/// stride suits it, the portable form otherwise: the same bits either way.
struct LuBuffers {
  std::vector<double> matrix;       ///< m rows of `stride` doubles from `offset` on
  std::vector<std::size_t> perm;    ///< m
  std::vector<double> rhs;          ///< m
  std::vector<double> solution;     ///< m
  std::vector<double> multipliers;  ///< 2 m, scratch of factorize()
  std::size_t m = 0;
  std::size_t stride = 0;
  std::size_t offset = 0;  ///< prepare() starts the rows on a 32-byte boundary
  FactorizeFn kernel = factorize_kernel(simd::active());

  /// Sizes every buffer for an m x m system with stride m and offset 0 and zero-fills the
  /// matrix and right-hand side.
  void resize(std::size_t size);
  /// Reserves room for systems up to `size` (the prepare() layout) when size <= 513, so
  /// that a sweep whose systems stay within it allocates nothing more; a larger bound (a
  /// neighbour count is only a cap) leaves the buffers to grow with the sizes that come.
  void reserve(std::uint64_t size);
  /// Sizes every buffer for an m x m system with the stride rounded up to a multiple of
  /// 4 (the vector forms' layout). Only the padding is cleared: the caller writes every
  /// matrix entry and right-hand side value.
  void prepare(std::size_t size);
  [[nodiscard]] double* rows() { return matrix.data() + offset; }
  [[nodiscard]] double& at(std::size_t r, std::size_t c) { return matrix[offset + r * stride + c]; }
  /// factorize() of the matrix into itself and perm.
  [[nodiscard]] bool factorize();
  /// solve() from rhs into solution; call after a successful factorize().
  void solve();
};

/// a.solve() and b.solve(), overlapped when both systems have the same size and layout.
void solve_both(LuBuffers& a, LuBuffers& b);
/// a.solve(), b.solve(), c.solve() and d.solve(), overlapped four at a time when the
/// systems have the same size and layout (else in pairs).
void solve_four(LuBuffers& a, LuBuffers& b, LuBuffers& c, LuBuffers& d);

}  // namespace quarn::gridding::kriging
