// src/sampling/chacha.hpp: the ChaCha block function behind the seeded stream,
// portable and vectorised, four consecutive blocks per call.
#pragma once
#include <array>
#include <bit>
#include <cstdint>

namespace quarn::sampling::chacha {

/// Words 0-3 of every input block: "expand 32-byte k" read as little-endian words.
inline constexpr std::uint32_t kSigma[4] = {0x61707865u, 0x3320646Eu, 0x79622D32u, 0x6B206574u};

using Block = std::array<std::uint32_t, 16>;

/// Well defined for every n, 0 included (a hand-written shift pair is not).
[[nodiscard]] constexpr std::uint32_t rotl(std::uint32_t x, int n) noexcept { return std::rotl(x, n); }

constexpr void quarter_round(Block& s, int a, int b, int c, int d) noexcept {
  s[a] += s[b]; s[d] ^= s[a]; s[d] = rotl(s[d], 16);
  s[c] += s[d]; s[b] ^= s[c]; s[b] = rotl(s[b], 12);
  s[a] += s[b]; s[d] ^= s[a]; s[d] = rotl(s[d], 8);
  s[c] += s[d]; s[b] ^= s[c]; s[b] = rotl(s[b], 7);
}

/// One ChaCha block with `Rounds` rounds (even): the permuted state added word-wise
/// to the input. Generic so that the 20-round form can be checked against RFC 7539.
template <int Rounds>
[[nodiscard]] constexpr Block block(const Block& in) noexcept {
  static_assert(Rounds > 0 && Rounds % 2 == 0);
  Block s = in;
  for (int r = 0; r < Rounds; r += 2) {
    quarter_round(s, 0, 4, 8, 12);
    quarter_round(s, 1, 5, 9, 13);
    quarter_round(s, 2, 6, 10, 14);
    quarter_round(s, 3, 7, 11, 15);
    quarter_round(s, 0, 5, 10, 15);
    quarter_round(s, 1, 6, 11, 12);
    quarter_round(s, 2, 7, 8, 13);
    quarter_round(s, 3, 4, 9, 14);
  }
  for (int i = 0; i < 16; ++i) s[i] += in[i];
  return s;
}

/// Fills `out` with the 12-round blocks for counters c .. c+3 (stream number 0), in order.
using Blocks4Fn = void (*)(const std::uint32_t* key, std::uint64_t counter, std::uint32_t* out);

void blocks4_portable(const std::uint32_t* key, std::uint64_t counter, std::uint32_t* out) noexcept;
/// Null where the instruction set is not available in this build or on this processor.
[[nodiscard]] Blocks4Fn blocks4_sse2() noexcept;
[[nodiscard]] Blocks4Fn blocks4_avx2() noexcept;
/// The fastest of the above, picked once by processor feature detection. All give identical words.
[[nodiscard]] Blocks4Fn blocks4_best() noexcept;
/// "avx2", "sse2" or "portable": the path blocks4_best() picked.
[[nodiscard]] const char* best_path_name() noexcept;

}  // namespace quarn::sampling::chacha
