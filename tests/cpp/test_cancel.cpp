// The cancel hook: when poll() asks it, that a stop sticks and scopes nest, and that every
// long operation answers a stop with a Cancelled error (never a partial result) while an
// unasked hook leaves its output bits alone.
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cancel.hpp"
#include "check.hpp"
#include "formula/evaluate.hpp"
#include "geostat/experimental.hpp"
#include "geostat/fit.hpp"
#include "geostat/local_kriging.hpp"
#include "geostat/sgs/sweep.hpp"
#include "interp/interp1d.hpp"
#include "resample.hpp"
#include "synth/log_series.hpp"
#include "synth/petro.hpp"
#include "synth/surface.hpp"

using namespace quarn;
namespace cancel = quarn::cancel;

namespace {

struct Counter {
  int asked = 0;
  int stop_at = -1;  // the question (1-based) that answers stop; -1 never
  static bool hook(void* c) {
    auto& self = *static_cast<Counter*>(c);
    ++self.asked;
    return self.asked == self.stop_at;
  }
};

Lattice lattice(std::uint64_t nc, std::uint64_t nr) {
  Lattice l;
  l.xinc = 10.0;
  l.yinc = 10.0;
  l.ncol = nc;
  l.nrow = nr;
  return l;
}

std::vector<std::array<double, 3>> scattered(std::size_t n, double extent) {
  std::vector<std::array<double, 3>> rows(n);
  for (std::size_t k = 0; k < n; ++k)
    rows[k] = {static_cast<double>((k * 7919) % 1000) / 1000.0 * extent,
               static_cast<double>((k * 104729) % 997) / 997.0 * extent, static_cast<double>(k % 13)};
  return rows;
}

const geostat::Variogram kVg = *geostat::Variogram::make(geostat::VariogramModel::Spherical, 0.0, 1.0, 200.0);

// A status of each operation: true when it succeeded, false on a Cancelled error.
template <class T>
int status(const Result<T>& r) {
  if (r.ok()) return 1;
  return r.error().kind == ErrorKind::Cancelled ? 0 : -1;
}

// Each runs one long operation (enough work to reach the hook at least once).
const std::vector<std::pair<const char*, std::function<int()>>>& operations() {
  static const std::vector<std::pair<const char*, std::function<int()>>> ops = {
      {"sgs", [] {
         const auto rows = scattered(50, 600.0);
         const auto p = *geostat::SgsParams::make(16, 300.0, geostat::VariogramSpec(kVg));
         return status(geostat::sgs(rows, lattice(64, 64), p, 3));
       }},
      {"local_kriging_grid", [] {
         return status(geostat::local_kriging_grid(scattered(200, 600.0), lattice(64, 64), kVg, 16, 300.0));
       }},
      {"experimental_variogram", [] { return status(geostat::experimental_variogram(scattered(2000, 1e3), 20.0, 40)); }},
      {"Variogram::fit", [] {
         geostat::ExperimentalVariogram ev;
         for (int k = 0; k < 3000; ++k) {
           ev.lags.push_back(1.0 + k);
           ev.semivariances.push_back(k < 1500 ? k / 1500.0 : 1.0);
           ev.counts.push_back(10);
         }
         return status(geostat::fit_variogram(geostat::VariogramModel::Spherical, ev));
       }},
      {"resample", [] {
         const Field src(64, 64, 1.5);
         return status(resample(src, lattice(64, 64), lattice(400, 400), ResampleMode::Bilinear));
       }},
      {"synth_isochore", [] { return status(synth::synth_isochore(lattice(64, 64), 20.0, 2.0, kVg, 5)); }},
      {"synth_trend_map", [] { return status(synth::synth_trend_map(lattice(64, 64), kVg, 5, std::nullopt)); }},
      {"synth_dome_surface", [] {
         return status(synth::synth_dome_surface(lattice(600, 600), 100.0, 1.5, 10.0, synth::NoiseSpec{0.0, kVg}, 5));
       }},
      {"synth_log_series", [] {
         const std::vector<synth::ZoneSpec> zones = {*synth::ZoneSpec::make(5000.0, 0.2, 0.05, 1.0),
                                                     *synth::ZoneSpec::make(5000.0, 0.3, 0.05, 2.0)};
         return status(synth::synth_log_series(zones, 0.1, 5, 9));
       }},
      {"synth_facies_series", [] { return status(synth::synth_facies_series(200000, 0.1, 0.4, 2.0, 9)); }},
      {"synth_por_with_facies", [] {
         const std::vector<std::uint8_t> facies(200000, 1);
         return status(synth::synth_por_with_facies(facies, 0.1, 0.25, 0.04, 0.08, 0.02, 1.0, 9));
       }},
      {"synth_petro_curves", [] {
         const auto zone = *synth::PetroZoneSpec::make(0.3, 0.2, 0.05, 0.05, 0.02, 2.0, 1.0);
         return status(synth::synth_petro_curves(zone, 0.1, 200000, 9));
       }},
      {"ntg_curve", [] { return status(synth::ntg_curve(std::vector<double>(400000, 1.0), 0.1, 5.0)); }},
      {"interp1d", [] {
         std::vector<double> q(200000);
         for (std::size_t k = 0; k < q.size(); ++k) q[k] = static_cast<double>(k) * 1e-5;
         return status(interp::interp1d(std::vector<double>{0.0, 1.0, 2.0}, std::vector<double>{1.0, 3.0, 2.0}, q,
                                        interp::Method::NaturalCubic, false));
       }},
      {"evaluate_formula", [] {
         const formula::Properties props = {{"x", std::vector<double>(200000, 0.5)}};
         return status(formula::evaluate_formula({"y = sqrt(x) * exp(x) + x"}, props, {}));
       }},
  };
  return ops;
}

}  // namespace

