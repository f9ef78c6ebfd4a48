#include "synth/petro.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "cancel.hpp"
#include "format.hpp"
#include "sampling/stream.hpp"
#include "synth/log_series.hpp"

namespace quarn::synth {

namespace {

bool positive_finite(double x) { return std::isfinite(x) && x > 0.0; }
std::string f3(double v) { return fmt::fixed(v, 3); }
std::string f4(double v) { return fmt::fixed(v, 4); }
std::string f5(double v) { return fmt::fixed(v, 5); }

constexpr double kMinScale = 1e-4;
constexpr double kMaxScale = 60.0;
constexpr double kFdStep = 1e-5;

// Net moments of a sand candidate mixed with the fixed shale.
struct NetEval {
  bool degenerate = false;
  double pi = 0.0;   // sand proportion
  double r_m = 0.0;  // net mean residual
  double r_s = 0.0;  // net std residual
  [[nodiscard]] bool pi_inside() const { return 1e-9 < pi && pi < 0.999999999; }
  [[nodiscard]] double norm() const { return std::sqrt(r_m * r_m + r_s * r_s); }
};

class NetMoments {
 public:
  NetMoments(const PetroZoneSpec& z, CutoffMoments shale) : z_(z), sh_(shale) {}

  [[nodiscard]] NetEval at(double f, double s) const {
    const CutoffMoments sand = cutoff_moments(f, s, z_.net_cutoff);
    NetEval e;
    if (std::fabs(sand.p_above - sh_.p_above) < 1e-12) {
      e.degenerate = true;
      return e;
    }
    const double ntg = z_.ntg_target;
    e.pi = (ntg - sh_.p_above) / (sand.p_above - sh_.p_above);
    const double mu = ((1.0 - e.pi) * sh_.m1 + e.pi * sand.m1) / ntg;
    const double q = ((1.0 - e.pi) * sh_.m2 + e.pi * sand.m2) / ntg;
    const double var = q - mu * mu;
    const double sd = std::sqrt(var > 0.0 ? var : 0.0);
    e.r_m = mu - z_.net_por_mean;
    e.r_s = sd - z_.net_por_std;
    return e;
  }

 private:
  const PetroZoneSpec& z_;
  CutoffMoments sh_;
};

CoreError degenerate_error() {
  return invalid_argument(
      "synth_petro_curves: calibration hit a degenerate sand distribution "
      "(P(sand\u2265cutoff) == P(shale\u2265cutoff)); check the specs.");
}

}  // namespace

Result<PetroZoneSpec> PetroZoneSpec::make(double ntg_target, double net_por_mean, double net_por_std,
                                          double nonnet_por_mean, double nonnet_por_std, double bed_scale_m,
                                          double correlation_len_m, double net_cutoff) {
  if (auto st = SynthTransform::check(net_por_mean, net_por_std); !st.ok()) return std::move(st).error();
  if (auto st = SynthTransform::check(nonnet_por_mean, nonnet_por_std); !st.ok()) return std::move(st).error();
  if (!std::isfinite(net_cutoff) || net_cutoff <= 0.0 || net_cutoff >= 1.0)
    return invalid_argument("PetroZoneSpec: need 0 < net_cutoff < 1");
  if (!std::isfinite(ntg_target) || ntg_target <= 0.0 || ntg_target >= 1.0)
    return invalid_argument("PetroZoneSpec: need 0 < ntg_target < 1");
  if (!positive_finite(bed_scale_m)) return invalid_argument("PetroZoneSpec: bed_scale_m must be finite and > 0");
  if (!positive_finite(correlation_len_m))
    return invalid_argument("PetroZoneSpec: correlation_len_m must be finite and > 0");
  PetroZoneSpec z;
  z.net_por_mean = net_por_mean;
  z.net_por_std = net_por_std;
  z.nonnet_por_mean = nonnet_por_mean;
  z.nonnet_por_std = nonnet_por_std;
  z.net_cutoff = net_cutoff;
  z.ntg_target = ntg_target;
  z.bed_scale_m = bed_scale_m;
  z.correlation_len_m = correlation_len_m;
  return z;
}

std::string PetroZoneSpec::repr() const {
  return "PetroZoneSpec(net_cutoff=" + fmt::num(net_cutoff) + ", ntg_target=" + fmt::num(ntg_target) +
         ", net_por=(" + fmt::num(net_por_mean) + ", " + fmt::num(net_por_std) + "), nonnet_por=(" +
         fmt::num(nonnet_por_mean) + ", " + fmt::num(nonnet_por_std) + "), bed_scale_m=" + fmt::num(bed_scale_m) +
         ", correlation_len_m=" + fmt::num(correlation_len_m) + ")";
}

CutoffMoments cutoff_moments(double f, double s, double c) {
  const double zstar = (std::log(c / (1.0 - c)) - f) / s;
  double p = 1.0 - sampling::normal_cdf(zstar);
  if (p < 0.0) p = 0.0;
  if (p > 1.0) p = 1.0;
  const double zlo = std::max(zstar, -8.0);
  if (zlo >= 8.0) return {p, 0.0, 0.0};
  // Composite Simpson, 2000 intervals on [zlo, 8].
  const double h = (8.0 - zlo) / 2000.0;
  double sum1 = 0.0, sum2 = 0.0;
  for (int i = 0; i <= 2000; ++i) {
    const double zi = static_cast<double>(i) * h + zlo;
    const double y = logistic(s * zi + f);
    const double phi = std::exp(-(zi * zi) / 2.0) / 2.5066282746310007;
    const double w = (i == 0 || i == 2000) ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0);
    sum1 += w * y * phi;
    sum2 += w * (y * y) * phi;
  }
  return {p, h / 3.0 * sum1, h / 3.0 * sum2};
}

