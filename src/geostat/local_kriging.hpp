// src/geostat/local_kriging.hpp: moving-neighbourhood ordinary kriging of scattered
// data onto every node of a lattice (estimate and kriging variance).
#pragma once
#include <array>
#include <cstdint>
#include <span>

#include "error.hpp"
#include "field.hpp"
#include "geostat/variogram.hpp"
#include "lattice.hpp"

namespace quarn::geostat {

struct KrigedFields {
  Field estimate;
  Field variance;
};

/// The engine: neighbourhood parameters and an isotropic variogram.
struct LocalKriging {
  std::uint64_t max_neighbours = 1;
  double radius = 1.0;
  Variogram variogram;

  /// InvalidArgument "LocalKriging: need max_neighbours >= 1 and radius > 0" when
  /// max_neighbours is 0 or radius is not finite or not > 0.
  [[nodiscard]] static Result<LocalKriging> make(std::uint64_t max_neighbours, double radius,
                                                 const Variogram& variogram);

  /// Krige rows [x, y, z] onto `lattice`:
  /// 1. no rows: EmptyInput "LocalKriging::krige: no points to grid";
  /// 2. rows at exactly equal (x, y) (-0.0 == +0.0) merge into one datum whose value is
  ///    their z sum in input order divided by their count, kept in first-occurrence
  ///    order; rows with a non-finite x or y can reach no node and are left out;
  /// 3. nodes are visited row by row (j outer, i inner) at node_xy(i, j); each takes at
  ///    most max_neighbours merged data within radius, nearest first (NeighbourIndex);
  ///    no neighbour or a singular system leaves the node NaN in both fields, else it
  ///    gets the ordinary kriging estimate and the variance floored at 0.
  /// A lattice whose node count cannot be allocated raises std::bad_alloc.
  [[nodiscard]] Result<KrigedFields> krige(std::span<const std::array<double, 3>> coords,
                                           const Lattice& lattice) const;
};

/// LocalKriging::make, then krige.
[[nodiscard]] Result<KrigedFields> local_kriging_grid(std::span<const std::array<double, 3>> coords,
                                                      const Lattice& lattice, const Variogram& variogram,
                                                      std::uint64_t max_neighbours, double radius);

}  // namespace quarn::geostat
