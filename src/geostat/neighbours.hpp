// src/geostat/neighbours.hpp: the 2-D neighbour index behind kriging and simulation:
// nearest points within a radius, nearest first, at most a given count.
//
// Result contract (independent of the internal layout, so a bulk-built index and one
// grown point by point answer identically for the same set of points):
//   * candidates are the stored points with d2 <= radius * radius, where
//     d2 = (x - qx) * (x - qx) + (y - qy) * (y - qy) in that order;
//   * they come out sorted by (d2, payload, insertion number) ascending, so points at
//     exactly equal distance come out by ascending payload, and equal payloads (a payload
//     inserted twice) in insertion order; the first `max_count` of that order are kept;
//   * each result carries its payload and distance sqrt(d2).
// Points whose x or y is not finite are not stored: no finite radius can reach them.
//
// Structure: static k-d trees with bounding boxes, searched depth-first nearer child
// first; candidates are compacted to the k best (nth_element) as they accumulate, and
// every box whose minimum d2 exceeds the radius or the current k-th best is pruned.
// Incremental insertion keeps a small unsorted buffer and merges it into trees of
// doubling size (the logarithmic method), so the trees stay balanced whatever the
// insertion order: O(log^2 n) amortised per insert, and a query never scans all points.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace quarn::geostat {

/// One query result: the caller's payload and the Euclidean distance to the query point.
struct Neighbour {
  std::uint64_t payload;
  double distance;
};

/// A point to index and its payload (normally its position in the caller's arrays).
struct IndexEntry {
  double x;
  double y;
  std::uint64_t payload;
};

class NeighbourIndex {
 public:
  /// An empty index, to be grown with insert().
  NeighbourIndex() = default;

  /// Bulk load: one balanced tree over all entries (insertion numbers follow the span order).
  [[nodiscard]] static NeighbourIndex build(std::span<const IndexEntry> entries);

  /// Adds one point. Amortised O(log^2 n); never invalidates earlier results.
  void insert(double x, double y, std::uint64_t payload);

  /// Number of stored points (points with a non-finite coordinate are not stored).
  [[nodiscard]] std::size_t size() const { return count_; }
  [[nodiscard]] bool empty() const { return count_ == 0; }

  /// Clears `out`, then fills it with at most `max_count` points within `radius` of
  /// (qx, qy), in the order of the result contract above. A point at exactly the radius
  /// is included. Empty result when max_count is 0, the index is empty, radius is
  /// NaN or negative, or the query point is not finite. `out` keeps its capacity
  /// between calls, and so does the index's internal scratch: one index must not be
  /// queried from two threads at once.
  void nearest_within(double qx, double qy, std::uint64_t max_count, double radius,
                      std::vector<Neighbour>& out) const;

 private:
  struct Node {
    double minx, miny, maxx, maxy;
    std::uint32_t begin, end;  // point range [begin, end) in the tree's arrays
    std::int32_t left, right;  // children, -1 for a leaf
  };
  struct Tree {
    std::vector<double> x, y;
    std::vector<std::uint64_t> payload, seq;
    std::vector<Node> nodes;  // nodes[0] is the root
    [[nodiscard]] std::size_t size() const { return x.size(); }
  };
  struct Point {
    double x, y;
    std::uint64_t payload, seq;
  };
  struct Item {
    double key;          // exact d2
    std::uint64_t a, b;  // payload, insertion number
  };
  struct Pending {
    double d2;
    std::int32_t node;
  };

  static Tree make_tree(std::vector<Point>& pts);
  static std::int32_t build_node(Tree& t, std::vector<Point>& pts, std::uint32_t begin, std::uint32_t end);
  void flush_buffer();

  std::vector<Tree> trees_;      // sizes strictly decreasing
  std::vector<Point> buffer_;    // recent inserts not yet in a tree
  std::size_t count_ = 0;
  std::uint64_t next_seq_ = 0;
  mutable std::vector<Item> heap_;      // query scratch, reused
  mutable std::vector<Pending> stack_;  // query scratch, reused
};

}  // namespace quarn::geostat
