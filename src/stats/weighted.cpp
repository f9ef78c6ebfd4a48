#include "stats/weighted.hpp"

#include <cmath>
#include <vector>

#include "stats/descriptive.hpp"

namespace quarn::stats {
namespace {

struct WeightSums {
  double w;   // sum of w_i
  double w2;  // sum of w_i * w_i
};

Result<WeightSums> validate(std::span<const double> values, std::span<const double> weights) {
  if (values.empty()) return empty_input("weighted stats: no data");
  if (values.size() != weights.size())
    return invalid_argument("weighted stats: values and weights differ in length");
  for (double w : weights)
    if (!std::isfinite(w) || w < 0.0)
      return invalid_argument("weighted stats: weights must be finite and non-negative");
  // Sums start at -0.0 so that an all -0.0 input keeps its sign; left to right.
  WeightSums s{-0.0, -0.0};
  for (double w : weights) {
    s.w += w;
    s.w2 += w * w;
  }
  if (!(s.w > 0.0)) return invalid_argument("weighted stats: weights sum to zero");
  return s;
}

double weighted_sum(std::span<const double> values, std::span<const double> weights) {
  double s = -0.0;
  for (std::size_t i = 0; i < values.size(); ++i) s += values[i] * weights[i];
  return s;
}

struct Spread {
  double d;      // sum of (w_i * (v_i - m)) * (v_i - m)
  double denom;  // W - W2 / W
};

Result<Spread> spread(std::span<const double> values, std::span<const double> weights) {
  QUARN_TRY(sums, validate(values, weights));
  const double m = weighted_sum(values, weights) / sums.w;
  double d = -0.0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double dev = values[i] - m;
    d += (weights[i] * dev) * dev;
  }
  return Spread{d, sums.w - sums.w2 / sums.w};
}

}  // namespace

Result<double> weighted_mean(std::span<const double> values, std::span<const double> weights) {
  QUARN_TRY(sums, validate(values, weights));
  return weighted_sum(values, weights) / sums.w;
}

Result<double> weighted_variance(std::span<const double> values, std::span<const double> weights) {
  QUARN_TRY(s, spread(values, weights));
  if (s.denom <= 0.0) return 0.0;
  return s.d / s.denom;
}

Result<double> weighted_std(std::span<const double> values, std::span<const double> weights) {
  QUARN_TRY(s, spread(values, weights));
  if (s.denom <= 0.0) return 0.0;
  return std::sqrt(s.d / s.denom);
}

Result<double> weighted_percentile(std::span<const double> values, std::span<const double> weights, double p) {
  QUARN_TRY(sums, validate(values, weights));
  if (!(p >= 0.0 && p <= 100.0)) return invalid_argument("weighted_percentile: p must be in [0, 100]");
  // An infinite W turns the plotting positions into NaN and leaves no bracket for q.
  if (std::isinf(sums.w)) return invalid_argument("weighted_percentile: weights must sum to a finite value");
  const std::size_t n = values.size();
  const std::vector<std::size_t> order = stable_order(values);
  std::vector<double> pos(n);
  double c = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    const double w = weights[order[k]];
    pos[k] = (w * 0.5 + c) / sums.w;
    c = c + w;
  }
  const double q = p / 100.0;
  if (pos[0] >= q) return values[order[0]];
  if (q >= pos[n - 1]) return values[order[n - 1]];
  // The positions never decrease, so a bracket exists; find the first by halving.
  std::size_t lo = 0, hi = n - 1;  // pos[lo] < q <= pos[hi]
  while (hi - lo > 1) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (pos[mid] >= q)
      hi = mid;
    else
      lo = mid;
  }
  const std::size_t k = lo;
  const double v0 = values[order[k]];
  const double v1 = values[order[k + 1]];
  const double t = pos[k + 1] > pos[k] ? (q - pos[k]) / (pos[k + 1] - pos[k]) : 0.0;
  return v0 + (v1 - v0) * t;
}

}  // namespace quarn::stats
