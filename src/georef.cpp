#include "georef.hpp"

#include <cmath>

#include "format.hpp"

namespace quarn {

Result<Georef> Georef::make(double east0, double north0) {
  if (!std::isfinite(east0) || !std::isfinite(north0))
    return invalid_argument("Georef: east0 and north0 must be finite");
  return Georef{east0, north0};
}

Result<Lattice> Georef::lattice(double xinc, double yinc, std::uint64_t ncol, std::uint64_t nrow,
                                double rotation_deg, bool yflip) const {
  return Lattice::make(east0, north0, xinc, yinc, ncol, nrow, rotation_deg, yflip);
}

Point Georef::place_point(Point local) const { return {local.first + east0, local.second + north0}; }

std::vector<Point> Georef::place_points(const std::vector<Point>& locals) const {
  std::vector<Point> out;
  out.reserve(locals.size());
  for (const auto& p : locals) out.push_back(place_point(p));
  return out;
}

Result<Point> Georef::place_intrinsic(Point uv, double rotation_deg, bool yflip) const {
  if (!std::isfinite(rotation_deg)) return invalid_argument("Lattice: rotation_deg must be finite");
  double r = std::fmod(rotation_deg, 360.0);
  if (r < 0) r = 360.0 + r;
  const double theta = r * kDegToRad;
  const double s = std::sin(theta), c = std::cos(theta);
  const auto [u, v] = uv;
  if (!yflip) return Point{(east0 + u * c) + v * (-s), (north0 + u * s) + v * c};
  return Point{(east0 + u * c) + v * s, (north0 + u * s) + v * (-c)};
}

std::string Georef::repr() const {
  return "Georef(east0=" + fmt::num(east0) + ", north0=" + fmt::num(north0) + ")";
}

}  // namespace quarn
