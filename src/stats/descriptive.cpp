#include "stats/descriptive.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quarn::stats {
namespace {

constexpr std::size_t kRun = 24;  // insertion-sorted run length before merging

// Bottom-up merge sort on T using only less(a, b); equal elements keep their order.
template <class T, class Less>
void merge_sort(std::vector<T>& v, Less less) {
  const std::size_t n = v.size();
  for (std::size_t lo = 0; lo < n; lo += kRun) {
    const std::size_t hi = std::min(lo + kRun, n);
    for (std::size_t i = lo + 1; i < hi; ++i) {
      T x = v[i];
      std::size_t j = i;
      for (; j > lo && less(x, v[j - 1]); --j) v[j] = v[j - 1];
      v[j] = x;
    }
  }
  if (n <= kRun) return;
  std::vector<T> buf(n);
  T* src = v.data();
  T* dst = buf.data();
  for (std::size_t width = kRun; width < n; width *= 2) {
    for (std::size_t lo = 0; lo < n; lo += 2 * width) {
      const std::size_t mid = std::min(lo + width, n);
      const std::size_t hi = std::min(lo + 2 * width, n);
      std::size_t a = lo, b = mid, o = lo;
      while (a < mid && b < hi) dst[o++] = less(src[b], src[a]) ? src[b++] : src[a++];
      while (a < mid) dst[o++] = src[a++];
      while (b < hi) dst[o++] = src[b++];
    }
    std::swap(src, dst);
  }
  if (src != v.data()) std::copy(src, src + n, v.data());
}

bool has_nan(std::span<const double> data) {
  for (double x : data)
    if (std::isnan(x)) return true;
  return false;
}

// s[k] and s[k+1] (when k + 1 < n) of the ascending stable sort of NaN-free data,
// found by selection. The interpolation below reads only their values, and -0.0 vs
// 0.0 cannot change its bits, so this agrees with the full sort bit for bit.
void select_pair(std::span<const double> data, std::size_t k, double& lo, double& hi) {
  std::vector<double> s(data.begin(), data.end());
  const auto kth = s.begin() + static_cast<std::ptrdiff_t>(k);
  std::nth_element(s.begin(), kth, s.end());
  lo = *kth;
  hi = *std::min_element(kth + 1, s.end());
}

// The last element of the stable sort: among the values equal to the maximum,
// the last one in input order (its zero sign can be seen in the result).
double stable_max(std::span<const double> data) {
  double m = data[0];
  for (double x : data)
    if (!(x < m)) m = x;
  return m;
}

}  // namespace

void stable_sort_ascending(std::vector<double>& v) {
  merge_sort(v, [](double a, double b) { return a < b; });
}

std::vector<std::size_t> stable_order(std::span<const double> keys) {
  std::vector<std::size_t> order(keys.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  merge_sort(order, [keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
  return order;
}

Result<double> mean(std::span<const double> data) {
  if (data.empty()) return empty_input("stats: no data");
  double m = 0.0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const double k = static_cast<double>(i + 1);
    m = (data[i] - m) / k + m;
  }
  return m;
}

Result<double> variance(std::span<const double> data) {
  if (data.empty()) return empty_input("stats: no data");
  const std::size_t n = data.size();
  if (n == 1) return 0.0;
  double t = data[0];
  double s = 0.0;
  for (std::size_t i = 1; i < n; ++i) {
    const double k = static_cast<double>(i + 1);
    const double x = data[i];
    t = t + x;
    const double d = k * x - t;
    s = s + (d * d) / (k * (k - 1.0));
  }
  return s / static_cast<double>(n - 1);
}

Result<double> std_dev(std::span<const double> data) {
  QUARN_TRY(v, variance(data));
  if (data.size() == 1) return 0.0;
  return std::sqrt(v);
}

Result<double> percentile(std::span<const double> data, double p) {
  if (data.empty()) return empty_input("stats: no data");
  if (!(p >= 0.0 && p <= 100.0)) return invalid_argument("percentile: p must be in [0, 100]");
  const std::size_t n = data.size();
  const double h = static_cast<double>(n - 1) * (p / 100.0);
  const double fk = std::floor(h);
  const std::size_t k = fk > 0.0 ? static_cast<std::size_t>(fk) : 0;
  if (k + 1 >= n) {
    if (!has_nan(data)) return stable_max(data);
    std::vector<double> s(data.begin(), data.end());
    stable_sort_ascending(s);
    return s[n - 1];
  }
  double lo = 0.0, hi = 0.0;
  if (!has_nan(data)) {
    select_pair(data, k, lo, hi);
  } else {
    std::vector<double> s(data.begin(), data.end());
    stable_sort_ascending(s);
    lo = s[k];
    hi = s[k + 1];
  }
  return lo + (hi - lo) * (h - static_cast<double>(k));
}

Result<double> median(std::span<const double> data) { return percentile(data, 50.0); }

}  // namespace quarn::stats
