// src/synth/wells/tops.hpp: formation tops picked from a structure surface and
// perturbed by a seeded residual.
#pragma once
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "error.hpp"
#include "field.hpp"
#include "lattice.hpp"
#include "sampling/distributions.hpp"

namespace quarn::synth::wells {

/// Bilinear value of `field` (shaped like `lattice`) at world (x, y); NaN outside the
/// lattice, for an unusable lattice, or when any corner of the cell is NaN.
[[nodiscard]] double surface_value_at(const Field& field, const Lattice& lattice, double x, double y);

/// One top per well: the surface value plus the k-th residual draw from seeded_rng(seed);
/// a residual is drawn for every well, also where the surface is undefined (NaN top).
/// Errors: those of the residual's draws (a uniform or triangular too wide to draw from);
/// none for an empty `well_xy`, where nothing is drawn.
[[nodiscard]] Result<std::vector<double>> tops_from_surface(const Field& surface, const Lattice& lattice,
                                                            std::span<const std::pair<double, double>> well_xy,
                                                            const sampling::Sampler& residual, std::uint64_t seed);

}  // namespace quarn::synth::wells
