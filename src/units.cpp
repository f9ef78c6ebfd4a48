#include "units.hpp"

#include <cmath>

#include "format.hpp"

namespace quarn::units {

std::string format_volume(double v_m3) {
  const double a = std::fabs(v_m3);
  if (a >= kBillion) return fmt::fixed(v_m3 / kBillion, 1) + " bcm";
  if (a >= kMillion) return fmt::fixed(v_m3 / kMillion, 1) + " mcm";
  return fmt::fixed(v_m3, 1) + " m\u00b3";
}

}  // namespace quarn::units
