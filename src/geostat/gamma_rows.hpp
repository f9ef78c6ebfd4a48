// src/geostat/gamma_rows.hpp: semivariances of an isotropic model, many separations per
// call, for the kriging systems.
//
// Every value has the bits of the Variogram member it stands for: the vector forms take
// each lane through the same operations in the same order (sqrt and division are
// correctly rounded in every form; exp is the C library's, one lane at a time).
#pragma once
#include <cstddef>

#include "geostat/variogram.hpp"
#include "simd.hpp"

namespace quarn::geostat {

/// out[k] = v.gamma_sq(dx * dx + dy * dy) with dx = x0 - xs[k], dy = y0 - ys[k], k < n.
using GammaRowFn = void (*)(const Variogram& v, double x0, double y0, const double* xs, const double* ys,
                            std::size_t n, double* out);
/// out[k] = v.gamma_at(h[k]) for k < n.
using GammaAtFn = void (*)(const Variogram& v, const double* h, std::size_t n, double* out);

struct GammaKernels {
  GammaRowFn row;
  GammaAtFn at;
};

/// The forms of `path` (the portable ones when this build or processor lacks it).
[[nodiscard]] GammaKernels gamma_kernels(simd::Path path) noexcept;

}  // namespace quarn::geostat
