#include "lattice.hpp"

#include <cmath>

#include "format.hpp"

namespace quarn {

double normalize_rotation_deg(double deg) {
  double r = std::fmod(deg, 360.0);
  if (r < 0) r = r + 360.0;
  return r;
}

Result<Lattice> Lattice::make(double xori, double yori, double xinc, double yinc, std::uint64_t ncol,
                              std::uint64_t nrow, double rotation_deg, bool yflip) {
  if (!std::isfinite(rotation_deg)) return invalid_argument("Lattice: rotation_deg must be finite");
  return Lattice{xori, yori, xinc, yinc, ncol, nrow, normalize_rotation_deg(rotation_deg), yflip};
}

LatticeFrame::LatticeFrame(const Lattice& lat) : lat_(lat) {
  const double theta = lat.rotation_deg * kDegToRad;
  s_ = std::sin(theta);
  c_ = std::cos(theta);
  d_ = lat.yflip ? -lat.yinc : lat.yinc;
  cx_ = c_ * lat.xinc;
  sx_ = s_ * lat.xinc;
  sd_ = s_ * (-d_);
  cd_ = c_ * d_;
}

std::optional<std::pair<double, double>> LatticeFrame::to_intrinsic(double x, double y) const {
  if (lat_.xinc == 0.0 || lat_.yinc == 0.0) return std::nullopt;
  if (!std::isfinite(lat_.xori) || !std::isfinite(lat_.yori) || !std::isfinite(lat_.xinc) ||
      !std::isfinite(lat_.yinc) || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(lat_.rotation_deg))
    return std::nullopt;
  auto [fi, fj] = to_intrinsic_raw(x, y);
  if (!std::isfinite(fi) || !std::isfinite(fj)) return std::nullopt;
  return std::pair{fi, fj};
}

std::array<std::array<double, 2>, 2> Lattice::step_vectors() const {
  const double theta = rotation_deg * kDegToRad;
  const double s = std::sin(theta), c = std::cos(theta);
  const double d = yflip ? -yinc : yinc;
  return {{{c * xinc, s * xinc}, {(-d) * s, d * c}}};
}

std::pair<double, double> Lattice::intrinsic_to_world(double fi, double fj) const {
  return LatticeFrame(*this).to_world(fi, fj);
}

std::pair<double, double> Lattice::node_xy(std::uint64_t i, std::uint64_t j) const {
  return intrinsic_to_world(static_cast<double>(i), static_cast<double>(j));
}

std::optional<std::pair<double, double>> Lattice::world_to_intrinsic(double x, double y) const {
  return LatticeFrame(*this).to_intrinsic(x, y);
}

std::string Lattice::repr() const {
  std::string s = "Lattice(xori=" + fmt::num(xori) + ", yori=" + fmt::num(yori) + ", xinc=" + fmt::num(xinc) +
                  ", yinc=" + fmt::num(yinc) + ", ncol=" + fmt::num(ncol) + ", nrow=" + fmt::num(nrow);
  if (rotation_deg != 0.0 || yflip)
    s += ", rotation_deg=" + fmt::num(rotation_deg) + ", yflip=" + fmt::boolean(yflip) + ")";
  else
    s += ")";
  return s;
}

}  // namespace quarn
