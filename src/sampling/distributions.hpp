// src/sampling/distributions.hpp: validated univariate distributions drawn from an
// explicit Stream, and the clamping wrapper.
//
// truncated_normal reshapes the density onto [lo, hi] (renormalised, no mass at the
// bounds); Clamped snaps out-of-range draws to the nearest bound (mass piles up at
// lo and hi).
#pragma once
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "error.hpp"
#include "sampling/stream.hpp"

namespace quarn::sampling {

struct Uniform {
  double lo, hi;
};
struct Normal {
  double mean, std_dev;
};
/// ln(x) ~ Normal(mean, std_dev).
struct LogNormal {
  double mean, std_dev;
};
struct Triangular {
  double min, mode, max;
};
struct TruncatedNormal {
  double mean, std_dev, lo, hi;
};

class Clamped;

/// One of five validated families; immutable once built.
class Sampler {
 public:
  using Variant = std::variant<Uniform, Normal, LogNormal, Triangular, TruncatedNormal>;

  /// Errors: InvalidArgument unless lo and hi are finite with lo < hi.
  [[nodiscard]] static Result<Sampler> uniform(double lo, double hi);
  /// Errors: InvalidArgument unless mean is finite and std_dev finite and > 0.
  [[nodiscard]] static Result<Sampler> normal(double mean, double std_dev);
  /// Parameters of the underlying normal (log space); same rule as normal().
  [[nodiscard]] static Result<Sampler> lognormal(double mean, double std_dev);
  /// Errors: InvalidArgument unless all finite, min < max and min <= mode <= max.
  [[nodiscard]] static Result<Sampler> triangular(double min, double mode, double max);
  /// Errors: InvalidArgument unless all finite, std_dev > 0 and lo < hi.
  [[nodiscard]] static Result<Sampler> truncated_normal(double mean, double std_dev, double lo, double hi);

  /// A Clamped around a copy of this sampler. Errors: InvalidArgument unless lo < hi, both finite.
  [[nodiscard]] Result<Clamped> clamped(double lo, double hi) const;

  /// One draw. Errors: InvalidArgument for a uniform whose width hi - lo overflows, or a
  /// triangular whose squared width does (checked before drawing, so the stream is untouched).
  [[nodiscard]] Result<double> sample(Stream& s) const;
  /// n successive draws; n = 0 gives an empty vector and leaves the stream untouched
  /// (also for an overflowing uniform, since nothing is drawn). Errors as sample(), and
  /// InvalidArgument when n cannot be allocated at all.
  [[nodiscard]] Result<std::vector<double>> sample_n(std::uint64_t n, Stream& s) const;

  [[nodiscard]] const Variant& variant() const noexcept { return v_; }
  /// "Normal { mean: 0.0, std_dev: 1.0 }"
  [[nodiscard]] std::string debug() const;
  /// "Sampler(Normal { mean: 0.0, std_dev: 1.0 })"
  [[nodiscard]] std::string repr() const;

 private:
  explicit Sampler(Variant v) : v_(v) {}
  [[nodiscard]] Status check_drawable() const;
  Variant v_;
};

/// A sampler whose draws are clamped into [lo, hi].
class Clamped {
 public:
  [[nodiscard]] const Sampler& inner() const noexcept { return inner_; }
  [[nodiscard]] double lo() const noexcept { return lo_; }
  [[nodiscard]] double hi() const noexcept { return hi_; }

  [[nodiscard]] Result<double> sample(Stream& s) const;
  [[nodiscard]] Result<std::vector<double>> sample_n(std::uint64_t n, Stream& s) const;
  /// "Clamped(Clamped { inner: Normal { mean: 0.0, std_dev: 1.0 }, lo: 0.0, hi: 1.0 })"
  [[nodiscard]] std::string repr() const;

 private:
  friend class Sampler;
  Clamped(Sampler inner, double lo, double hi) : inner_(inner), lo_(lo), hi_(hi) {}
  Sampler inner_;
  double lo_, hi_;
};

}  // namespace quarn::sampling
