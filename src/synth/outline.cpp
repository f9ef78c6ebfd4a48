#include "synth/outline.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <unordered_map>

namespace quarn::synth {
namespace {

constexpr double kTiny = 2.2250738585072014e-308;  // smallest normal double

// round(v * 1e6) as a signed 64-bit key: halves away from zero, NaN to 0, saturating.
std::int64_t key_coord(double v) {
  const double r = std::round(v * 1e6);
  if (std::isnan(r)) return 0;
  if (r >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (r < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(r);
}

struct Key {
  std::int64_t x, y;
  bool operator==(const Key&) const = default;
};

struct KeyHash {
  std::size_t operator()(const Key& k) const noexcept {
    // SplitMix-style mixing; ids come from first appearance, so the hash never shows.
    std::uint64_t h = static_cast<std::uint64_t>(k.x) * 0x9E3779B97F4A7C15ULL;
    h ^= static_cast<std::uint64_t>(k.y) + 0x7F4A7C159E3779B9ULL + (h << 6) + (h >> 2);
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 29;
    return static_cast<std::size_t>(h);
  }
};

struct Contour {
  std::vector<Point> vertex;                 // coordinates as first computed
  std::unordered_map<Key, std::uint32_t, KeyHash> ids;
  std::vector<std::uint32_t> seg_from, seg_to;  // per segment, in production order

  std::uint32_t vertex_of(const Point& p) {
    const Key k{key_coord(p.first), key_coord(p.second)};
    auto [it, fresh] = ids.try_emplace(k, static_cast<std::uint32_t>(vertex.size()));
    if (fresh) vertex.push_back(p);
    return it->second;
  }

  void segment(const Point& p, const Point& q) {
    const std::uint32_t a = vertex_of(p);
    const std::uint32_t b = vertex_of(q);
    seg_from.push_back(a);
    seg_to.push_back(b);
  }
};

// The crossing on the edge from corner P to corner Q.
Point crossing(double level, double vp, double vq, const Point& pp, const Point& pq) {
  const double t = std::fabs(vq - vp) < kTiny ? 0.5 : (level - vp) / (vq - vp);
  return {pp.first + (pq.first - pp.first) * t, pp.second + (pq.second - pp.second) * t};
}

double ring_area(const std::vector<Point>& v, const std::vector<std::uint32_t>& ring) {
  double sum = 0.0;
  for (std::size_t k = 0; k + 1 < ring.size(); ++k) {
    const Point& p = v[ring[k]];
    const Point& q = v[ring[k + 1]];
    sum += p.first * q.second - p.second * q.first;
  }
  const Point& last = v[ring.back()];
  const Point& first = v[ring.front()];
  sum += last.first * first.second - first.first * last.second;
  return std::fabs(sum) * 0.5;
}

}  // namespace

Result<std::vector<Point>> closure_outline(const Field& surface, const Lattice& lattice, double spill_depth) {
  if (surface.ncol != lattice.ncol || surface.nrow != lattice.nrow || surface.data.size() != surface.ncol * surface.nrow)
    return invalid_argument("closure_outline: surface shape must match the lattice");
  if (lattice.ncol < 2 || lattice.nrow < 2) return invalid_argument("closure_outline: need at least a 2x2 lattice");

  const double level = spill_depth;
  const LatticeFrame frame(lattice);
  const std::size_t nc = surface.ncol, nr = surface.nrow;
  const double* f = surface.data.data();
  auto node = [&](std::size_t i, std::size_t j) {
    return frame.to_world(static_cast<double>(i), static_cast<double>(j));
  };

  Contour c;
  for (std::size_t i = 0; i + 1 < nc; ++i) {
    const double* col0 = f + i * nr;
    const double* col1 = col0 + nr;
    for (std::size_t j = 0; j + 1 < nr; ++j) {
      const double va = col0[j], vb = col1[j], vc = col1[j + 1], vd = col0[j + 1];
      if (std::isnan(va) || std::isnan(vb) || std::isnan(vc) || std::isnan(vd)) continue;
      const int cs = (level < va ? 1 : 0) | (level < vb ? 2 : 0) | (level < vc ? 4 : 0) | (level < vd ? 8 : 0);
      if (cs == 0 || cs == 15) continue;
      const Point pa = node(i, j), pb = node(i + 1, j), pc = node(i + 1, j + 1), pd = node(i, j + 1);
      auto B = [&] { return crossing(level, va, vb, pa, pb); };
      auto R = [&] { return crossing(level, vb, vc, pb, pc); };
      auto T = [&] { return crossing(level, vd, vc, pd, pc); };
      auto L = [&] { return crossing(level, va, vd, pa, pd); };
      switch (cs) {
        case 1: case 14: c.segment(L(), B()); break;
        case 2: case 13: c.segment(B(), R()); break;
        case 3: case 12: c.segment(L(), R()); break;
        case 4: case 11: c.segment(R(), T()); break;
        case 5: c.segment(L(), B()); c.segment(R(), T()); break;
        case 6: case 9: c.segment(B(), T()); break;
        case 7: case 8: c.segment(T(), L()); break;
        case 10: c.segment(B(), R()); c.segment(T(), L()); break;
        default: break;
      }
    }
  }

  // Adjacency in segment order, as (neighbour, segment) pairs per vertex.
  const std::size_t nv = c.vertex.size(), ns = c.seg_from.size();
  std::vector<std::size_t> start(nv + 1, 0);
  for (std::size_t s = 0; s < ns; ++s) {
    ++start[c.seg_from[s] + 1];
    ++start[c.seg_to[s] + 1];
  }
  for (std::size_t v = 0; v < nv; ++v) start[v + 1] += start[v];
  std::vector<std::uint32_t> adj_nb(2 * ns), adj_seg(2 * ns);
  std::vector<std::size_t> fill(start.begin(), start.end() - 1);
  for (std::size_t s = 0; s < ns; ++s) {
    const std::uint32_t a = c.seg_from[s], b = c.seg_to[s];
    adj_nb[fill[a]] = b;
    adj_seg[fill[a]++] = static_cast<std::uint32_t>(s);
    adj_nb[fill[b]] = a;
    adj_seg[fill[b]++] = static_cast<std::uint32_t>(s);
  }

  // Entries before cursor[v] all belong to used segments (the flags only ever get set).
  std::vector<std::size_t> cursor(start.begin(), start.end() - 1);
  std::vector<char> used(ns, 0);
  std::vector<std::uint32_t> ring, best;
  double best_area = 0.0;
  for (std::size_t k = 0; k < ns; ++k) {
    if (used[k]) continue;
    used[k] = 1;
    const std::uint32_t s = c.seg_from[k];
    std::uint32_t cur = c.seg_to[k];
    ring.assign({s, cur});
    bool closed = false;
    for (;;) {
      std::size_t& e = cursor[cur];
      while (e < start[cur + 1] && used[adj_seg[e]]) ++e;
      if (e == start[cur + 1]) break;  // open chain
      used[adj_seg[e]] = 1;
      const std::uint32_t nb = adj_nb[e];
      if (nb == s) {
        closed = true;
        break;
      }
      ring.push_back(nb);
      cur = nb;
    }
    if (!closed || ring.size() <= 2) continue;
    const double area = ring_area(c.vertex, ring);
    if (area > best_area) {
      best_area = area;
      best = ring;
    }
  }

  std::vector<Point> out;
  out.reserve(best.size());
  for (std::uint32_t v : best) out.push_back(c.vertex[v]);
  return out;
}

Result<std::vector<Point>> study_area_outline(double xmin, double ymin, double xmax, double ymax,
                                              double corner_radius, std::uint64_t arc_steps) {
  const double w = xmax - xmin;
  const double h = ymax - ymin;
  const double m = std::fmin(w, h);  // fmin/fmax ignore a NaN operand
  const double r = std::fmin(std::fmax(m, 0.0) * 0.5, std::fmax(corner_radius, 0.0));
  if (arc_steps == 0 || !(r > 0.0)) return std::vector<Point>{{xmin, ymin}, {xmax, ymin}, {xmax, ymax}, {xmin, ymax}};

  constexpr std::uint64_t kMaxSteps = (std::uint64_t{1} << 58) / sizeof(Point);
  if (arc_steps > kMaxSteps) return invalid_argument("study_area_outline: arc_steps is too large");

  constexpr double kHalfPi = 1.5707963267948966;
  constexpr double kPi = 3.141592653589793;
  const double n = static_cast<double>(arc_steps);
  const Point centres[4] = {{xmax - r, ymin + r}, {xmax - r, ymax - r}, {xmin + r, ymax - r}, {xmin + r, ymin + r}};
  std::vector<Point> out;
  out.reserve(4 * (arc_steps + 1));
  for (int arc = 0; arc < 4; ++arc) {
    for (std::uint64_t k = 0; k <= arc_steps; ++k) {
      const double q = (static_cast<double>(k) / n) * kHalfPi;
      double theta;
      switch (arc) {
        case 0: theta = q - kHalfPi; break;
        case 1: theta = q; break;
        case 2: theta = q + kHalfPi; break;
        default: theta = q + kPi; break;
      }
      out.emplace_back(std::cos(theta) * r + centres[arc].first, std::sin(theta) * r + centres[arc].second);
    }
  }
  return out;
}

}  // namespace quarn::synth
