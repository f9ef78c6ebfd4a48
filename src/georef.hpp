// src/georef.hpp: a world-frame origin for placing synthetic assets.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "error.hpp"
#include "lattice.hpp"

namespace quarn {

using Point = std::pair<double, double>;

struct Georef {
  static constexpr double kDefaultEast = 431000.0;
  static constexpr double kDefaultNorth = 6521000.0;

  double east0 = kDefaultEast;
  double north0 = kDefaultNorth;

  /// InvalidArgument unless both coordinates are finite.
  [[nodiscard]] static Result<Georef> make(double east0, double north0);

  [[nodiscard]] Result<Lattice> lattice(double xinc, double yinc, std::uint64_t ncol, std::uint64_t nrow,
                                        double rotation_deg, bool yflip) const;
  [[nodiscard]] Point place_point(Point local) const;
  [[nodiscard]] std::vector<Point> place_points(const std::vector<Point>& locals) const;
  /// Unit-spacing rotated (and optionally flipped) frame anchored at the origin.
  [[nodiscard]] Result<Point> place_intrinsic(Point uv, double rotation_deg, bool yflip) const;
  [[nodiscard]] std::string repr() const;
};

}  // namespace quarn
