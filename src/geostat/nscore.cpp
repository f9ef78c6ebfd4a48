#include "geostat/nscore.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "sampling/stream.hpp"

namespace quarn::geostat {

Result<NormalScore> NormalScore::fit(std::span<const double> values) {
  const std::size_t n = values.size();
  if (n == 0) return empty_input("NormalScore::fit: no data");

  std::vector<double> sorted(values.begin(), values.end());
  std::stable_sort(sorted.begin(), sorted.end(), [](double a, double b) { return a < b; });

  NormalScore ns;
  const double dn = static_cast<double>(n);
  std::size_t i = 0;
  while (i < n) {
    const double v = sorted[i];
    std::size_t end = i + 1;
    while (end < n && sorted[end] == v) ++end;
    double sum = 0.0;
    for (std::size_t k = i; k < end; ++k) sum += sampling::normal_inv_cdf((static_cast<double>(k) + 0.5) / dn);
    ns.values_.push_back(v);
    ns.scores_.push_back(sum / static_cast<double>(end - i));
    i = end;
  }
  return ns;
}

double NormalScore::interpolate(const std::vector<double>& from, const std::vector<double>& to, double x) {
  const std::size_t m = from.size();
  if (m == 1) return to[0];
  if (std::isnan(x)) return x;
  if (x <= from[0]) return to[0];
  if (x >= from[m - 1]) return to[m - 1];
  std::size_t lo = 0, hi = m - 1;  // invariant: from[lo] <= x < from[hi]
  while (hi - lo > 1) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (from[mid] <= x)
      lo = mid;
    else
      hi = mid;
  }
  return to[lo] + (to[lo + 1] - to[lo]) * ((x - from[lo]) / (from[lo + 1] - from[lo]));
}

}  // namespace quarn::geostat
