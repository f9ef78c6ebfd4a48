// Neighbour index against brute force, and the LU kernel on small known systems.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

#include "check.hpp"
#include "geostat/moving_search.hpp"
#include "geostat/neighbours.hpp"
#include "gridding/kriging/prep.hpp"
#include "gridding/kriging/solve.hpp"
#include "simd.hpp"
#include "splitmix.hpp"

namespace {

using quarn::geostat::IndexEntry;
using quarn::geostat::Neighbour;
using quarn::geostat::NeighbourIndex;

using quarn::test::SplitMix;

// The documented order: (d2, payload, insertion number), cut at radius and max_count.
std::vector<Neighbour> brute(const std::vector<IndexEntry>& pts, double qx, double qy, std::uint64_t k, double r) {
  std::vector<std::tuple<double, std::uint64_t, std::size_t>> c;
  if (k == 0 || !(r >= 0.0)) return {};
  const double r2 = r * r;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    if (!std::isfinite(pts[i].x) || !std::isfinite(pts[i].y)) continue;
    const double dx = pts[i].x - qx, dy = pts[i].y - qy;
    const double d2 = dx * dx + dy * dy;
    if (d2 <= r2) c.emplace_back(d2, pts[i].payload, i);
  }
  std::sort(c.begin(), c.end());
  std::vector<Neighbour> out;
  for (std::size_t i = 0; i < c.size() && i < k; ++i) out.push_back({std::get<1>(c[i]), std::sqrt(std::get<0>(c[i]))});
  return out;
}

bool same(const std::vector<Neighbour>& a, const std::vector<Neighbour>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].payload != b[i].payload || a[i].distance != b[i].distance) return false;
  return true;
}

// Point sets with many exact ties: integer lattices (with duplicates), plus random
// doubles; payloads shuffled so the payload order differs from the insertion order.
std::vector<IndexEntry> make_points(SplitMix& rng, std::size_t n, bool integer) {
  std::vector<IndexEntry> pts(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (integer) {
      pts[i] = {static_cast<double>(rng.below(40)), static_cast<double>(rng.below(40)), 0};
    } else {
      pts[i] = {rng.unit() * 100.0, rng.unit() * 100.0, 0};
    }
  }
  std::vector<std::uint64_t> pay(n);
  for (std::size_t i = 0; i < n; ++i) pay[i] = i;
  for (std::size_t i = n; i > 1; --i) std::swap(pay[i - 1], pay[rng.below(i)]);
  for (std::size_t i = 0; i < n; ++i) pts[i].payload = pay[i] % (n - n / 10);  // a few payloads repeat
  return pts;
}

void randomized(bool integer, std::uint64_t seed) {
  SplitMix rng{seed};
  std::vector<Neighbour> got;
  int mismatches = 0;
  for (int set = 0; set < 10; ++set) {
    const std::size_t n = 1 + rng.below(integer ? 1500 : 3000);
    const auto pts = make_points(rng, n, integer);
    const NeighbourIndex bulk = NeighbourIndex::build(pts);
    NeighbourIndex inc;
    std::size_t inserted = 0;
    for (int q = 0; q < 1000; ++q) {
      // Grow the incremental index between queries, so queries see every stage.
      const std::size_t target = n * static_cast<std::size_t>(q + 1) / 1000;
      for (; inserted < target; ++inserted) inc.insert(pts[inserted].x, pts[inserted].y, pts[inserted].payload);
      const double qx = integer ? static_cast<double>(rng.below(44)) - 2.0 : rng.unit() * 110.0 - 5.0;
      const double qy = integer ? static_cast<double>(rng.below(44)) - 2.0 : rng.unit() * 110.0 - 5.0;
      const std::uint64_t k = rng.below(40);
      const double r = integer ? static_cast<double>(rng.below(12)) : rng.unit() * 30.0;
      bulk.nearest_within(qx, qy, k, r, got);
      if (!same(got, brute(pts, qx, qy, k, r))) ++mismatches;
      const std::vector<IndexEntry> prefix(pts.begin(), pts.begin() + static_cast<std::ptrdiff_t>(inserted));
      inc.nearest_within(qx, qy, k, r, got);
      if (!same(got, brute(prefix, qx, qy, k, r))) ++mismatches;
    }
    CHECK_EQ(inc.size(), n);
  }
  CHECK_EQ(mismatches, 0);
}

}  // namespace

