#include "geostat/neighbours.hpp"

#include <algorithm>
#include <cmath>

namespace quarn::geostat {
namespace {

constexpr std::uint32_t kLeafSize = 8;
constexpr std::size_t kBufferSize = 32;

// True when p leaves the queue after q: by key, boxes before points at an equal key
// (so every point at that distance is queued before any of them is taken), then points
// by (payload, seq) and boxes by (tree, node).
inline bool later(const auto& p, const auto& q) {
  if (p.key != q.key) return p.key > q.key;
  if (p.point != q.point) return p.point;
  if (p.a != q.a) return p.a > q.a;
  return p.b > q.b;
}

// Lower bound of the exact d2 of any point in the box: rounding is monotonic, so
// (minx - qx)^2 never exceeds (x - qx)^2 for x >= minx > qx, and likewise on each side.
inline double box_d2(double minx, double miny, double maxx, double maxy, double qx, double qy) {
  const double dx = qx < minx ? minx - qx : (qx > maxx ? qx - maxx : 0.0);
  const double dy = qy < miny ? miny - qy : (qy > maxy ? qy - maxy : 0.0);
  return dx * dx + dy * dy;
}

inline double point_d2(double x, double y, double qx, double qy) {
  const double dx = x - qx;
  const double dy = y - qy;
  return dx * dx + dy * dy;
}

}  // namespace

NeighbourIndex NeighbourIndex::build(std::span<const IndexEntry> entries) {
  NeighbourIndex idx;
  std::vector<Point> pts;
  pts.reserve(entries.size());
  for (const IndexEntry& e : entries) {
    const std::uint64_t seq = idx.next_seq_++;
    if (std::isfinite(e.x) && std::isfinite(e.y)) pts.push_back({e.x, e.y, e.payload, seq});
  }
  idx.count_ = pts.size();
  if (!pts.empty()) idx.trees_.push_back(make_tree(pts));
  return idx;
}

void NeighbourIndex::insert(double x, double y, std::uint64_t payload) {
  const std::uint64_t seq = next_seq_++;
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  buffer_.push_back({x, y, payload, seq});
  ++count_;
  if (buffer_.size() >= kBufferSize) flush_buffer();
}

void NeighbourIndex::flush_buffer() {
  std::vector<Point> pts = std::move(buffer_);
  buffer_.clear();
  buffer_.reserve(kBufferSize);
  while (!trees_.empty() && trees_.back().size() <= pts.size()) {
    const Tree& t = trees_.back();
    for (std::size_t i = 0; i < t.size(); ++i) pts.push_back({t.x[i], t.y[i], t.payload[i], t.seq[i]});
    trees_.pop_back();
  }
  trees_.push_back(make_tree(pts));
}

NeighbourIndex::Tree NeighbourIndex::make_tree(std::vector<Point>& pts) {
  Tree t;
  t.nodes.reserve(2 * (pts.size() / kLeafSize + 1));
  build_node(t, pts, 0, static_cast<std::uint32_t>(pts.size()));
  t.x.reserve(pts.size());
  t.y.reserve(pts.size());
  t.payload.reserve(pts.size());
  t.seq.reserve(pts.size());
  for (const Point& p : pts) {
    t.x.push_back(p.x);
    t.y.push_back(p.y);
    t.payload.push_back(p.payload);
    t.seq.push_back(p.seq);
  }
  return t;
}

std::int32_t NeighbourIndex::build_node(Tree& t, std::vector<Point>& pts, std::uint32_t begin, std::uint32_t end) {
  Node n{pts[begin].x, pts[begin].y, pts[begin].x, pts[begin].y, begin, end, -1, -1};
  for (std::uint32_t i = begin + 1; i < end; ++i) {
    n.minx = std::min(n.minx, pts[i].x);
    n.maxx = std::max(n.maxx, pts[i].x);
    n.miny = std::min(n.miny, pts[i].y);
    n.maxy = std::max(n.maxy, pts[i].y);
  }
  const auto id = static_cast<std::int32_t>(t.nodes.size());
  t.nodes.push_back(n);
  if (end - begin <= kLeafSize) return id;
  const std::uint32_t mid = begin + (end - begin) / 2;
  const bool along_x = (n.maxx - n.minx) >= (n.maxy - n.miny);
  std::nth_element(pts.begin() + begin, pts.begin() + mid, pts.begin() + end,
                   [along_x](const Point& p, const Point& q) {
                     const double a = along_x ? p.x : p.y, b = along_x ? q.x : q.y;
                     return a < b || (a == b && p.seq < q.seq);
                   });
  const std::int32_t l = build_node(t, pts, begin, mid);
  const std::int32_t r = build_node(t, pts, mid, end);
  t.nodes[static_cast<std::size_t>(id)].left = l;
  t.nodes[static_cast<std::size_t>(id)].right = r;
  return id;
}

void NeighbourIndex::nearest_within(double qx, double qy, std::uint64_t max_count, double radius,
                                    std::vector<Neighbour>& out) const {
  out.clear();
  if (max_count == 0 || count_ == 0 || !(radius >= 0.0)) return;
  const double r2 = radius * radius;
  std::vector<Item>& heap = heap_;
  heap.clear();
  auto push = [&heap](const Item& it) {
    heap.push_back(it);
    std::push_heap(heap.begin(), heap.end(), [](const Item& p, const Item& q) { return later(p, q); });
  };
  for (std::size_t ti = 0; ti < trees_.size(); ++ti) {
    const Node& root = trees_[ti].nodes[0];
    const double d2 = box_d2(root.minx, root.miny, root.maxx, root.maxy, qx, qy);
    if (d2 <= r2) push({d2, ti, 0, false});
  }
  for (const Point& p : buffer_) {
    const double d2 = point_d2(p.x, p.y, qx, qy);
    if (d2 <= r2) push({d2, p.payload, p.seq, true});
  }
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), [](const Item& p, const Item& q) { return later(p, q); });
    const Item it = heap.back();
    heap.pop_back();
    if (it.point) {
      out.push_back({it.a, std::sqrt(it.key)});
      if (out.size() >= max_count) return;
      continue;
    }
    const Tree& t = trees_[it.a];
    const Node& n = t.nodes[it.b];
    if (n.left < 0) {
      for (std::uint32_t i = n.begin; i < n.end; ++i) {
        const double d2 = point_d2(t.x[i], t.y[i], qx, qy);
        if (d2 <= r2) push({d2, t.payload[i], t.seq[i], true});
      }
      continue;
    }
    for (const std::int32_t c : {n.left, n.right}) {
      const Node& ch = t.nodes[static_cast<std::size_t>(c)];
      const double d2 = box_d2(ch.minx, ch.miny, ch.maxx, ch.maxy, qx, qy);
      if (d2 <= r2) push({d2, it.a, static_cast<std::uint64_t>(c), false});
    }
  }
}

}  // namespace quarn::geostat
