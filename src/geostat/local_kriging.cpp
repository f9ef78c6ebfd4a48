#include "geostat/local_kriging.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

#include "cancel.hpp"
#include "geostat/moving_search.hpp"
#include "geostat/neighbours.hpp"
#include "gridding/kriging/prep.hpp"

namespace quarn::geostat {

Result<LocalKriging> LocalKriging::make(std::uint64_t max_neighbours, double radius, const Variogram& variogram) {
  if (max_neighbours == 0 || !std::isfinite(radius) || !(radius > 0.0))
    return invalid_argument("LocalKriging: need max_neighbours >= 1 and radius > 0");
  return LocalKriging{max_neighbours, radius, variogram};
}

namespace {

struct Merged {
  std::vector<double> x, y, z;
};

// Groups rows by exact (x, y); values are averaged in input order, groups kept in
// first-occurrence order.
Merged merge_coincident(std::span<const std::array<double, 3>> coords) {
  std::vector<std::size_t> order;
  order.reserve(coords.size());
  for (std::size_t i = 0; i < coords.size(); ++i)
    if (std::isfinite(coords[i][0]) && std::isfinite(coords[i][1])) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (coords[a][0] != coords[b][0]) return coords[a][0] < coords[b][0];
    return coords[a][1] < coords[b][1];
  });
  struct Group {
    std::size_t first;
    double z;
  };
  std::vector<Group> groups;
  for (std::size_t g = 0; g < order.size();) {
    const auto& p = coords[order[g]];
    // The sum starts from the first value (not from 0.0), so a lone -0.0 stays -0.0.
    double sum = p[2];
    std::size_t e = g + 1;
    while (e < order.size() && coords[order[e]][0] == p[0] && coords[order[e]][1] == p[1]) {
      sum += coords[order[e]][2];
      ++e;
    }
    groups.push_back({order[g], sum / static_cast<double>(e - g)});
    g = e;
  }
  std::sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) { return a.first < b.first; });
  Merged m;
  m.x.reserve(groups.size());
  m.y.reserve(groups.size());
  m.z.reserve(groups.size());
  for (const Group& gr : groups) {
    m.x.push_back(coords[gr.first][0]);
    m.y.push_back(coords[gr.first][1]);
    m.z.push_back(gr.z);
  }
  return m;
}

}  // namespace

Result<KrigedFields> LocalKriging::krige(std::span<const std::array<double, 3>> coords,
                                         const Lattice& lattice) const {
  if (coords.empty()) return empty_input("LocalKriging::krige: no points to grid");
  const std::size_t nc = lattice.ncol, nr = lattice.nrow;
  if (nr != 0 && nc > std::vector<double>().max_size() / nr) throw std::bad_alloc();

  const Merged data = merge_coincident(coords);
  std::vector<IndexEntry> entries(data.x.size());
  for (std::size_t i = 0; i < entries.size(); ++i) entries[i] = {data.x[i], data.y[i], i};
  const NeighbourIndex index = NeighbourIndex::build(entries);

  const double nan = std::numeric_limits<double>::quiet_NaN();
  KrigedFields out{Field(nc, nr, nan), Field(nc, nr, nan)};
  const LatticeFrame frame(lattice);
  if (nc == 0 || nr == 0) return out;  // no node (the other count may be huge)
  // Targets are kriged four at a time: four systems built and factorised one after the
  // other, then solved together (each substitution is one long chain of dependent
  // operations; four of them overlap). Every value is computed exactly as for a lone
  // target.
  struct Target {
    gridding::kriging::LuBuffers lu;
    std::vector<Neighbour> found;
    std::size_t i = 0, j = 0;
  };
  Target slots[4];
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(max_neighbours, index.size()));
  for (Target& t : slots) {
    t.found.reserve(want);
    t.lu.reserve(std::min<std::uint64_t>(max_neighbours, entries.size()) + 1);
  }
  const auto finish = [&](const Target& t) {
    const auto k = gridding::kriging::ordinary_estimate(data.z, t.found, t.lu);
    out.estimate.at(t.i, t.j) = k.estimate;
    out.variance.at(t.i, t.j) = k.variance;
  };
  gridding::kriging::PairGammaCache cache;
  cache.reset(data.x.size());
  std::size_t pending = 0;  // slots[0, pending) hold factorised systems waiting to be solved
  // Consecutive nodes are close and share most of their nearest data: the moving search
  // answers as the index does, mostly from a short list kept between nodes.
  MovingSearch search(index, data.x, data.y);
  for (std::size_t j = 0; j < nr; ++j) {
    for (std::size_t i = 0; i < nc; ++i) {
      Target& t = slots[pending];
      std::vector<Neighbour>& found = t.found;
      const auto [x, y] = frame.to_world(static_cast<double>(i), static_cast<double>(j));
      if (std::isfinite(x) && std::isfinite(y))
        search.nearest_within(x, y, max_neighbours, radius, found);
      else
        index.nearest_within(x, y, max_neighbours, radius, found);
      if (found.empty()) continue;
      if (cancel::poll(gridding::kriging::solve_work(found.size() + 1)))
        return cancel::error("LocalKriging::krige");
      if (!gridding::kriging::ordinary_system(data.x, data.y, found, variogram, t.lu, &cache)) continue;
      t.i = i;
      t.j = j;
      if (++pending < 4) continue;
      gridding::kriging::solve_four(slots[0].lu, slots[1].lu, slots[2].lu, slots[3].lu);
      for (const Target& s : slots) finish(s);
      pending = 0;
    }
  }
  for (std::size_t k = 0; k < pending; ++k) {
    slots[k].lu.solve();
    finish(slots[k]);
  }
  return out;
}

Result<KrigedFields> local_kriging_grid(std::span<const std::array<double, 3>> coords, const Lattice& lattice,
                                        const Variogram& variogram, std::uint64_t max_neighbours, double radius) {
  QUARN_TRY(engine, LocalKriging::make(max_neighbours, radius, variogram));
  return engine.krige(coords, lattice);
}

}  // namespace quarn::geostat
