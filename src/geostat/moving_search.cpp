#include "geostat/moving_search.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <utility>

namespace quarn::geostat {
namespace {

__extension__ using Key = unsigned __int128;

// Relative margin on computed distances: far above their rounding error (a few ulp), so
// a datum the margin excludes is farther in exact and in computed arithmetic alike.
constexpr double kMargin = 1e-9;
// The list reaches this many times the k-th distance, so that a few steps of the target
// stay inside it.
constexpr double kReach = 1.5;

}  // namespace

MovingSearch::MovingSearch(const NeighbourIndex& index, std::span<const double> x, std::span<const double> y)
    : index_(index), x_(x), y_(y) {
  // Sized once for the lists a run normally sees, so that nodes do not allocate.
  const std::size_t most = std::min<std::size_t>(index.size(), 4096);
  list_.reserve(most);
  split_.reserve(most);
  scratch_.reserve(most);
  build_buckets();
}

void MovingSearch::build_buckets() {
  const std::size_t n = x_.size();
  if (n == 0 || n > std::numeric_limits<std::uint32_t>::max()) return;
  double minx = x_[0], maxx = x_[0], miny = y_[0], maxy = y_[0];
  for (std::size_t i = 1; i < n; ++i) {
    minx = std::min(minx, x_[i]);
    maxx = std::max(maxx, x_[i]);
    miny = std::min(miny, y_[i]);
    maxy = std::max(maxy, y_[i]);
  }
  const double wx = maxx - minx, wy = maxy - miny;
  // About one point per cell over the data's box (a thin box gets cells of its length
  // over n); no grid for a single location or spans beyond double range.
  const double per_cell = std::max(std::sqrt(wx * wy / static_cast<double>(n)), std::max(wx, wy) / static_cast<double>(n));
  if (!std::isfinite(wx) || !std::isfinite(wy) || !std::isfinite(per_cell) || !(per_cell > 0.0)) return;
  const double fx = std::floor(wx / per_cell) + 1.0, fy = std::floor(wy / per_cell) + 1.0;
  if (!(fx * fy <= 4.0 * static_cast<double>(n) + 16.0)) return;
  Buckets& b = buckets_;
  b.x0 = minx;
  b.y0 = miny;
  b.size = per_cell;
  b.nx = static_cast<std::size_t>(fx);
  b.ny = static_cast<std::size_t>(fy);
  std::vector<std::uint32_t> cell(n);
  b.start.assign(b.nx * b.ny + 1, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t cx = std::min(b.nx - 1, static_cast<std::size_t>((x_[i] - minx) / per_cell));
    const std::size_t cy = std::min(b.ny - 1, static_cast<std::size_t>((y_[i] - miny) / per_cell));
    cell[i] = static_cast<std::uint32_t>(cy * b.nx + cx);
    ++b.start[cell[i] + 1];
  }
  for (std::size_t c = 0; c < b.nx * b.ny; ++c) b.start[c + 1] += b.start[c];
  std::vector<std::uint32_t> fill(b.start.begin(), b.start.end() - 1);
  b.x.resize(n);
  b.y.resize(n);
  b.payload.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t at = fill[cell[i]]++;
    b.x[at] = x_[i];
    b.y[at] = y_[i];
    b.payload[at] = i;
  }
}

bool MovingSearch::gather(double qx, double qy, double list_radius, std::size_t most) {
  const Buckets& b = buckets_;
  if (b.nx == 0) return false;
  // Cells are taken one wider on every side than the circle needs, which covers the
  // rounding of any point's cell: a point within the radius is never missed.
  const auto clamp_cell = [](double c, std::size_t count) {
    return c <= 0.0 ? std::size_t{0} : c >= static_cast<double>(count - 1) ? count - 1 : static_cast<std::size_t>(c);
  };
  const double h = b.size;
  const std::size_t cy0 = clamp_cell(std::floor((qy - list_radius - b.y0) / h) - 1.0, b.ny);
  const std::size_t cy1 = clamp_cell(std::floor((qy + list_radius - b.y0) / h) + 1.0, b.ny);
  // The circle's chord over a row of cells, from the row's nearest edge less half a cell
  // (rounding again): the points of cells [cx0, cx1] of that row.
  const auto row_points = [&](std::size_t cy) {
    const double lo = b.y0 + static_cast<double>(cy) * h, hi = lo + h;
    const double gap = std::max(0.0, std::max(lo - qy, qy - hi) - 0.5 * h);
    const double half = gap < list_radius ? std::sqrt(list_radius * list_radius - gap * gap) : 0.0;
    const std::size_t cx0 = clamp_cell(std::floor((qx - half - b.x0) / h) - 1.0, b.nx);
    const std::size_t cx1 = clamp_cell(std::floor((qx + half - b.x0) / h) + 1.0, b.nx);
    return std::pair{b.start[cy * b.nx + cx0], b.start[cy * b.nx + cx1 + 1]};
  };
  std::size_t total = 0;
  for (std::size_t cy = cy0; cy <= cy1; ++cy) {
    const auto [begin, end] = row_points(cy);
    total += end - begin;
  }
  if (total > most) return false;
  const double lr2 = list_radius * list_radius;
  list_.clear();
  for (std::size_t cy = cy0; cy <= cy1; ++cy) {
    const auto [begin, end] = row_points(cy);
    for (std::uint32_t i = begin; i < end; ++i) {
      const double dx = b.x[i] - qx, dy = b.y[i] - qy;
      const double d2 = dx * dx + dy * dy;
      if (!(lr2 < d2)) list_.push_back({d2, b.payload[i]});
    }
  }
  return true;
}

