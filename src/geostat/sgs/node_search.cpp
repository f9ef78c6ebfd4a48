#include "geostat/sgs/node_search.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

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
      if (dist <= cut) s.template_.push_back({dist, di, dj, di * static_cast<std::int64_t>(lat.nrow) + dj});
    }
  std::stable_sort(s.template_.begin(), s.template_.end(),
                   [](const Offset& a, const Offset& b) { return a.dist < b.dist; });
  for (std::size_t a = 0, b = 0; a < s.template_.size(); ++a) {
    b = std::max(b, a + 1);
    while (b < s.template_.size() && s.template_[b].dist <= s.template_[a].dist + 2.0 * slack) ++b;
    s.ring_ = std::max(s.ring_, b - a - 1);
  }
  s.payload_.assign(nodes, kNone);
  return s;
}

bool NodeSearch::nearest_within(std::size_t col, std::size_t row, double x0, double y0, std::uint64_t max_count,
                                std::vector<Hit>& out) {
  out.clear();
  cand_.clear();
  if (max_count == 0) return true;
  const auto ci = static_cast<std::int64_t>(col), cj = static_cast<std::int64_t>(row);
  const auto base = static_cast<std::int64_t>(col * nrow_ + row);
  // Offsets come by ideal distance and a computed distance strays from the ideal one by
  // at most slack_. Once k points are collected, the k-th of them lies within (its ideal
  // distance + slack_), so a point whose ideal distance exceeds that by another slack_
  // is strictly farther than the k best: the walk stops there.
  double stop = std::numeric_limits<double>::infinity();
  // At most max_count points and the offsets tied with the last of them are collected:
  // sized once, so queries do not allocate.
  const std::size_t most = static_cast<std::size_t>(std::min<std::uint64_t>(max_count, template_.size())) + ring_;
  if (cand_.capacity() < most) cand_.reserve(most);
  for (const Offset& t : template_) {
    if (t.dist > stop) break;
    if (static_cast<std::uint64_t>(ci + t.di) >= ncol_ || static_cast<std::uint64_t>(cj + t.dj) >= nrow_) continue;
    const std::uint32_t p = payload_[static_cast<std::size_t>(base + t.delta)];
    if (p == kNone) continue;
    const auto [x, y] = frame_.to_world(static_cast<double>(ci + t.di), static_cast<double>(cj + t.dj));
    const double d2 = (x - x0) * (x - x0) + (y - y0) * (y - y0);
    if (r2_ < d2) continue;
    cand_.push_back({d2, p, x, y});
    if (cand_.size() == max_count) stop = t.dist + 2.0 * slack_;
  }
  // Collected nearly in order: an insertion sort by (d2, payload) is short.
  for (std::size_t i = 1; i < cand_.size(); ++i) {
    const Cand c = cand_[i];
    std::size_t k = i;
    for (; k > 0 && c < cand_[k - 1]; --k) cand_[k] = cand_[k - 1];
    cand_[k] = c;
  }
  const std::size_t kept = cand_.size() < max_count ? cand_.size() : static_cast<std::size_t>(max_count);
  // A cut template settles the query only when every point beyond it is farther than
  // the worst one kept.
  if (!complete_ && !(kept == max_count && std::sqrt(cand_[kept - 1].d2) + slack_ < cut_)) return false;
  for (std::size_t i = 0; i < kept; ++i) out.push_back({cand_[i].payload, cand_[i].x, cand_[i].y});
  return true;
}

}  // namespace quarn::geostat::sgs_detail
