#include "geostat/sgs/sweep.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "cancel.hpp"
#include "geostat/neighbours.hpp"
#include "geostat/nscore.hpp"
#include "geostat/sgs/correlation.hpp"
#include "geostat/sgs/lag_table.hpp"
#include "geostat/sgs/node_search.hpp"
#include "gridding/kriging/solve.hpp"
#include "sampling/stream.hpp"
#include "simd.hpp"

namespace quarn::geostat {
namespace {

using gridding::kriging::LuBuffers;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kGroup = 4;  // nodes solved together

struct Snapped {
  std::size_t col, row;
  double score;
};

// A standardised secondary: per-node values, finite where the node takes it into account.
struct Secondary {
  const std::vector<double>* values = nullptr;
  double r = 0.0;
};

// Population standardisation over the finite values; non-finite entries become 0.
// A field with no finite value is returned unchanged.
std::vector<double> standardise(const std::vector<double>& v) {
  double sum = 0.0;
  std::size_t count = 0;
  for (double x : v)
    if (std::isfinite(x)) {
      sum += x;
      ++count;
    }
  if (count == 0) return v;
  const double mean = sum / static_cast<double>(count);
  double ss = 0.0;
  for (double x : v)
    if (std::isfinite(x)) ss += (x - mean) * (x - mean);
  const double sd = std::sqrt(ss / static_cast<double>(count));
  std::vector<double> out(v.size(), 0.0);
  if (!(sd > 0.0)) return out;
  for (std::size_t k = 0; k < v.size(); ++k)
    if (std::isfinite(v[k])) out[k] = (v[k] - mean) / sd;
  return out;
}

// One node being simulated: where it is, its neighbour records (position and the
// payload whose value it takes, nearest first) and its kriging system. The system needs
// only positions, so it can be built and solved before the values of nodes simulated
// just before it are drawn; the values are read when the moments are taken.
struct Node {
  std::size_t p = 0, i = 0, j = 0;
  double x0 = 0.0, y0 = 0.0;
  double s = 0.0;         // collocated secondary value
  bool with_sec = false;  // the secondary takes part
  bool solved = false;    // the system is factorised and solved (else the moments are (0, 1))
  std::vector<double> nx, ny;
  std::vector<std::size_t> np;
  std::vector<std::size_t> ncol, nrow;  // the neighbours' nodes
  std::vector<std::int64_t> keys;       // their lag-table keys (table_system's scratch)
  LuBuffers lu;
};

// Reused for every node of one sweep. Known points are lattice nodes, so the node
// search serves whenever the geometry allows; the general index answers the rest (it
// is brought up to date only when needed). Both give the same neighbours in the same
// order.
struct Workspace {
  std::vector<double> known_x, known_y, known_v;
  std::vector<std::size_t> known_col, known_row;
  std::optional<sgs_detail::NodeSearch> grid;
  NeighbourIndex index;
  std::size_t indexed = 0;  // known points already in `index`
  std::vector<Neighbour> found;
  std::vector<sgs_detail::NodeSearch::Hit> hits;
  Node nodes[kGroup];

  // A known point; its value may be set later (known_v[id]), before anything reads it.
  void add_known(std::size_t col, std::size_t row, double x, double y, double v) {
    known_x.push_back(x);
    known_y.push_back(y);
    known_v.push_back(v);
    known_col.push_back(col);
    known_row.push_back(row);
    if (grid) grid->insert(col, row, static_cast<std::uint32_t>(known_x.size() - 1));
  }

