// src/geostat/variogram.hpp: variogram models (isotropic and anisotropic), their
// validation, the semivariance shapes and VariogramSpec, the either-model value that
// kriging and simulation take.
//
// Reproducibility notes for callers: every formula below is evaluated in the order
// written in its comment; do not rewrite them algebraically (h / a * 3 and 3 * h / a
// differ in the last bit).
#pragma once
#include <cmath>
#include <cstdint>
#include <string>
#include <variant>

#include "error.hpp"

namespace quarn::geostat {

/// The four shapes; the codes are part of the contract.
enum class VariogramModel : std::uint8_t { Nugget = 0, Spherical = 1, Exponential = 2, Gaussian = 3 };

/// Unit shape f of a model at scaled distance h > 0 with range a > 0, so that
/// gamma = nugget + sill * f. Nugget: 0. Spherical: r = h / a, 1.5 * r - 0.5 * (r * r * r)
/// when r < 1, else 1. Exponential: 1 - exp(-3 * h / a) (grouped ((-3 * h) / a)).
/// Gaussian: r = h / a, 1 - exp(-3 * (r * r)). NaN h gives NaN (the Nugget shape included).
[[nodiscard]] inline double unit_shape(VariogramModel model, double h, double a) {
  switch (model) {
    case VariogramModel::Nugget:
      return std::isnan(h) ? h : 0.0;
    case VariogramModel::Spherical: {
      const double r = h / a;
      if (r >= 1.0) return 1.0;  // NaN falls through to the polynomial and stays NaN
      return 1.5 * r - 0.5 * (r * r * r);
    }
    case VariogramModel::Exponential:
      return 1.0 - std::exp(-3.0 * h / a);
    case VariogramModel::Gaussian: {
      const double r = h / a;
      return 1.0 - std::exp(-3.0 * (r * r));
    }
  }
  return 0.0;
}

/// Isotropic model: nugget c0, partial sill c above it, range a.
/// Invariants (made by make() and never broken): all finite; nugget, sill >= 0;
/// Nugget shape: nugget > 0, other shapes: nugget + sill > 0; range > 0.
struct Variogram {
  double nugget = 0.0;
  double sill = 0.0;
  double range = 1.0;
  VariogramModel model = VariogramModel::Spherical;

  /// Validating constructor. InvalidArgument, first failure in this order:
  /// "variogram: nugget, sill and range must be finite";
  /// "variogram: nugget and sill must be non-negative";
  /// Nugget shape with nugget <= 0: "variogram: the Nugget model uses only its nugget
  /// (sill is ignored), so nugget must be positive"; other shapes with nugget + sill <= 0:
  /// "variogram: total sill (nugget + sill) must be positive";
  /// "variogram: range must be positive".
  [[nodiscard]] static Result<Variogram> make(VariogramModel model, double nugget, double sill, double range);

  /// gamma at distance h: exactly 0 when h == 0 (the nugget is a jump at the origin),
  /// else nugget + sill * unit_shape(h). Use this when the distance is already known
  /// (for example from the neighbour search).
  [[nodiscard]] double gamma_at(double h) const {
    if (h == 0.0) return 0.0;
    return nugget + sill * unit_shape(model, h, range);
  }
  /// gamma from a squared distance h2: exactly 0 when h2 == 0, else gamma of sqrt(h2).
  [[nodiscard]] double gamma_sq(double h2) const {
    if (h2 == 0.0) return 0.0;
    return nugget + sill * unit_shape(model, std::sqrt(h2), range);
  }
  /// gamma of a horizontal separation: h2 = dx * dx + dy * dy, then gamma_sq.
  [[nodiscard]] double gamma(double dx, double dy) const { return gamma_sq(dx * dx + dy * dy); }
  /// nugget + sill.
  [[nodiscard]] double total_sill() const { return nugget + sill; }
  /// "Variogram(nugget=<nugget>, sill=<sill>, range=<range>)", shortest round-trip numbers.
  [[nodiscard]] std::string repr() const;
};

/// Directional model: ranges along the major axis (azimuth, degrees clockwise from north,
/// stored in [0, 360)), across it, and vertically. Distances are scaled into units of the
/// major range, so gamma uses range = major.
struct AnisotropicVariogram {
  double nugget = 0.0;
  double sill = 1.0;
  double major = 1.0;
  double minor = 1.0;
  double vertical = 1.0;
  double azimuth = 0.0;
  VariogramModel model = VariogramModel::Spherical;
  double sin_az = 0.0;  ///< sin(azimuth * pi/180), cached by make() for the many gamma calls
  double cos_az = 1.0;  ///< cos(azimuth * pi/180), cached by make()

