#include "synth/log_series.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "cancel.hpp"
#include "format.hpp"
#include "sampling/stream.hpp"

namespace quarn::synth {

namespace {

bool positive_finite(double x) { return std::isfinite(x) && x > 0.0; }

}  // namespace

Status check_sample_count(const char* op, std::uint64_t n) {
  if (n > kMaxSamples)
    return invalid_argument(std::string(op) + ": " + fmt::num(n) + " samples requested, more than the limit of " +
                            fmt::num(kMaxSamples));
  return ok_status();
}

// ---- zone stack ------------------------------------------------------------

Result<ZoneSpec> ZoneSpec::make(double thickness_m, double mean, double std, double corr_length_m) {
  if (!positive_finite(thickness_m)) return invalid_argument("ZoneSpec: thickness_m must be finite and > 0");
  if (!positive_finite(corr_length_m)) return invalid_argument("ZoneSpec: corr_length_m must be finite and > 0");
  if (auto st = SynthTransform::check(mean, std); !st.ok()) return std::move(st).error();
  return ZoneSpec{thickness_m, mean, std, corr_length_m};
}

std::string ZoneSpec::repr() const {
  return "ZoneSpec(thickness_m=" + fmt::num(thickness_m) + ", mean=" + fmt::num(mean) + ", std=" + fmt::num(std) +
         ", corr_length_m=" + fmt::num(corr_length_m) + ")";
}

std::uint64_t zone_sample_count(double thickness_m, double depth_step) {
  const std::uint64_t n = saturating_count(thickness_m / depth_step);
  return n == 0 ? 1 : n;
}

std::vector<std::uint64_t> zone_sample_counts(std::span<const ZoneSpec> zones, double depth_step) {
  std::vector<std::uint64_t> counts;
  counts.reserve(zones.size());
  for (const ZoneSpec& z : zones) counts.push_back(zone_sample_count(z.thickness_m, depth_step));
  return counts;
}

Result<std::vector<double>> synth_log_series(std::span<const ZoneSpec> zones, double depth_step,
                                             std::uint64_t transition_beds, std::uint64_t seed) {
  if (zones.empty()) return empty_input("synth_log_series: empty zone stack");
  if (!positive_finite(depth_step)) return invalid_argument("synth_log_series: depth_step must be finite and > 0");

  const std::vector<std::uint64_t> counts = zone_sample_counts(zones, depth_step);
  std::vector<std::uint64_t> starts(counts.size());
  std::uint64_t total = 0;  // saturates: a stack that overflows 64 bits is refused below
  for (std::size_t k = 0; k < counts.size(); ++k) {
    starts[k] = total;
    total = counts[k] > UINT64_MAX - total ? UINT64_MAX : total + counts[k];
  }
  if (auto st = check_sample_count("synth_log_series", total); !st.ok()) return std::move(st).error();
  const auto n = static_cast<std::size_t>(total);

  // Zones with the same (mean, std) share one solve: the transform depends on nothing else.
  std::vector<SynthTransform> transforms(zones.size());
  {
    std::vector<std::size_t> order(zones.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      if (zones[a].mean != zones[b].mean) return zones[a].mean < zones[b].mean;
      return zones[a].std < zones[b].std;
    });
    for (std::size_t g = 0; g < order.size();) {
      const ZoneSpec& z = zones[order[g]];
      auto t = SynthTransform::make(z.mean, z.std);
      if (!t.ok()) return std::move(t).error();  // unreachable for validated zones
      std::size_t e = g;
      for (; e < order.size() && zones[order[e]].mean == z.mean && zones[order[e]].std == z.std; ++e)
        transforms[order[e]] = *t;
      g = e;
    }
  }

  // Driver: the coefficient between samples i-1 and i belongs to the zone of i.
  sampling::Stream stream = sampling::seeded_rng(seed);
  std::vector<double> z(n);
  std::vector<double> y(n);
  std::size_t i = 0;
  for (std::size_t k = 0; k < zones.size(); ++k) {
    double rho = std::exp(-depth_step / zones[k].corr_length_m);
    if (rho > 0.999999999) rho = 0.999999999;
    const double g = std::sqrt(1.0 - rho * rho);
    const SynthTransform& t = transforms[k];
    const auto end = static_cast<std::size_t>(starts[k] + counts[k]);
    for (; i < end; ++i) {
      if ((i & 4095) == 0 && cancel::poll(4096 * 32)) return cancel::error("synth_log_series");
      const double d = stream.draw_standard_normal();
      z[i] = i == 0 ? d : g * d + rho * z[i - 1];
      y[i] = t.apply(z[i]);
    }
  }

