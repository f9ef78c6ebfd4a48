// Helpers shared by the C++ benchmark drivers (one translation unit each): the tests'
// SplitMix64 stream for their inputs and FNV-1a digest of output bits.
#pragma once
#include <cstdint>
#include <vector>

#include "../tests/cpp/splitmix.hpp"

namespace bench {

/// The next uniform double in [0, 1) of the driver's stream.
inline double unit() {
  static quarn::test::SplitMix stream{0x9E3779B97F4A7C15ULL};
  return stream.unit();
}

using quarn::test::fnv1a;

}  // namespace bench
