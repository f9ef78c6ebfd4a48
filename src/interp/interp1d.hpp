// src/interp/interp1d.hpp: 1-D interpolation of a series at strictly increasing
// knots: nearest, previous, next, piecewise linear and natural cubic spline.
#pragma once
#include <span>
#include <vector>

#include "error.hpp"

namespace quarn::interp {

enum class Method { NearestKnot, PreviousKnot, NextKnot, Linear, NaturalCubic };

/// Knot checks in this order: InvalidArgument on a length mismatch; EmptyInput with
/// fewer than two knots; InvalidArgument for non-finite x, then non-finite y, then
/// x not strictly increasing.
[[nodiscard]] Status validate_knots(std::span<const double> x, std::span<const double> y);

/// Second derivatives of the natural cubic spline through validated knots (zero at
/// both ends), by the Thomas algorithm without pivoting. InvalidGeometry
/// "singular spline system" when a pivot falls to machine epsilon.
[[nodiscard]] Result<std::vector<double>> natural_spline_moments(std::span<const double> x,
                                                                 std::span<const double> y);

/// One value per query. NaN queries give NaN; without `extrapolate`, so do queries
/// outside [x0, x_{n-1}]. Errors: those of validate_knots, then of the spline.
[[nodiscard]] Result<std::vector<double>> interp1d(std::span<const double> x, std::span<const double> y,
                                                   std::span<const double> query, Method method,
                                                   bool extrapolate);

}  // namespace quarn::interp
