// src/units.hpp: volume and area conversions of reservoir reporting, and the
// volume formatter. Each converter is one multiplication or one division by its
// constant; the direction is part of the result's last bit.
#pragma once
#include <string>

namespace quarn::units {

inline constexpr double kBillion = 1e9;                   ///< m3 per bcm
inline constexpr double kMillion = 1e6;                   ///< m3 per mcm / MSm3; m2 per km2
inline constexpr double kCubicFeetPerM3 = 35.31466672148859;  ///< 1 / 0.3048^3
inline constexpr double kM3PerStb = 0.158987294928;       ///< 42 US gallons of 3.785411784 L

[[nodiscard]] inline double m3_to_mcm(double m3) { return m3 / kMillion; }
[[nodiscard]] inline double mcm_to_m3(double mcm) { return mcm * kMillion; }
[[nodiscard]] inline double m3_to_msm3(double m3) { return m3 / kMillion; }
[[nodiscard]] inline double msm3_to_m3(double msm3) { return msm3 * kMillion; }
[[nodiscard]] inline double m3_to_bcm(double m3) { return m3 / kBillion; }
[[nodiscard]] inline double bcm_to_m3(double bcm) { return bcm * kBillion; }
[[nodiscard]] inline double scf_to_sm3(double scf) { return scf / kCubicFeetPerM3; }
[[nodiscard]] inline double sm3_to_scf(double sm3) { return sm3 * kCubicFeetPerM3; }
[[nodiscard]] inline double stb_to_sm3(double stb) { return stb * kM3PerStb; }
[[nodiscard]] inline double sm3_to_stb(double sm3) { return sm3 / kM3PerStb; }
[[nodiscard]] inline double km2_to_m2(double km2) { return km2 * kMillion; }
[[nodiscard]] inline double m2_to_km2(double m2) { return m2 / kMillion; }

/// One decimal (correctly rounded, ties to even, as Python's ".1f") and a unit
/// chosen on the unscaled magnitude: " bcm" from 1e9, " mcm" from 1e6, else " m³".
/// NaN is "NaN m³", infinities "inf bcm" / "-inf bcm", -0.0 "-0.0 m³".
[[nodiscard]] std::string format_volume(double v_m3);

}  // namespace quarn::units
