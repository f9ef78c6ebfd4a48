#include "geostat/sgs/node_search.hpp"

#include <algorithm>
#include <cmath>

namespace quarn::geostat::sgs_detail {

std::optional<NodeSearch> NodeSearch::make(const Lattice& lat, double radius) {
  const double ax = std::fabs(lat.xinc), ay = std::fabs(lat.yinc);
  if (!(ax > 0.0) || !(ay > 0.0) || !std::isfinite(ax) || !std::isfinite(ay) || !std::isfinite(lat.xori) ||
      !std::isfinite(lat.yori) || !std::isfinite(radius) || !(radius > 0.0))
    return std::nullopt;
  std::uint64_t nodes = 0;
  if (__builtin_mul_overflow(lat.ncol, lat.nrow, &nodes) || nodes == 0 || nodes >= kNone) return std::nullopt;

  // Every intermediate of a node position, and every distance between nodes, is bounded
  // by `mag`; computed distances then stray from the ideal ones by far less than 4096 ulp
  // of it.
  const double mag = std::fabs(lat.xori) + std::fabs(lat.yori) + static_cast<double>(lat.ncol) * ax +
                     static_cast<double>(lat.nrow) * ay;
  // Squared distances must stay normal and finite: an underflowing or overflowing d2
  // no longer orders the points as their ideal distances do.
  if (!std::isfinite(mag) || mag > 0x1p480 || std::min(ax, ay) < 0x1p-480) return std::nullopt;
  const double slack = mag * 0x1p-40;
  const double reach = radius + slack;

  // The template stays small next to the lattice (a radius spanning the whole lattice
  // would give up to 4x the node count): a larger reach is cut back, and queries the
  // cut template cannot settle are left to the caller's general index.
  const double cap = std::min(std::max(static_cast<double>(nodes), 65536.0), 4194304.0);
  auto extent = [&](double r, double inc, std::uint64_t n) {
    return std::min(std::floor(r / inc), static_cast<double>(n - 1));
  };
  double cut = reach;
  while ((2.0 * extent(cut, ax, lat.ncol) + 1.0) * (2.0 * extent(cut, ay, lat.nrow) + 1.0) > cap) cut *= 0.75;
  const auto imax = static_cast<std::int64_t>(extent(cut, ax, lat.ncol));
  const auto jmax = static_cast<std::int64_t>(extent(cut, ay, lat.nrow));

  NodeSearch s(lat);
  s.ncol_ = lat.ncol;
  s.nrow_ = lat.nrow;
  s.r2_ = radius * radius;
  s.slack_ = slack;
  s.cut_ = cut;
  s.complete_ = cut == reach;
  for (std::int64_t dj = -jmax; dj <= jmax; ++dj)
    for (std::int64_t di = -imax; di <= imax; ++di) {
      const double ex = static_cast<double>(di) * ax, ey = static_cast<double>(dj) * ay;
      const double dist = std::sqrt(ex * ex + ey * ey);
      if (dist <= cut) s.template_.push_back({dist, di, dj});
    }
  std::stable_sort(s.template_.begin(), s.template_.end(),
                   [](const Offset& a, const Offset& b) { return a.dist < b.dist; });
  s.payload_.assign(nodes, kNone);
  return s;
}

bool NodeSearch::nearest_within(std::size_t col, std::size_t row, double x0, double y0, std::uint64_t max_count,
                                std::vector<Hit>& out) {
  out.clear();
  heap_.clear();
  if (max_count == 0) return true;
  const auto ci = static_cast<std::int64_t>(col), cj = static_cast<std::int64_t>(row);
  const auto nc = static_cast<std::int64_t>(ncol_), nr = static_cast<std::int64_t>(nrow_);
  double kth = 0.0;  // distance of the worst kept candidate once the heap is full
  for (const Offset& t : template_) {
    if (heap_.size() == max_count && t.dist > kth + slack_) break;
    const std::int64_t i = ci + t.di, j = cj + t.dj;
    if (i < 0 || i >= nc || j < 0 || j >= nr) continue;
    const std::uint32_t p = payload_[static_cast<std::size_t>(i * nr + j)];
    if (p == kNone) continue;
    const auto [x, y] = frame_.to_world(static_cast<double>(i), static_cast<double>(j));
    const double d2 = (x - x0) * (x - x0) + (y - y0) * (y - y0);
    if (r2_ < d2) continue;
    const Cand c{d2, p, x, y};
    if (heap_.size() < max_count) {
      heap_.push_back(c);
      std::push_heap(heap_.begin(), heap_.end());
    } else if (c < heap_.front()) {
      std::pop_heap(heap_.begin(), heap_.end());
      heap_.back() = c;
      std::push_heap(heap_.begin(), heap_.end());
    } else {
      continue;
    }
    if (heap_.size() == max_count) kth = std::sqrt(heap_.front().d2);
  }
  // A cut template settles the query only when every point beyond it is farther than
  // the worst one kept.
  if (!complete_ && !(heap_.size() == max_count && kth + slack_ < cut_)) return false;
  std::sort_heap(heap_.begin(), heap_.end());
  for (const Cand& c : heap_) out.push_back({c.payload, c.x, c.y});
  return true;
}

}  // namespace quarn::geostat::sgs_detail
