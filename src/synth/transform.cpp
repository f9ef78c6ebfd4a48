#include "synth/transform.hpp"

#include <cmath>
#include <string>
#include <utility>

#include "cancel.hpp"
#include "format.hpp"

namespace quarn::synth {

const std::array<double, 256>& quadrature_nodes() {
  static const std::array<double, 256> nodes = [] {
    std::array<double, 256> z{};
    for (std::size_t i = 0; i < z.size(); ++i)
      z[i] = sampling::normal_inv_cdf((static_cast<double>(i) + 0.5) / 256.0);
    return z;
  }();
  return nodes;
}

namespace {

constexpr double kInvNodes = 1.0 / 256.0;

// (1/256) sum_i logistic(z_i s + f), in node order.
double quad_mean(const std::array<double, 256>& z, double s, double f) {
  double sum = 0.0;
  for (double zi : z) sum += logistic(zi * s + f);
  return kInvNodes * sum;
}

}  // namespace

QuadMoments quadrature_moments(double s, double f) {
  const auto& z = quadrature_nodes();
  double sum = 0.0, sum2 = 0.0;
  for (double zi : z) {
    const double y = logistic(zi * s + f);
    sum += y;
    sum2 += y * y;
  }
  const double m = kInvNodes * sum;
  const double q = kInvNodes * sum2;
  const double var = q - m * m;
  return {m, var > 0.0 ? var : 0.0};
}

Status SynthTransform::check(double mean, double std) {
  if (!std::isfinite(mean) || !std::isfinite(std) || std <= 0.0 || mean >= 1.0 || mean <= 0.0)
    return invalid_argument("synth transform: need 0 < mean < 1 and std > 0");
  const double vmax = (1.0 - mean) * mean;
  const double v = std * std;
  if (vmax <= v)
    return invalid_argument("synth transform: std " + fmt::num(std) + " too large for mean " + fmt::num(mean) +
                            " \u2014 a [0,1] variable with this mean cannot exceed the Bernoulli variance " +
                            fmt::fixed(vmax, 5) + " (std < " + fmt::fixed(std::sqrt(vmax), 5) + ")");
  return ok_status();
}

Result<SynthTransform> SynthTransform::make(double mean, double std) {
  if (auto st = check(mean, std); !st.ok()) return std::move(st).error();
  const double v = std * std;
  const auto& z = quadrature_nodes();
  // Location for a given scale: bisection on the quadrature mean.
  auto solve_location = [&](double s) {
    double a = -40.0, b = 40.0;
    for (int it = 0; it < 200; ++it) {
      const double f = (a + b) / 2.0;
      const double m = quad_mean(z, s, f);
      if (std::fabs(m - mean) <= 1e-12) return f;
      const double a0 = a, b0 = b;
      if (mean > m)
        a = f;
      else
        b = f;
      // A bracket that no longer moves repeats itself to the last iteration.
      if (a == a0 && b == b0) break;
    }
    return (a + b) / 2.0;
  };

  double lo = 1e-6, hi = 60.0;
  SynthTransform t;
  for (int it = 0; it < 200; ++it) {
    const double s = (lo + hi) / 2.0;
    const double f = solve_location(s);
    t = SynthTransform{f, s};
    const double var = quadrature_moments(s, f).variance;
    if (std::fabs(var - v) <= 1e-10) return t;
    const double lo0 = lo, hi0 = hi;
    if (v > var)
      lo = s;  // more spread needed
    else
      hi = s;
    if (lo == lo0 && hi == hi0) break;  // every later iteration would give this same (s, f)
  }
  return t;
}

std::vector<double> ar1_driver(std::uint64_t n, double rho, sampling::Stream& stream) {
  std::vector<double> z;
  if (n == 0) return z;
  z.resize(static_cast<std::size_t>(n));
  z[0] = stream.draw_standard_normal();
  const double r = rho >= 0.0 ? (rho <= 0.999999999 ? rho : 0.999999999) : 0.0;
  const double g = std::sqrt(1.0 - r * r);
  for (std::size_t i = 1; i < z.size(); ++i) {
    if ((i & 4095) == 0 && cancel::poll(4096 * 8)) break;  // the caller reports it
    const double d = stream.draw_standard_normal();
    z[i] = z[i - 1] * r + d * g;
  }
  return z;
}

std::uint64_t saturating_count(double x) {
  const double r = std::round(x);
  if (!(r > 0.0)) return 0;  // negative, zero and NaN
  if (r >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<std::uint64_t>(r);
}

}  // namespace quarn::synth
