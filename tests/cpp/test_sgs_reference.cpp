// The simulation against a direct sweep written from its rules: brute-force neighbour
// search (every known point, sorted by (d2, position)), the full correlation matrix,
// a shuffle with its own bounded draw. Both must agree bit for bit, whatever search
// structure the simulation uses. Also a randomized check of the lattice node search
// against the general index over many lattice geometries and radii.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "check.hpp"
#include "geostat/neighbours.hpp"
#include "geostat/sgs/node_search.hpp"
#include "geostat/sgs/sweep.hpp"
#include "gridding/kriging/solve.hpp"
#include "sampling/stream.hpp"

using quarn::Lattice;
using quarn::geostat::AnisotropicVariogram;
using quarn::geostat::DataRow;
using quarn::geostat::Neighbour;
using quarn::geostat::NeighbourIndex;
using quarn::geostat::SgsParams;
using quarn::geostat::Variogram;
using quarn::geostat::VariogramModel;
using quarn::geostat::VariogramSpec;
using quarn::geostat::sgs_detail::NodeSearch;
using quarn::sampling::Stream;

namespace {

struct Scores {
  std::vector<double> values, scores;
};

Scores fit_scores(std::vector<double> z) {
  std::stable_sort(z.begin(), z.end(), [](double a, double b) { return a < b; });
  const std::size_t n = z.size();
  Scores s;
  for (std::size_t i = 0; i < n;) {
    std::size_t e = i;
    double sum = 0.0;
    for (; e < n && z[e] == z[i]; ++e)
      sum += quarn::sampling::normal_inv_cdf((static_cast<double>(e) + 0.5) / static_cast<double>(n));
    s.values.push_back(z[i]);
    s.scores.push_back(sum / static_cast<double>(e - i));
    i = e;
  }
  return s;
}

double piecewise(const std::vector<double>& from, const std::vector<double>& to, double x) {
  const std::size_t m = from.size();
  if (m == 1) return to[0];
  if (x <= from[0]) return to[0];
  if (x >= from[m - 1]) return to[m - 1];
  std::size_t k = 0;
  while (!(from[k] <= x && x < from[k + 1])) ++k;
  return to[k] + (to[k + 1] - to[k]) * ((x - from[k]) / (from[k + 1] - from[k]));
}

std::size_t bounded(Stream& rng, std::uint32_t k) {
  const std::uint32_t range = k + 1u;
  if (range == 0) return rng.next_u32();
  const std::uint64_t p = static_cast<std::uint64_t>(rng.next_u32()) * range;
  const std::uint64_t hi = p >> 32, lo = p & 0xFFFFFFFFu;
  if (lo <= (std::uint64_t{1} << 32) - range) return hi;
  const std::uint64_t hi2 = (static_cast<std::uint64_t>(rng.next_u32()) * range) >> 32;
  return lo + hi2 >= (std::uint64_t{1} << 32) ? hi + 1 : hi;
}

std::vector<double> direct_sgs(const std::vector<DataRow>& data, const Lattice& lat, const VariogramSpec& vg,
                               std::uint64_t max_n, double radius, std::uint64_t seed) {
  std::vector<double> z;
  for (const DataRow& r : data) z.push_back(r[2]);
  const Scores ns = fit_scores(z);
  const std::size_t nc = lat.ncol, nr = lat.nrow;
  std::vector<double> f(nc * nr, std::nan(""));
  std::vector<double> kx, ky, kv;
  for (const DataRow& r : data) {
    const auto ij = lat.world_to_intrinsic(r[0], r[1]);
    if (!ij) continue;
    const double ci = std::round(ij->first), cj = std::round(ij->second);
    if (!(ci >= 0 && ci < static_cast<double>(nc) && cj >= 0 && cj < static_cast<double>(nr))) continue;
    const auto c = static_cast<std::size_t>(ci), w = static_cast<std::size_t>(cj);
    if (std::isnan(f[c * nr + w])) {
      const auto [x, y] = lat.node_xy(c, w);
      kx.push_back(x);
      ky.push_back(y);
      kv.push_back(piecewise(ns.values, ns.scores, r[2]));
    }
    f[c * nr + w] = piecewise(ns.values, ns.scores, r[2]);
  }
  std::vector<std::pair<std::size_t, std::size_t>> path;
  for (std::size_t j = 0; j < nr; ++j)
    for (std::size_t i = 0; i < nc; ++i)
      if (std::isnan(f[i * nr + j])) path.emplace_back(i, j);
  Stream rng = quarn::sampling::seeded_rng(seed);
  for (std::size_t k = path.size() - 1; path.size() > 1 && k >= 1; --k)
    std::swap(path[k], path[bounded(rng, static_cast<std::uint32_t>(k))]);
  const double sill = vg.total_sill();
  auto rho = [&](double dx, double dy) { return 1.0 - vg.gamma(dx, dy) / sill; };
  for (const auto& [i, j] : path) {
    const auto [x0, y0] = lat.node_xy(i, j);
    std::vector<std::pair<double, std::size_t>> near;
    for (std::size_t p = 0; p < kx.size(); ++p) {
      const double d2 = (kx[p] - x0) * (kx[p] - x0) + (ky[p] - y0) * (ky[p] - y0);
      if (!(radius * radius < d2)) near.emplace_back(d2, p);
    }
    std::sort(near.begin(), near.end());
    if (near.size() > max_n) near.resize(max_n);
    const std::size_t n = near.size();
    double m = 0.0, var = 1.0;
    if (n > 0) {
      std::vector<double> a(n * n), q(n), lam(n);
      std::vector<std::size_t> perm(n);
      for (std::size_t r = 0; r < n; ++r) {
        const std::size_t pr = near[r].second;
        for (std::size_t c = 0; c < n; ++c) {
          const std::size_t pc = near[c].second;
          a[r * n + c] = r == c ? 1.0 : rho(kx[pr] - kx[pc], ky[pr] - ky[pc]);
        }
        q[r] = rho(kx[pr] - x0, ky[pr] - y0);
      }
      if (quarn::gridding::kriging::factorize(a, n, perm)) {
        quarn::gridding::kriging::solve(a, n, perm, q, lam);
        for (std::size_t r = 0; r < n; ++r) m += lam[r] * kv[near[r].second];
        for (std::size_t r = 0; r < n; ++r) var -= lam[r] * q[r];
        if (!(var > 0.0)) var = 0.0;
      }
    }
    const double v = m + std::sqrt(var) * (rng.draw_standard_normal() + 0.0);
    f[i * nr + j] = v;
    kx.push_back(x0);
    ky.push_back(y0);
    kv.push_back(v);
  }
  for (double& v : f) v = piecewise(ns.scores, ns.values, v);
  return f;
}

// A random lattice: offsets, signs, unequal spacings, rotations, flips.
Lattice random_lattice(Stream& r, std::uint64_t max_side) {
  const double origins[] = {0.0, 431000.5, -2.5e7};
  const double incs[] = {1.0, 0.1, 25.0, 12.5, 0.3, 1.0 / 3.0, 7.77};
  const double rots[] = {0.0, 90.0, 180.0, 270.0, 45.0, 30.0, 359.9};
  const double xinc = incs[r.draw_index_inclusive(0, 6)] * (r.draw_unit() < 0.2 ? -1.0 : 1.0);
  const double yinc = r.draw_unit() < 0.4 ? std::fabs(xinc) : incs[r.draw_index_inclusive(0, 6)];
  const double rot = r.draw_unit() < 0.6 ? rots[r.draw_index_inclusive(0, 6)] : r.draw_unit() * 360.0;
  return Lattice{origins[r.draw_index_inclusive(0, 2)], origins[r.draw_index_inclusive(0, 2)], xinc, yinc,
                 r.draw_index_inclusive(1, max_side), r.draw_index_inclusive(1, max_side), rot,
                 r.draw_unit() < 0.3};
}

// Often exactly the distance of some node offset, so points sit on the radius.
double random_radius(Stream& r, const Lattice& lat) {
  const double ax = std::fabs(lat.xinc), ay = std::fabs(lat.yinc);
  if (r.draw_unit() < 0.5) {
    const auto di = static_cast<double>(r.draw_index_inclusive(1, 5));
    const auto dj = static_cast<double>(r.draw_index_inclusive(0, 5));
    return std::sqrt((di * ax) * (di * ax) + (dj * ay) * (dj * ay));
  }
  return (0.2 + r.draw_unit() * 6.0) * std::max(ax, ay);
}

}  // namespace

