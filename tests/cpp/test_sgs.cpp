// Simulation internals not reachable from Python: the lattice node search against the
// general neighbour index, and the collocated secondary option.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "check.hpp"
#include "geostat/neighbours.hpp"
#include "geostat/sgs/lag_table.hpp"
#include "geostat/sgs/node_search.hpp"
#include "geostat/sgs/sweep.hpp"
#include "sampling/stream.hpp"

using quarn::Field;
using quarn::Lattice;
using quarn::geostat::CollocatedSecondary;
using quarn::geostat::DataRow;
using quarn::geostat::Neighbour;
using quarn::geostat::NeighbourIndex;
using quarn::geostat::SgsParams;
using quarn::geostat::Variogram;
using quarn::geostat::VariogramModel;
using quarn::geostat::sgs_detail::NodeSearch;

namespace {

// Inserts a random half of the nodes (payloads in insertion order) into both searches and
// compares every answer the node search settles, payloads and positions, for several
// counts. Returns how many queries it left open.
std::size_t compare_searches(const Lattice& lat, double radius, std::uint64_t seed,
                             std::vector<std::uint64_t> counts = {1, 4, 24, 1000}, std::size_t steps = 0) {
  auto grid = NodeSearch::make(lat, radius);
  CHECK(grid.has_value());
  if (!grid) return 0;
  NeighbourIndex index;
  const quarn::LatticeFrame frame(lat);
  auto rng = quarn::sampling::seeded_rng(seed);
  std::vector<double> kx, ky;
  std::vector<Neighbour> expect;
  std::vector<NodeSearch::Hit> got;
  std::size_t mismatches = 0, queries = 0, found = 0, open = 0;
  if (steps == 0) steps = lat.ncol * lat.nrow;
  for (std::size_t step = 0; step < steps; ++step) {
    const std::size_t i = rng.draw_index_inclusive(0, lat.ncol - 1), j = rng.draw_index_inclusive(0, lat.nrow - 1);
    const auto [x, y] = frame.to_world(static_cast<double>(i), static_cast<double>(j));
    if (step % 2 == 0) {
      // skip nodes already known: the simulation never inserts a node twice
      bool seen = false;
      for (std::size_t k = 0; k < kx.size() && !seen; ++k) seen = kx[k] == x && ky[k] == y;
      if (seen) continue;
      index.insert(x, y, kx.size());
      grid->insert(i, j, static_cast<std::uint32_t>(kx.size()));
      kx.push_back(x);
      ky.push_back(y);
      continue;
    }
    for (std::uint64_t c : counts) {
      index.nearest_within(x, y, c, radius, expect);
      if (!grid->nearest_within(i, j, x, y, c, got)) {
        ++open;
        continue;
      }
      ++queries;
      found += got.size();
      bool same = expect.size() == got.size();
      for (std::size_t k = 0; same && k < got.size(); ++k)
        same = expect[k].payload == got[k].payload && kx[got[k].payload] == got[k].x && ky[got[k].payload] == got[k].y;
      if (!same) ++mismatches;
    }
  }
  CHECK_EQ(mismatches, std::size_t{0});
  CHECK(queries > 100);
  CHECK(found > queries);
  return open;
}

}  // namespace

TEST_CASE("NodeSearch: same neighbours, same order as NeighbourIndex") {
  CHECK_EQ(compare_searches(Lattice{0, 0, 1, 1, 30, 20, 0, false}, 4.5, 1), std::size_t{0});
  CHECK_EQ(compare_searches(Lattice{0, 0, 1, 1, 30, 20, 0, false}, 3.0, 2), std::size_t{0});  // ties at the radius
  CHECK_EQ(compare_searches(Lattice{431000, 6521000, 25, 25, 25, 25, 30, false}, 80.0, 3), std::size_t{0});
  CHECK_EQ(compare_searches(Lattice{431000.5, 6521000.25, 12.5, 40, 25, 25, 200, true}, 130.0, 4), std::size_t{0});
  CHECK_EQ(compare_searches(Lattice{-7, 3, -2, 0.5, 20, 30, 0, false}, 3.0, 5), std::size_t{0});  // negative spacing
  // a radius beyond a small lattice: the template covers the whole lattice
  CHECK_EQ(compare_searches(Lattice{0, 0, 0.1, 0.1, 16, 16, 45, false}, 1e6, 6), std::size_t{0});
}

