// The stream's block function and tables, checked where Python cannot reach.
#include <cmath>
#include <cstdint>

#include "check.hpp"
#include "sampling/chacha.hpp"
#include "sampling/stream.hpp"
#include "sampling/ziggurat_tables.hpp"

using namespace quarn::sampling;

TEST_CASE("chacha20 block matches RFC 7539 section 2.3.2") {
  const chacha::Block in = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574, 0x03020100, 0x07060504,
                            0x0b0a0908, 0x0f0e0d0c, 0x13121110, 0x17161514, 0x1b1a1918, 0x1f1e1d1c,
                            0x00000001, 0x09000000, 0x4a000000, 0x00000000};
  const chacha::Block expected = {0xe4e7f110, 0x15593bd1, 0x1fdd0f50, 0xc47120a3, 0xc7f4d1c7, 0x0368c033,
                                  0x9aaa2204, 0x4e6cd4c3, 0x466482d2, 0x09aa9f07, 0x05d7c214, 0xa2028bd9,
                                  0xd19c12b5, 0xb94e16de, 0xe883d0cb, 0x4e3c50a2};
  CHECK(chacha::block<20>(in) == expected);
}

TEST_CASE("vector block paths give the portable words") {
  const chacha::Blocks4Fn paths[] = {chacha::blocks4_sse2(), chacha::blocks4_avx2(), chacha::blocks4_best()};
  // Counters include the 32-bit carry and the top of the 64-bit range.
  const std::uint64_t counters[] = {0, 4, 0xFFFFFFFCull, 0xFFFFFFFEull, 0xFFFFFFFFull, 0x123456789ABCDEFull,
                                    0xFFFFFFFFFFFFFFFEull};
  for (std::uint64_t seed = 0; seed < 64; ++seed) {
    std::uint32_t key[8];
    std::uint64_t z = seed;
    for (auto& k : key) k = static_cast<std::uint32_t>(z = derive_seed(z));
    for (std::uint64_t c : counters) {
      std::uint32_t want[64], got[64];
      chacha::blocks4_portable(key, c, want);
      for (chacha::Blocks4Fn f : paths) {
        if (f == nullptr) continue;
        f(key, c, got);
        bool same = true;
        for (int i = 0; i < 64; ++i) same = same && got[i] == want[i];
        CHECK(same);
      }
    }
  }
}

TEST_CASE("ziggurat tables follow the recurrence except the three held F entries") {
  const auto f = [](double x) { return std::exp(-x * x / 2.0); };
  CHECK_EQ(zig::kZigX[0], zig::kV / f(zig::kR));
  CHECK_EQ(zig::kZigX[1], zig::kR);
  CHECK_EQ(zig::kZigX[256], 0.0);
  for (int i = 2; i < 256; ++i)
    CHECK_EQ(zig::kZigX[i], std::sqrt(-2.0 * std::log(zig::kV / zig::kZigX[i - 1] + f(zig::kZigX[i - 1]))));
  for (int i = 0; i <= 256; ++i) {
    if (i == 0 || i == 3 || i == 94) continue;
    CHECK_EQ(zig::kZigF[i], f(zig::kZigX[i]));
  }
  CHECK_EQ(zig::kZigF[0], 0.000477467764586655);
  CHECK_EQ(zig::kZigF[3], 0.004037972593371872);
  CHECK_EQ(zig::kZigF[94], 0.2064054063986793);
  CHECK(zig::kZigF[0] != f(zig::kZigX[0]));
}

TEST_CASE("derive_seed is the SplitMix64 finaliser") {
  CHECK_EQ(derive_seed(0), 0xE220A8397B1DCDAFull);
}

TEST_CASE("copying a stream forks it") {
  Stream a = seeded_rng(5);
  for (int i = 0; i < 70; ++i) (void)a.next_u32();
  Stream b = a;
  for (int i = 0; i < 200; ++i) CHECK_EQ(a.next_u64(), b.next_u64());
}
