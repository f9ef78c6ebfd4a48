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

  // Every intermediate of a node position is bounded by `mag`; positions, their
  // differences and d2 then carry errors far below 1024 ulp of mag + radius.
  const double mag = std::fabs(lat.xori) + std::fabs(lat.yori) + static_cast<double>(lat.ncol) * ax +
                     static_cast<double>(lat.nrow) * ay;
  if (!std::isfinite(mag)) return std::nullopt;
  const double slack = (mag + radius) * 0x1p-42;
  const double reach = radius + slack;

  const double imax_f = std::min(std::floor(reach / ax), static_cast<double>(lat.ncol - 1));
  const double jmax_f = std::min(std::floor(reach / ay), static_cast<double>(lat.nrow - 1));
  const auto imax = static_cast<std::int64_t>(imax_f), jmax = static_cast<std::int64_t>(jmax_f);
  // The template must stay small next to the lattice (a radius spanning the whole
  // lattice would give up to 4x the node count): beyond that the tree serves.
  const double box = (2.0 * imax_f + 1.0) * (2.0 * jmax_f + 1.0);
  if (box > std::min(std::max(static_cast<double>(nodes), 65536.0), 4194304.0)) return std::nullopt;

  NodeSearch s(lat);
  s.ncol_ = lat.ncol;
  s.nrow_ = lat.nrow;
  s.r2_ = radius * radius;
  s.slack_ = slack;
  for (std::int64_t dj = -jmax; dj <= jmax; ++dj)
    for (std::int64_t di = -imax; di <= imax; ++di) {
      const double ex = static_cast<double>(di) * ax, ey = static_cast<double>(dj) * ay;
      const double dist = std::sqrt(ex * ex + ey * ey);
      if (dist <= reach) s.template_.push_back({dist, di, dj});
    }
  std::stable_sort(s.template_.begin(), s.template_.end(),
                   [](const Offset& a, const Offset& b) { return a.dist < b.dist; });
  s.payload_.assign(nodes, kNone);
  return s;
}

void NodeSearch::nearest_within(std::size_t col, std::size_t row, double x0, double y0, std::uint64_t max_count,
                                std::vector<Hit>& out) {
  out.clear();
  heap_.clear();
  if (max_count == 0) return;
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
  std::sort_heap(heap_.begin(), heap_.end());
  for (const Cand& c : heap_) out.push_back({c.payload, c.x, c.y});
}

}  // namespace quarn::geostat::sgs_detail
