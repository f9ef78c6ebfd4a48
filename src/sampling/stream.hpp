// src/sampling/stream.hpp: the seeded random stream (ChaCha12 keyed by a PCG32
// seed expansion), its draw primitives, the normal distribution function and its
// inverse, and the seed mixer.
#pragma once
#include <cstdint>
#include <cstring>

#include "sampling/chacha.hpp"

namespace quarn::sampling {

/// One deterministic stream of 32-bit words. A plain value: copying it forks an
/// identical stream. Not thread-safe; one user at a time.
class Stream {
 public:
  /// Next word of the stream.
  std::uint32_t next_u32() {
    if (index_ >= kWords) {
      refill();
      index_ = 0;
    }
    return buf_[index_++];
  }

  /// Next two words, the earlier one as the low half, also across a refill.
  std::uint64_t next_u64() {
    std::uint64_t lo, hi;
    if (index_ < kWords - 1) {
      lo = buf_[index_];
      hi = buf_[index_ + 1];
      index_ += 2;
    } else if (index_ == kWords - 1) {
      lo = buf_[kWords - 1];
      refill();
      hi = buf_[0];
      index_ = 1;
    } else {
      refill();
      lo = buf_[0];
      hi = buf_[1];
      index_ = 2;
    }
    return (hi << 32) | lo;
  }

  /// Double in [0, 1) with 53 random bits.
  double draw_unit() { return static_cast<double>(next_u64() >> 11) * 0x1.0p-53; }

  /// Double in (0, 1) with 52 random bits.
  double draw_open01() { return one_to_two(next_u64()) - (1.0 - 0x1.0p-53); }

  /// Double in [lo, hi): (f - 1) * (hi - lo) + lo. Needs lo < hi with a finite width;
  /// may round up to hi when the width is large relative to lo.
  double draw_range(double lo, double hi) {
    const double f = one_to_two(next_u64());
    return (f - 1.0) * (hi - lo) + lo;
  }

  /// Unsigned integer in [lo, hi] (needs lo <= hi): widening multiply with one
  /// correction draw; 32-bit words when hi < 2^32, 64-bit ones otherwise.
  std::uint64_t draw_index_inclusive(std::uint64_t lo, std::uint64_t hi);

  /// Standard normal variate: 256-layer ziggurat.
  double draw_standard_normal();

 private:
  friend Stream seeded_rng(std::uint64_t seed);
  static constexpr std::uint32_t kWords = 64;

  static double one_to_two(std::uint64_t b) {
    const std::uint64_t bits = (b >> 12) | 0x3FF0000000000000ull;
    double f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  void refill() {
    chacha::blocks4_best()(key_, counter_, buf_);
    counter_ += 4;
  }
  double normal_tail(double u);

  std::uint32_t key_[8] = {};
  std::uint64_t counter_ = 0;      // block counter (words 12, 13); the stream number is always 0
  std::uint32_t index_ = kWords;   // read index into buf_; kWords means used up
  std::uint32_t buf_[kWords] = {};  // four consecutive output blocks
};

/// A new stream from a 64-bit seed; the key is eight PCG32 XSH-RR outputs of the seed.
[[nodiscard]] Stream seeded_rng(std::uint64_t seed);

/// Standard normal distribution function: 0.5 * erfc(-t / sqrt(2)); NaN gives NaN.
[[nodiscard]] double normal_cdf(double t);

/// Its inverse for p in [0, 1]: -sqrt(2) * erfc_inv(2p); 0 and 1 give -inf and +inf.
[[nodiscard]] double normal_inv_cdf(double p);

/// SplitMix64 finaliser, the mixer that derives sub-stream seeds.
[[nodiscard]] std::uint64_t derive_seed(std::uint64_t x);

}  // namespace quarn::sampling
