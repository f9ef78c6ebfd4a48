#include "synth/wells/placement.hpp"

#include <cmath>
#include <limits>

#include "format.hpp"
#include "sampling/stream.hpp"

namespace quarn::synth::wells {
namespace {

Status check_count(const char* op, std::uint64_t n) {
  if (n > std::vector<Point>().max_size())
    return invalid_argument(std::string(op) + ": n = " + fmt::num(n) + " wells cannot be allocated");
  return ok_status();
}

}  // namespace

Result<std::vector<Point>> place_wells(double xmin, double ymin, double xmax, double ymax, std::uint64_t n,
                                       std::uint64_t seed) {
  if (!(std::isfinite(xmin) && std::isfinite(xmax) && std::isfinite(ymin) && std::isfinite(ymax) && xmin < xmax &&
        ymin < ymax))
    return invalid_argument("place_wells: need a non-degenerate finite extent");
  // Finite bounds can still be further apart than the largest double: no draw could be made.
  if (!std::isfinite(xmax - xmin) || !std::isfinite(ymax - ymin))
    return invalid_argument("place_wells: extent width or height overflows to infinity");
  QUARN_TRY(ok, check_count("place_wells", n));
  (void)ok;
  std::vector<Point> out;
  out.reserve(static_cast<std::size_t>(n));
  sampling::Stream s = sampling::seeded_rng(seed);
  for (std::uint64_t k = 0; k < n; ++k) {
    const double x = s.draw_range(xmin, xmax);
    const double y = s.draw_range(ymin, ymax);
    out.emplace_back(x, y);
  }
  return out;
}

bool inside_polygon(std::span<const Point> polygon, double x, double y) {
  bool inside = false;
  const std::size_t count = polygon.size();
  for (std::size_t i = 0, j = count - 1; i < count; j = i++) {
    const auto [xi, yi] = polygon[i];
    const auto [xj, yj] = polygon[j];
    if ((y < yi) != (y < yj)) {
      const double xs = (y - yi) * (xj - xi) / (yj - yi) + xi;
      if (x < xs) inside = !inside;
    }
  }
  return inside;
}

Result<std::vector<Point>> place_wells_in_polygon(std::span<const Point> polygon, std::uint64_t n,
                                                  std::uint64_t seed) {
  if (polygon.size() < 3) return invalid_argument("place_wells_in_polygon: polygon needs >= 3 vertices");
  constexpr double kInf = std::numeric_limits<double>::infinity();
  double bx0 = kInf, bx1 = -kInf, by0 = kInf, by1 = -kInf;
  for (const auto& [x, y] : polygon) {  // comparisons skip NaN coordinates
    if (x < bx0) bx0 = x;
    if (x > bx1) bx1 = x;
    if (y < by0) by0 = y;
    if (y > by1) by1 = y;
  }
  if (!(std::isfinite(bx0) && std::isfinite(bx1) && std::isfinite(by0) && std::isfinite(by1)) || bx0 >= bx1 ||
      by0 >= by1)
    return invalid_argument("place_wells_in_polygon: polygon bounding box is degenerate");
  if (!std::isfinite(bx1 - bx0) || !std::isfinite(by1 - by0))
    return invalid_argument("place_wells_in_polygon: polygon bounding box width or height overflows to infinity");
  QUARN_TRY(ok, check_count("place_wells_in_polygon", n));
  (void)ok;

  constexpr std::uint64_t kMinAttempts = 10000;
  const std::uint64_t scaled =
      n > std::numeric_limits<std::uint64_t>::max() / kMinAttempts ? std::numeric_limits<std::uint64_t>::max()
                                                                   : n * kMinAttempts;
  const std::uint64_t cap = scaled > kMinAttempts ? scaled : kMinAttempts;

  std::vector<Point> out;
  out.reserve(static_cast<std::size_t>(n));
  sampling::Stream s = sampling::seeded_rng(seed);
  std::uint64_t attempts = 0;
  while (out.size() < n) {
    if (attempts >= cap)
      return invalid_argument("place_wells_in_polygon: could not place all wells (polygon area too small?)");
    const double x = s.draw_range(bx0, bx1);
    const double y = s.draw_range(by0, by1);
    ++attempts;
    if (inside_polygon(polygon, x, y)) out.emplace_back(x, y);
  }
  return out;
}

}  // namespace quarn::synth::wells
