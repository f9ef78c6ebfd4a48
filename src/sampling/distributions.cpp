#include "sampling/distributions.hpp"

#include <algorithm>
#include <cmath>

#include "format.hpp"

namespace quarn::sampling {
namespace {

bool finite(double v) { return std::isfinite(v); }

// Draw kernels: one per family, each the documented sequence of stream draws.
inline double draw(const Uniform& d, Stream& s) { return s.draw_range(d.lo, d.hi); }
inline double draw(const Normal& d, Stream& s) { return s.draw_standard_normal() * d.std_dev + d.mean; }
inline double draw(const LogNormal& d, Stream& s) {
  return std::exp(s.draw_standard_normal() * d.std_dev + d.mean);
}
inline double draw(const Triangular& d, Stream& s) {
  const double u = s.draw_unit();
  const double g = u * (d.max - d.min);
  if ((d.mode - d.min) > g) return d.min + std::sqrt((d.mode - d.min) * g);
  return d.max - std::sqrt((d.max - d.mode) * ((d.max - d.min) - g));
}
inline double draw(const TruncatedNormal& d, Stream& s) {
  const double pa = normal_cdf((d.lo - d.mean) / d.std_dev);
  const double pb = normal_cdf((d.hi - d.mean) / d.std_dev);
  double x = d.mean;  // both probabilities equal: the interval is deep in one tail, no draw
  if (pa < pb) {
    const double p = s.draw_range(pa, pb);
    x = d.std_dev * normal_inv_cdf(p) + d.mean;
  }
  return std::min(d.hi, std::max(d.lo, x));  // guards the rounding of the inverse cdf
}

std::string body(const Uniform& d) {
  return "Uniform { lo: " + fmt::debug(d.lo) + ", hi: " + fmt::debug(d.hi) + " }";
}
std::string body(const Normal& d) {
  return "Normal { mean: " + fmt::debug(d.mean) + ", std_dev: " + fmt::debug(d.std_dev) + " }";
}
std::string body(const LogNormal& d) {
  return "LogNormal { mean: " + fmt::debug(d.mean) + ", std_dev: " + fmt::debug(d.std_dev) + " }";
}
std::string body(const Triangular& d) {
  return "Triangular { min: " + fmt::debug(d.min) + ", mode: " + fmt::debug(d.mode) + ", max: " +
         fmt::debug(d.max) + " }";
}
std::string body(const TruncatedNormal& d) {
  return "TruncatedNormal { mean: " + fmt::debug(d.mean) + ", std_dev: " + fmt::debug(d.std_dev) +
         ", lo: " + fmt::debug(d.lo) + ", hi: " + fmt::debug(d.hi) + " }";
}

Status check_count(std::uint64_t n) {
  if (n > std::vector<double>().max_size())
    return invalid_argument("sampling: n = " + fmt::num(n) + " draws cannot be allocated");
  return ok_status();
}

}  // namespace

Result<Sampler> Sampler::uniform(double lo, double hi) {
  if (!(finite(lo) && finite(hi) && lo < hi)) return invalid_argument("sampling: uniform needs finite lo < hi");
  return Sampler(Uniform{lo, hi});
}

Result<Sampler> Sampler::normal(double mean, double std_dev) {
  if (!(finite(mean) && finite(std_dev) && std_dev > 0.0))
    return invalid_argument("sampling: normal needs finite mean and std_dev > 0");
  return Sampler(Normal{mean, std_dev});
}

Result<Sampler> Sampler::lognormal(double mean, double std_dev) {
  if (!(finite(mean) && finite(std_dev) && std_dev > 0.0))
    return invalid_argument("sampling: lognormal needs finite mean and std_dev > 0 (log-space)");
  return Sampler(LogNormal{mean, std_dev});
}

Result<Sampler> Sampler::triangular(double min, double mode, double max) {
  if (!(finite(min) && finite(mode) && finite(max) && min < max && min <= mode && mode <= max))
    return invalid_argument("sampling: triangular needs finite min < max with min <= mode <= max");
  return Sampler(Triangular{min, mode, max});
}

Result<Sampler> Sampler::truncated_normal(double mean, double std_dev, double lo, double hi) {
  if (!(finite(mean) && finite(std_dev) && finite(lo) && finite(hi) && std_dev > 0.0 && lo < hi))
    return invalid_argument("sampling: truncated normal needs finite mean, std_dev > 0 and lo < hi");
  return Sampler(TruncatedNormal{mean, std_dev, lo, hi});
}

Result<Clamped> Sampler::clamped(double lo, double hi) const {
  if (!(finite(lo) && finite(hi) && lo < hi)) return invalid_argument("sampling: clamp needs finite lo < hi");
  return Clamped(*this, lo, hi);
}

Status Sampler::check_drawable() const {
  // Two finite bounds can still be further apart than the largest double
  // (-1e308, 1e308); such a draw would be inf or NaN, so refuse it before drawing.
  if (const auto* u = std::get_if<Uniform>(&v_); u && !std::isfinite(u->hi - u->lo))
    return invalid_argument("sampling: uniform width hi - lo overflows to infinity");
  // The triangular inverse cdf multiplies two quantities up to the width each; once the
  // square of the width overflows, the draws come out NaN or infinite.
  if (const auto* t = std::get_if<Triangular>(&v_); t && !std::isfinite((t->max - t->min) * (t->max - t->min)))
    return invalid_argument("sampling: triangular width max - min is too large to draw from");
  return ok_status();
}

Result<double> Sampler::sample(Stream& s) const {
  QUARN_TRY(ok, check_drawable());
  (void)ok;
  return std::visit([&s](const auto& d) { return draw(d, s); }, v_);
}

Result<std::vector<double>> Sampler::sample_n(std::uint64_t n, Stream& s) const {
  if (n == 0) return std::vector<double>{};  // no draw, so nothing to refuse
  QUARN_TRY(ok, check_drawable());
  QUARN_TRY(ok_n, check_count(n));
  (void)ok, (void)ok_n;
  std::vector<double> out(static_cast<std::size_t>(n));
  std::visit(
      [&](const auto& d) {
        for (double& v : out) v = draw(d, s);
      },
      v_);
  return out;
}

std::string Sampler::debug() const {
  return std::visit([](const auto& d) { return body(d); }, v_);
}

std::string Sampler::repr() const { return "Sampler(" + debug() + ")"; }

Result<double> Clamped::sample(Stream& s) const {
  QUARN_TRY(x, inner_.sample(s));
  return std::min(hi_, std::max(lo_, x));
}

Result<std::vector<double>> Clamped::sample_n(std::uint64_t n, Stream& s) const {
  QUARN_TRY(out, inner_.sample_n(n, s));
  for (double& v : out) v = std::min(hi_, std::max(lo_, v));
  return out;
}

std::string Clamped::repr() const {
  return "Clamped(Clamped { inner: " + inner_.debug() + ", lo: " + fmt::debug(lo_) + ", hi: " + fmt::debug(hi_) +
         " })";
}

}  // namespace quarn::sampling
