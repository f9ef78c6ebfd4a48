// src/geostat/fit.hpp: weighted least-squares fit of a Variogram to an experimental
// variogram: a two-stage grid search over the range, with nugget and partial sill in
// closed form for each candidate range.
#pragma once
#include <span>
#include <vector>

#include "error.hpp"
#include "geostat/experimental.hpp"
#include "geostat/variogram.hpp"

namespace quarn::geostat {

/// Unit shape used by the fit at lag h for range a, r = h / a (no special case at h = 0):
/// Nugget 0; Spherical 1 if r >= 1 else 1.5 * r - 0.5 * (r * r * r);
/// Exponential 1 - exp(-3 * r); Gaussian 1 - exp(-3 * (r * r)).
[[nodiscard]] double fit_shape(VariogramModel model, double h, double a);

/// Nugget c0, partial sill c and weighted squared error of the best candidate for one range.
struct SillFit {
  double nugget;
  double sill;
  double sse;
};

/// Closed-form, non-negative weighted least squares of y ~ c0 + c * s with weights
/// w = counts. Candidates in order: the unconstrained solution (when |det| > 1e-300),
/// sill only (when sum w s^2 > 0), nugget only (when sum w > 0), (0, 0); a candidate
/// with a component below -1e-12 is dropped, small negatives become 0; the smallest SSE
/// wins, the earlier candidate on a tie. `shapes` is scratch (resized to the classes).
[[nodiscard]] SillFit fit_sills(VariogramModel model, const ExperimentalVariogram& ev, double range,
                                std::vector<double>& shapes);

/// Fits `model` to `ev`. Spherical, Exponential, Gaussian: H = largest lag; 400 coarse
/// ranges j * (2H - H/50) / 399 + H/50, then 100 fine ranges j * (hi - lo) / 99 + lo on
/// [max(t - step, H/100), t + step] around the coarse best t; the first smallest SSE wins
/// in each grid and the fine result must be strictly better to replace the coarse one;
/// a range not > 1e-9 becomes 1e-9. When every lag is 0 no range can be told apart:
/// the closed form is evaluated at range 1e-9 (every shape is then 0, so the fit is
/// the pure nugget). Nugget: nugget = sum(count * semivariance) / sum(count), sill 0,
/// range max(H, 1). The result goes through Variogram::make, whose errors apply.
/// Errors: EmptyInput "Variogram::fit: empty experimental variogram", then make()'s.
[[nodiscard]] Result<Variogram> fit_variogram(VariogramModel model, const ExperimentalVariogram& ev);

}  // namespace quarn::geostat
