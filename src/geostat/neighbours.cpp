#include "geostat/neighbours.hpp"

#include <algorithm>
#include <cmath>

namespace quarn::geostat {
namespace {

constexpr std::uint32_t kLeafSize = 8;
constexpr std::size_t kBufferSize = 32;

// True when p comes after q in the result order (d2, payload, insertion number).
inline bool later(const auto& p, const auto& q) {
  if (p.key != q.key) return p.key > q.key;
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
  if (!std::isfinite(qx) || !std::isfinite(qy)) return;  // no stored point can be in range
  const double r2 = radius * radius;
  const std::size_t k = max_count < count_ ? static_cast<std::size_t>(max_count) : count_;
  // Candidates under the total order (d2, payload, seq). Whenever 2k have gathered, the
  // k best are kept (nth_element) and the k-th d2 becomes the pruning limit; a point at
  // exactly that d2 is still taken since it may win on payload. The order is total, so
  // the k best are the same whatever the visiting order.
  std::vector<Item>& cand = heap_;
  cand.clear();
  const auto before = [](const Item& p, const Item& q) { return later(q, p); };
  const std::size_t keep_at = k > (std::size_t{1} << 40) ? k : std::max<std::size_t>(2 * k, 32);
  double limit = r2;
  const auto offer = [&](double d2, std::uint64_t payload, std::uint64_t seq) {
    cand.push_back({d2, payload, seq});
    if (cand.size() == k) {
      // Any k candidates bound the k-th best from above: prune with their largest d2.
      double worst = cand[0].key;
      for (const Item& c : cand) worst = std::max(worst, c.key);
      limit = std::min(limit, worst);
    }
    if (cand.size() >= keep_at) {
      std::nth_element(cand.begin(), cand.begin() + static_cast<std::ptrdiff_t>(k - 1), cand.end(), before);
      cand.resize(k);
      limit = std::min(limit, cand[k - 1].key);
    }
  };

  for (const Point& p : buffer_) {
    const double d2 = point_d2(p.x, p.y, qx, qy);
    if (d2 <= limit) offer(d2, p.payload, p.seq);
  }
  std::vector<Pending>& stack = stack_;
  for (const Tree& t : trees_) {
    stack.clear();
    const Node& root = t.nodes[0];
    stack.push_back({box_d2(root.minx, root.miny, root.maxx, root.maxy, qx, qy), 0});
    while (!stack.empty()) {
      const Pending pn = stack.back();
      stack.pop_back();
      if (pn.d2 > limit) continue;
      const Node& n = t.nodes[static_cast<std::size_t>(pn.node)];
      if (n.left < 0) {
        for (std::uint32_t i = n.begin; i < n.end; ++i) {
          const double d2 = point_d2(t.x[i], t.y[i], qx, qy);
          if (d2 <= limit) offer(d2, t.payload[i], t.seq[i]);
        }
        continue;
      }
      const Node& l = t.nodes[static_cast<std::size_t>(n.left)];
      const Node& r = t.nodes[static_cast<std::size_t>(n.right)];
      const double dl = box_d2(l.minx, l.miny, l.maxx, l.maxy, qx, qy);
      const double dr = box_d2(r.minx, r.miny, r.maxx, r.maxy, qx, qy);
      // Push the farther child first so the nearer one is searched first.
      if (dl <= dr) {
        stack.push_back({dr, n.right});
        stack.push_back({dl, n.left});
      } else {
        stack.push_back({dl, n.left});
        stack.push_back({dr, n.right});
      }
    }
  }
  std::sort(cand.begin(), cand.end(), before);
  if (cand.size() > k) cand.resize(k);
  out.reserve(cand.size());
  for (const Item& it : cand) out.push_back({it.a, std::sqrt(it.key)});
}

}  // namespace quarn::geostat
