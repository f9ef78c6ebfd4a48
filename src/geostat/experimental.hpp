// src/geostat/experimental.hpp: the omnidirectional experimental semivariogram of
// scattered data, binned by horizontal separation.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "error.hpp"

namespace quarn::geostat {

/// One entry per non-empty lag class, in increasing class order.
struct ExperimentalVariogram {
  std::vector<double> lags;           ///< mean separation of the class's pairs
  std::vector<double> semivariances;  ///< sum (zi - zj)^2 / (2 * count)
  std::vector<std::uint64_t> counts;  ///< pairs in the class, always >= 1

  [[nodiscard]] std::size_t size() const { return lags.size(); }
};

/// Bins every unordered pair (i ascending, j ascending from i + 1) of rows [x, y, z] by
/// g = sqrt(dx^2 + dy^2): class floor(g / lag) when g < n_lags * lag (the product in
/// f64), else the pair is ignored. A pair whose class rounds up to n_lags although
/// g < n_lags * lag joins the last class. Sums follow the pair order, so results are
/// reproducible bit for bit. Pairs with a non-finite separation never count.
/// Errors, in this order: EmptyInput "experimental_variogram: need at least two data";
/// InvalidArgument "experimental_variogram: need lag > 0 (finite) and n_lags >= 1".
/// O(n^2) time; memory for at most the classes that the data's extent can reach.
[[nodiscard]] Result<ExperimentalVariogram> experimental_variogram(std::span<const std::array<double, 3>> coords,
                                                                   double lag, std::uint64_t n_lags);

}  // namespace quarn::geostat
