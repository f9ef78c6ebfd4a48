#include "sampling/aggregate.hpp"

#include <algorithm>

#include "format.hpp"
#include "stats/descriptive.hpp"

namespace quarn::sampling {

std::string ReservoirSummary::repr() const {
  return "ReservoirSummary(p90=" + fmt::num(p90) + ", p50=" + fmt::num(p50) + ", p10=" + fmt::num(p10) +
         ", mean=" + fmt::num(mean) + ")";
}

Result<ReservoirSummary> reservoir_summary(std::span<const double> data) {
  ReservoirSummary s;
  QUARN_TRY(p90, stats::percentile(data, 10.0));
  QUARN_TRY(p50, stats::percentile(data, 50.0));
  QUARN_TRY(p10, stats::percentile(data, 90.0));
  QUARN_TRY(m, stats::mean(data));
  s.p90 = p90;
  s.p50 = p50;
  s.p10 = p10;
  s.mean = m;
  return s;
}

std::vector<double> aggregate(std::span<const std::vector<double>> segments, Correlation mode) {
  if (segments.empty()) return {};
  std::size_t n = segments[0].size();
  for (const auto& seg : segments) n = std::min(n, seg.size());
  std::vector<double> r(n, 0.0);
  if (n == 0) return r;
  std::vector<double> sorted;
  for (const auto& seg : segments) {
    const double* v = seg.data();
    if (mode == Correlation::Comonotonic) {
      // Values past the shortest length are dropped before sorting, not after.
      sorted.assign(seg.begin(), seg.begin() + static_cast<std::ptrdiff_t>(n));
      stats::stable_sort_ascending(sorted);
      v = sorted.data();
    }
    for (std::size_t i = 0; i < n; ++i) r[i] = r[i] + v[i];
  }
  return r;
}

}  // namespace quarn::sampling
