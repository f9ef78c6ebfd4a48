// Allocation counts of kriging and simulation: the sweeps allocate their buffers up
// front (and grow them a bounded number of times), never per node. The global operator
// new of this test binary counts calls while a Counting scope is alive on any thread.
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <new>
#include <vector>

#include "check.hpp"
#include "geostat/local_kriging.hpp"
#include "geostat/sgs/sweep.hpp"
#include "kernel_workloads.hpp"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_count{0};

void* counted_alloc(std::size_t n) {
  if (g_counting.load(std::memory_order_relaxed)) g_count.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}

void* counted_alloc_nothrow(std::size_t n) noexcept {
  if (g_counting.load(std::memory_order_relaxed)) g_count.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(n == 0 ? 1 : n);
}

}  // namespace

// Every form that pairs with the replaced deletes is replaced too (std::stable_sort's
// temporary buffer uses the nothrow form), so no block crosses allocators.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return counted_alloc_nothrow(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return counted_alloc_nothrow(n); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void* operator new(std::size_t n) { return counted_alloc(n); }
void* operator new[](std::size_t n) { return counted_alloc(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace quarn;
using namespace quarn::geostat;

// Allocations made by f().
template <class F>
std::size_t allocations(F&& f) {
  g_count = 0;
  g_counting = true;
  f();
  g_counting = false;
  return g_count.load();
}

// The same data and neighbourhood on an n x n lattice spanning the same area.
std::size_t krige_allocations(std::size_t n, std::uint64_t nb) {
  quarn::test::WorkloadRng rng{3};
  std::vector<std::array<double, 3>> rows(400);
  for (auto& r : rows) r = {rng.unit() * 100.0, rng.unit() * 100.0, rng.unit()};
  const double inc = 100.0 / static_cast<double>(n - 1);
  const Lattice lat{0, 0, inc, inc, n, n, 0, false};
  const Variogram v = Variogram::make(VariogramModel::Spherical, 0.0, 1.0, 40.0).value();
  return allocations([&] { (void)local_kriging_grid(rows, lat, v, nb, 1e9); });
}

std::size_t sgs_allocations(std::size_t n, std::uint64_t nb, bool secondary, double radius) {
  quarn::test::WorkloadRng rng{4};
  std::vector<DataRow> rows(50);
  for (auto& r : rows) r = {rng.unit() * 20.0, rng.unit() * 20.0, rng.unit()};
  const Lattice lat{0, 0, 1, 1, n, n, 0, false};
  SgsParams p = SgsParams::make(nb, radius, Variogram::make(VariogramModel::Exponential, 0.0, 1.0, 8.0).value()).value();
  if (secondary) p.secondary = CollocatedSecondary{Field(n, n, 1.5), 0.5};
  return allocations([&] { (void)sgs(rows, lat, p, 1); });
}

std::size_t unconditional_allocations(std::size_t n, std::uint64_t nb, double radius) {
  const Lattice lat{0, 0, 1, 1, n, n, 0, false};
  const Variogram v = Variogram::make(VariogramModel::Gaussian, 0.0, 1.0, 6.0).value();
  return allocations([&] { (void)sgs_unconditional(lat, 0.0, 1.0, v, nb, radius, 2); });
}

}  // namespace

TEST_CASE("allocations: kriging allocates per run, not per node") {
  for (const std::uint64_t nb : {1, 12, 24, 48}) {
    const std::size_t small = krige_allocations(24, nb), large = krige_allocations(96, nb);
    if (small != large) std::fprintf(stderr, "  krige %llu nb: %zu vs %zu\n", (unsigned long long)nb, small, large);
    CHECK_EQ(small, large);
    CHECK(small < 100);
  }
}

TEST_CASE("allocations: simulation allocates per run, not per node") {
  for (const std::uint64_t nb : {1, 16, 24, 48}) {
    for (const bool secondary : {false, true}) {
      const std::size_t small = sgs_allocations(24, nb, secondary, 10.0);
      const std::size_t large = sgs_allocations(96, nb, secondary, 10.0);
      if (small != large) std::fprintf(stderr, "  sgs %llu nb: %zu vs %zu\n", (unsigned long long)nb, small, large);
      CHECK_EQ(small, large);
      CHECK(small < 100);
    }
    const std::size_t small = unconditional_allocations(24, nb, 10.0), large = unconditional_allocations(96, nb, 10.0);
    if (small != large) std::fprintf(stderr, "  uncond %llu nb: %zu vs %zu\n", (unsigned long long)nb, small, large);
    CHECK_EQ(small, large);
    CHECK(small < 100);
  }
}

TEST_CASE("allocations: the general-index fallback of simulation grows its index without per-node allocation") {
  // a radius beyond what the node template covers: every query goes to the general index
  const std::size_t small = unconditional_allocations(48, 8, 1e300), large = unconditional_allocations(192, 8, 1e300);
  if (large >= small + 64) std::fprintf(stderr, "  fallback: %zu vs %zu\n", small, large);
  CHECK(large < small + 64);
}
