// src/synth/outline.hpp: the closing contour of a surface and the study-area ring.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "error.hpp"
#include "field.hpp"
#include "lattice.hpp"

namespace quarn::synth {

using Point = std::pair<double, double>;

/// The largest closed ring of the contour at `spill_depth` (marching squares over the
/// lattice cells, corners above the level when level < value), as world points in
/// traversal order without repeating the first; empty when no ring closes.
/// InvalidArgument when the field does not match the lattice or the lattice is
/// smaller than 2x2.
[[nodiscard]] Result<std::vector<Point>> closure_outline(const Field& surface, const Lattice& lattice,
                                                         double spill_depth);

/// Counter-clockwise rectangle ring, corners optionally rounded by arcs of
/// `arc_steps` segments. Fails only when `arc_steps` asks for more points than
/// memory can address (InvalidArgument).
[[nodiscard]] Result<std::vector<Point>> study_area_outline(double xmin, double ymin, double xmax, double ymax,
                                                            double corner_radius, std::uint64_t arc_steps);

}  // namespace quarn::synth
