// src/geostat/nscore.hpp: the rank-based normal-score transform between data values
// and standard normal scores (ties share the mean of their ranks' scores).
#pragma once
#include <span>
#include <vector>

#include "error.hpp"

namespace quarn::geostat {

/// Distinct data values (strictly increasing) and their scores (strictly increasing).
/// Both maps are piecewise linear between the entries and clamp outside them, so
/// back-transformed values never leave the data range.
class NormalScore {
 public:
  /// Stable ascending sort, plotting positions (i + 0.5) / n, Phi^-1 of each, and one
  /// entry per run of equal values holding the mean of the run's scores (summed in rank
  /// order). EmptyInput "NormalScore::fit: no data" for no values. Values are not
  /// screened: callers pass finite values.
  [[nodiscard]] static Result<NormalScore> fit(std::span<const double> values);

  /// Value to score; clamps to the extreme scores outside the data range. NaN gives NaN
  /// (with a single entry every x, NaN included, maps to its score).
  [[nodiscard]] double transform(double x) const { return interpolate(values_, scores_, x); }
  /// Score to value; clamps to the data minimum and maximum.
  [[nodiscard]] double back_transform(double y) const { return interpolate(scores_, values_, y); }

  [[nodiscard]] const std::vector<double>& values() const { return values_; }
  [[nodiscard]] const std::vector<double>& scores() const { return scores_; }

 private:
  NormalScore() = default;
  static double interpolate(const std::vector<double>& from, const std::vector<double>& to, double x);

  std::vector<double> values_;
  std::vector<double> scores_;
};

}  // namespace quarn::geostat