void MovingSearch::rebuild(double qx, double qy, double list_radius, std::size_t want) {
  // The index's radius query (d2 <= list_radius^2) as one set, in the buckets' order.
  if (gather(qx, qy, list_radius, std::max<std::size_t>(1024, 64 * want))) {
    sorted_ = false;
  } else {
    index_.nearest_within(qx, qy, std::numeric_limits<std::uint64_t>::max(), list_radius, scratch_);
    list_.clear();
    for (const Neighbour& nb : scratch_) list_.push_back({0.0, nb.payload});
  }
  cx_ = qx;
  cy_ = qy;
  list_radius_ = list_radius;
}

void MovingSearch::nearest_within(double qx, double qy, std::uint64_t max_count, double radius,
                                  std::vector<Neighbour>& out) {
  out.clear();
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(max_count, index_.size()));
  if (want == 0 || !(radius >= 0.0)) return;
  const double r2 = radius * radius;
  // A list around the target reaching past the last k-th distance; the whole radius
  // when there is none to go by (or when that did not do).
  const auto reach = [&](double times) { return kth_ >= 0.0 ? std::min(radius, kth_ * times) : radius; };
  if (list_radius_ < 0.0) rebuild(qx, qy, reach(kReach), want);
  for (int attempt = 0;; ++attempt) {
    const double sx = qx - cx_, sy = qy - cy_;
    const double shift = std::sqrt(sx * sx + sy * sy);
    // The list in the target's order: (d2, payload), as the index orders its answers.
    for (Entry& e : list_) {
      const double dx = x_[e.payload] - qx, dy = y_[e.payload] - qy;
      e.d2 = dx * dx + dy * dy;
    }
    // Only entries that can be among the k best need sorting. The last answer's k data
    // lie within (its k-th distance + the step) of this target, so with at least k
    // entries within that bound the k best are among them; the rest go to the back, in
    // any order. Either way the sorted front is exact: the bound only saves work.
    std::size_t front = list_.size();
    if (kth_ >= 0.0) {
      const double px = qx - prev_x_, py = qy - prev_y_;
      const double bound = (kth_ + std::sqrt(px * px + py * py)) * (1.0 + kMargin);
      const double near2 = std::min(r2, bound * bound);
      const std::size_t n = list_.size();
      split_.resize(n);
      std::size_t nf = 0, nb = 0;
      for (const Entry& e : list_) {
        const bool is_near = !(near2 < e.d2);
        split_[is_near ? nf : n - 1 - nb] = e;
        nf += is_near;
        nb += !is_near;
      }
      if (nf >= want) {
        list_.swap(split_);
        front = nf;
      }
    }
    // (d2, payload) as one integer: d2 is never negative (nor -0.0), and the bits of
    // non-negative doubles order as their values, infinity included.
    const auto key = [](const Entry& e) {
      return static_cast<Key>(std::bit_cast<std::uint64_t>(e.d2)) << 64 | e.payload;
    };
    const auto before = [&](const Entry& p, const Entry& q) { return key(p) < key(q); };
    if (!sorted_) {
      std::sort(list_.begin(), list_.begin() + static_cast<std::ptrdiff_t>(front), before);
      sorted_ = true;
    }
    for (std::size_t i = 1; i < front; ++i) {
      const Entry e = list_[i];
      const auto ke = key(e);
      std::size_t k = i;
      for (; k > 0 && ke < key(list_[k - 1]); --k)
        list_[k] = list_[k - 1];
      list_[k] = e;
    }
    std::size_t inside = 0;  // entries within the radius: a prefix of the sorted front
    while (inside < front && !(r2 < list_[inside].d2)) ++inside;
    // Taken around this very target with the whole radius, the list is the index's whole
    // answer. Otherwise every datum off the list is farther from the centre than
    // list_radius_, so farther from the target than list_radius_ - shift: beyond the
    // k-th when that is larger.
    bool settled = shift == 0.0 && list_radius_ == radius;
    if (!settled && inside >= want) {
      const double kth = std::sqrt(list_[want - 1].d2);
      settled = (kth + shift) * (1.0 + kMargin) < list_radius_ * (1.0 - kMargin);
    }
    if (!settled) {
      rebuild(qx, qy, attempt == 0 ? reach(kReach) : attempt == 1 ? reach(2.0 * kReach) : radius, want);
      continue;
    }
    const std::size_t kept = std::min(inside, want);
    out.resize(kept);
    for (std::size_t i = 0; i < kept; ++i) out[i] = {list_[i].payload, std::sqrt(list_[i].d2)};
    kth_ = kept == want ? out.back().distance : -1.0;
    prev_x_ = qx;
    prev_y_ = qy;
    // A list far wider than the answer needs makes every later target slow: take a
    // fitting one at the next target.
    if (kth_ < 0.0 || list_radius_ > 2.0 * kReach * kth_) list_radius_ = -1.0;
    return;
  }
}

}  // namespace quarn::geostat