TEST_CASE("neighbours: bulk and incremental match brute force, integer points with ties") {
  randomized(true, 12345);
}

TEST_CASE("neighbours: bulk and incremental match brute force, random points") { randomized(false, 987); }

TEST_CASE("moving search: the index's answers along lattice rows, across jumps, with ties") {
  using quarn::geostat::MovingSearch;
  SplitMix rng{2024};
  std::vector<Neighbour> got, want;
  int compared = 0, mismatches = 0;
  for (int set = 0; set < 16; ++set) {
    // integer points (exact ties of distance, coincident points), random ones, a dense
    // cluster with a few outliers (more points per bucket than a list needs), or points
    // on one line (a grid of buckets one cell high)
    const int shape = set % 4;
    const bool integer = shape == 0;
    const std::size_t n = 1 + rng.below(set < 4 ? 30 : 2500);
    std::vector<double> x(n), y(n);
    std::vector<IndexEntry> entries(n);
    for (std::size_t i = 0; i < n; ++i) {
      x[i] = integer ? static_cast<double>(rng.below(60)) : rng.unit() * 600.0;
      y[i] = integer ? static_cast<double>(rng.below(60)) : rng.unit() * 600.0;
      if (shape == 2 && rng.below(20) != 0) {
        x[i] = 300.0 + rng.unit() * 2.0;
        y[i] = 300.0 + rng.unit() * 2.0;
      }
      if (shape == 3) y[i] = 300.0;
      entries[i] = {x[i], y[i], i};
    }
    const NeighbourIndex index = NeighbourIndex::build(entries);
    MovingSearch search(index, x, y);
    const std::uint64_t k = 1 + rng.below(set % 3 == 0 ? 60 : 30);
    // a huge radius, one that often holds fewer than k points, one in between
    const double radius = set % 3 == 0 ? 1e9 : set % 3 == 1 ? 3.0 + rng.unit() * 6.0 : 40.0;
    const double step = integer ? 1.0 : 0.5 + rng.unit() * 9.0;
    for (int row = 0; row < 8; ++row) {
      const double y0 = shape == 2 && row % 2 == 1 ? 299.0 + rng.unit() * 4.0 : -20.0 + rng.unit() * 640.0;
      for (int col = 0; col < 90; ++col) {
        // rows walked in small steps, with now and then a jump anywhere
        const bool jump = rng.below(40) == 0;
        const double qx = jump ? rng.unit() * 700.0 - 50.0 : -20.0 + col * step;
        const double qy = jump ? rng.unit() * 700.0 - 50.0 : y0;
        search.nearest_within(qx, qy, k, radius, got);
        index.nearest_within(qx, qy, k, radius, want);
        ++compared;
        if (!same(got, want)) ++mismatches;
      }
    }
  }
  CHECK(compared > 11000);
  CHECK_EQ(mismatches, 0);
}

TEST_CASE("neighbours: edge cases") {
  std::vector<Neighbour> out{{7, 1.0}};
  NeighbourIndex empty;
  empty.nearest_within(0, 0, 5, 10, out);
  CHECK(out.empty());

  const std::vector<IndexEntry> line = {{3, 0, 30}, {1, 0, 10}, {2, 0, 20}, {1, 0, 5}};
  const NeighbourIndex idx = NeighbourIndex::build(line);
  idx.nearest_within(0, 0, 0, 10, out);
  CHECK(out.empty());
  idx.nearest_within(0, 0, 5, 2.5, out);  // duplicates kept, equal distance by payload
  CHECK(out.size() == 3 && out[0].payload == 5 && out[1].payload == 10 && out[2].payload == 20);
  idx.nearest_within(0, 0, 5, 2.0, out);  // exactly at the radius is inside
  CHECK_EQ(out.size(), std::size_t{3});
  idx.nearest_within(0, 0, 1, 100, out);
  CHECK(out.size() == 1 && out[0].payload == 5 && out[0].distance == 1.0);
  idx.nearest_within(0, 0, 5, std::nan(""), out);
  CHECK(out.empty());

  NeighbourIndex inc;
  inc.insert(std::nan(""), 0, 1);
  inc.insert(INFINITY, 0, 2);
  inc.insert(0, 0, 3);
  CHECK_EQ(inc.size(), std::size_t{1});
  inc.nearest_within(0, 0, 5, INFINITY, out);
  CHECK(out.size() == 1 && out[0].payload == 3 && out[0].distance == 0.0);
}

