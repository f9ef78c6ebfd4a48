// NormalScore has no Python class: its fit and both maps are checked here.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "check.hpp"
#include "geostat/nscore.hpp"
#include "sampling/stream.hpp"

using quarn::geostat::NormalScore;
using quarn::sampling::normal_inv_cdf;

namespace {
NormalScore fit(std::vector<double> v) { return NormalScore::fit(v).value(); }
}  // namespace

TEST_CASE("NormalScore::fit: a single value scores 0 and absorbs everything") {
  const NormalScore ns = fit({5.0});
  CHECK_EQ(ns.values(), std::vector<double>{5.0});
  CHECK_EQ(ns.scores(), std::vector<double>{0.0});
  CHECK_EQ(ns.transform(-1e300), 0.0);
  CHECK_EQ(ns.transform(5.0), 0.0);
  CHECK_EQ(ns.transform(std::numeric_limits<double>::quiet_NaN()), 0.0);
  CHECK_EQ(ns.back_transform(-7.0), 5.0);
  CHECK_EQ(ns.back_transform(3.0), 5.0);
}

TEST_CASE("NormalScore::fit: plotting positions (i + 0.5) / n, any input order") {
  const NormalScore ns = fit({3.0, 1.0, 4.0, 2.0});
  CHECK_EQ(ns.values(), (std::vector<double>{1.0, 2.0, 3.0, 4.0}));
  CHECK_EQ(ns.scores(), (std::vector<double>{normal_inv_cdf(0.125), normal_inv_cdf(0.375), normal_inv_cdf(0.625),
                                             normal_inv_cdf(0.875)}));
  CHECK(std::fabs(ns.scores()[0] + 1.1503493803760079) < 1e-15);
  // midway between the middle values: midway between symmetric scores
  CHECK_EQ(ns.transform(2.5), ns.scores()[1] + (ns.scores()[2] - ns.scores()[1]) * 0.5);
  CHECK(std::fabs(ns.transform(2.5)) < 1e-16);
}

TEST_CASE("NormalScore::fit: ties share the mean of their ranks' scores") {
  const NormalScore ns = fit({1.0, 3.0, 1.0});
  CHECK_EQ(ns.values(), (std::vector<double>{1.0, 3.0}));
  CHECK_EQ(ns.scores()[0], (normal_inv_cdf(0.5 / 3.0) + normal_inv_cdf(1.5 / 3.0)) / 2.0);
  CHECK_EQ(ns.scores()[1], normal_inv_cdf(2.5 / 3.0));
  // -0.0 and 0.0 compare equal: one entry, holding the first of the run after sorting
  const NormalScore z = fit({0.0, -0.0, 1.0});
  CHECK_EQ(z.values().size(), std::size_t{2});
  CHECK(!std::signbit(z.values()[0]));
}

TEST_CASE("NormalScore: clamping outside the data and at the score extremes") {
  const NormalScore ns = fit({1.0, 2.0, 3.0, 4.0});
  CHECK_EQ(ns.transform(0.0), ns.scores().front());
  CHECK_EQ(ns.transform(10.0), ns.scores().back());
  CHECK_EQ(ns.transform(-std::numeric_limits<double>::infinity()), ns.scores().front());
  CHECK_EQ(ns.back_transform(-5.0), 1.0);
  CHECK_EQ(ns.back_transform(5.0), 4.0);
  CHECK_EQ(ns.back_transform(std::numeric_limits<double>::infinity()), 4.0);
  CHECK(std::isnan(ns.transform(std::numeric_limits<double>::quiet_NaN())));
  CHECK(std::isnan(ns.back_transform(std::numeric_limits<double>::quiet_NaN())));
}

TEST_CASE("NormalScore: forward then back returns every data value") {
  std::vector<double> v;
  for (int k = 0; k < 200; ++k) v.push_back(std::sin(k * 1.7) * 100.0 + (k % 7));
  v.push_back(v[3]);
  const NormalScore ns = fit(v);
  for (double x : v) CHECK_EQ(ns.back_transform(ns.transform(x)), x);
  for (std::size_t k = 1; k < ns.scores().size(); ++k) {
    CHECK(ns.values()[k - 1] < ns.values()[k]);
    CHECK(ns.scores()[k - 1] < ns.scores()[k]);
  }
}

TEST_CASE("NormalScore::fit: empty input") {
  const auto r = NormalScore::fit(std::vector<double>{});
  CHECK(!r.ok());
  CHECK_EQ(r.error().display(), std::string("empty input: NormalScore::fit: no data"));
}
