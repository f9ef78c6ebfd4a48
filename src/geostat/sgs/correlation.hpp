// src/geostat/sgs/correlation.hpp: the correlations rho = 1 - gamma / total sill that
// fill the simulation's kriging systems, many separations per call.
//
// Every value has the bits of 1.0 - spec.gamma(dx, dy) / spec.total_sill(): the vector
// forms compute each lane with the same operations in the same order (sqrt and division
// are correctly rounded in every form; exp is the C library's, one lane at a time).
#pragma once
#include <cstddef>

#include "geostat/variogram.hpp"
#include "simd.hpp"

namespace quarn::geostat::sgs_detail {

/// The model in the flat form the kernels read.
struct CorrelationModel {
  VariogramModel model = VariogramModel::Spherical;
  bool anisotropic = false;
  double nugget = 0.0, sill = 0.0, range = 1.0;  ///< range = major for an anisotropic model
  double sin_az = 0.0, cos_az = 1.0, major = 1.0, minor = 1.0, vertical = 1.0;
  double total = 1.0;  ///< nugget + sill

  [[nodiscard]] static CorrelationModel from(const VariogramSpec& spec);
  /// 1.0 - gamma(dx, dy) / total, as VariogramSpec::gamma computes gamma.
  [[nodiscard]] double rho(double dx, double dy) const;
};

/// out[k] = rho(x0 - xs[k], y0 - ys[k]) for k < n.
using CorrelationRowFn = void (*)(const CorrelationModel& cm, double x0, double y0, const double* xs,
                                  const double* ys, std::size_t n, double* out);

/// a[r * ld + c] = rho(xs[r] - xs[c], ys[r] - ys[c]) for r, c < n (1 on the diagonal).
/// The vector forms read xs and ys, and write each row, up to n rounded up to a multiple
/// of 4: the caller pads them.
using CorrelationRowsFn = void (*)(const CorrelationModel& cm, const double* xs, const double* ys, std::size_t n,
                                   double* a, std::size_t ld);

/// The form of `path` (the portable one when this build or processor lacks it).
[[nodiscard]] CorrelationRowFn correlation_row(simd::Path path) noexcept;
/// The form of `path` (the portable one when this build or processor lacks it).
[[nodiscard]] CorrelationRowsFn correlation_rows(simd::Path path) noexcept;

}  // namespace quarn::geostat::sgs_detail