Result<PetroCalibration> calibrate_petro(const PetroZoneSpec& zone) {
  const double ntg = zone.ntg_target;
  const double cut = zone.net_cutoff;
  QUARN_TRY(shale, SynthTransform::make(zone.nonnet_por_mean, zone.nonnet_por_std));
  const CutoffMoments sh = cutoff_moments(shale.location, shale.scale, cut);

  if (sh.p_above >= ntg)
    return invalid_argument("synth_petro_curves: ntg_target " + f4(ntg) + " is at/below the achievable floor " +
                            f4(sh.p_above) + " = P(nonnet porosity \u2265 cutoff " + f3(cut) +
                            ") \u2014 the shale above-cutoff leak alone meets or exceeds it. Raise ntg_target, "
                            "lower nonnet_por, or lower net_cutoff.");

  // Screen with a sand lying entirely above the cutoff.
  const double pi0 = (ntg - sh.p_above) / (1.0 - sh.p_above);
  const double level = (zone.net_por_mean * ntg - sh.m1 * (1.0 - pi0)) / pi0;
  if (level >= 1.0 || level <= cut)
    return invalid_argument("synth_petro_curves: net_por mean " + f4(zone.net_por_mean) +
                            " is not reachable at ntg_target " + f4(ntg) +
                            " with this nonnet_por/cutoff \u2014 the implied sand level " + f4(level) +
                            " falls outside (cutoff " + f3(cut) + ", 1). Raise net_por mean or ntg_target.");
  const double spread = ((1.0 - pi0) * sh.m2 + pi0 * (level * level)) / ntg - zone.net_por_mean * zone.net_por_mean;
  const double floor = std::sqrt(spread > 0.0 ? spread : 0.0);
  if (zone.net_por_std <= floor)
    return invalid_argument("synth_petro_curves: net_por std " + f4(zone.net_por_std) +
                            " is below the achievable floor " + f4(floor) + " \u2014 with ntg_target " + f4(ntg) +
                            " and this nonnet_por/cutoff " + f3(cut) + " the shale above-cutoff leak (P=" +
                            f4(sh.p_above) +
                            ") alone makes the net rock spread at least this wide (the net rock is bimodal: "
                            "sand \u2248" +
                            f3(level) +
                            " mixed with silty-shale net). Raise net_por.std, or reduce the leak (lower "
                            "nonnet_por mean/std, or the cutoff).");

  QUARN_TRY(guess, SynthTransform::make(zone.net_por_mean, zone.net_por_std));
  double f = guess.location, s = guess.scale;
  const NetMoments net(zone, sh);
  bool converged = false;

  for (int accepted = 0; accepted < 200; ++accepted) {
    const NetEval e = net.at(f, s);
    if (e.degenerate) return degenerate_error();
    if (std::fabs(e.r_m) < 1e-9 && std::fabs(e.r_s) < 1e-9 && e.pi_inside()) {
      converged = true;
      break;
    }
    const NetEval fp = net.at(f + kFdStep, s);
    if (fp.degenerate) return degenerate_error();
    const NetEval fm = net.at(f - kFdStep, s);
    if (fm.degenerate) return degenerate_error();
    const NetEval sp = net.at(f, std::min(s + kFdStep, kMaxScale));
    if (sp.degenerate) return degenerate_error();
    const NetEval sm = net.at(f, std::max(s - kFdStep, kMinScale));
    if (sm.degenerate) return degenerate_error();
    const double dm_df = (fp.r_m - fm.r_m) / 2e-5;
    const double ds_df = (fp.r_s - fm.r_s) / 2e-5;
    const double dm_ds = (sp.r_m - sm.r_m) / 2e-5;
    const double ds_ds = (sp.r_s - sm.r_s) / 2e-5;

    const double det = ds_ds * dm_df - ds_df * dm_ds;
    if (std::fabs(det) < 1e-16) break;
    const double df = -(e.r_m * ds_ds - dm_ds * e.r_s) / det;
    const double ds = -(e.r_s * dm_df - ds_df * e.r_m) / det;
    const double base = std::sqrt(e.r_s * e.r_s + e.r_m * e.r_m);

    bool stepped = false;
    double a = 1.0;
    for (int trial = 0; trial < 50; ++trial) {
      const double f1 = f + df * a;
      const double s1 = std::min(kMaxScale, std::max(kMinScale, s + ds * a));
      const NetEval c = net.at(f1, s1);
      if (!c.degenerate && c.pi_inside() && c.norm() < base) {
        f = f1;
        s = s1;
        stepped = true;
        break;
      }
      a /= 2.0;
    }
    if (!stepped) break;
  }

  const NetEval fin = net.at(f, s);
  if (fin.degenerate) return degenerate_error();
  if (!converged && (std::fabs(fin.r_m) >= 1e-7 || std::fabs(fin.r_s) >= 1e-7))
    return invalid_argument("synth_petro_curves: calibration failed to converge for ntg_target " + f4(ntg) +
                            ", net_por (mean " + f4(zone.net_por_mean) + ", std " + f4(zone.net_por_std) +
                            "), cutoff " + f3(cut) + " (residual net mean " + f5(fin.r_m) + ", net std " +
                            f5(fin.r_s) + "). Adjust the targets.");
  if (!fin.pi_inside()) {
    const double p = cutoff_moments(f, s, cut).p_above;
    return invalid_argument("synth_petro_curves: ntg_target " + f4(ntg) +
                            " is unreachable for this net_por \u2014 the matching sand has P(sand\u2265cutoff) = " +
                            f4(p) + ", so the achievable NTG lies strictly between the shale floor " +
                            f4(sh.p_above) + " and " + f4(p) + ". Adjust ntg_target or net_por.");
  }
  return PetroCalibration{SynthTransform{f, s}, shale, fin.pi};
}

