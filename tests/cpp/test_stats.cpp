// The selection shortcut of percentile against the plain stable sort, and the sort itself.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "check.hpp"
#include "stats/descriptive.hpp"

namespace {

using quarn::stats::percentile;
using quarn::stats::stable_order;
using quarn::stats::stable_sort_ascending;

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// The type-7 definition read literally: sort a copy, interpolate.
double reference(std::vector<double> s, double p) {
  stable_sort_ascending(s);
  const std::size_t n = s.size();
  const double h = static_cast<double>(n - 1) * (p / 100.0);
  const double fk = std::floor(h);
  const std::size_t k = fk > 0.0 ? static_cast<std::size_t>(fk) : 0;
  if (k + 1 < n) return s[k] + (s[k + 1] - s[k]) * (h - static_cast<double>(k));
  return s[n - 1];
}

// A small deterministic generator; the values repeat often to make ties.
struct Lcg {
  std::uint64_t s;
  double next() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    static const double pool[] = {0.0, -0.0, 1.0, -1.0, 2.5, 1e-310, -1e300,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(), 3.0};
    const auto r = static_cast<unsigned>(s >> 33);
    if (r % 3 == 0) return pool[(r / 3) % 10];
    return static_cast<double>(r % 1000) / 7.0 - 50.0;
  }
};

}  // namespace

TEST_CASE("percentile: selection agrees bit for bit with the stable sort on NaN-free data") {
  Lcg g{42};
  const double ps[] = {0.0, -0.0, 1.0, 10.0, 33.3, 50.0, 87.5, 99.9, 100.0};
  for (std::size_t n : {1u, 2u, 3u, 7u, 24u, 25u, 100u, 1000u}) {
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<double> data(n);
      for (double& v : data) v = g.next();
      for (double p : ps) {
        auto got = percentile(data, p);
        CHECK(got.ok());
        const double want = reference(data, p);
        CHECK(bits(*got) == bits(want) || (std::isnan(*got) && std::isnan(want)));
      }
    }
  }
}

TEST_CASE("stable_sort_ascending: equal values keep input order, NaN stays put") {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> v{0.0, 2.0, -0.0, 1.0, 0.0, -1.0};
  stable_sort_ascending(v);
  CHECK_EQ(v[0], -1.0);
  CHECK(bits(v[1]) == bits(0.0) && bits(v[2]) == bits(-0.0) && bits(v[3]) == bits(0.0));
  CHECK_EQ(v[4], 1.0);
  CHECK_EQ(v[5], 2.0);

  // With only "a < b", a NaN blocks nothing from passing it and is passed by nothing:
  // the same input gives the same arrangement every time, across run sizes.
  std::vector<double> big;
  for (int i = 0; i < 1000; ++i) big.push_back(i % 97 == 0 ? nan : static_cast<double>((i * 37) % 101));
  std::vector<double> a = big, b = big;
  stable_sort_ascending(a);
  stable_sort_ascending(b);
  bool same = true;
  for (std::size_t i = 0; i < a.size(); ++i) same = same && bits(a[i]) == bits(b[i]);
  CHECK(same);
}

TEST_CASE("stable_order: a stable permutation of large inputs") {
  std::vector<double> keys;
  for (int i = 0; i < 5000; ++i) keys.push_back(static_cast<double>((i * 7919) % 13));
  const auto order = stable_order(keys);
  bool sorted = true, stable = true;
  for (std::size_t i = 1; i < order.size(); ++i) {
    sorted = sorted && !(keys[order[i]] < keys[order[i - 1]]);
    if (keys[order[i]] == keys[order[i - 1]]) stable = stable && order[i] > order[i - 1];
  }
  CHECK(sorted);
  CHECK(stable);
}