TEST_CASE("NodeSearch: random lattices and radii, points on the radius and equal distances") {
  Stream r = quarn::sampling::seeded_rng(2024);
  const std::uint64_t counts[] = {1, 2, 3, 5, 8, 24, 1000};
  std::size_t mismatches = 0, queries = 0, found = 0;
  std::vector<Neighbour> expect;
  std::vector<NodeSearch::Hit> got;
  for (int t = 0; t < 300; ++t) {
    const Lattice lat = random_lattice(r, 25);
    const double radius = random_radius(r, lat);
    auto grid = NodeSearch::make(lat, radius);
    CHECK(grid.has_value());
    if (!grid) continue;
    NeighbourIndex index;
    std::vector<std::pair<std::size_t, std::size_t>> order;
    for (std::size_t j = 0; j < lat.nrow; ++j)
      for (std::size_t i = 0; i < lat.ncol; ++i) order.emplace_back(i, j);
    for (std::size_t k = order.size(); k-- > 1;) std::swap(order[k], order[r.draw_index_inclusive(0, k)]);
    std::uint32_t known = 0;
    for (const auto& [i, j] : order) {
      const auto [x, y] = lat.node_xy(i, j);
      const std::uint64_t c = counts[r.draw_index_inclusive(0, 6)];
      index.nearest_within(x, y, c, radius, expect);
      CHECK(grid->nearest_within(i, j, x, y, c, got));
      ++queries;
      found += got.size();
      bool same = expect.size() == got.size();
      for (std::size_t k = 0; same && k < got.size(); ++k) same = expect[k].payload == got[k].payload;
      if (!same) ++mismatches;
      index.insert(x, y, known);
      grid->insert(i, j, known++);
    }
  }
  CHECK_EQ(mismatches, std::size_t{0});
  CHECK(found > 3 * queries);  // the queries do find neighbours
}

