// src/gridding/kriging/lu_kernels.hpp: the LU factorisation of solve.hpp on row-major
// matrices whose rows lie `ld` doubles apart, in a portable form and in SSE2 and AVX2
// forms that give the same bits.
//
// The vector forms run each elimination step across the columns of a row (and the
// multipliers of a step across rows), two steps per pass over a row; every element
// still sees exactly the operations of the portable form in the same order, and no
// multiply-add is fused.
#pragma once
#include <cstddef>

#include "simd.hpp"

namespace quarn::gridding::kriging {

/// factorize() of solve.hpp on m rows of `ld` >= m doubles (columns m .. ld - 1 are
/// padding: the vector forms may change them, nothing reads them). `scratch` holds at
/// least 2 m doubles. The vector forms need ld to be a multiple of 4.
using FactorizeFn = bool (*)(double* a, std::size_t m, std::size_t ld, std::size_t* perm, double* scratch);

/// The portable form (any ld >= m).
[[nodiscard]] bool factorize_portable(double* a, std::size_t m, std::size_t ld, std::size_t* perm,
                                      double* scratch) noexcept;

/// The form of `path`; the portable one when this build or processor lacks the path.
[[nodiscard]] FactorizeFn factorize_kernel(simd::Path path) noexcept;

/// solve() of solve.hpp on the same layout. Each value is one chain of dependent sums in
/// a fixed order (no lanes without reordering a sum), so this has one form for every path.
void solve_rows(const double* a, std::size_t m, std::size_t ld, const std::size_t* perm, const double* rhs,
                double* out) noexcept;

/// solve_rows() of two independent systems of the same size and layout, step by step in
/// lockstep: each value is still its own chain in the same order (same bits), but the
/// two chains overlap in the processor.
void solve_rows_pair(const double* a, const double* b, std::size_t m, std::size_t ld, const std::size_t* perm_a,
                     const std::size_t* perm_b, const double* rhs_a, const double* rhs_b, double* out_a,
                     double* out_b) noexcept;

/// solve_rows() of four such systems in lockstep, as solve_rows_pair() does two.
void solve_rows_quad(const double* const* a, std::size_t m, std::size_t ld, const std::size_t* const* perm,
                     const double* const* rhs, double* const* out) noexcept;

}  // namespace quarn::gridding::kriging
