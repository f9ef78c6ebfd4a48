// The moment-matching transform, the AR(1) driver and the calibration internals of the
// synthetic logs, checked where Python cannot reach.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "check.hpp"
#include "sampling/stream.hpp"
#include "synth/log_series.hpp"
#include "synth/petro.hpp"
#include "synth/transform.hpp"

using namespace quarn::synth;
using quarn::sampling::normal_cdf;
using quarn::sampling::normal_inv_cdf;
using quarn::sampling::seeded_rng;

TEST_CASE("quadrature nodes are the ascending, symmetric midpoint quantiles") {
  const auto& z = quadrature_nodes();
  CHECK_EQ(&z, &quadrature_nodes());  // computed once
  for (std::size_t i = 0; i < 256; ++i) {
    CHECK_EQ(z[i], normal_inv_cdf((static_cast<double>(i) + 0.5) / 256.0));
    CHECK_EQ(z[i], -z[255 - i]);
    if (i > 0) CHECK(z[i - 1] < z[i]);
  }
}

TEST_CASE("solved transforms meet the mean and variance tolerances") {
  const double targets[][2] = {{0.5, 0.1},   {0.5, 0.45}, {0.2, 0.05},  {0.03, 0.01},  {0.97, 0.02},
                               {0.35, 0.3},  {0.8, 0.001}, {0.1, 0.25}, {0.65, 0.2},   {0.999, 0.0005}};
  for (const auto& t : targets) {
    auto r = SynthTransform::make(t[0], t[1]);
    CHECK(r.ok());
    if (!r.ok()) continue;
    CHECK(r->scale >= 1e-6 && r->scale <= 60.0);
    const QuadMoments m = quadrature_moments(r->scale, r->location);
    CHECK(std::fabs(m.mean - t[0]) <= 1e-12);
    CHECK(std::fabs(m.variance - t[1] * t[1]) <= 1e-10);
  }
}

TEST_CASE("symmetric target solves to a zero location; unreachable spread stops at the bracket") {
  auto half = SynthTransform::make(0.5, 0.2);
  CHECK(half.ok() && std::fabs(half->location) <= 1e-9);
  // std just below 0.5 needs a scale beyond 60: no error, the widest spread allowed
  auto wide = SynthTransform::make(0.5, 0.4999);
  CHECK(wide.ok() && wide->scale > 59.99999 && wide->scale <= 60.0);
}

TEST_CASE("apply is overflow-safe and multiplies before adding") {
  const SynthTransform t{0.3, 2.0};
  const double inf = std::numeric_limits<double>::infinity();
  CHECK_EQ(t.apply(1e308), 1.0);
  CHECK_EQ(t.apply(-1e308), 0.0);
  CHECK_EQ(t.apply(inf), 1.0);
  CHECK_EQ(t.apply(-inf), 0.0);
  CHECK_EQ(t.apply(-0.15), 0.5);
  CHECK_EQ(logistic(-800.0), 0.0);
  CHECK_EQ(logistic(800.0), 1.0);
  const double z = 0.7;
  CHECK_EQ(t.apply(z), 1.0 / (1.0 + std::exp(-(z * 2.0 + 0.3))));
  CHECK_EQ(t.apply(-z), std::exp(-z * 2.0 + 0.3) / (1.0 + std::exp(-z * 2.0 + 0.3)));
}

TEST_CASE("ar1 driver: one draw per sample, coefficient clamped into [0, 0.999999999]") {
  auto s0 = seeded_rng(5);
  CHECK(ar1_driver(0, 0.5, s0).empty());
  auto fresh = seeded_rng(5);
  CHECK_EQ(s0.draw_standard_normal(), fresh.draw_standard_normal());  // nothing drawn for n = 0

  auto raw = seeded_rng(9);
  std::vector<double> d(50);
  for (double& v : d) v = raw.draw_standard_normal();
  auto s1 = seeded_rng(9);
  CHECK(ar1_driver(50, -3.0, s1) == d);  // negative coefficient: white noise
  auto s2 = seeded_rng(9);
  auto s3 = seeded_rng(9);
  CHECK(ar1_driver(50, 2.0, s2) == ar1_driver(50, 0.999999999, s3));
  auto s4 = seeded_rng(9);
  const std::vector<double> z = ar1_driver(50, 0.8, s4);
  const double g = std::sqrt(1.0 - 0.8 * 0.8);
  CHECK_EQ(z[0], d[0]);
  for (std::size_t i = 1; i < 50; ++i) CHECK_EQ(z[i], z[i - 1] * 0.8 + d[i] * g);
}

