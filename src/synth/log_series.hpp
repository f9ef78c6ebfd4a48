// src/synth/log_series.hpp: zone-stacked synthetic logs, facies and porosity series,
// and the NTG display curve.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "error.hpp"
#include "synth/transform.hpp"

namespace quarn::synth {

/// One zone of a log stack: thickness (m), [0,1] moment target, bed-scale correlation (m).
struct ZoneSpec {
  double thickness_m = 0.0;
  double mean = 0.0;
  double std = 0.0;
  double corr_length_m = 0.0;

  /// InvalidArgument for a non-positive thickness or correlation length, then the
  /// SynthTransform messages for the {mean, std} target.
  [[nodiscard]] static Result<ZoneSpec> make(double thickness_m, double mean, double std, double corr_length_m);
  [[nodiscard]] std::string repr() const;
};

/// Samples of a zone: round(thickness / step) halves away from zero, saturated, at least 1.
[[nodiscard]] std::uint64_t zone_sample_count(double thickness_m, double depth_step);

/// Per-zone sample counts in stack order; depth_step is not validated.
[[nodiscard]] std::vector<std::uint64_t> zone_sample_counts(std::span<const ZoneSpec> zones, double depth_step);

/// One depth-correlated log over the stack, top first. EmptyInput for an empty stack;
/// InvalidArgument for a bad depth_step or a stack too long to allocate.
[[nodiscard]] Result<std::vector<double>> synth_log_series(std::span<const ZoneSpec> zones, double depth_step,
                                                           std::uint64_t transition_beds, std::uint64_t seed);

/// Two-valued sand (1) / shale (0) column from a thresholded AR(1) driver.
/// EmptyInput for n = 0; InvalidArgument for bad depth_step, ntg_target, bed_scale_m.
[[nodiscard]] Result<std::vector<std::uint8_t>> synth_facies_series(std::uint64_t n, double depth_step,
                                                                    double ntg_target, double bed_scale_m,
                                                                    std::uint64_t seed);

/// Porosity painted on a facies column (non-zero = sand) from one shared AR(1) driver
/// seeded with derive_seed(seed).
[[nodiscard]] Result<std::vector<double>> synth_por_with_facies(std::span<const std::uint8_t> facies,
                                                                double depth_step, double sand_mean,
                                                                double sand_std, double shale_mean,
                                                                double shale_std, double corr_length_m,
                                                                std::uint64_t seed);

/// Centred running mean of a net flag (non-zero = net) over window_m metres.
/// EmptyInput for an empty flag; InvalidArgument for bad depth_step or window_m.
[[nodiscard]] Result<std::vector<double>> ntg_curve(std::span<const double> net_flag, double depth_step,
                                                    double window_m);

/// The facies rule shared with the petrophysics curves (no validation).
[[nodiscard]] std::vector<std::uint8_t> facies_column(std::uint64_t n, double depth_step, double ntg_target,
                                                      double bed_scale_m, std::uint64_t seed);

/// "<op>: <n> samples requested, more than the limit of <limit>" when n is too large.
[[nodiscard]] Status check_sample_count(const char* op, std::uint64_t n);

}  // namespace quarn::synth
