// src/geostat/moving_search.hpp: nearest data of a target that moves in small steps
// (kriging a lattice node after node), with exactly the answers of
// NeighbourIndex::nearest_within.
//
// The search keeps a list of the data within a radius R of the point where it was last
// rebuilt, sorted by their squared distance to the previous target. A new target at
// distance s from that point re-sorts the list by its own squared distances (the order
// changes little between neighbouring targets, so an insertion sort is short) and keeps
// its k best when the k-th lies clearly inside R - s: every datum outside the list is
// then strictly farther than the k-th. Otherwise the list is rebuilt around the target
// from a grid of buckets over the data (the index when the buckets would hand over far
// more candidates than the list keeps, as with strongly clustered data). Distances are
// computed as the index computes them, and ties go by payload as there, so the answer
// is the same bits.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "geostat/neighbours.hpp"

namespace quarn::geostat {

class MovingSearch {
 public:
  /// A search over `index`, whose points are (x[p], y[p]) with payload p and insertion
  /// number p (NeighbourIndex::build of entries {x[i], y[i], i} in order), all finite.
  MovingSearch(const NeighbourIndex& index, std::span<const double> x, std::span<const double> y);

  /// NeighbourIndex::nearest_within(qx, qy, max_count, radius, out) of the index, for a
  /// finite query point, max_count >= 1 and a finite radius >= 0.
  void nearest_within(double qx, double qy, std::uint64_t max_count, double radius, std::vector<Neighbour>& out);

 private:
  struct Entry {
    double d2;
    std::uint64_t payload;
  };
  // The data bucketed on a grid of square cells, row-major: cell (cx, cy) holds the
  // points [start[cy * nx + cx], start[cy * nx + cx + 1]) of x, y, payload.
  struct Buckets {
    double x0 = 0.0, y0 = 0.0, size = 0.0;
    std::size_t nx = 0, ny = 0;
    std::vector<std::uint32_t> start;
    std::vector<double> x, y;
    std::vector<std::uint64_t> payload;
  };
  void build_buckets();
  // The data within `list_radius` of (qx, qy) into list_ from the buckets; false (and
  // nothing done) when the cells to visit hold more than `most` points.
  bool gather(double qx, double qy, double list_radius, std::size_t most);
  void rebuild(double qx, double qy, double list_radius, std::size_t want);

  const NeighbourIndex& index_;
  std::span<const double> x_, y_;
  Buckets buckets_;  // empty (nx == 0) when the data do not suit a grid
  std::vector<Entry> list_;  // the data within list_radius_ of (cx_, cy_), nearly sorted
  bool sorted_ = true;       // false after a rebuild from the buckets (any order)
  std::vector<Neighbour> scratch_;
  double cx_ = 0.0, cy_ = 0.0, list_radius_ = -1.0;  // negative: no list yet
  std::vector<Entry> split_;  // scratch of the near / far split
  double kth_ = -1.0;  // the k-th distance of the last answer, or negative
  double prev_x_ = 0.0, prev_y_ = 0.0;  // the last target
};

}  // namespace quarn::geostat
