// The vector paths of the kriging and simulation kernels against the portable one: the
// LU kernels on random matrices, and whole runs against pinned output bits, once per
// path this processor offers.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "check.hpp"
#include "geostat/gamma_rows.hpp"
#include "geostat/sgs/correlation.hpp"
#include "gridding/kriging/lu_kernels.hpp"
#include "gridding/kriging/solve.hpp"
#include "kernel_workloads.hpp"
#include "simd.hpp"

using quarn::simd::ForcePath;
using quarn::simd::Path;

namespace {

constexpr Path kPaths[] = {Path::Portable, Path::Sse2, Path::Avx2};

// Output bits of each workload in kernel_workloads.hpp, from the scalar kernels.
constexpr std::uint64_t kPinned[] = {
    0x1223a08f7904fa63ULL,  // krige spherical 24 nb
    0x3d4ae657b50647f8ULL,  // krige exponential 12 nb, rotated
    0x5b2a7bf6ff553d46ULL,  // krige gaussian 48 nb, nugget
    0xa40cadb1523c75a0ULL,  // krige 1 nb
    0xe798c59cdf9ad021ULL,  // sgs spherical 24 nb
    0xf4554bcb98fe637fULL,  // sgs anisotropic + secondary 16 nb
    0x72946b99b4e32565ULL,  // sgs exponential 48 nb
    0xd28ca317ee9c00edULL,  // sgs_unconditional 24 nb
    0x2fbbf1e2851e4fabULL,  // sgs_unconditional, radius beyond the lattice
};
static_assert(sizeof(kPinned) / sizeof(kPinned[0]) == quarn::test::kWorkloads);

}  // namespace

TEST_CASE("simd: forcing a path is scoped to its object and thread") {
  const Path best = quarn::simd::best();
  CHECK(quarn::simd::active() == best);
  CHECK(quarn::simd::available(Path::Portable));
  {
    ForcePath outer(Path::Portable);
    CHECK(quarn::simd::active() == Path::Portable);
    {
      ForcePath inner(Path::Avx2);
      CHECK(quarn::simd::active() == (quarn::simd::available(Path::Avx2) ? Path::Avx2 : Path::Portable));
    }
    CHECK(quarn::simd::active() == Path::Portable);
  }
  CHECK(quarn::simd::active() == best);
  CHECK_EQ(std::string(quarn::simd::name(Path::Sse2)), std::string("sse2"));
}

TEST_CASE("lu kernels: every path gives the portable bits, pivots and singular columns") {
  using namespace quarn::gridding::kriging;
  quarn::test::WorkloadRng rng{4242};
  int compared = 0, singular = 0;
  for (const Path path : kPaths) {
    const FactorizeFn fn = factorize_kernel(path);
    for (int t = 0; t < 400; ++t) {
      const std::size_t m = 1 + static_cast<std::size_t>(rng.unit() * (t % 4 == 0 ? 60.0 : 14.0));
      const std::size_t ld = (m + 3) & ~std::size_t{3};
      std::vector<double> a(m * ld, 0.0);
      for (std::size_t r = 0; r < m; ++r)
        for (std::size_t c = 0; c < m; ++c) {
          // small integers (ties of magnitude, zeros, exact singularity), a symmetric
          // semivariance-like matrix with a zero diagonal, or general values
          double v;
          if (t % 7 == 6)
            // a NaN here and there: a NaN pivot candidate is taken only when it comes first
            v = rng.unit() < 0.04 ? std::nan("") : rng.unit() * 2.0 - 1.0;
          else if (t % 3 == 0)
            v = static_cast<double>(static_cast<int>(rng.unit() * 5.0) - 2);
          else if (t % 3 == 1)
            v = r == c ? 0.0 : 1.0 - std::exp(-static_cast<double>(r > c ? r - c : c - r) * 0.3);
          else
            v = rng.unit() * 2.0 - 1.0;
          a[r * ld + c] = v;
        }
      std::vector<double> b = a;
      std::vector<std::size_t> pa(m), pb(m);
      std::vector<double> scratch(2 * m);
      const bool ok_a = factorize_portable(a.data(), m, ld, pa.data(), scratch.data());
      const bool ok_b = fn(b.data(), m, ld, pb.data(), scratch.data());
      CHECK(ok_a == ok_b);
      if (!ok_a) ++singular;
      if (!ok_a || !ok_b) continue;
      bool same = pa == pb;
      for (std::size_t r = 0; same && r < m; ++r) same = std::memcmp(&a[r * ld], &b[r * ld], m * sizeof(double)) == 0;
      CHECK(same);
      ++compared;
    }
  }
  CHECK(compared > 600);
  CHECK(singular > 20);
}