TEST_CASE("facies column thresholds the driver strictly at the NTG quantile") {
  const double ntg = 0.37, step = 0.2, bed = 1.3;
  const std::vector<std::uint8_t> f = facies_column(400, step, ntg, bed, 21);
  auto s = seeded_rng(21);
  const std::vector<double> z = ar1_driver(400, std::exp(-step / bed), s);
  const double t = normal_inv_cdf(1.0 - ntg);
  for (std::size_t i = 0; i < z.size(); ++i) CHECK_EQ(f[i], z[i] > t ? 1 : 0);
}

TEST_CASE("log series: per-zone coefficient from each zone's first sample, blended windows") {
  const ZoneSpec zones[] = {*ZoneSpec::make(3.0, 0.2, 0.05, 1.0), *ZoneSpec::make(1.0, 0.6, 0.1, 4.0),
                            *ZoneSpec::make(2.5, 0.4, 0.08, 0.5)};
  const double step = 0.5;
  const std::uint64_t beds = 3;
  auto r = synth_log_series(zones, step, beds, 77);
  CHECK(r.ok());
  const std::size_t counts[] = {6, 2, 5};
  const std::size_t starts[] = {0, 6, 8};
  const std::size_t n = 13;
  CHECK_EQ(r->size(), n);
  // restated from the stated recurrences
  auto s = seeded_rng(77);
  std::vector<double> z(n), y(n);
  std::vector<SynthTransform> t;
  for (const auto& zs : zones) t.push_back(*SynthTransform::make(zs.mean, zs.std));
  std::size_t k = 0;
  for (std::size_t i = 0; i < n; ++i) {
    while (i >= starts[k] + counts[k]) ++k;
    const double nd = s.draw_standard_normal();
    if (i == 0) {
      z[i] = nd;
    } else {
      double rho = std::exp(-step / zones[k].corr_length_m);
      rho = std::fmin(rho, 0.999999999);
      z[i] = std::sqrt(1.0 - rho * rho) * nd + rho * z[i - 1];
    }
    y[i] = t[k].apply(z[i]);
  }
  for (std::size_t b = 1; b < 3; ++b) {
    const std::size_t st = starts[b];
    const std::size_t lo = st >= beds ? st - beds : 0;
    const std::size_t hi = std::min(n, st + beds);
    const double len = static_cast<double>(hi - lo);
    for (std::size_t j = 0; j < hi - lo; ++j) {
      const double w = std::fmin(1.0, static_cast<double>(j) / len);
      const double f = w * (t[b].location - t[b - 1].location) + t[b - 1].location;
      const double c = w * (t[b].scale - t[b - 1].scale) + t[b - 1].scale;
      y[lo + j] = logistic(c * z[lo + j] + f);
    }
  }
  CHECK(*r == y);
}

