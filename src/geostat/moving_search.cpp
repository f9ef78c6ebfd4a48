#include "geostat/moving_search.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarn::geostat {
namespace {

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
}

void MovingSearch::rebuild(double qx, double qy, double list_radius) {
  index_.nearest_within(qx, qy, std::numeric_limits<std::uint64_t>::max(), list_radius, scratch_);
  list_.clear();
  for (const Neighbour& nb : scratch_) list_.push_back({0.0, nb.payload});
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
  if (list_radius_ < 0.0) rebuild(qx, qy, reach(kReach));
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
    for (std::size_t i = 1; i < front; ++i) {
      const Entry e = list_[i];
      std::size_t k = i;
      for (; k > 0 && (e.d2 < list_[k - 1].d2 || (e.d2 == list_[k - 1].d2 && e.payload < list_[k - 1].payload)); --k)
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
      rebuild(qx, qy, attempt == 0 ? reach(kReach) : attempt == 1 ? reach(2.0 * kReach) : radius);
      continue;
    }
    const std::size_t kept = std::min(inside, want);
    for (std::size_t i = 0; i < kept; ++i) out.push_back({list_[i].payload, std::sqrt(list_[i].d2)});
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
