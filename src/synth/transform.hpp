// src/synth/transform.hpp: the logit-normal map behind every [0,1] synthetic log,
// the AR(1) depth driver, and the sample-count rules shared by the log generators.
#pragma once
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "error.hpp"
#include "sampling/stream.hpp"

namespace quarn::synth {

/// Logistic 1 / (1 + e^-t) in the overflow-safe form: e^t / (1 + e^t) for t < 0.
[[nodiscard]] inline double logistic(double t) {
  if (t >= 0.0) return 1.0 / (1.0 + std::exp(-t));
  const double e = std::exp(t);
  return e / (1.0 + e);
}

/// y = logistic(scale * z + location), solved so that y has a requested mean and
/// standard deviation when z is standard normal (moments on a 256-node quadrature).
struct SynthTransform {
  double location = 0.0;  ///< additive shift inside the logistic
  double scale = 1.0;     ///< multiplier of the driver, in [1e-6, 60]

  /// Validates the [0,1] target and solves the parameters by nested bisection.
  /// InvalidArgument unless 0 < mean < 1, std > 0 and std^2 < mean (1 - mean).
  [[nodiscard]] static Result<SynthTransform> make(double mean, double std);
  /// The validation of make() alone (same errors), without the solve.
  [[nodiscard]] static Status check(double mean, double std);

  [[nodiscard]] double apply(double z) const { return logistic(z * scale + location); }
};

/// The midpoint quantiles Phi^-1((i + 0.5) / 256), ascending; computed once.
[[nodiscard]] const std::array<double, 256>& quadrature_nodes();

/// Quadrature mean and variance of logistic(z s + f) over the 256 nodes.
struct QuadMoments {
  double mean;
  double variance;  ///< max(q - m^2, 0)
};
[[nodiscard]] QuadMoments quadrature_moments(double s, double f);

/// n standard normals with lag-one correlation rho (clamped into [0, 0.999999999]),
/// one draw per sample in order; n = 0 draws nothing. Sizes are checked by callers.
[[nodiscard]] std::vector<double> ar1_driver(std::uint64_t n, double rho, sampling::Stream& stream);

/// round(x) halves away from zero, saturated into [0, 2^64 - 1]; NaN gives 0.
[[nodiscard]] std::uint64_t saturating_count(double x);

/// Largest number of samples a generator will try to allocate; beyond it the
/// request is refused with a message instead of an allocation failure.
inline constexpr std::uint64_t kMaxSamples = std::uint64_t{1} << 48;

}  // namespace quarn::synth