TEST_CASE("cutoff moments agree with an independent fine integration") {
  const double cases[][3] = {{-1.2, 0.8, 0.1}, {0.4, 2.5, 0.3}, {-3.0, 0.3, 0.02}, {1.0, 1e-4, 0.9}};
  for (const auto& c : cases) {
    const CutoffMoments m = cutoff_moments(c[0], c[1], c[2]);
    const double zstar = (std::log(c[2] / (1.0 - c[2])) - c[0]) / c[1];
    CHECK_EQ(m.p_above, std::fmin(1.0, std::fmax(0.0, 1.0 - normal_cdf(zstar))));
    // midpoint rule with 200000 cells over [max(z*, -9), 9]
    const double a = std::fmax(zstar, -9.0), b = 9.0;
    double s1 = 0.0, s2 = 0.0;
    if (a < b) {
      const double h = (b - a) / 200000.0;
      for (int i = 0; i < 200000; ++i) {
        const double zz = a + (i + 0.5) * h;
        const double yv = 1.0 / (1.0 + std::exp(-(c[1] * zz + c[0])));
        const double phi = std::exp(-0.5 * zz * zz) / std::sqrt(2.0 * M_PI);
        s1 += yv * phi * h;
        s2 += yv * yv * phi * h;
      }
    }
    CHECK(std::fabs(m.m1 - s1) < 1e-8);
    CHECK(std::fabs(m.m2 - s2) < 1e-8);
    CHECK(m.m1 <= m.p_above + 1e-12 && m.m2 <= m.m1 + 1e-12);
  }
  const CutoffMoments none = cutoff_moments(-30.0, 1.0, 0.5);  // z* = 30: nothing above the cutoff
  CHECK_EQ(none.m1, 0.0);
  CHECK_EQ(none.m2, 0.0);
}

TEST_CASE("calibration: an ntg_target exactly at the shale leak is below the floor") {
  // P(shale >= cutoff) itself is not reachable: the sand share would be 0
  const double cases[][3] = {{0.05, 0.02, 0.1}, {0.08, 0.03, 0.12}, {0.12, 0.05, 0.1}};
  for (const auto& c : cases) {
    const SynthTransform shale = *SynthTransform::make(c[0], c[1]);
    const double leak = cutoff_moments(shale.location, shale.scale, c[2]).p_above;
    for (const double ntg : {leak, std::nextafter(leak, 1.0)}) {
      const auto r = calibrate_petro(*PetroZoneSpec::make(ntg, 0.2, 0.05, c[0], c[1], 1.0, 1.0, c[2]));
      const std::string text = r.ok() ? std::string("ok") : r.error().message;
      const bool floor = text.find("is at/below the achievable floor") != std::string::npos;
      CHECK_EQ(floor, ntg == leak);
      if (floor != (ntg == leak)) std::fprintf(stderr, "  ntg %.17g: %s\n", ntg, text.c_str());
    }
  }
}

TEST_CASE("calibration matches the net moments of the solved mixture") {
  const PetroZoneSpec specs[] = {*PetroZoneSpec::make(0.3, 0.2, 0.05, 0.05, 0.02, 2.0, 1.0),
                                 *PetroZoneSpec::make(0.6, 0.22, 0.04, 0.06, 0.03, 1.0, 0.5),
                                 *PetroZoneSpec::make(0.15, 0.18, 0.03, 0.04, 0.02, 3.0, 2.0, 0.12)};
  for (const auto& z : specs) {
    auto cal = calibrate_petro(z);
    CHECK(cal.ok());
    if (!cal.ok()) continue;
    const CutoffMoments sh = cutoff_moments(cal->shale.location, cal->shale.scale, z.net_cutoff);
    const CutoffMoments sd = cutoff_moments(cal->sand.location, cal->sand.scale, z.net_cutoff);
    const double pi = cal->sand_fraction;
    CHECK(pi > 1e-9 && pi < 0.999999999);
    CHECK(std::fabs((1.0 - pi) * sh.p_above + pi * sd.p_above - z.ntg_target) < 1e-12);
    const double mu = ((1.0 - pi) * sh.m1 + pi * sd.m1) / z.ntg_target;
    const double q = ((1.0 - pi) * sh.m2 + pi * sd.m2) / z.ntg_target;
    CHECK(std::fabs(mu - z.net_por_mean) < 1e-7);
    CHECK(std::fabs(std::sqrt(q - mu * mu) - z.net_por_std) < 1e-7);
  }
}

// ---- literal restatements: the optimised code must give the very same bits ------------------