TEST_CASE("sgs: equals a direct brute-force sweep bit for bit") {
  Stream r = quarn::sampling::seeded_rng(77);
  std::size_t differ = 0;
  for (int t = 0; t < 60; ++t) {
    const Lattice lat = random_lattice(r, 14);
    const double ax = std::fabs(lat.xinc), ay = std::fabs(lat.yinc), span = std::max(ax, ay);
    std::vector<DataRow> data;
    const std::uint64_t nd = r.draw_index_inclusive(1, 10);
    for (std::uint64_t k = 0; k < nd; ++k) {
      // some on half-cell boundaries, some off the lattice, some sharing a node, some tied values
      double fi = r.draw_unit() * (static_cast<double>(lat.ncol) + 1.0) - 1.0;
      const double fj = r.draw_unit() * (static_cast<double>(lat.nrow) + 1.0) - 1.0;
      if (r.draw_unit() < 0.2) fi = std::round(fi) + 0.5;
      const auto [x, y] = lat.intrinsic_to_world(fi, fj);
      const double z = r.draw_unit() < 0.3 ? std::round(r.draw_unit() * 3.0) : r.draw_unit() * 100.0;
      data.push_back({x, y, z});
      if (r.draw_unit() < 0.2) data.push_back({x, y, z + 1.0});
    }
    const auto model = static_cast<VariogramModel>(r.draw_index_inclusive(1, 3));
    const VariogramSpec vg =
        r.draw_unit() < 0.5
            ? VariogramSpec(Variogram::make(model, r.draw_unit() * 0.2, 1.0, (1.0 + r.draw_unit() * 6.0) * span).value())
            : VariogramSpec(
                  AnisotropicVariogram::make(model, 6.0 * span, 2.0 * span, 1.0, r.draw_unit() * 180.0, 1.0, 0.1)
                      .value());
    const double radius = random_radius(r, lat);
    const std::uint64_t max_n = r.draw_index_inclusive(1, 30);
    const std::uint64_t seed = r.next_u64();
    const auto got = quarn::geostat::sgs(data, lat, SgsParams::make(max_n, radius, vg).value(), seed);
    CHECK(got.ok());
    if (!got.ok()) continue;
    const std::vector<double> expect = direct_sgs(data, lat, vg, max_n, radius, seed);
    if (expect.size() != got.value().data.size() ||
        std::memcmp(expect.data(), got.value().data.data(), expect.size() * sizeof(double)) != 0)
      ++differ;
  }
  CHECK_EQ(differ, std::size_t{0});
}
