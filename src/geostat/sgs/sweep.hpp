// src/geostat/sgs/sweep.hpp: sequential Gaussian simulation on a lattice, conditional
// (optionally with a collocated secondary field) and unconditional.
//
// Builds on: geostat/variogram (correlations), geostat/neighbours (incremental index),
// gridding/kriging/solve (LU), geostat/nscore, sampling/stream.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "error.hpp"
#include "field.hpp"
#include "geostat/variogram.hpp"
#include "lattice.hpp"

namespace quarn::geostat {

/// A field of ncol x nrow values correlated with the primary at coefficient r;
/// standardised over its finite values before use, non-finite nodes ignore it.
struct CollocatedSecondary {
  Field field;
  double r = 0.0;
};

struct SgsParams {
  std::uint64_t max_neighbours = 0;  ///< >= 1
  double radius = 0.0;               ///< finite, > 0 (world units)
  VariogramSpec variogram;           ///< fitted on normal scores; only its shape matters
  std::optional<CollocatedSecondary> secondary;

  /// InvalidArgument "SgsParams: need max_neighbours >= 1 and radius > 0". No secondary.
  [[nodiscard]] static Result<SgsParams> make(std::uint64_t max_neighbours, double radius, VariogramSpec variogram);
};

/// A conditioning datum: world x, y and the value z.
using DataRow = std::array<double, 3>;

/// One conditional realisation in data space, field[col][row]. Data snap to their
/// nearest node (rows off the lattice are dropped but still shape the normal-score
/// fit); the other nodes are simulated along a path shuffled from `seed`.
/// Errors, in this order: EmptyInput "sgs: no conditioning data"; InvalidArgument
/// "sgs: need max_neighbours >= 1 and radius > 0", "sgs: collocated secondary shape
/// must match the lattice (ncol, nrow)", "sgs: conditioning values must be finite",
/// "sgs: lattice has too many nodes".
[[nodiscard]] Result<Field> sgs(std::span<const DataRow> data, const Lattice& lattice, const SgsParams& params,
                                std::uint64_t seed);

/// One unconditional realisation with the given mean and variance (the sweep in score
/// space, then v * sqrt(variance) + mean); variance 0 gives the constant mean without
/// drawing. Errors, in this order (InvalidArgument): "sgs_unconditional: need
/// max_neighbours >= 1 and radius > 0", "sgs_unconditional: need finite mean and
/// variance >= 0", "sgs_unconditional: lattice has too many nodes".
[[nodiscard]] Result<Field> sgs_unconditional(const Lattice& lattice, double mean, double variance,
                                              const Variogram& variogram, std::uint64_t max_neighbours,
                                              double radius, std::uint64_t seed);

/// ncol * nrow when a field of that many nodes can be addressed, else none.
[[nodiscard]] std::optional<std::size_t> lattice_node_count(const Lattice& lattice);

}  // namespace quarn::geostat
