// src/geostat/sgs/node_search.hpp: nearest known nodes of a lattice within a radius.
//
// Every known point of the simulation sits on a lattice node, at most one per node, so
// the search can walk a template of node offsets in order of increasing ideal distance
// instead of a tree. It answers exactly as geostat::NeighbourIndex does: points with
// d2 <= radius * radius (d2 = (x - qx) * (x - qx) + (y - qy) * (y - qy) from the stored
// positions), sorted by (d2, payload), the first max_count kept.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "geostat/neighbours.hpp"
#include "lattice.hpp"

namespace quarn::geostat::sgs_detail {

class NodeSearch {
 public:
  explicit NodeSearch(const Lattice& lattice) : frame_(lattice) {}

  /// A search for this lattice and radius, or none when the geometry does not suit it
  /// (zero, non-finite or extreme spacing or extent, 2^32 nodes or more); the caller
  /// then uses NeighbourIndex throughout.
  [[nodiscard]] static std::optional<NodeSearch> make(const Lattice& lattice, double radius);

  /// Marks node (col, row) as known with this payload (its position in the caller's lists).
  void insert(std::size_t col, std::size_t row, std::uint32_t payload) { payload_[col * nrow_ + row] = payload; }

  /// A found point: its payload and its position (node_xy of its node, bit for bit).
  struct Hit {
    std::uint32_t payload;
    double x, y;
  };

  /// The known nodes nearest to node (col, row) at world (x0, y0), nearest first.
  /// False (and `out` unspecified) when a radius too large for the node template leaves
  /// the answer open; the caller then asks NeighbourIndex.
  [[nodiscard]] bool nearest_within(std::size_t col, std::size_t row, double x0, double y0, std::uint64_t max_count,
                      std::vector<Hit>& out);

 private:
  struct Offset {
    double dist;  // ideal distance of the offset (exact lattice geometry)
    std::int64_t di, dj;
    std::int64_t delta;  // di * nrow + dj: the step in payload_
  };
  struct Cand {
    double d2;
    std::uint32_t payload;
    double x, y;
    bool operator<(const Cand& o) const { return d2 < o.d2 || (d2 == o.d2 && payload < o.payload); }
  };

  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  LatticeFrame frame_;
  std::size_t ncol_ = 0, nrow_ = 0;
  double r2_ = 0.0;
  double slack_ = 0.0;  // bound on the rounding of computed distances
  double cut_ = 0.0;    // ideal distance the template reaches
  bool complete_ = true;  // the template covers the whole radius
  std::vector<Offset> template_;
  std::vector<std::uint32_t> payload_;
  std::size_t ring_ = 0;  // most offsets within 2 * slack_ beyond another one's distance
  std::vector<Cand> cand_;
};

}  // namespace quarn::geostat::sgs_detail
