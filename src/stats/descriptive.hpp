// src/stats/descriptive.hpp: moments and type-7 order statistics of a plain sample,
// and the one stable ascending sort the statistics share.
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "error.hpp"

namespace quarn::stats {

/// Incremental mean m = (x_k - m) / k + m, k = 1..n. EmptyInput on no data.
[[nodiscard]] Result<double> mean(std::span<const double> data);

/// Unbiased sample variance by the updating recurrence over the running sum; one
/// value gives 0. EmptyInput on no data.
[[nodiscard]] Result<double> variance(std::span<const double> data);

/// Square root of `variance`; one value gives 0. EmptyInput on no data.
[[nodiscard]] Result<double> std_dev(std::span<const double> data);

/// Type-7 percentile: linear between order statistics at rank (n-1)*(p/100).
/// `data` is untouched. Errors, in this order: EmptyInput on no data;
/// InvalidArgument if p is NaN or outside [0, 100].
[[nodiscard]] Result<double> percentile(std::span<const double> data, double p);

/// percentile(data, 50).
[[nodiscard]] Result<double> median(std::span<const double> data);

/// Stable ascending merge sort whose only comparison is IEEE `a < b`, so values
/// that compare equal (NaN against anything, -0.0 against 0.0) keep their input
/// order and NaN lands in the same place on every platform.
void stable_sort_ascending(std::vector<double>& v);

/// The permutation that stable_sort_ascending would apply: `keys[order[i]]` is the
/// i-th value of the sorted copy.
[[nodiscard]] std::vector<std::size_t> stable_order(std::span<const double> keys);

}  // namespace quarn::stats