namespace {

// The nested bisection run to its iteration limits, without shortcuts.
SynthTransform bisection_in_full(double mean, double sd) {
  const auto& z = quadrature_nodes();
  auto moments = [&](double s, double f, double& m, double& var) {
    double a = 0.0, b = 0.0;
    for (double zi : z) {
      const double y = logistic(zi * s + f);
      a += y;
      b += y * y;
    }
    m = a / 256.0;
    var = std::fmax(b / 256.0 - m * m, 0.0);
  };
  const double v = sd * sd;
  double lo = 1e-6, hi = 60.0, s = 0.0, f = 0.0;
  for (int outer = 0; outer < 200; ++outer) {
    s = (lo + hi) / 2.0;
    double a = -40.0, b = 40.0, m = 0.0, var = 0.0;
    bool hit = false;
    for (int inner = 0; inner < 200 && !hit; ++inner) {
      f = (a + b) / 2.0;
      moments(s, f, m, var);
      if (std::fabs(m - mean) <= 1e-12)
        hit = true;
      else if (mean > m)
        a = f;
      else
        b = f;
    }
    if (!hit) f = (a + b) / 2.0;
    moments(s, f, m, var);
    if (std::fabs(var - v) <= 1e-10) break;
    if (v > var)
      lo = s;
    else
      hi = s;
  }
  return SynthTransform{f, s};
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST_CASE("transform solve equals the nested bisection run to its limits, stalled brackets included") {
  // ordinary targets; a location pinned at -40 / +40 (the inner bracket shrinks onto an end and its
  // midpoint rounds to it); a scale pinned at 60 (outer bracket stalls); tiny spreads
  const double targets[][2] = {{0.5, 0.1},     {0.2, 0.05},   {0.97, 0.02},    {1e-300, 1e-160},
                               {1e-9, 1e-12},  {1 - 1e-9, 1e-12}, {0.5, 0.4999}, {0.25, 0.43},
                               {0.6, 0.489},   {0.3, 1e-9},   {0.001, 1e-8},   {0.2, 0.3999}};
  for (const auto& t : targets) {
    auto r = SynthTransform::make(t[0], t[1]);
    CHECK(r.ok());
    if (!r.ok()) continue;
    const SynthTransform ref = bisection_in_full(t[0], t[1]);
    CHECK(same_bits(r->location, ref.location));
    CHECK(same_bits(r->scale, ref.scale));
  }
  const SynthTransform pinned_location = bisection_in_full(1e-300, 1e-160);
  const SynthTransform pinned_scale = bisection_in_full(0.25, 0.43);
  CHECK_EQ(pinned_location.location, -40.0);
  CHECK_EQ(pinned_scale.scale, 60.0);
}

TEST_CASE("cutoff moments are composite Simpson over 2000 intervals, bit for bit") {
  // z* inside (-8, 8), clamped at -8, and just below 8
  const double cases[][3] = {{-1.2, 0.8, 0.1}, {6.0, 0.5, 0.05}, {-3.0, 0.45, 0.05}, {0.4, 2.5, 0.3}};
  for (const auto& c : cases) {
    const double f = c[0], s = c[1], cut = c[2];
    const double zstar = (std::log(cut / (1.0 - cut)) - f) / s;
    const double zlo = std::fmax(zstar, -8.0);
    const double h = (8.0 - zlo) / 2000.0;
    double s1 = 0.0, s2 = 0.0;
    for (int i = 0; i <= 2000; ++i) {
      const double zi = static_cast<double>(i) * h + zlo;
      const double y = logistic(s * zi + f);
      const double phi = std::exp(-(zi * zi) / 2.0) / 2.5066282746310007;
      const double w = i == 0 || i == 2000 ? 1.0 : i % 2 == 1 ? 4.0 : 2.0;
      s1 += w * y * phi;
      s2 += w * (y * y) * phi;
    }
    const CutoffMoments m = cutoff_moments(f, s, cut);
    CHECK(same_bits(m.m1, h / 3.0 * s1));
    CHECK(same_bits(m.m2, h / 3.0 * s2));
  }
}

namespace {

struct Net {
  bool degenerate;
  double pi, r_m, r_s;
};

Net net_at(const PetroZoneSpec& z, const CutoffMoments& sh, double f, double s) {
  const CutoffMoments sd = cutoff_moments(f, s, z.net_cutoff);
  if (std::fabs(sd.p_above - sh.p_above) < 1e-12) return {true, 0.0, 0.0, 0.0};
  const double pi = (z.ntg_target - sh.p_above) / (sd.p_above - sh.p_above);
  const double mu = ((1.0 - pi) * sh.m1 + pi * sd.m1) / z.ntg_target;
  const double q = ((1.0 - pi) * sh.m2 + pi * sd.m2) / z.ntg_target;
  return {false, pi, mu - z.net_por_mean, std::sqrt(std::fmax(q - mu * mu, 0.0)) - z.net_por_std};
}

bool pi_inside(double pi) { return 1e-9 < pi && pi < 0.999999999; }

// The damped Newton iteration as written out, from the net-target transform.
// Returns false where the calibration must fail.
bool newton_in_full(const PetroZoneSpec& z, double& f_out, double& s_out, double& pi_out) {
  const SynthTransform shale = *SynthTransform::make(z.nonnet_por_mean, z.nonnet_por_std);
  const CutoffMoments sh = cutoff_moments(shale.location, shale.scale, z.net_cutoff);
  const SynthTransform guess = *SynthTransform::make(z.net_por_mean, z.net_por_std);
  double f = guess.location, s = guess.scale;
  bool converged = false;
  for (int accepted = 0; accepted < 200;) {
    const Net e = net_at(z, sh, f, s);
    if (e.degenerate) return false;
    if (std::fabs(e.r_m) < 1e-9 && std::fabs(e.r_s) < 1e-9 && pi_inside(e.pi)) {
      converged = true;
      break;
    }
    const Net fp = net_at(z, sh, f + 1e-5, s), fm = net_at(z, sh, f - 1e-5, s);
    const Net sp = net_at(z, sh, f, std::fmin(s + 1e-5, 60.0)), sm = net_at(z, sh, f, std::fmax(s - 1e-5, 1e-4));
    if (fp.degenerate || fm.degenerate || sp.degenerate || sm.degenerate) return false;
    const double mf = (fp.r_m - fm.r_m) / 2e-5, sf = (fp.r_s - fm.r_s) / 2e-5;
    const double ms = (sp.r_m - sm.r_m) / 2e-5, ss = (sp.r_s - sm.r_s) / 2e-5;
    const double det = ss * mf - sf * ms;
    if (std::fabs(det) < 1e-16) break;
    const double df = -(e.r_m * ss - ms * e.r_s) / det;
    const double ds = -(e.r_s * mf - sf * e.r_m) / det;
    const double base = std::sqrt(e.r_s * e.r_s + e.r_m * e.r_m);
    double a = 1.0;
    int trial = 0;
    for (; trial < 50; ++trial, a /= 2.0) {
      const double f1 = f + df * a;
      const double s1 = std::fmin(60.0, std::fmax(1e-4, s + ds * a));
      const Net c = net_at(z, sh, f1, s1);
      if (!c.degenerate && pi_inside(c.pi) && std::sqrt(c.r_m * c.r_m + c.r_s * c.r_s) < base) {
        f = f1;
        s = s1;
        break;
      }
    }
    if (trial == 50) break;
    ++accepted;
  }
  const Net fin = net_at(z, sh, f, s);
  if (fin.degenerate) return false;
  if (!converged && (std::fabs(fin.r_m) >= 1e-7 || std::fabs(fin.r_s) >= 1e-7)) return false;
  f_out = f;
  s_out = s;
  pi_out = fin.pi;
  return pi_inside(fin.pi);
}

}  // namespace

TEST_CASE("calibration is the damped Newton iteration as written out, bit for bit") {
  const PetroZoneSpec specs[] = {*PetroZoneSpec::make(0.3, 0.2, 0.05, 0.05, 0.02, 2.0, 1.0),
                                 *PetroZoneSpec::make(0.6, 0.22, 0.04, 0.06, 0.03, 1.0, 0.5),
                                 *PetroZoneSpec::make(0.15, 0.18, 0.03, 0.04, 0.02, 3.0, 2.0, 0.12),
                                 *PetroZoneSpec::make(0.45, 0.25, 0.1, 0.08, 0.04, 0.5, 0.3),
                                 *PetroZoneSpec::make(0.43, 0.18, 0.09, 0.07, 0.02, 1.0, 1.0, 0.16)};
  int feasible = 0;
  for (const auto& z : specs) {
    double f = 0.0, s = 0.0, pi = 0.0;
    const bool ok = newton_in_full(z, f, s, pi);
    auto cal = calibrate_petro(z);
    CHECK_EQ(cal.ok(), ok);
    if (!ok || !cal.ok()) continue;
    ++feasible;
    CHECK(same_bits(cal->sand.location, f));
    CHECK(same_bits(cal->sand.scale, s));
    CHECK(same_bits(cal->sand_fraction, pi));
  }
  CHECK_EQ(feasible, 4);
}

TEST_CASE("log series: zones with equal targets share a solve, zones a bit apart do not") {
  const double near = 0.0500001;  // a different solve (one ulp apart may solve alike)
  const double below = std::nextafter(0.2, 0.0);
  const ZoneSpec zones[] = {*ZoneSpec::make(2.0, 0.2, 0.05, 1.0), *ZoneSpec::make(1.5, 0.6, 0.1, 4.0),
                            *ZoneSpec::make(1.0, 0.2, 0.05, 2.0), *ZoneSpec::make(1.0, 0.2, near, 1.0),
                            *ZoneSpec::make(0.5, 0.6, 0.1, 1.0), *ZoneSpec::make(1.0, below, 0.05, 1.0)};
  const double step = 0.25;
  auto r = synth_log_series(zones, step, 0, 5);
  CHECK(r.ok());
  // the driver restated, each zone with its own solve
  auto s = seeded_rng(5);
  std::vector<double> y;
  double prev = 0.0;
  for (const ZoneSpec& zs : zones) {
    const SynthTransform t = *SynthTransform::make(zs.mean, zs.std);
    const double rho = std::fmin(std::exp(-step / zs.corr_length_m), 0.999999999);
    for (std::uint64_t i = 0; i < zone_sample_count(zs.thickness_m, step); ++i) {
      const double nd = s.draw_standard_normal();
      prev = y.empty() ? nd : std::sqrt(1.0 - rho * rho) * nd + rho * prev;
      y.push_back(t.apply(prev));
    }
  }
  CHECK(*r == y);
  const SynthTransform a = *SynthTransform::make(0.2, 0.05), b = *SynthTransform::make(0.2, near);
  CHECK(a.location != b.location || a.scale != b.scale);
}

TEST_CASE("transform check: the errors of the solve, without solving") {
  const double nan = std::nan("");
  for (const auto& [mean, std] : {std::pair{0.5, 0.1}, {0.0, 0.1}, {1.0, 0.1}, {0.5, 0.0}, {nan, 0.1}, {0.5, 0.5},
                                   {0.3, 0.46}, {0.3, 0.45825756949558405}}) {
    const auto made = SynthTransform::make(mean, std);
    const auto checked = SynthTransform::check(mean, std);
    CHECK(made.ok() == checked.ok());
    if (!made.ok() && !checked.ok()) CHECK_EQ(made.error().display(), checked.error().display());
  }
  // Named results: GCC 12 under the sanitizers warns (maybe-uninitialized) on temporaries here.
  const auto zone = ZoneSpec::make(1.0, 0.3, 0.46, 1.0);
  const auto transform = SynthTransform::make(0.3, 0.46);
  CHECK(!zone.ok() && !transform.ok());
  if (!zone.ok() && !transform.ok()) {
    const std::string zone_message = zone.error().message;
    const std::string transform_message = transform.error().message;
    CHECK_EQ(zone_message, transform_message);
  }
}
