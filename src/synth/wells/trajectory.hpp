// src/synth/wells/trajectory.hpp: designed well paths (vertical, build-hold,
// build-hold-drop) integrated by minimum curvature, and dogleg severity.
//
// MD and TVD are metres below the kelly bushing, positive down; z = kb_elevation - TVD;
// inclination in degrees from vertical; azimuth in degrees clockwise from north;
// rates in degrees per 30 m of MD.
#pragma once
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "error.hpp"

namespace quarn::synth::wells {

/// Largest build or drop rate accepted, deg/30 m.
inline constexpr double kMaxRateDegPer30m = 6.0;

struct Vertical {};

struct BuildHold {
  double kickoff_md;  ///< m
  double build_rate;  ///< deg/30 m
  double hold_incl;   ///< deg
  double azimuth;     ///< deg, normalised into [0, 360)

  /// Errors (InvalidArgument), in order: kickoff_md, build_rate, hold_incl, azimuth.
  [[nodiscard]] static Result<BuildHold> make(double kickoff_md, double build_rate, double hold_incl,
                                              double azimuth);
};

struct BuildHoldDrop {
  BuildHold build;
  double drop_start_md;  ///< m
  double drop_rate;      ///< deg/30 m
  double final_incl;     ///< deg

  /// Errors (InvalidArgument), in order: drop_rate, final_incl, drop_start_md (at/after the build end).
  [[nodiscard]] static Result<BuildHoldDrop> make(const BuildHold& build, double drop_start_md, double drop_rate,
                                                  double final_incl);
};

using Profile = std::variant<Vertical, BuildHold, BuildHoldDrop>;

struct Station {
  double md, x, y, z, tvd, incl, azim;
};

/// Vertical well from MD 0 to `td` at `md_step` spacing (plus a final station on td).
/// Errors (InvalidArgument), in order: wellhead/kb not finite; td; md_step; a station
/// count that cannot be allocated.
[[nodiscard]] Result<std::vector<Station>> synth_trajectory(std::pair<double, double> wellhead, double kb_elevation,
                                                            double td, double md_step);

/// Well following `profile`; the vertical profile is synth_trajectory itself.
[[nodiscard]] Result<std::vector<Station>> synth_trajectory_profile(std::pair<double, double> wellhead,
                                                                    double kb_elevation, double td, double md_step,
                                                                    const Profile& profile);

/// Largest dogleg severity (deg/30 m) over consecutive pairs with increasing MD; 0 for
/// none. Errors: InvalidArgument when the lengths differ.
[[nodiscard]] Result<double> max_dogleg_severity(std::span<const double> md, std::span<const double> incl,
                                                 std::span<const double> azim);

}  // namespace quarn::synth::wells
