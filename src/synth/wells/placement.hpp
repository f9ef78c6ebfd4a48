// src/synth/wells/placement.hpp: seeded uniform well-head placement in a rectangle
// or, by rejection sampling, inside a polygon.
#pragma once
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "error.hpp"

namespace quarn::synth::wells {

using Point = std::pair<double, double>;

/// `n` points uniform in [xmin, xmax) x [ymin, ymax), x drawn before y, from seeded_rng(seed).
/// Errors (InvalidArgument): a non-finite or empty extent; an extent whose width or height
/// overflows to infinity; an `n` that cannot be allocated.
[[nodiscard]] Result<std::vector<Point>> place_wells(double xmin, double ymin, double xmax, double ymax,
                                                     std::uint64_t n, std::uint64_t seed);

/// `n` points inside `polygon` (implicitly closed, even-odd rule) by rejection from its
/// bounding box, at most max(10000, n * 10000) attempts. Errors (InvalidArgument), in
/// order: fewer than 3 vertices; a degenerate or non-finite bounding box; a box whose
/// width or height overflows; the attempt cap reached (no points are returned).
[[nodiscard]] Result<std::vector<Point>> place_wells_in_polygon(std::span<const Point> polygon, std::uint64_t n,
                                                                std::uint64_t seed);

/// Even-odd crossing test with the strict comparisons of the placement.
[[nodiscard]] bool inside_polygon(std::span<const Point> polygon, double x, double y);

}  // namespace quarn::synth::wells
