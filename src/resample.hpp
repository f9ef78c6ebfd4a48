// src/resample.hpp: transfer of a field from one lattice onto another.
#pragma once
#include "error.hpp"
#include "field.hpp"
#include "lattice.hpp"

namespace quarn {

enum class ResampleMode { Bilinear, Nearest };

/// Bilinear (hole-aware: NaN nearest node gives NaN, non-finite corners drop out and
/// the weights renormalise) or nearest-node transfer through world coordinates.
/// Errors: InvalidArgument if the field's shape is not the source's; InvalidGeometry
/// for an empty source or a zero source spacing. Non-finite source geometry gives
/// an all-NaN field.
[[nodiscard]] Result<Field> resample(const Field& src, const Lattice& src_lattice, const Lattice& target,
                                     ResampleMode mode);

}  // namespace quarn