TEST_CASE("lu: pivoting, singular matrices, substitution") {
  using namespace quarn::gridding::kriging;
  // [[0, 1], [1, 0]] needs a row swap.
  LuBuffers b;
  b.resize(2);
  b.at(0, 1) = 1.0;
  b.at(1, 0) = 1.0;
  b.rhs = {3.0, 1.0};
  CHECK(b.factorize());
  CHECK(b.perm[0] == 1 && b.perm[1] == 0);
  b.solve();
  CHECK(b.solution[0] == 1.0 && b.solution[1] == 3.0);

  b.resize(2);  // all zero: singular at the first column
  CHECK(!b.factorize());
  b.resize(3);
  const double m[9] = {1, 2, 3, 2, 4, 6, 1, 0, 1};  // second row = 2 * first
  std::copy(m, m + 9, b.matrix.begin());
  CHECK(!b.factorize());

  // A later row with an equal magnitude does not replace the pivot.
  b.resize(2);
  const double t[4] = {-2, 1, 2, 3};
  std::copy(t, t + 4, b.matrix.begin());
  b.rhs = {0.0, 8.0};
  CHECK(b.factorize());
  CHECK(b.perm[0] == 0 && b.perm[1] == 1);
  b.solve();
  CHECK(b.solution[0] == 1.0 && b.solution[1] == 2.0);

  // Tiny but non-zero pivots are accepted.
  b.resize(1);
  b.matrix[0] = 1e-300;
  b.rhs[0] = 1e-300;
  CHECK(b.factorize());
  b.solve();
  CHECK(b.solution[0] == 1.0);
}

TEST_CASE("neighbours: a non-finite query point finds nothing") {
  std::vector<IndexEntry> pts;
  for (std::uint64_t i = 0; i < 100; ++i) pts.push_back({static_cast<double>(i % 10), static_cast<double>(i / 10), i});
  const NeighbourIndex idx = NeighbourIndex::build(pts);
  std::vector<Neighbour> out;
  idx.nearest_within(std::nan(""), 1.0, 5, INFINITY, out);
  CHECK(out.empty());
  idx.nearest_within(1.0, -INFINITY, 5, INFINITY, out);
  CHECK(out.empty());
  idx.nearest_within(0.0, 0.0, 200, INFINITY, out);  // infinite radius: every point, sorted
  CHECK_EQ(out.size(), std::size_t{100});
  CHECK(out[0].payload == 0 && out[1].payload == 1 && out[2].payload == 10 && out[3].payload == 11);
}