TEST_CASE("lu buffers: the padded layout solves to the same bits as the plain one") {
  using namespace quarn::gridding::kriging;
  quarn::test::WorkloadRng rng{77};
  for (const Path path : kPaths) {
    const ForcePath force(path);
    LuBuffers plain, padded;
    for (int t = 0; t < 200; ++t) {
      const std::size_t m = 1 + static_cast<std::size_t>(rng.unit() * 30.0);
      plain.resize(m);
      padded.prepare(m);
      CHECK(padded.stride % 4 == 0 && padded.stride >= m && padded.stride < m + 4);
      for (std::size_t r = 0; r < m; ++r) {
        for (std::size_t c = 0; c < m; ++c) plain.at(r, c) = padded.at(r, c) = rng.unit() - 0.5;
        plain.rhs[r] = padded.rhs[r] = rng.unit();
      }
      CHECK(plain.factorize() == padded.factorize());
      plain.solve();
      padded.solve();
      CHECK(std::memcmp(plain.solution.data(), padded.solution.data(), m * sizeof(double)) == 0);
    }
  }
}

TEST_CASE("kriging and simulation: pinned output bits on every path") {
  for (const Path path : kPaths) {
    const ForcePath force(path);
    for (std::size_t k = 0; k < quarn::test::kWorkloads; ++k) {
      const std::uint64_t got = quarn::test::fnv1a(quarn::test::run_workload(k));
      if (got != kPinned[k])
        std::fprintf(stderr, "  %s, %s: 0x%016llx\n", quarn::simd::name(path), quarn::test::kWorkloadNames[k],
                     static_cast<unsigned long long>(got));
      CHECK_EQ(got, kPinned[k]);
    }
  }
}

TEST_CASE("simulation correlations: every path gives 1 - gamma / total sill bit for bit") {
  using namespace quarn::geostat;
  using quarn::geostat::sgs_detail::CorrelationModel;
  const VariogramModel models[] = {VariogramModel::Nugget, VariogramModel::Spherical, VariogramModel::Exponential,
                                   VariogramModel::Gaussian};
  quarn::test::WorkloadRng rng{5};
  std::vector<double> xs(37), ys(37), got(37);
  int compared = 0;
  for (const VariogramModel model : models) {
    const Variogram iso = Variogram::make(model, 0.2, model == VariogramModel::Nugget ? 0.0 : 1.3, 7.5).value();
    const AnisotropicVariogram an = AnisotropicVariogram::make(model, 9.0, 3.0, 1.0, 33.0, 1.1, 0.1).value();
    for (const VariogramSpec& vgm : {VariogramSpec(iso), VariogramSpec(an)}) {
      const CorrelationModel cm = CorrelationModel::from(vgm);
      for (const Path path : kPaths) {
        const auto row = quarn::geostat::sgs_detail::correlation_row(path);
        for (int t = 0; t < 20; ++t) {
          // lattice-like positions: zero separations, separations at and beyond the range
          for (std::size_t k = 0; k < xs.size(); ++k) {
            xs[k] = std::floor(rng.unit() * 24.0) * 0.5;
            ys[k] = t % 2 ? std::floor(rng.unit() * 24.0) * 0.5 : rng.unit() * 12.0;
          }
          const double x0 = xs[static_cast<std::size_t>(t) % xs.size()], y0 = ys[static_cast<std::size_t>(t) % 7];
          const std::size_t n = static_cast<std::size_t>(t) + 17;
          row(cm, x0, y0, xs.data(), ys.data(), n, got.data());
          for (std::size_t k = 0; k < n; ++k) {
            const double want = 1.0 - vgm.gamma(x0 - xs[k], y0 - ys[k]) / vgm.total_sill();
            const double mirrored = 1.0 - vgm.gamma(xs[k] - x0, ys[k] - y0) / vgm.total_sill();
            CHECK(std::memcmp(&got[k], &want, sizeof want) == 0);
            CHECK(std::memcmp(&mirrored, &want, sizeof want) == 0);
            ++compared;
          }
        }
      }
    }
  }
  CHECK(compared > 10000);
}

TEST_CASE("kriging semivariances: every path gives gamma_sq and gamma_at bit for bit, any count") {
  using namespace quarn::geostat;
  quarn::test::WorkloadRng rng{6};
  std::vector<double> xs(41), ys(41), h(41), got(41);
  int compared = 0;
  for (const VariogramModel model : {VariogramModel::Nugget, VariogramModel::Spherical, VariogramModel::Exponential,
                                     VariogramModel::Gaussian}) {
    const Variogram v = Variogram::make(model, 0.3, model == VariogramModel::Nugget ? 0.0 : 1.2, 6.5).value();
    for (const Path path : kPaths) {
      const GammaKernels k = gamma_kernels(path);
      for (int t = 0; t < 25; ++t) {
        // lattice-like positions (zero separations, separations at and beyond the range)
        for (std::size_t i = 0; i < xs.size(); ++i) {
          xs[i] = std::floor(rng.unit() * 20.0) * 0.5;
          ys[i] = t % 2 ? std::floor(rng.unit() * 20.0) * 0.5 : rng.unit() * 10.0;
          h[i] = i % 5 == 0 ? 0.0 : i % 5 == 1 ? 6.5 : rng.unit() * 9.0;
        }
        const std::size_t n = static_cast<std::size_t>(t) + 17;  // every remainder of the lane count
        const double x0 = xs[static_cast<std::size_t>(t) % n], y0 = ys[static_cast<std::size_t>(t) % 7];
        k.row(v, x0, y0, xs.data(), ys.data(), n, got.data());
        for (std::size_t i = 0; i < n; ++i) {
          const double dx = x0 - xs[i], dy = y0 - ys[i];
          const double want = v.gamma_sq(dx * dx + dy * dy);
          CHECK(std::memcmp(&got[i], &want, sizeof want) == 0);
          ++compared;
        }
        k.at(v, h.data(), n, got.data());
        for (std::size_t i = 0; i < n; ++i) {
          const double want = v.gamma_at(h[i]);
          CHECK(std::memcmp(&got[i], &want, sizeof want) == 0);
          ++compared;
        }
      }
    }
  }
  CHECK_EQ(compared, 4 * 3 * 2 * (25 * 17 + 25 * 24 / 2));
}

