#include "resample.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "cancel.hpp"

namespace quarn {
namespace {

// Replace a coordinate by its nearest integer when within 1e-9 of it.
inline double snap(double v) {
  const double r = std::round(v);
  return std::fabs(v - r) < 1e-9 ? r : v;
}

}  // namespace

Result<Field> resample(const Field& src, const Lattice& sl, const Lattice& target, ResampleMode mode) {
  if (src.ncol != sl.ncol || src.nrow != sl.nrow)
    return invalid_argument("resample: src_grid shape [" + std::to_string(src.ncol) + ", " +
                            std::to_string(src.nrow) + "] does not match src_georef (" + std::to_string(sl.ncol) +
                            ", " + std::to_string(sl.nrow) + ")");
  if (sl.ncol == 0 || sl.nrow == 0 || sl.xinc == 0.0 || sl.yinc == 0.0)
    return invalid_geometry("resample: degenerate source geometry (empty grid or zero node spacing)");

  const double nan = std::numeric_limits<double>::quiet_NaN();
  Field out(target.ncol, target.nrow, nan);
  if (out.size() == 0 || !std::isfinite(sl.xori) || !std::isfinite(sl.yori) || !std::isfinite(sl.xinc) ||
      !std::isfinite(sl.yinc) || !std::isfinite(sl.rotation_deg))
    return out;

  const LatticeFrame tf(target), sf(sl);
  const double max_i = static_cast<double>(sl.ncol - 1);
  const double max_j = static_cast<double>(sl.nrow - 1);
  const std::size_t snc = sl.ncol, snr = sl.nrow;
  const double* sv = src.data.data();

  // Column by column, so the output is written in memory order; every node is
  // computed on its own, so the order does not change a bit.
  for (std::size_t i = 0; i < target.ncol; ++i) {
    if (cancel::poll_n(16 * target.nrow)) return cancel::error("resample");
    for (std::size_t j = 0; j < target.nrow; ++j) {
      const auto [x, y] = tf.to_world(static_cast<double>(i), static_cast<double>(j));
      if (!std::isfinite(x) || !std::isfinite(y)) continue;
      auto [fi, fj] = sf.to_intrinsic_raw(x, y);
      if (!std::isfinite(fi) || !std::isfinite(fj)) continue;
      fi = snap(fi);
      fj = snap(fj);
      if (!(fi >= 0.0 && fi <= max_i && fj >= 0.0 && fj <= max_j)) continue;
      const auto ri = static_cast<std::size_t>(std::round(fi));
      const auto rj = static_cast<std::size_t>(std::round(fj));
      const double nearest = sv[ri * snr + rj];
      double& cell = out.data[i * target.nrow + j];
      if (mode == ResampleMode::Nearest) {
        cell = nearest;
        continue;
      }
      if (std::isnan(nearest)) continue;
      const double fi0 = std::floor(fi), fj0 = std::floor(fj);
      const auto i0 = static_cast<std::size_t>(fi0);
      const auto j0 = static_cast<std::size_t>(fj0);
      const std::size_t i1 = i0 + 1 < snc ? i0 + 1 : snc - 1;
      const std::size_t j1 = j0 + 1 < snr ? j0 + 1 : snr - 1;
      const double tx = fi - fi0, ty = fj - fj0;
      const double w[4] = {(1 - tx) * (1 - ty), (1 - ty) * tx, (1 - tx) * ty, tx * ty};
      const double v[4] = {sv[i0 * snr + j0], sv[i1 * snr + j0], sv[i0 * snr + j1], sv[i1 * snr + j1]};
      double W = 0.0, V = 0.0;
      for (int k = 0; k < 4; ++k) {
        if (w[k] > 0.0 && std::isfinite(v[k])) {
          W += w[k];
          V += w[k] * v[k];
        }
      }
      if (W > 0.0) cell = V / W;
    }
  }
  return out;
}

}  // namespace quarn
