// src/stats/weighted.hpp: mean, variance and percentile of values under
// non-negative weights.
#pragma once
#include <span>

#include "error.hpp"

namespace quarn::stats {

// Shared validation, in this order: EmptyInput if `values` is empty;
// InvalidArgument if the lengths differ, if a weight is NaN, infinite or negative
// (-0.0 is fine), or if the weights do not sum to > 0.

/// Sum of v*w over the sum of w, both summed left to right from -0.0.
[[nodiscard]] Result<double> weighted_mean(std::span<const double> values, std::span<const double> weights);

/// Reliability-weighted unbiased variance D / (W - W2/W); 0 when that denominator
/// is not positive (one value, or all weight on one value).
[[nodiscard]] Result<double> weighted_variance(std::span<const double> values, std::span<const double> weights);

/// Square root of weighted_variance; 0 when its denominator is not positive.
[[nodiscard]] Result<double> weighted_std(std::span<const double> values, std::span<const double> weights);

/// Interpolates between mid-interval plotting positions (w_k/2 + C_k) / W of the
/// values sorted stably ascending; below the first position the minimum, above the
/// last the maximum. After the shared checks, InvalidArgument if p is NaN or
/// outside [0, 100], then if the weights overflow to an infinite sum.
[[nodiscard]] Result<double> weighted_percentile(std::span<const double> values, std::span<const double> weights,
                                                 double p);

}  // namespace quarn::stats