TEST_CASE("NodeSearch: a template cut short settles what it can and leaves the rest open") {
  // 300 x 300 nodes with an unbounded radius: the full template would be 599^2 offsets
  const std::size_t open = compare_searches(Lattice{0, 0, 1, 1, 300, 300, 0, false}, 1e300, 7, {24}, 6000);
  CHECK(open > 0);
  CHECK(open < 300);
}

TEST_CASE("NodeSearch: geometry it cannot serve") {
  CHECK(!NodeSearch::make(Lattice{0, 0, 0, 1, 4, 4, 0, false}, 2.0));
  CHECK(!NodeSearch::make(Lattice{0, 0, std::nan(""), 1, 4, 4, 0, false}, 2.0));
  CHECK(!NodeSearch::make(Lattice{std::numeric_limits<double>::infinity(), 0, 1, 1, 4, 4, 0, false}, 2.0));
  CHECK(!NodeSearch::make(Lattice{0, 0, 1, 1, 0, 4, 0, false}, 2.0));
  CHECK(!NodeSearch::make(Lattice{0, 0, 1, 1, 4, 4, 0, false}, std::numeric_limits<double>::infinity()));
  // squared distances that underflow or overflow no longer follow the ideal ones
  CHECK(!NodeSearch::make(Lattice{0, 0, 1e-300, 1e-300, 10, 10, 0, false}, 2.5e-300));
  CHECK(!NodeSearch::make(Lattice{0, 0, 1, 1e-200, 10, 10, 0, false}, 2.5));
  CHECK(!NodeSearch::make(Lattice{0, 0, 1e154, 1e154, 10, 10, 0, false}, 2.5e154));
  CHECK(!NodeSearch::make(Lattice{0, 0, 1e160, 1e160, 10, 10, 0, false}, 1e300));
  CHECK(!NodeSearch::make(Lattice{1e200, 0, 1, 1, 10, 10, 0, false}, 2.5));
}