TEST_CASE("cancel: without a hook poll never stops") {
  CHECK(!cancel::poll(cancel::kStride * 4));
  CHECK(!cancel::stopped());
}

TEST_CASE("cancel: the hook is asked once per stride of work, and a stop sticks") {
  Counter c{0, 2};
  cancel::Scope scope(&Counter::hook, &c);
  CHECK(!cancel::poll(cancel::kStride - 1));
  CHECK_EQ(c.asked, 0);
  CHECK(!cancel::poll(1));  // the stride is used up: first question, no stop
  CHECK_EQ(c.asked, 1);
  CHECK(!cancel::poll(cancel::kStride - 1));
  CHECK(cancel::poll(1));  // second question: stop
  CHECK_EQ(c.asked, 2);
  CHECK(cancel::poll(0));  // from now on every poll says stop without asking again
  CHECK(cancel::stopped());
  CHECK_EQ(c.asked, 2);
}

TEST_CASE("cancel: scopes nest and restore the outer hook and its state") {
  Counter outer{0, 1};
  cancel::Scope a(&Counter::hook, &outer);
  CHECK(!cancel::poll(cancel::kStride / 2));
  {
    Counter inner{0, -1};
    cancel::Scope b(&Counter::hook, &inner);
    CHECK(!cancel::poll(cancel::kStride));
    CHECK_EQ(inner.asked, 1);
  }
  CHECK_EQ(outer.asked, 0);
  CHECK(cancel::poll(cancel::kStride / 2));  // the outer budget went on where it stood
  CHECK_EQ(outer.asked, 1);
}

TEST_CASE("cancel: each() visits every index, or stops at a block boundary") {
  std::vector<int> seen(10000, 0);
  CHECK(cancel::each(seen.size(), [&](std::size_t i) { ++seen[i]; }, 1000));
  for (int v : seen) CHECK_EQ(v, 1);
  Counter c{0, 1};
  cancel::Scope scope(&Counter::hook, &c);
  std::size_t visited = 0;
  CHECK(!cancel::each(std::size_t(cancel::kStride) * 3, [&](std::size_t) { ++visited; }, 4096));
  CHECK_EQ(visited, std::size_t(cancel::kStride) - 4096);  // the block that uses the stride up is not run
}

TEST_CASE("cancel: every long operation ends with Cancelled when its hook says stop") {
  for (const auto& [name, run] : operations()) {
    Counter c{0, 1};
    cancel::Scope scope(&Counter::hook, &c);
    const int s = run();
    if (s != 0) std::fprintf(stderr, "  %s: status %d, hook asked %d times\n", name, s, c.asked);
    CHECK_EQ(s, 0);
  }
}

TEST_CASE("cancel: a hook that never stops changes no output bit") {
  const auto rows = scattered(50, 600.0);
  const auto p = *geostat::SgsParams::make(16, 300.0, geostat::VariogramSpec(kVg));
  const Result<Field> plain = geostat::sgs(rows, lattice(64, 64), p, 3);
  Counter c{0, -1};
  cancel::Scope scope(&Counter::hook, &c);
  const Result<Field> heard = geostat::sgs(rows, lattice(64, 64), p, 3);
  CHECK(c.asked > 0);
  CHECK(plain.ok() && heard.ok());
  if (plain.ok() && heard.ok())
    CHECK(std::memcmp(plain->data.data(), heard->data.data(), plain->data.size() * sizeof(double)) == 0);
  for (const auto& [name, run] : operations()) CHECK_EQ(run(), 1);
}