TEST_CASE("simulation correlation matrices: both triangles and the diagonal, every path, any size") {
  using namespace quarn::geostat;
  using quarn::geostat::sgs_detail::CorrelationModel;
  quarn::test::WorkloadRng rng{17};
  int compared = 0;
  for (const VariogramModel model : {VariogramModel::Nugget, VariogramModel::Spherical, VariogramModel::Exponential,
                                     VariogramModel::Gaussian}) {
    const Variogram iso = Variogram::make(model, 0.1, model == VariogramModel::Nugget ? 0.0 : 0.9, 6.0).value();
    const AnisotropicVariogram an = AnisotropicVariogram::make(model, 8.0, 2.5, 1.0, 120.0, 0.8, 0.2).value();
    for (const VariogramSpec& vgm : {VariogramSpec(iso), VariogramSpec(an)}) {
      const CorrelationModel cm = CorrelationModel::from(vgm);
      for (const Path path : kPaths) {
        const auto rows = quarn::geostat::sgs_detail::correlation_rows(path);
        for (std::size_t n = 1; n <= 29; n += 3) {
          // positions padded to a whole vector, rows with room for it and a sentinel column
          const std::size_t padded = (n + 3) & ~std::size_t{3}, ld = padded + 4;
          std::vector<double> xs(padded), ys(padded), a(n * ld, -7.0);
          for (std::size_t k = 0; k < padded; ++k) {
            xs[k] = k < n ? std::floor(rng.unit() * 16.0) * 0.5 : xs[n - 1];
            ys[k] = k < n ? rng.unit() * 8.0 : ys[n - 1];
          }
          rows(cm, xs.data(), ys.data(), n, a.data(), ld);
          for (std::size_t r = 0; r < n; ++r) {
            for (std::size_t c = 0; c < n; ++c) {
              const double want = r == c ? 1.0 : 1.0 - vgm.gamma(xs[r] - xs[c], ys[r] - ys[c]) / vgm.total_sill();
              CHECK(std::memcmp(&a[r * ld + c], &want, sizeof want) == 0);
              ++compared;
            }
            CHECK_EQ(a[r * ld + padded], -7.0);  // nothing written past the padded width
          }
        }
      }
    }
  }
  CHECK(compared > 20000);
}

TEST_CASE("lu buffers: systems solved together (two, four) give each one's own bits") {
  using namespace quarn::gridding::kriging;
  quarn::test::WorkloadRng rng{31};
  int together = 0;
  for (const std::size_t count : {std::size_t{2}, std::size_t{4}}) {
    for (int t = 0; t < 300; ++t) {
      // sizes mostly equal (solved in lockstep), now and then one differs (the fallback)
      const std::size_t base = 1 + static_cast<std::size_t>(rng.unit() * 30.0);
      LuBuffers sys[4], lone[4];
      bool ok = true;
      for (std::size_t s = 0; s < count; ++s) {
        const std::size_t m = t % 3 == 0 && s == count - 1 ? 1 + static_cast<std::size_t>(rng.unit() * 30.0) : base;
        sys[s].prepare(m);
        lone[s].prepare(m);
        for (std::size_t r = 0; r < m; ++r) {
          for (std::size_t c = 0; c < m; ++c) sys[s].at(r, c) = lone[s].at(r, c) = rng.unit() - 0.5;
          sys[s].rhs[r] = lone[s].rhs[r] = rng.unit();
        }
        ok = sys[s].factorize() && lone[s].factorize() && ok;
      }
      if (!ok) continue;
      if (count == 2)
        solve_both(sys[0], sys[1]);
      else
        solve_four(sys[0], sys[1], sys[2], sys[3]);
      for (std::size_t s = 0; s < count; ++s) {
        lone[s].solve();
        CHECK(std::memcmp(sys[s].solution.data(), lone[s].solution.data(), sys[s].m * sizeof(double)) == 0);
      }
      ++together;
    }
  }
  CHECK(together > 400);
}
