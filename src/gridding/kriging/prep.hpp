// src/gridding/kriging/prep.hpp: the ordinary kriging system of one target in
// semivariance form, built into reusable buffers and solved by solve.hpp's LU.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "geostat/gamma_rows.hpp"
#include "geostat/neighbours.hpp"
#include "geostat/variogram.hpp"
#include "gridding/kriging/solve.hpp"

namespace quarn::gridding::kriging {

struct KrigeEstimate {
  double estimate;
  double variance;  ///< floored at 0 (a negative, zero or NaN variance is 0)
};

/// Semivariances between the data of the previous target's neighbours. Neighbouring
/// targets mostly share their data, and gamma between two data does not depend on the
/// target, so a pair seen at the previous target is copied instead of evaluated again
/// (the value is the same bits: the squared distance is symmetric). Reused per sweep.
struct PairGammaCache {
  std::vector<std::int64_t> slot;   ///< per datum: its position in `prev`, or -1
  std::vector<std::uint64_t> prev;  ///< the previous target's neighbour payloads
  std::vector<double> gamma;        ///< their gammas: prev.size() rows, `stride` apart
  std::size_t stride = 0;
  std::vector<std::int64_t> pos;    ///< per current neighbour: its position in `prev`, or -1
  std::vector<double> nx, ny, h;    ///< per current neighbour: its position and distance
  geostat::GammaKernels kernels{};  ///< the forms of the path active at reset()

  /// Sizes the per-datum table for `n_data` data, all unseen, and takes the gamma
  /// kernels of the calling thread's path.
  void reset(std::size_t n_data);
};

/// Ordinary kriging of one target from `neighbours` (n >= 1, as the search delivers
/// them: payload = index into x, y, z; distance to the target). System of size n + 1:
/// A[r][c] = gamma of the squared distance between neighbours r and c (0 on the
/// diagonal), A[r][n] = A[n][r] = 1, A[n][n] = 0; b[r] = gamma(distance r), b[n] = 1.
/// Estimate = 0 + sum lambda_r * z_r; variance = mu + sum lambda_r * b[r], both in
/// neighbour order. None when the matrix is singular (the caller leaves the target unset).
/// `buf` is resized to n + 1 and reused; nothing else allocates. With a `cache` (reset
/// for x.size() data), gammas between data already paired at the previous call are
/// copied from it; the result is the same bits either way.
[[nodiscard]] std::optional<KrigeEstimate> ordinary_krige(std::span<const double> x, std::span<const double> y,
                                                          std::span<const double> z,
                                                          std::span<const geostat::Neighbour> neighbours,
                                                          const geostat::Variogram& variogram, LuBuffers& buf,
                                                          PairGammaCache* cache = nullptr);

/// The first half of ordinary_krige(): builds the system into `buf` (with the same
/// optional cache) and factorises it. False when the matrix is singular.
[[nodiscard]] bool ordinary_system(std::span<const double> x, std::span<const double> y,
                                   std::span<const geostat::Neighbour> neighbours,
                                   const geostat::Variogram& variogram, LuBuffers& buf,
                                   PairGammaCache* cache = nullptr);

/// The second half: estimate and variance from a solved system (buf.solution) of these
/// neighbours.
[[nodiscard]] KrigeEstimate ordinary_estimate(std::span<const double> z, std::span<const geostat::Neighbour> neighbours,
                                              const LuBuffers& buf);

}  // namespace quarn::gridding::kriging