  /// Validating constructor. InvalidArgument, first failure in this order:
  /// "anisotropic variogram: nugget, sill, ranges and azimuth must be finite";
  /// "anisotropic variogram: nugget and sill must be non-negative";
  /// the Nugget / total-sill rule as for Variogram (prefix "anisotropic variogram: ");
  /// "anisotropic variogram: major, minor and vertical ranges must be positive".
  /// The azimuth is then normalised: fmod(azimuth, 360), plus 360 when negative (a sum
  /// that rounds to 360 is stored as 0).
  [[nodiscard]] static Result<AnisotropicVariogram> make(VariogramModel model, double major, double minor,
                                                         double vertical, double azimuth, double sill = 1.0,
                                                         double nugget = 0.0);
  /// major = minor = vertical = range, azimuth 0, through make().
  [[nodiscard]] static Result<AnisotropicVariogram> isotropic(VariogramModel model, double nugget, double sill,
                                                              double range);

  /// Squared scaled distance: with t = azimuth in radians,
  /// along = dx * sin t + dy * cos t; across = (dx * cos t - dy * sin t) * major / minor;
  /// vert = dz * major / vertical; h2 = vert^2 + (along^2 + across^2).
  [[nodiscard]] double scaled_distance_sq(double dx, double dy, double dz = 0.0) const;
  /// sqrt of scaled_distance_sq.
  [[nodiscard]] double anisotropic_distance(double dx, double dy, double dz = 0.0) const;
  /// gamma for the separation (dx east, dy north, dz up): 0 when the squared scaled
  /// distance is exactly 0, else nugget + sill * unit_shape(h, major).
  [[nodiscard]] double gamma_offset(double dx, double dy, double dz = 0.0) const;
  [[nodiscard]] double total_sill() const { return nugget + sill; }
  /// "AnisotropicVariogram(major=.., minor=.., vertical=.., azimuth=.., nugget=.., sill=..)".
  [[nodiscard]] std::string repr() const;
};

/// Either model, copied by value into every computation. Build it from a validated
/// Variogram or AnisotropicVariogram (the Python converter `to_variogram_spec` does).
struct VariogramSpec {
  std::variant<Variogram, AnisotropicVariogram> model;

  VariogramSpec() = default;
  VariogramSpec(const Variogram& v) : model(v) {}               // NOLINT: either model converts
  VariogramSpec(const AnisotropicVariogram& v) : model(v) {}    // NOLINT

  [[nodiscard]] bool is_isotropic() const { return model.index() == 0; }
  /// gamma of a horizontal separation (dz = 0): isotropic h = sqrt(dx^2 + dy^2) with its
  /// range; anisotropic the scaled distance with range = major. 0 at zero separation.
  [[nodiscard]] double gamma(double dx, double dy) const;
  /// nugget + sill: the divisor that turns gamma into a correlation 1 - gamma / total_sill.
  [[nodiscard]] double total_sill() const;
};

/// Free-function forms of the members above, for callers that prefer them.
[[nodiscard]] inline double semivariance(const VariogramSpec& spec, double dx, double dy) {
  return spec.gamma(dx, dy);
}
[[nodiscard]] inline double total_sill(const VariogramSpec& spec) { return spec.total_sill(); }

}  // namespace quarn::geostat
