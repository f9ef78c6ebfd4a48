#include "sampling/stream.hpp"

#include <cmath>
#include <limits>
#include <numbers>

#include "sampling/normal_policy.hpp"
#include "sampling/ziggurat_tables.hpp"

namespace quarn::sampling {
namespace {
__extension__ typedef unsigned __int128 U128;  // widening 64x64 products
}  // namespace

Stream seeded_rng(std::uint64_t seed) {
  Stream s;
  std::uint64_t state = seed;
  for (int k = 0; k < 8; ++k) {
    // The step comes before the output: key word 0 already uses the stepped state.
    state = state * 0x5851F42D4C957F2Dull + 0xA17654E46FBE17F3ull;
    const auto x = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
    const auto r = static_cast<int>(state >> 59);
    s.key_[k] = (x >> r) | (x << ((32 - r) & 31));
  }
  return s;
}

std::uint64_t Stream::draw_index_inclusive(std::uint64_t lo, std::uint64_t hi) {
  if (hi <= 0xFFFFFFFFull) {
    const auto range = static_cast<std::uint32_t>(hi - lo + 1);
    if (range == 0) return next_u32();
    const std::uint64_t m = static_cast<std::uint64_t>(next_u32()) * range;
    std::uint64_t result = m >> 32;
    const auto low = static_cast<std::uint32_t>(m);
    if (low > 0u - range) {  // 2^32 - range
      const std::uint64_t m2 = static_cast<std::uint64_t>(next_u32()) * range;
      // low + (m2 >> 32) >= 2^32, without overflowing 32 bits
      if (static_cast<std::uint64_t>(low) + (m2 >> 32) >= (1ull << 32)) result += 1;
    }
    return lo + result;
  }
  const std::uint64_t range = hi - lo + 1;
  if (range == 0) return next_u64();
  const U128 m = static_cast<U128>(next_u64()) * range;
  std::uint64_t result = static_cast<std::uint64_t>(m >> 64);
  const auto low = static_cast<std::uint64_t>(m);
  if (low > 0ull - range) {
    const U128 m2 = static_cast<U128>(next_u64()) * range;
    const auto carry_in = static_cast<std::uint64_t>(m2 >> 64);
    if (low + carry_in < low) result += 1;  // the sum reached 2^64
  }
  return lo + result;
}

double Stream::normal_tail(double u) {
  double t, y;
  do {
    const double a1 = draw_open01();
    const double a2 = draw_open01();
    t = std::log(a1) / zig::kR;
    y = std::log(a2);
  } while (t * t > -2.0 * y);
  return u < 0.0 ? t - zig::kR : zig::kR - t;
}

double Stream::draw_standard_normal() {
  for (;;) {
    const std::uint64_t b = next_u64();
    const auto i = static_cast<std::size_t>(b & 0xFF);
    const std::uint64_t bits = (b >> 12) | 0x4000000000000000ull;
    double two_to_four;
    std::memcpy(&two_to_four, &bits, sizeof two_to_four);
    const double u = two_to_four - 3.0;
    const double x = u * zig::kZigX[i];
    if (std::fabs(x) < zig::kZigX[i + 1]) return x;
    if (i == 0) return normal_tail(u);
    const double w = draw_unit();
    if (zig::kZigF[i + 1] + (zig::kZigF[i] - zig::kZigF[i + 1]) * w < std::exp(x * x * (-0.5))) return x;
  }
}

double normal_cdf(double t) {
  if (std::isnan(t)) return t;
  if (t == std::numeric_limits<double>::infinity()) return 1.0;
  if (t == -std::numeric_limits<double>::infinity()) return 0.0;
  return 0.5 * erfc_double(-t / std::numbers::sqrt2);
}

double normal_inv_cdf(double p) {
  if (std::isnan(p)) return p;
  return -std::numbers::sqrt2 * erfc_inv_double(2.0 * p);
}

std::uint64_t derive_seed(std::uint64_t x) {
  std::uint64_t z = x + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace quarn::sampling