  // Blend the transform parameters across each internal boundary; later windows win.
  if (transition_beds > 0 && zones.size() >= 2) {
    const std::uint64_t b = transition_beds;
    for (std::size_t k = 1; k < zones.size(); ++k) {
      const std::uint64_t s = starts[k];
      const std::uint64_t lo = s >= b ? s - b : 0;
      const std::uint64_t hi = total - s > b ? s + b : total;
      const auto len = static_cast<double>(hi - lo);
      const SynthTransform& t0 = transforms[k - 1];
      const SynthTransform& t1 = transforms[k];
      for (std::uint64_t j = 0; j < hi - lo; ++j) {
        if ((j & 4095) == 0 && cancel::poll(4096 * 32)) return cancel::error("synth_log_series");
        const double r = static_cast<double>(j) / len;
        const double w = r < 1.0 ? r : 1.0;
        const double f = w * (t1.location - t0.location) + t0.location;
        const double c = w * (t1.scale - t0.scale) + t0.scale;
        const auto ix = static_cast<std::size_t>(lo + j);
        y[ix] = logistic(c * z[ix] + f);
      }
    }
  }
  return y;
}

// ---- facies and porosity --------------------------------------------------

std::vector<std::uint8_t> facies_column(std::uint64_t n, double depth_step, double ntg_target, double bed_scale_m,
                                        std::uint64_t seed) {
  const double threshold = sampling::normal_inv_cdf(1.0 - ntg_target);
  const double rho = std::exp(-depth_step / bed_scale_m);
  sampling::Stream stream = sampling::seeded_rng(seed);
  const std::vector<double> z = ar1_driver(n, rho, stream);
  std::vector<std::uint8_t> facies(z.size());
  cancel::each(z.size(), [&](std::size_t i) { facies[i] = z[i] > threshold ? 1 : 0; });
  return facies;  // callers check cancel::stopped()
}

Result<std::vector<std::uint8_t>> synth_facies_series(std::uint64_t n, double depth_step, double ntg_target,
                                                      double bed_scale_m, std::uint64_t seed) {
  if (n == 0) return empty_input("synth_facies_series: n = 0");
  if (!positive_finite(depth_step))
    return invalid_argument("synth_facies_series: depth_step must be finite and > 0");
  if (!std::isfinite(ntg_target) || ntg_target <= 0.0 || ntg_target >= 1.0)
    return invalid_argument("synth_facies_series: need 0 < ntg_target < 1");
  if (!positive_finite(bed_scale_m))
    return invalid_argument("synth_facies_series: bed_scale_m must be finite and > 0");
  if (auto st = check_sample_count("synth_facies_series", n); !st.ok()) return std::move(st).error();
  std::vector<std::uint8_t> facies = facies_column(n, depth_step, ntg_target, bed_scale_m, seed);
  if (cancel::stopped()) return cancel::error("synth_facies_series");
  return facies;
}

Result<std::vector<double>> synth_por_with_facies(std::span<const std::uint8_t> facies, double depth_step,
                                                  double sand_mean, double sand_std, double shale_mean,
                                                  double shale_std, double corr_length_m, std::uint64_t seed) {
  auto sand = SynthTransform::make(sand_mean, sand_std);
  if (!sand.ok()) return std::move(sand).error();
  auto shale = SynthTransform::make(shale_mean, shale_std);
  if (!shale.ok()) return std::move(shale).error();
  if (facies.empty()) return empty_input("synth_por_with_facies: empty facies");
  if (!positive_finite(depth_step))
    return invalid_argument("synth_por_with_facies: depth_step must be finite and > 0");
  if (!positive_finite(corr_length_m))
    return invalid_argument("synth_por_with_facies: corr_length_m must be finite and > 0");

  const double rho = std::exp(-depth_step / corr_length_m);
  sampling::Stream stream = sampling::seeded_rng(sampling::derive_seed(seed));
  std::vector<double> por = ar1_driver(facies.size(), rho, stream);
  if (cancel::stopped() || !cancel::each(por.size(), [&](std::size_t i) {
        por[i] = facies[i] != 0 ? sand->apply(por[i]) : shale->apply(por[i]);
      }))
    return cancel::error("synth_por_with_facies");
  return por;
}

// ---- NTG display curve ----------------------------------------------------

Result<std::vector<double>> ntg_curve(std::span<const double> net_flag, double depth_step, double window_m) {
  if (net_flag.empty()) return empty_input("ntg_curve: empty net_flag");
  if (!positive_finite(depth_step)) return invalid_argument("ntg_curve: depth_step must be finite and > 0");
  if (!positive_finite(window_m)) return invalid_argument("ntg_curve: window_m must be finite and > 0");

  const std::size_t n = net_flag.size();
  std::uint64_t h = saturating_count(window_m / depth_step) / 2;
  if (h == 0) h = 1;
  // prefix[j] = flags among samples 0 .. j-1; integer counts keep every window exact
  std::vector<std::uint64_t> prefix(n + 1);
  prefix[0] = 0;
  for (std::size_t j = 0; j < n; ++j) prefix[j + 1] = prefix[j] + (net_flag[j] != 0.0 ? 1 : 0);
  std::vector<double> out(n);
  if (!cancel::each(n, [&](std::size_t j) {
        const std::size_t lo = j >= h ? j - static_cast<std::size_t>(h) : 0;
        const std::size_t hi = n - j - 1 > h ? j + static_cast<std::size_t>(h) + 1 : n;
        out[j] = static_cast<double>(prefix[hi] - prefix[lo]) / static_cast<double>(hi - lo);
      }))
    return cancel::error("ntg_curve");
  return out;
}

}  // namespace quarn::synth