TEST_CASE("kriging: cached and lane-computed gammas are the bits of the plain system, every model and path") {
  using namespace quarn::gridding::kriging;
  using quarn::geostat::VariogramModel;
  using quarn::simd::Path;
  // Clustered data on a coarse grid (many equal separations, coincident-free) plus
  // scattered points; targets walk rows so neighbour sets overlap, shrink and grow. The
  // plain system evaluates every gamma one at a time; the cached one copies the pairs of
  // the previous target and computes the rest in lanes.
  SplitMix rng{7};
  std::vector<double> x, y, z;
  for (int i = 0; i < 40; ++i) {
    x.push_back(static_cast<double>(rng.below(12)) * 3.0 + (i < 20 ? 0.0 : rng.unit()));
    y.push_back(static_cast<double>(rng.below(12)) * 3.0 + (i < 20 ? 0.5 : rng.unit()));
    z.push_back(rng.unit());
  }
  std::vector<IndexEntry> entries;
  for (std::size_t i = 0; i < x.size(); ++i) entries.push_back({x[i], y[i], i});
  const NeighbourIndex idx = NeighbourIndex::build(entries);
  int compared = 0;
  for (const Path path : {Path::Portable, Path::Sse2, Path::Avx2}) {
    const quarn::simd::ForcePath force(path);
    for (const VariogramModel model : {VariogramModel::Nugget, VariogramModel::Spherical, VariogramModel::Exponential,
                                       VariogramModel::Gaussian}) {
      // a range far beyond the data, and one that most separations exceed
      for (const double range : {500.0, 8.0}) {
        const auto v = quarn::geostat::Variogram::make(model, model == VariogramModel::Nugget ? 1.0 : 0.2, 1.0, range);
        CHECK(v.ok());
        PairGammaCache cache;
        cache.reset(x.size());
        LuBuffers fresh, cached;
        std::vector<Neighbour> found;
        for (int t = 0; t < 120; ++t) {
          const double qx = (t % 40) * 0.9, qy = (t / 40) * 3.7 + range * 0.001;
          idx.nearest_within(qx, qy, 3 + static_cast<std::uint64_t>(t % 9), 6.0 + (t % 5), found);
          if (found.empty()) continue;
          const auto a = ordinary_krige(x, y, z, found, v.value(), fresh);
          const auto b = ordinary_krige(x, y, z, found, v.value(), cached, &cache);
          CHECK(a.has_value() == b.has_value());
          if (!a || !b) continue;
          CHECK(std::memcmp(&a->estimate, &b->estimate, sizeof(double)) == 0);
          CHECK(std::memcmp(&a->variance, &b->variance, sizeof(double)) == 0);
          ++compared;
        }
      }
    }
  }
  CHECK(compared > 2000);
}

TEST_CASE("lu: same bits as the plain column-by-column elimination") {
  using namespace quarn::gridding::kriging;
  // The textbook loop: scan for the pivot (first largest), swap, eliminate row by row.
  const auto plain = [](std::vector<double>& a, std::size_t m, std::vector<std::size_t>& perm) {
    for (std::size_t i = 0; i < m; ++i) perm[i] = i;
    for (std::size_t j = 0; j < m; ++j) {
      std::size_t p = j;
      double best = std::fabs(a[j * m + j]);
      for (std::size_t k = j + 1; k < m; ++k)
        if (std::fabs(a[k * m + j]) > best) {
          best = std::fabs(a[k * m + j]);
          p = k;
        }
      if (best == 0.0) return false;
      if (p != j) {
        for (std::size_t c = 0; c < m; ++c) std::swap(a[j * m + c], a[p * m + c]);
        std::swap(perm[j], perm[p]);
      }
      for (std::size_t l = j + 1; l < m; ++l) {
        const double f = a[l * m + j] / a[j * m + j];
        a[l * m + j] = f;
        for (std::size_t c = j + 1; c < m; ++c) a[l * m + c] -= a[j * m + c] * f;
      }
    }
    return true;
  };
  SplitMix rng{99};
  int singular = 0;
  for (int t = 0; t < 600; ++t) {
    const std::size_t m = 1 + rng.below(9);
    std::vector<double> a(m * m);
    // Small integers (ties of magnitude, zeros, exact singularity) or general values.
    for (double& v : a)
      v = t % 2 ? static_cast<double>(static_cast<int>(rng.below(5)) - 2) : rng.unit() * 2.0 - 1.0;
    std::vector<double> b = a;
    std::vector<std::size_t> pa(m), pb(m);
    const bool ok = factorize(a, m, pa);
    CHECK(ok == plain(b, m, pb));
    if (!ok) {
      ++singular;
      continue;
    }
    CHECK(pa == pb);
    CHECK(std::memcmp(a.data(), b.data(), m * m * sizeof(double)) == 0);
  }
  CHECK(singular > 20);
}
