// Helpers shared by the C++ benchmark drivers (one translation unit each): a SplitMix64
// stream of uniform doubles for their inputs and an FNV-1a digest of output bits.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

namespace bench {

/// The next uniform double in [0, 1) of the driver's SplitMix64 stream.
inline double unit() {
  static std::uint64_t state = 0x9E3779B97F4A7C15ULL;
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return static_cast<double>((z ^ (z >> 31)) >> 11) * 0x1.0p-53;
}

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

}  // namespace bench
