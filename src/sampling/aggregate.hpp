// src/sampling/aggregate.hpp: condensing realization vectors: the P90/P50/P10/mean
// digest and the index-wise sum of per-segment realizations.
#pragma once
#include <span>
#include <string>
#include <vector>

#include "error.hpp"

namespace quarn::sampling {

/// P90 is the low case (statistical 10th percentile), P10 the high case.
struct ReservoirSummary {
  double p90 = 0.0;
  double p50 = 0.0;
  double p10 = 0.0;
  double mean = 0.0;

  /// "ReservoirSummary(p90=1.4, p50=3, p10=4.6, mean=3)".
  [[nodiscard]] std::string repr() const;
};

/// Type-7 percentiles at 10, 50, 90 and the incremental mean. EmptyInput on no data.
[[nodiscard]] Result<ReservoirSummary> reservoir_summary(std::span<const double> data);

/// How the segments' realizations depend on each other.
enum class Correlation { Independent, Comonotonic };

/// Index-wise sum over the segments, truncated to the shortest one. Comonotonic
/// sorts each segment's first n values ascending (stable, `a < b`) before adding.
/// Never fails: NaN and infinities are summed like any value.
[[nodiscard]] std::vector<double> aggregate(std::span<const std::vector<double>> segments, Correlation mode);

}  // namespace quarn::sampling