  // Fills the node's neighbour records, nearest first.
  void neighbours(Node& node, std::uint64_t max_count, double radius) {
    node.nx.clear();
    node.ny.clear();
    node.np.clear();
    node.ncol.clear();
    node.nrow.clear();
    auto record = [&](std::size_t payload, double x, double y) {
      node.nx.push_back(x);
      node.ny.push_back(y);
      node.np.push_back(payload);
      node.ncol.push_back(known_col[payload]);
      node.nrow.push_back(known_row[payload]);
    };
    if (grid && grid->nearest_within(node.i, node.j, node.x0, node.y0, max_count, hits)) {
      for (const auto& h : hits) record(h.payload, h.x, h.y);
      return;
    }
    for (; indexed < known_x.size(); ++indexed) index.insert(known_x[indexed], known_y[indexed], indexed);
    index.nearest_within(node.x0, node.y0, max_count, radius, found);
    for (const Neighbour& nb : found) record(nb.payload, known_x[nb.payload], known_y[nb.payload]);
  }
};

struct Moments {
  double mean, variance;
};

// The correlation model with the kernel of the path active when the sweep starts, and
// the table by lag when the lattice has one.
struct Correlation {
  sgs_detail::CorrelationModel model;
  sgs_detail::CorrelationRowFn row;
  sgs_detail::CorrelationRowsFn rows;
  std::optional<sgs_detail::LagTable> table;
};

// The node's correlations from the lag table: false (nothing written) when a neighbour
// lies beyond the table's reach.
bool table_system(Node& node, const sgs_detail::LagTable& t, double* a, std::size_t ld, double* rhs) {
  const std::size_t n = node.np.size();
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t di = node.ncol[k] > node.i ? node.ncol[k] - node.i : node.i - node.ncol[k];
    const std::size_t dj = node.nrow[k] > node.j ? node.nrow[k] - node.j : node.j - node.nrow[k];
    if (di > static_cast<std::size_t>(t.reach_i()) || dj > static_cast<std::size_t>(t.reach_j())) return false;
  }
  std::vector<std::int64_t>& keys = node.keys;
  keys.resize(n);
  for (std::size_t k = 0; k < n; ++k) keys[k] = t.key(node.ncol[k], node.nrow[k]);
  const auto centre = t.centre();
  const auto key0 = t.key(node.i, node.j) + centre;
  for (std::size_t r = 0; r < n; ++r) {
    double* row = a + r * ld;
    const auto kr = keys[r] + centre;
    for (std::size_t c = 0; c < r; ++c) {
      const double v = t[kr - keys[c]];
      row[c] = v;
      a[c * ld + r] = v;
    }
    row[r] = 1.0;
    rhs[r] = t[key0 - kr + centre];
  }
  return true;
}

// Simple kriging of scores on correlations rho = 1 - gamma / total sill: no Lagrange
// row, mean 0 and variance 1 assumed. Builds and factorises the node's system; false
// when there is none (no neighbours and no secondary) or it is singular.
// Kept out of line: one call per node, and a profile then shows the system build apart.
[[gnu::noinline]] bool node_system(Node& node, const Correlation& rho, double r) {
  const std::size_t n = node.np.size();
  const std::size_t d = n + (node.with_sec ? 1 : 0);
  if (d == 0) return false;
  LuBuffers& lu = node.lu;
  lu.prepare(d);
  const std::size_t ld = lu.stride;
  double* a = lu.rows();
  if (!rho.table || !table_system(node, *rho.table, a, ld, lu.rhs.data())) {
    if (n > 0) {
      // The positions padded to a whole vector (the rows kernel reads that far).
      const std::size_t padded = (n + 3) & ~std::size_t{3};
      const double lx = node.nx[n - 1], ly = node.ny[n - 1];
      node.nx.resize(padded, lx);
      node.ny.resize(padded, ly);
    }
    const double* nx = node.nx.data();
    const double* ny = node.ny.data();
    // Row k holds rho(p_k - p_b): rho(p_b - p_k) is the same bits (negating dx, dy is
    // exact), so the matrix is symmetric bit for bit. The right-hand side takes
    // rho(x0 - x_k, y0 - y_k), the same bits as rho(x_k - x0, y_k - y0).
    rho.rows(rho.model, nx, ny, n, a, ld);
    rho.row(rho.model, node.x0, node.y0, nx, ny, n, lu.rhs.data());
  }
  if (node.with_sec) {
    for (std::size_t k = 0; k < n; ++k) {
      const double c = r * lu.rhs[k];
      a[k * ld + n] = c;
      a[n * ld + k] = c;
    }
    a[n * ld + n] = 1.0;
    lu.rhs[n] = r;
  }
  return lu.factorize();
}

// The node's moments from its solved system and the neighbours' values; (0, 1) when it
// has no system.
Moments node_moments(const Node& node, const std::vector<double>& known_v, double r) {
  if (!node.solved) return {0.0, 1.0};
  const std::size_t n = node.np.size();
  const std::vector<double>& lam = node.lu.solution;
  double m = 0.0;
  for (std::size_t k = 0; k < n; ++k) m += lam[k] * known_v[node.np[k]];
  if (node.with_sec) m += lam[n] * node.s;
  double var = 1.0;
  for (std::size_t k = 0; k < n; ++k) var -= lam[k] * node.lu.rhs[k];
  if (node.with_sec) var -= lam[n] * r;
  if (!(var > 0.0)) var = 0.0;
  return {m, var};
}

// The sweep in score space.
Field sweep(const Lattice& lat, const VariogramSpec& vg, std::uint64_t max_neighbours, double radius,
            const Secondary& sec, std::uint64_t seed, std::span<const Snapped> data) {
  const std::size_t nc = lat.ncol, nr = lat.nrow, nodes = nc * nr;
  const LatticeFrame frame(lat);
  Field field(nc, nr, kNaN);
  if (nodes == 0) return field;  // else the path loop would still count through every row
  Workspace w;
  Correlation rho{sgs_detail::CorrelationModel::from(vg), sgs_detail::correlation_row(simd::active()),
                  sgs_detail::correlation_rows(simd::active()), std::nullopt};
  rho.table = sgs_detail::LagTable::make(lat, rho.model, radius);
  w.grid = sgs_detail::NodeSearch::make(lat, radius);
  w.known_x.reserve(nodes + data.size());
  w.known_y.reserve(nodes + data.size());
  w.known_v.reserve(nodes + data.size());
  w.known_col.reserve(nodes + data.size());
  w.known_row.reserve(nodes + data.size());
  for (Node& node : w.nodes) {
    const std::uint64_t most = std::min<std::uint64_t>(max_neighbours, nodes + data.size());
    node.lu.reserve(most + 1);
    if (most <= 513) {
      node.nx.reserve(static_cast<std::size_t>(most) + 4);
      node.ny.reserve(static_cast<std::size_t>(most) + 4);
      node.np.reserve(static_cast<std::size_t>(most));
      node.ncol.reserve(static_cast<std::size_t>(most));
      node.nrow.reserve(static_cast<std::size_t>(most));
      node.keys.reserve(static_cast<std::size_t>(most));
    }
  }

  // The first datum on a node is the known point; the last one sets the node's value.
  for (const Snapped& s : data) {
    double& cell = field.at(s.col, s.row);
    if (std::isnan(cell)) {
      const auto [x, y] = frame.to_world(static_cast<double>(s.col), static_cast<double>(s.row));
      w.add_known(s.col, s.row, x, y, s.score);
    }
    cell = s.score;
  }

  std::vector<std::size_t> path;  // node offsets col * nrow + row, built row-major
  path.reserve(nodes - w.known_v.size());
  for (std::size_t j = 0; j < nr; ++j) {
    if (cancel::poll_n(4 * nc)) return field;  // the caller reports it
    for (std::size_t i = 0; i < nc; ++i)
      if (std::isnan(field.data[i * nr + j])) path.push_back(i * nr + j);
  }

  sampling::Stream rng = sampling::seeded_rng(seed);
  for (std::size_t k = path.size(); k-- > 1;) {
    if ((k & 4095) == 0 && cancel::poll(4096 * 16)) return field;
    const auto u = static_cast<std::size_t>(rng.draw_index_inclusive(0, k));
    std::swap(path[k], path[u]);
  }

  // Nodes go four at a time: each node's neighbours are searched once the earlier ones'
  // positions are known (as when they go one by one), the systems are solved together
  // (each substitution is a long chain of dependent operations; four of them overlap),
  // then the values are drawn in path order, each before the next node's moments read it.
  const auto start = [&](Node& node, std::size_t p) {
    node.p = p;
    node.i = p / nr;
    node.j = p % nr;
    const auto [x0, y0] = frame.to_world(static_cast<double>(node.i), static_cast<double>(node.j));
    node.x0 = x0;
    node.y0 = y0;
    w.neighbours(node, max_neighbours, radius);
    node.s = 0.0;
    node.with_sec = false;
    if (sec.values) {
      node.s = (*sec.values)[p];
      node.with_sec = std::isfinite(node.s);
    }
    w.add_known(node.i, node.j, x0, y0, kNaN);  // the value follows once drawn
    return !cancel::poll(gridding::kriging::solve_work(node.np.size() + 1));
  };
  const auto value = [&](const Node& node, std::size_t id) {
    const Moments mo = node_moments(node, w.known_v, sec.r);
    const double eps = rng.draw_standard_normal();
    const double v = mo.mean + std::sqrt(mo.variance) * (eps + 0.0);
    field.data[node.p] = v;
    w.known_v[id] = v;
  };
  for (std::size_t k = 0; k < path.size(); k += kGroup) {
    const std::size_t count = std::min(kGroup, path.size() - k);
    const std::size_t first_id = w.known_v.size();
    bool stopped = false;
    for (std::size_t q = 0; q < count && !stopped; ++q) stopped = !start(w.nodes[q], path[k + q]);
    if (stopped) break;  // the caller reports it
    bool all = count == kGroup;
    for (std::size_t q = 0; q < count; ++q) {
      w.nodes[q].solved = node_system(w.nodes[q], rho, sec.r);
      all = all && w.nodes[q].solved;
    }
    if (all) {
      gridding::kriging::solve_four(w.nodes[0].lu, w.nodes[1].lu, w.nodes[2].lu, w.nodes[3].lu);
    } else {
      for (std::size_t q = 0; q < count; ++q)
        if (w.nodes[q].solved) w.nodes[q].lu.solve();
    }
    for (std::size_t q = 0; q < count; ++q) value(w.nodes[q], first_id + q);
  }
  return field;
}

bool bad_neighbourhood(std::uint64_t max_neighbours, double radius) {
  return max_neighbours == 0 || !std::isfinite(radius) || !(radius > 0.0);
}

}  // namespace

