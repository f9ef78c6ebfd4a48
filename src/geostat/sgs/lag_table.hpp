// src/geostat/sgs/lag_table.hpp: the simulation's correlations looked up by lattice lag.
//
// Every known point of a simulation sits on a lattice node, and a correlation depends
// only on the computed separation (x_p - x_q, y_p - y_q). On a lattice whose node x
// depends on the column alone and y on the row alone, and whose computed differences
// X[i + d] - X[i] are the same double for every i (and likewise along rows), the
// separation of two nodes is a function of their lag: rho of that separation can be
// computed once per lag and looked up, with the bits of computing it per pair. Both
// properties are checked on the lattice itself (integer or binary-fraction spacings
// usually have them; a rotated lattice does not), else there is no table.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "geostat/sgs/correlation.hpp"
#include "lattice.hpp"

namespace quarn::geostat::sgs_detail {

class LagTable {
 public:
  /// The table of lags up to the reach of `radius` (twice it, so any two neighbours of
  /// one node are covered), or none when the lattice does not make lags exact or the
  /// table would be large.
  [[nodiscard]] static std::optional<LagTable> make(const Lattice& lattice, const CorrelationModel& cm,
                                                    double radius);

  /// Lags from a node to its neighbours within this reach (|di| <= reach_i, |dj| <=
  /// reach_j) keep every lag between two of them inside the table.
  [[nodiscard]] std::int64_t reach_i() const { return li_ / 2; }
  [[nodiscard]] std::int64_t reach_j() const { return lj_ / 2; }

  /// A node's key: key(p) - key(q) + centre() is the table position of lag p - q.
  [[nodiscard]] std::int64_t key(std::size_t col, std::size_t row) const {
    return static_cast<std::int64_t>(col) * width_ + static_cast<std::int64_t>(row);
  }
  [[nodiscard]] std::int64_t centre() const { return li_ * width_ + lj_; }

  /// cm.rho(x_p - x_q, y_p - y_q) for nodes p, q at table position `at` (key(p) - key(q)
  /// + centre(), with |col_p - col_q| <= 2 reach_i() and |row_p - row_q| <= 2 reach_j()).
  [[nodiscard]] double operator[](std::int64_t at) const { return values_[static_cast<std::size_t>(at)]; }

 private:
  std::int64_t li_ = 0, lj_ = 0, width_ = 1;
  std::vector<double> values_;
};

}  // namespace quarn::geostat::sgs_detail
