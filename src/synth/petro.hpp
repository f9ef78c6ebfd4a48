// src/synth/petro.hpp: porosity and net-flag curves calibrated to an NTG target and
// net-porosity moments (cutoff-truncated moments, damped Newton on the sand transform).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "error.hpp"
#include "synth/transform.hpp"

namespace quarn::synth {

struct PetroZoneSpec {
  double net_por_mean = 0.0;
  double net_por_std = 0.0;
  double nonnet_por_mean = 0.0;
  double nonnet_por_std = 0.0;
  double net_cutoff = 0.1;
  double ntg_target = 0.0;
  double bed_scale_m = 0.0;
  double correlation_len_m = 0.0;

  /// InvalidArgument, in this order: the net then non-net {mean, std} targets
  /// (SynthTransform messages), net_cutoff, ntg_target, bed_scale_m, correlation_len_m.
  /// Feasibility of the combination is left to synth_petro_curves.
  [[nodiscard]] static Result<PetroZoneSpec> make(double ntg_target, double net_por_mean, double net_por_std,
                                                  double nonnet_por_mean, double nonnet_por_std,
                                                  double bed_scale_m, double correlation_len_m,
                                                  double net_cutoff = 0.1);
  [[nodiscard]] std::string repr() const;
};

/// P(Y >= c), E[Y 1(Y >= c)], E[Y^2 1(Y >= c)] for Y = logistic(s Z + f), Z standard normal.
struct CutoffMoments {
  double p_above;
  double m1;
  double m2;
};
[[nodiscard]] CutoffMoments cutoff_moments(double f, double s, double c);

/// The solved sand transform and facies proportion of a feasible spec.
struct PetroCalibration {
  SynthTransform sand;
  SynthTransform shale;
  double sand_fraction;
};

/// Calibration alone (validation and the feasibility messages of synth_petro_curves).
[[nodiscard]] Result<PetroCalibration> calibrate_petro(const PetroZoneSpec& zone);

struct PetroCurves {
  std::vector<double> phie;
  std::vector<std::uint8_t> net_flag;  ///< phie >= net_cutoff
};

/// Calibrates, then draws facies (seeded with `seed`) and porosity (derive_seed(seed)).
/// EmptyInput for n_samples = 0; InvalidArgument for a bad depth_step, an
/// oversize request or an infeasible spec (messages state the achievable bound).
[[nodiscard]] Result<PetroCurves> synth_petro_curves(const PetroZoneSpec& zone, double depth_step,
                                                     std::uint64_t n_samples, std::uint64_t seed);

}  // namespace quarn::synth
