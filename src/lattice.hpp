// src/lattice.hpp: regular 2-D grid geometry with rotation and J-axis flip.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "error.hpp"

namespace quarn {

/// pi/180 as a double; every degree-to-radian conversion uses this constant.
inline constexpr double kDegToRad = 0.017453292519943295;

/// fmod(deg, 360), then +360 when negative: -90 -> 270, -360 -> -0.0, -1e-20 -> 360.
[[nodiscard]] double normalize_rotation_deg(double deg);

struct Lattice {
  double xori = 0.0;  ///< world x of node (0, 0)
  double yori = 0.0;  ///< world y of node (0, 0)
  double xinc = 0.0;  ///< spacing along I (columns)
  double yinc = 0.0;  ///< spacing along J (rows)
  std::uint64_t ncol = 0;
  std::uint64_t nrow = 0;
  double rotation_deg = 0.0;  ///< normalised, CCW from east to I
  bool yflip = false;         ///< J runs clockwise from I when set

  /// Validating constructor. InvalidArgument when rotation_deg is not finite.
  [[nodiscard]] static Result<Lattice> make(double xori, double yori, double xinc, double yinc,
                                            std::uint64_t ncol, std::uint64_t nrow,
                                            double rotation_deg = 0.0, bool yflip = false);

  [[nodiscard]] std::array<std::array<double, 2>, 2> step_vectors() const;
  [[nodiscard]] std::pair<double, double> intrinsic_to_world(double fi, double fj) const;
  [[nodiscard]] std::pair<double, double> node_xy(std::uint64_t i, std::uint64_t j) const;
  /// Fractional (fi, fj), or none for zero spacing, non-finite input or result.
  [[nodiscard]] std::optional<std::pair<double, double>> world_to_intrinsic(double x, double y) const;
  [[nodiscard]] std::string repr() const;
};

/// The trigonometry of one lattice, computed once and reused for many nodes.
/// Evaluation orders are those of Lattice's transforms, bit for bit.
class LatticeFrame {
 public:
  explicit LatticeFrame(const Lattice& lat);

  [[nodiscard]] std::pair<double, double> to_world(double fi, double fj) const {
    const double x = (lat_.xori + fi * cx_) + sd_ * fj;
    const double y = (lat_.yori + fi * sx_) + cd_ * fj;
    return {x, y};
  }
  /// World to intrinsic without the checks on geometry; the caller handles those.
  [[nodiscard]] std::pair<double, double> to_intrinsic_raw(double x, double y) const {
    const double dx = x - lat_.xori;
    const double dy = y - lat_.yori;
    const double fi = (dy * s_ + dx * c_) / lat_.xinc;
    double g = dy * c_ - dx * s_;
    if (lat_.yflip) g = -g;
    return {fi, g / lat_.yinc};
  }
  [[nodiscard]] std::optional<std::pair<double, double>> to_intrinsic(double x, double y) const;
  [[nodiscard]] double sin() const { return s_; }
  [[nodiscard]] double cos() const { return c_; }

 private:
  Lattice lat_;
  double s_, c_, d_;
  double cx_, sx_, sd_, cd_;  // c*xinc, s*xinc, s*(-d), c*d
};

}  // namespace quarn