namespace {

const Lattice kLat{0, 0, 1, 1, 40, 30, 0, false};
const std::vector<DataRow> kData = {{2, 3, 1.0}, {30, 4, 5.0}, {17, 22, 2.5}, {8, 25, 4.0}, {35, 20, 3.0},
                                    {20, 10, 1.5}};

SgsParams params() {
  return SgsParams::make(12, 8.0, Variogram::make(VariogramModel::Spherical, 0.0, 1.0, 10.0).value()).value();
}

Field secondary_field() {
  Field f(kLat.ncol, kLat.nrow, 0.0);
  for (std::size_t i = 0; i < f.ncol; ++i)
    for (std::size_t j = 0; j < f.nrow; ++j) f.at(i, j) = std::sin(static_cast<double>(i) * 0.2) * 10.0 + 3.0;
  return f;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  double ma = 0, mb = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    ma += a[k];
    mb += b[k];
  }
  ma /= static_cast<double>(a.size());
  mb /= static_cast<double>(b.size());
  double sab = 0, saa = 0, sbb = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    sab += (a[k] - ma) * (b[k] - mb);
    saa += (a[k] - ma) * (a[k] - ma);
    sbb += (b[k] - mb) * (b[k] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

}  // namespace

TEST_CASE("sgs collocated: shape must match the lattice") {
  SgsParams p = params();
  p.secondary = CollocatedSecondary{Field(kLat.ncol, kLat.nrow + 1, 0.0), 0.5};
  const auto r = quarn::geostat::sgs(kData, kLat, p, 1);
  CHECK(!r.ok());
  CHECK_EQ(r.error().display(),
           std::string("invalid argument: sgs: collocated secondary shape must match the lattice (ncol, nrow)"));
  // the empty-data check comes first
  const auto e = quarn::geostat::sgs({}, kLat, p, 1);
  CHECK_EQ(e.error().display(), std::string("empty input: sgs: no conditioning data"));
}

TEST_CASE("sgs collocated: r = 0 or no finite secondary leaves the field unchanged") {
  const Field plain = quarn::geostat::sgs(kData, kLat, params(), 9).value();
  SgsParams p = params();
  p.secondary = CollocatedSecondary{secondary_field(), 0.0};
  CHECK(quarn::geostat::sgs(kData, kLat, p, 9).value().data == plain.data);
  p.secondary = CollocatedSecondary{Field(kLat.ncol, kLat.nrow, std::nan("")), 0.8};
  CHECK(quarn::geostat::sgs(kData, kLat, p, 9).value().data == plain.data);
}

TEST_CASE("sgs collocated: a strong secondary pulls the simulation, data still honoured") {
  SgsParams p = params();
  const Field sec = secondary_field();
  p.secondary = CollocatedSecondary{sec, 0.9};
  const Field with = quarn::geostat::sgs(kData, kLat, p, 9).value();
  const Field plain = quarn::geostat::sgs(kData, kLat, params(), 9).value();
  for (const DataRow& d : kData)
    CHECK_EQ(with.at(static_cast<std::size_t>(d[0]), static_cast<std::size_t>(d[1])), d[2]);
  CHECK(correlation(with.data, sec.data) > 0.7);
  CHECK(correlation(with.data, sec.data) > correlation(plain.data, sec.data) + 0.3);
  // a constant secondary standardises to 0 everywhere: it takes part but carries nothing
  p.secondary = CollocatedSecondary{Field(kLat.ncol, kLat.nrow, 4.0), 0.9};
  const Field flat = quarn::geostat::sgs(kData, kLat, p, 9).value();
  CHECK(flat.data != plain.data);
  CHECK(correlation(flat.data, sec.data) < 0.5);
}

TEST_CASE("sgs_unconditional: validation order and the constant field") {
  const Variogram v = Variogram::make(VariogramModel::Spherical, 0.0, 1.0, 10.0).value();
  const double nan = std::nan("");
  auto msg = [&](double mean, double var, std::uint64_t n, double radius) {
    return quarn::geostat::sgs_unconditional(kLat, mean, var, v, n, radius, 1).error().message;
  };
  CHECK_EQ(msg(nan, 1.0, 0, 5.0), std::string("sgs_unconditional: need max_neighbours >= 1 and radius > 0"));
  CHECK_EQ(msg(0.0, 1.0, 4, nan), std::string("sgs_unconditional: need max_neighbours >= 1 and radius > 0"));
  CHECK_EQ(msg(nan, 1.0, 4, 5.0), std::string("sgs_unconditional: need finite mean and variance >= 0"));
  CHECK_EQ(msg(0.0, -1.0, 4, 5.0), std::string("sgs_unconditional: need finite mean and variance >= 0"));
  CHECK_EQ(msg(0.0, std::numeric_limits<double>::infinity(), 4, 5.0),
           std::string("sgs_unconditional: need finite mean and variance >= 0"));
  const Field c = quarn::geostat::sgs_unconditional(kLat, 10.0, 0.0, v, 4, 5.0, 1).value();
  CHECK(c.data == std::vector<double>(kLat.ncol * kLat.nrow, 10.0));
  // variance 4 and mean 10: 10 + 2 * (the unit-variance field)
  const Field unit = quarn::geostat::sgs_unconditional(kLat, 0.0, 1.0, v, 4, 5.0, 3).value();
  const Field scaled = quarn::geostat::sgs_unconditional(kLat, 10.0, 4.0, v, 4, 5.0, 3).value();
  bool same = true;
  for (std::size_t k = 0; k < unit.data.size(); ++k) same = same && scaled.data[k] == unit.data[k] * 2.0 + 10.0;
  CHECK(same);
}

namespace {

// 1 and 3 in turn over the nodes without a datum (597 of each), NaN on the data nodes:
// mean 2 and population std 1 exactly, so the standardised values are -1 and +1.
Field ones_and_threes() {
  Field f(kLat.ncol, kLat.nrow, 0.0);
  bool one = true;
  for (std::size_t j = 0; j < kLat.nrow; ++j)
    for (std::size_t i = 0; i < kLat.ncol; ++i) {
      bool datum = false;
      for (const DataRow& d : kData) datum = datum || (d[0] == static_cast<double>(i) && d[1] == static_cast<double>(j));
      f.at(i, j) = datum ? std::nan("") : (one ? 1.0 : 3.0);
      if (!datum) one = !one;
    }
  return f;
}

Field affine(Field f, double scale, double shift) {
  for (double& v : f.data) v = v * scale + shift;
  return f;
}

}  // namespace

TEST_CASE("sgs collocated: standardised over the finite values with the population std") {
  const Field base = ones_and_threes();
  std::size_t finite = 0;
  for (double v : base.data) finite += std::isfinite(v) ? 1 : 0;
  CHECK_EQ(finite, std::size_t{1194});
  // a datum node's secondary value is never read, but it counts in the mean and std:
  // 1, 3, 1, 3, 1, 3 there keep mean 2 and population std 1 (n - 1 would move the std)
  Field on_data = base;
  for (std::size_t k = 0; k < kData.size(); ++k)
    on_data.at(static_cast<std::size_t>(kData[k][0]), static_cast<std::size_t>(kData[k][1])) = k % 2 == 0 ? 1.0 : 3.0;
  const std::pair<const char*, Field> same[] = {
      {"extra values on the data nodes", on_data},
      {"already standardised (-1, +1)", affine(base, 1.0, -2.0)},
      {"scaled and shifted (15, 25)", affine(base, 5.0, 10.0)},
  };
  SgsParams p = params();
  p.secondary = CollocatedSecondary{base, 0.6};
  const Field reference = quarn::geostat::sgs(kData, kLat, p, 5).value();
  CHECK(reference.data != quarn::geostat::sgs(kData, kLat, params(), 5).value().data);
  for (const auto& [what, field] : same) {
    p.secondary = CollocatedSecondary{field, 0.6};
    const Field got = quarn::geostat::sgs(kData, kLat, p, 5).value();
    if (got.data != reference.data) std::fprintf(stderr, "  secondary differs: %s\n", what);
    CHECK(got.data == reference.data);
  }
}

TEST_CASE("sgs collocated: a node takes the secondary as one more correlated datum") {
  // A 2 x 1 lattice with a datum on node (0, 0); a second datum off the lattice only shapes
  // the normal scores: z = 1 and 2 score q = -+0.6744897501960817 (the inverse normal at
  // 1/4 and 3/4), and scores between them map back linearly. Node (1, 0) is the whole
  // path, so its draw is the stream's first normal. The secondary 7, 9 standardises to
  // -1, +1 (population std 1; n - 1 would give -+0.7071).
  // Simple kriging with the datum (correlation rho = exp(-3 / 4) at one step, value -q)
  // and the secondary (correlation r, value s = 1, and r * rho with the datum):
  //   [1, r rho; r rho, 1] (l1, l2) = (rho, r),  mean = l1 (-q) + l2 s,
  //   variance = 1 - l1 rho - l2 r.
  const Lattice lat{0, 0, 1, 1, 2, 1, 0, false};
  const std::vector<DataRow> data = {{0, 0, 1.0}, {500, 500, 2.0}};
  const double q = 0.6744897501960817, rho = std::exp(-0.75);
  for (const double r : {0.0, 0.3, 0.8, -0.5}) {
    for (const std::uint64_t seed : {1, 2, 3, 4}) {
      SgsParams p =
          SgsParams::make(4, 10.0, Variogram::make(VariogramModel::Exponential, 0.0, 1.0, 4.0).value()).value();
      Field sec(2, 1, 7.0);
      sec.at(1, 0) = 9.0;
      p.secondary = CollocatedSecondary{sec, r};
      const Field f = quarn::geostat::sgs(data, lat, p, seed).value();
      const double det = 1.0 - r * rho * r * rho;
      const double l1 = rho * (1.0 - r * r) / det, l2 = r * (1.0 - rho * rho) / det;
      const double mean = -l1 * q + l2, var = 1.0 - l1 * rho - l2 * r;
      const double score = mean + std::sqrt(var) * quarn::sampling::seeded_rng(seed).draw_standard_normal();
      const double z = score <= -q ? 1.0 : (score >= q ? 2.0 : 1.0 + (score + q) / (2.0 * q));
      CHECK_EQ(f.at(0, 0), 1.0);
      if (!(std::fabs(f.at(1, 0) - z) < 1e-12))
        std::fprintf(stderr, "  r = %g, seed %llu: %.17g, expected %.17g\n", r, static_cast<unsigned long long>(seed),
                     f.at(1, 0), z);
      CHECK(std::fabs(f.at(1, 0) - z) < 1e-12);
    }
  }
}

TEST_CASE("lag table: present only where lattice lags are exact, and then rho per pair bit for bit") {
  using quarn::geostat::AnisotropicVariogram;
  using quarn::geostat::VariogramSpec;
  using quarn::geostat::sgs_detail::CorrelationModel;
  using quarn::geostat::sgs_detail::LagTable;
  struct Case {
    Lattice lat;
    double radius;
    bool table;
  };
  const Case cases[] = {
      {Lattice{0, 0, 1, 1, 40, 30, 0, false}, 6.0, true},
      {Lattice{431000.5, 6521000.25, 12.5, 40, 25, 25, 0, true}, 130.0, true},  // flipped rows
      {Lattice{-7, 3, -2, 0.5, 20, 30, 0, false}, 3.0, true},                   // negative spacing
      {Lattice{0, 0, 1, 1, 12, 1, 0, false}, 50.0, true},                       // one row, reach past the lattice
      {Lattice{0.1, 0.1, 0.1, 0.1, 30, 30, 0, false}, 0.5, false},              // lags not exact
      {Lattice{0, 0, 1, 1, 30, 30, 30, false}, 4.0, false},                     // rotated
      {Lattice{0, 0, 1, 1, 3000, 3000, 0, false}, 1e6, false},                  // table too large
  };
  const VariogramSpec models[] = {
      VariogramSpec(Variogram::make(VariogramModel::Spherical, 0.1, 0.9, 7.0).value()),
      VariogramSpec(AnisotropicVariogram::make(VariogramModel::Exponential, 9.0, 3.0, 1.0, 33.0, 1.1, 0.1).value())};
  quarn::sampling::Stream rng = quarn::sampling::seeded_rng(77);
  int compared = 0;
  for (const Case& c : cases) {
    const quarn::LatticeFrame frame(c.lat);
    for (const VariogramSpec& vgm : models) {
      const CorrelationModel cm = CorrelationModel::from(vgm);
      const auto table = LagTable::make(c.lat, cm, c.radius);
      CHECK_EQ(table.has_value(), c.table);
      if (!table) continue;
      // node pairs within twice the reach, some coincident
      for (int t = 0; t < 400; ++t) {
        const std::size_t pi = rng.draw_index_inclusive(0, c.lat.ncol - 1), pj = rng.draw_index_inclusive(0, c.lat.nrow - 1);
        const auto near = [&](std::size_t v, std::int64_t reach, std::size_t n) {
          const auto lo = static_cast<std::int64_t>(v) - reach, hi = static_cast<std::int64_t>(v) + reach;
          const auto a = static_cast<std::uint64_t>(std::max<std::int64_t>(lo, 0));
          const auto b = static_cast<std::uint64_t>(std::min<std::int64_t>(hi, static_cast<std::int64_t>(n) - 1));
          return static_cast<std::size_t>(rng.draw_index_inclusive(a, b));
        };
        const std::size_t qi = near(pi, 2 * table->reach_i(), c.lat.ncol);
        const std::size_t qj = near(pj, 2 * table->reach_j(), c.lat.nrow);
        const auto [xp, yp] = frame.to_world(static_cast<double>(pi), static_cast<double>(pj));
        const auto [xq, yq] = frame.to_world(static_cast<double>(qi), static_cast<double>(qj));
        const double want = cm.rho(xp - xq, yp - yq);
        const double got = (*table)[table->key(pi, pj) - table->key(qi, qj) + table->centre()];
        CHECK(std::memcmp(&got, &want, sizeof want) == 0);
        ++compared;
      }
    }
  }
  CHECK_EQ(compared, 4 * 2 * 400);
}
