// tests/cpp/splitmix.hpp: the SplitMix64 stream behind the inputs of the C++ tests and
// benchmark drivers, and the FNV-1a digest by which they compare output bits.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

namespace quarn::test {

struct SplitMix {
  std::uint64_t s;
  std::uint64_t next() {
    std::uint64_t z = (s += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  /// Uniform in [0, 1).
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  /// In [0, n), n >= 1.
  std::uint64_t below(std::uint64_t n) { return next() % n; }
};

/// FNV-1a over the bytes of `v`, little end first: equal digests, equal bits.
inline std::uint64_t fnv1a(const std::vector<double>& v) {
  std::uint64_t h = 1469598103934665603ULL;
  for (double d : v) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    for (int b = 0; b < 64; b += 8) {
      h ^= (bits >> b) & 0xFF;
      h *= 1099511628211ULL;
    }
  }
  return h;
}

}  // namespace quarn::test