std::optional<std::size_t> lattice_node_count(const Lattice& lattice) {
  std::uint64_t n = 0;
  // Beyond 2^56 nodes no buffer of the simulation can be allocated anyway; the cap keeps
  // every size computation of the sweep far from overflow.
  if (__builtin_mul_overflow(lattice.ncol, lattice.nrow, &n) || n > (std::uint64_t{1} << 56)) return std::nullopt;
  return static_cast<std::size_t>(n);
}

Result<SgsParams> SgsParams::make(std::uint64_t max_neighbours, double radius, VariogramSpec variogram) {
  if (bad_neighbourhood(max_neighbours, radius))
    return invalid_argument("SgsParams: need max_neighbours >= 1 and radius > 0");
  return SgsParams{max_neighbours, radius, std::move(variogram), std::nullopt};
}

Result<Field> sgs(std::span<const DataRow> data, const Lattice& lattice, const SgsParams& params,
                  std::uint64_t seed) {
  if (data.empty()) return empty_input("sgs: no conditioning data");
  if (bad_neighbourhood(params.max_neighbours, params.radius))
    return invalid_argument("sgs: need max_neighbours >= 1 and radius > 0");
  if (params.secondary && (params.secondary->field.ncol != lattice.ncol ||
                           params.secondary->field.nrow != lattice.nrow ||
                           params.secondary->field.data.size() != params.secondary->field.ncol *
                                                                      params.secondary->field.nrow))
    return invalid_argument("sgs: collocated secondary shape must match the lattice (ncol, nrow)");
  // A NaN value would enter the kriging systems as a known point and poison every
  // node that sees it; an infinite one breaks the normal-score interpolation.
  for (const DataRow& row : data)
    if (!std::isfinite(row[2])) return invalid_argument("sgs: conditioning values must be finite");
  if (!lattice_node_count(lattice)) return invalid_argument("sgs: lattice has too many nodes");

  std::vector<double> standardised;
  Secondary sec;
  if (params.secondary) {
    standardised = standardise(params.secondary->field.data);
    sec.values = &standardised;
    sec.r = params.secondary->r;
  }

  std::vector<double> z;
  z.reserve(data.size());
  for (const DataRow& row : data) z.push_back(row[2]);
  QUARN_TRY(ns, NormalScore::fit(z));

  const LatticeFrame frame(lattice);
  const double ncol = static_cast<double>(lattice.ncol), nrow = static_cast<double>(lattice.nrow);
  std::vector<Snapped> snapped;
  snapped.reserve(data.size());
  for (const DataRow& row : data) {
    const auto ij = frame.to_intrinsic(row[0], row[1]);
    if (!ij) continue;
    const double ci = std::round(ij->first), cj = std::round(ij->second);
    if (!(ci >= 0.0 && ci < ncol && cj >= 0.0 && cj < nrow)) continue;
    snapped.push_back({static_cast<std::size_t>(ci), static_cast<std::size_t>(cj), ns.transform(row[2])});
  }

  Field field = sweep(lattice, params.variogram, params.max_neighbours, params.radius, sec, seed, snapped);
  if (cancel::stopped() || !cancel::each(field.data.size(), [&](std::size_t k) {
        field.data[k] = ns.back_transform(field.data[k]);
      }))
    return cancel::error("sgs");
  return field;
}

Result<Field> sgs_unconditional(const Lattice& lattice, double mean, double variance, const Variogram& variogram,
                                std::uint64_t max_neighbours, double radius, std::uint64_t seed) {
  if (bad_neighbourhood(max_neighbours, radius))
    return invalid_argument("sgs_unconditional: need max_neighbours >= 1 and radius > 0");
  if (!std::isfinite(mean) || !std::isfinite(variance) || variance < 0.0)
    return invalid_argument("sgs_unconditional: need finite mean and variance >= 0");
  if (!lattice_node_count(lattice)) return invalid_argument("sgs_unconditional: lattice has too many nodes");
  if (variance == 0.0) return Field(lattice.ncol, lattice.nrow, mean);

  Field field = sweep(lattice, VariogramSpec(variogram), max_neighbours, radius, Secondary{}, seed, {});
  if (cancel::stopped()) return cancel::error("sgs_unconditional");
  const double sd = std::sqrt(variance);
  for (double& v : field.data) v = v * sd + mean;
  return field;
}

}  // namespace quarn::geostat
