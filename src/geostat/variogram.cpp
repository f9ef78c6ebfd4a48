#include "geostat/variogram.hpp"

#include <cmath>

#include "format.hpp"
#include "lattice.hpp"

namespace quarn::geostat {

namespace {

// The sill rules shared by both constructors; `who` is the message prefix.
std::optional<CoreError> check_sills(const char* who, VariogramModel model, double nugget, double sill) {
  if (nugget < 0.0 || sill < 0.0) return invalid_argument(std::string(who) + "nugget and sill must be non-negative");
  if (model == VariogramModel::Nugget) {
    if (nugget <= 0.0)
      return invalid_argument(std::string(who) +
                              "the Nugget model uses only its nugget (sill is ignored), so nugget must be positive");
  } else if (nugget + sill <= 0.0) {
    return invalid_argument(std::string(who) + "total sill (nugget + sill) must be positive");
  }
  return std::nullopt;
}

}  // namespace

Result<Variogram> Variogram::make(VariogramModel model, double nugget, double sill, double range) {
  if (!std::isfinite(nugget) || !std::isfinite(sill) || !std::isfinite(range))
    return invalid_argument("variogram: nugget, sill and range must be finite");
  if (auto e = check_sills("variogram: ", model, nugget, sill)) return *e;
  if (range <= 0.0) return invalid_argument("variogram: range must be positive");
  return Variogram{nugget, sill, range, model};
}

std::string Variogram::repr() const {
  return "Variogram(nugget=" + fmt::num(nugget) + ", sill=" + fmt::num(sill) + ", range=" + fmt::num(range) + ")";
}

Result<AnisotropicVariogram> AnisotropicVariogram::make(VariogramModel model, double major, double minor,
                                                        double vertical, double azimuth, double sill,
                                                        double nugget) {
  if (!std::isfinite(nugget) || !std::isfinite(sill) || !std::isfinite(major) || !std::isfinite(minor) ||
      !std::isfinite(vertical) || !std::isfinite(azimuth))
    return invalid_argument("anisotropic variogram: nugget, sill, ranges and azimuth must be finite");
  if (auto e = check_sills("anisotropic variogram: ", model, nugget, sill)) return *e;
  if (major <= 0.0 || minor <= 0.0 || vertical <= 0.0)
    return invalid_argument("anisotropic variogram: major, minor and vertical ranges must be positive");
  double az = std::fmod(azimuth, 360.0);
  if (az < 0.0) az = az + 360.0;
  // A tiny negative remainder plus 360 rounds to 360 itself; the stored azimuth stays in
  // [0, 360), and 360 is the same direction as 0.
  if (az == 360.0) az = 0.0;
  const double t = az * kDegToRad;
  return AnisotropicVariogram{nugget, sill, major, minor, vertical, az, model, std::sin(t), std::cos(t)};
}

Result<AnisotropicVariogram> AnisotropicVariogram::isotropic(VariogramModel model, double nugget, double sill,
                                                             double range) {
  return make(model, range, range, range, 0.0, sill, nugget);
}

double AnisotropicVariogram::scaled_distance_sq(double dx, double dy, double dz) const {
  const double s = sin_az, c = cos_az;
  const double along = dx * s + dy * c;
  const double across = (dx * c - dy * s) * major / minor;
  const double vert = dz * major / vertical;
  return vert * vert + (along * along + across * across);
}

double AnisotropicVariogram::anisotropic_distance(double dx, double dy, double dz) const {
  return std::sqrt(scaled_distance_sq(dx, dy, dz));
}

double AnisotropicVariogram::gamma_offset(double dx, double dy, double dz) const {
  const double h2 = scaled_distance_sq(dx, dy, dz);
  if (h2 == 0.0) return 0.0;
  return nugget + sill * unit_shape(model, std::sqrt(h2), major);
}

std::string AnisotropicVariogram::repr() const {
  return "AnisotropicVariogram(major=" + fmt::num(major) + ", minor=" + fmt::num(minor) +
         ", vertical=" + fmt::num(vertical) + ", azimuth=" + fmt::num(azimuth) + ", nugget=" + fmt::num(nugget) +
         ", sill=" + fmt::num(sill) + ")";
}

double VariogramSpec::gamma(double dx, double dy) const {
  if (const auto* v = std::get_if<Variogram>(&model)) return v->gamma(dx, dy);
  return std::get<AnisotropicVariogram>(model).gamma_offset(dx, dy, 0.0);
}

double VariogramSpec::total_sill() const {
  if (const auto* v = std::get_if<Variogram>(&model)) return v->total_sill();
  return std::get<AnisotropicVariogram>(model).total_sill();
}

}  // namespace quarn::geostat