Result<PetroCurves> synth_petro_curves(const PetroZoneSpec& zone, double depth_step, std::uint64_t n_samples,
                                       std::uint64_t seed) {
  if (n_samples == 0) return empty_input("synth_petro_curves: n_samples = 0");
  if (!positive_finite(depth_step))
    return invalid_argument("synth_petro_curves: depth_step must be finite and > 0");
  if (auto st = check_sample_count("synth_petro_curves", n_samples); !st.ok()) return std::move(st).error();
  QUARN_TRY(cal, calibrate_petro(zone));

  const std::vector<std::uint8_t> facies =
      facies_column(n_samples, depth_step, cal.sand_fraction, zone.bed_scale_m, seed);
  const double rho = std::exp(-depth_step / zone.correlation_len_m);
  sampling::Stream stream = sampling::seeded_rng(sampling::derive_seed(seed));
  PetroCurves out;
  out.phie = ar1_driver(n_samples, rho, stream);
  out.net_flag.resize(out.phie.size());
  if (cancel::stopped() || !cancel::each(out.phie.size(), [&](std::size_t i) {
        const double v = facies[i] != 0 ? cal.sand.apply(out.phie[i]) : cal.shale.apply(out.phie[i]);
        out.phie[i] = v;
        out.net_flag[i] = v >= zone.net_cutoff ? 1 : 0;
      }))
    return cancel::error("synth_petro_curves");
  return out;
}

}  // namespace quarn::synth
