#include "synth/wells/trajectory.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "lattice.hpp"

namespace quarn::synth::wells {
namespace {

bool finite(double v) { return std::isfinite(v); }

Status check_trajectory(const std::string& op, std::pair<double, double> wellhead, double kb, double td,
                        double md_step) {
  if (!(finite(wellhead.first) && finite(wellhead.second) && finite(kb)))
    return invalid_argument(op + ": wellhead and kb_elevation must be finite");
  if (!(finite(td) && td > 0.0)) return invalid_argument(op + ": td must be finite and > 0");
  if (!(finite(md_step) && md_step > 0.0)) return invalid_argument(op + ": md_step must be finite and > 0");
  return ok_status();
}

// Station MDs: k * md_step for k = 0..floor(td / md_step), then td unless the last is within 1e-9.
Result<std::vector<double>> station_mds(const std::string& op, double td, double md_step) {
  const double ratio = std::floor(td / md_step);
  constexpr double kTwo64 = 18446744073709551616.0;
  const std::uint64_t n = ratio >= kTwo64 ? ~std::uint64_t{0} : static_cast<std::uint64_t>(ratio);
  // n + 2 stations must fit one allocation; a saturated n never does.
  if (n >= std::vector<Station>().max_size() - 2)
    return invalid_argument(op + ": td / md_step gives more stations than can be allocated");
  std::vector<double> mds;
  mds.reserve(static_cast<std::size_t>(n) + 2);
  for (std::uint64_t k = 0; k <= n; ++k) mds.push_back(static_cast<double>(k) * md_step);
  if (std::fabs(mds.back() - td) > 1e-9) mds.push_back(td);
  return mds;
}

struct Attitude {
  double incl, azim;
};

Attitude attitude(const BuildHold& bh, const BuildHoldDrop* drop, double m) {
  const double br = bh.build_rate / 30.0;
  const double build_end = bh.hold_incl / br + bh.kickoff_md;
  if (drop && m > drop->drop_start_md) {
    const double dr = drop->drop_rate / 30.0;
    const double drop_end = (bh.hold_incl - drop->final_incl) / dr + drop->drop_start_md;
    const double incl = m >= drop_end ? drop->final_incl : bh.hold_incl - (m - drop->drop_start_md) * dr;
    return {incl, bh.azimuth};
  }
  if (m <= bh.kickoff_md) return {0.0, 0.0};
  return {m >= build_end ? bh.hold_incl : (m - bh.kickoff_md) * br, bh.azimuth};
}

std::vector<Station> vertical_stations(const std::vector<double>& mds, std::pair<double, double> wh, double kb) {
  std::vector<Station> out;
  out.reserve(mds.size());
  for (double md : mds) out.push_back({md, wh.first, wh.second, kb - md, md, 0.0, 0.0});
  return out;
}

std::vector<Station> directional_stations(const std::vector<double>& mds, std::pair<double, double> wh, double kb,
                                          const BuildHold& bh, const BuildHoldDrop* drop) {
  std::vector<Station> out;
  out.reserve(mds.size());
  const Attitude a0 = attitude(bh, drop, 0.0);
  out.push_back({0.0, wh.first, wh.second, kb, 0.0, a0.incl, a0.azim});
  double east = 0.0, north = 0.0, tvd = 0.0;
  for (std::size_t k = 1; k < mds.size(); ++k) {
    const Station& prev = out.back();
    const double md2 = mds[k];
    const Attitude at = attitude(bh, drop, md2);
    const double i1 = prev.incl * kDegToRad, a1 = prev.azim * kDegToRad;
    const double i2 = at.incl * kDegToRad, a2 = at.azim * kDegToRad;
    double c = std::cos(a2 - a1) * (std::sin(i1) * std::sin(i2)) + std::cos(i1) * std::cos(i2);
    c = std::clamp(c, -1.0, 1.0);
    const double beta = std::acos(c);
    const double rf = std::fabs(beta) < 1e-9 ? 1.0 : std::tan(beta / 2.0) / (beta / 2.0);
    const double h = (md2 - prev.md) * 0.5 * rf;
    east += h * (std::sin(a1) * std::sin(i1) + std::sin(i2) * std::sin(a2));
    north += h * (std::cos(a2) * std::sin(i2) + std::sin(i1) * std::cos(a1));
    tvd += (std::cos(i1) + std::cos(i2)) * h;
    out.push_back({md2, wh.first + east, wh.second + north, kb - tvd, tvd, at.incl, at.azim});
  }
  return out;
}

}  // namespace

Result<BuildHold> BuildHold::make(double kickoff_md, double build_rate, double hold_incl, double azimuth) {
  if (!(finite(kickoff_md) && kickoff_md >= 0.0))
    return invalid_argument("BuildHold: kickoff_md must be finite and >= 0");
  if (!(finite(build_rate) && build_rate > 0.0 && build_rate <= kMaxRateDegPer30m))
    return invalid_argument("BuildHold: build_rate must be finite in (0, 6] deg/30m");
  if (!(finite(hold_incl) && hold_incl > 0.0 && hold_incl < 90.0))
    return invalid_argument("BuildHold: hold_incl must be finite in (0, 90)");
  if (!finite(azimuth)) return invalid_argument("BuildHold: azimuth must be finite");
  double az = std::fmod(azimuth, 360.0);
  if (az < 0.0) az = az + 360.0;
  return BuildHold{kickoff_md, build_rate, hold_incl, az};
}

Result<BuildHoldDrop> BuildHoldDrop::make(const BuildHold& build, double drop_start_md, double drop_rate,
                                          double final_incl) {
  const double build_end = build.hold_incl / (build.build_rate / 30.0) + build.kickoff_md;
  if (!(finite(drop_rate) && drop_rate > 0.0 && drop_rate <= kMaxRateDegPer30m))
    return invalid_argument("BuildHoldDrop: drop_rate must be finite in (0, 6] deg/30m");
  if (!(finite(final_incl) && final_incl >= 0.0 && final_incl <= build.hold_incl))
    return invalid_argument("BuildHoldDrop: final_incl must be finite in [0, hold_incl]");
  if (!(finite(drop_start_md) && drop_start_md >= build_end - 1e-9))
    return invalid_argument("BuildHoldDrop: drop_start_md must be finite and at/after the build end");
  return BuildHoldDrop{build, drop_start_md, drop_rate, final_incl};
}

Result<std::vector<Station>> synth_trajectory(std::pair<double, double> wellhead, double kb_elevation, double td,
                                              double md_step) {
  const std::string op = "synth_trajectory";
  QUARN_TRY(ok, check_trajectory(op, wellhead, kb_elevation, td, md_step));
  (void)ok;
  QUARN_TRY(mds, station_mds(op, td, md_step));
  return vertical_stations(mds, wellhead, kb_elevation);
}

Result<std::vector<Station>> synth_trajectory_profile(std::pair<double, double> wellhead, double kb_elevation,
                                                      double td, double md_step, const Profile& profile) {
  if (std::holds_alternative<Vertical>(profile)) return synth_trajectory(wellhead, kb_elevation, td, md_step);
  const std::string op = "synth_trajectory_profile";
  QUARN_TRY(ok, check_trajectory(op, wellhead, kb_elevation, td, md_step));
  (void)ok;
  QUARN_TRY(mds, station_mds(op, td, md_step));
  if (const auto* drop = std::get_if<BuildHoldDrop>(&profile))
    return directional_stations(mds, wellhead, kb_elevation, drop->build, drop);
  return directional_stations(mds, wellhead, kb_elevation, std::get<BuildHold>(profile), nullptr);
}

Result<double> max_dogleg_severity(std::span<const double> md, std::span<const double> incl,
                                   std::span<const double> azim) {
  if (md.size() != incl.size() || md.size() != azim.size())
    return invalid_argument("max_dogleg_severity: md, incl and azim must be equal length");
  double best = 0.0;
  for (std::size_t k = 1; k < md.size(); ++k) {
    const double delta = md[k] - md[k - 1];
    if (!(delta > 0.0)) continue;
    const double i1 = incl[k - 1] * kDegToRad, i2 = incl[k] * kDegToRad;
    const double a1 = azim[k - 1] * kDegToRad, a2 = azim[k] * kDegToRad;
    double c = std::cos(a2 - a1) * (std::sin(i2) * std::sin(i1)) + std::cos(i2) * std::cos(i1);
    c = std::clamp(c, -1.0, 1.0);
    const double severity = std::acos(c) * 57.29577951308232 / delta * 30.0;
    if (severity > best) best = severity;  // NaN never replaces the maximum
  }
  return best;
}

}  // namespace quarn::synth::wells
