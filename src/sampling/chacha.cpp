// ChaCha12, four blocks per call. The vector paths compute exactly the integer
// operations of the portable one, so they are interchangeable bit for bit.
#include "sampling/chacha.hpp"

#if defined(__GNUC__) && defined(__x86_64__)
#define QUARN_CHACHA_X86 1
#include <immintrin.h>
#endif

namespace quarn::sampling::chacha {
namespace {

constexpr int kRounds = 12;

Block input_block(const std::uint32_t* key, std::uint64_t counter) noexcept {
  Block in{};
  for (int i = 0; i < 4; ++i) in[i] = kSigma[i];
  for (int i = 0; i < 8; ++i) in[4 + i] = key[i];
  in[12] = static_cast<std::uint32_t>(counter);
  in[13] = static_cast<std::uint32_t>(counter >> 32);
  in[14] = 0;
  in[15] = 0;
  return in;
}

#ifdef QUARN_CHACHA_X86

// SSE2: one register per state word, four blocks in the four lanes.
inline __m128i rotl_sse2(__m128i x, int n) {
  return _mm_or_si128(_mm_slli_epi32(x, n), _mm_srli_epi32(x, 32 - n));
}

#define QUARN_QR_SSE2(a, b, c, d)                                        \
  a = _mm_add_epi32(a, b); d = rotl_sse2(_mm_xor_si128(d, a), 16);       \
  c = _mm_add_epi32(c, d); b = rotl_sse2(_mm_xor_si128(b, c), 12);       \
  a = _mm_add_epi32(a, b); d = rotl_sse2(_mm_xor_si128(d, a), 8);        \
  c = _mm_add_epi32(c, d); b = rotl_sse2(_mm_xor_si128(b, c), 7)

void blocks4_sse2_impl(const std::uint32_t* key, std::uint64_t counter, std::uint32_t* out) noexcept {
  __m128i in[16];
  for (int i = 0; i < 4; ++i) in[i] = _mm_set1_epi32(static_cast<int>(kSigma[i]));
  for (int i = 0; i < 8; ++i) in[4 + i] = _mm_set1_epi32(static_cast<int>(key[i]));
  std::uint32_t lo[4], hi[4];
  for (int b = 0; b < 4; ++b) {
    const std::uint64_t c = counter + static_cast<std::uint64_t>(b);
    lo[b] = static_cast<std::uint32_t>(c);
    hi[b] = static_cast<std::uint32_t>(c >> 32);
  }
  in[12] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lo));
  in[13] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi));
  in[14] = _mm_setzero_si128();
  in[15] = _mm_setzero_si128();
  __m128i x0 = in[0], x1 = in[1], x2 = in[2], x3 = in[3], x4 = in[4], x5 = in[5], x6 = in[6], x7 = in[7];
  __m128i x8 = in[8], x9 = in[9], x10 = in[10], x11 = in[11], x12 = in[12], x13 = in[13], x14 = in[14],
          x15 = in[15];
  for (int r = 0; r < kRounds; r += 2) {
    QUARN_QR_SSE2(x0, x4, x8, x12);
    QUARN_QR_SSE2(x1, x5, x9, x13);
    QUARN_QR_SSE2(x2, x6, x10, x14);
    QUARN_QR_SSE2(x3, x7, x11, x15);
    QUARN_QR_SSE2(x0, x5, x10, x15);
    QUARN_QR_SSE2(x1, x6, x11, x12);
    QUARN_QR_SSE2(x2, x7, x8, x13);
    QUARN_QR_SSE2(x3, x4, x9, x14);
  }
  __m128i x[16] = {x0, x1, x2, x3, x4, x5, x6, x7, x8, x9, x10, x11, x12, x13, x14, x15};
  for (int w = 0; w < 16; w += 4) {
    const __m128i a = _mm_add_epi32(x[w], in[w]), b = _mm_add_epi32(x[w + 1], in[w + 1]);
    const __m128i c = _mm_add_epi32(x[w + 2], in[w + 2]), d = _mm_add_epi32(x[w + 3], in[w + 3]);
    // 4x4 transpose: lane k of words w..w+3 becomes words w..w+3 of block k.
    const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpacklo_epi32(c, d);
    const __m128i t2 = _mm_unpackhi_epi32(a, b), t3 = _mm_unpackhi_epi32(c, d);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 0 * 16 + w), _mm_unpacklo_epi64(t0, t1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 1 * 16 + w), _mm_unpackhi_epi64(t0, t1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * 16 + w), _mm_unpacklo_epi64(t2, t3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * 16 + w), _mm_unpackhi_epi64(t2, t3));
  }
}
#undef QUARN_QR_SSE2

// AVX2: one register per state row, two blocks per register (one per 128-bit half);
// the diagonal round rotates rows within each half.
#define QUARN_AVX2 __attribute__((target("avx2")))

QUARN_AVX2 inline __m256i rotl_avx2(__m256i x, int n) {
  return _mm256_or_si256(_mm256_slli_epi32(x, n), _mm256_srli_epi32(x, 32 - n));
}

QUARN_AVX2 inline void qr_avx2(__m256i& a, __m256i& b, __m256i& c, __m256i& d, __m256i rot16, __m256i rot8) {
  a = _mm256_add_epi32(a, b); d = _mm256_shuffle_epi8(_mm256_xor_si256(d, a), rot16);
  c = _mm256_add_epi32(c, d); b = rotl_avx2(_mm256_xor_si256(b, c), 12);
  a = _mm256_add_epi32(a, b); d = _mm256_shuffle_epi8(_mm256_xor_si256(d, a), rot8);
  c = _mm256_add_epi32(c, d); b = rotl_avx2(_mm256_xor_si256(b, c), 7);
}

QUARN_AVX2 void blocks4_avx2_impl(const std::uint32_t* key, std::uint64_t counter, std::uint32_t* out) noexcept {
  const __m256i rot16 = _mm256_set_epi8(13, 12, 15, 14, 9, 8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2,  //
                                        13, 12, 15, 14, 9, 8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2);
  const __m256i rot8 = _mm256_set_epi8(14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3,  //
                                       14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3);
  const __m256i row0 = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(kSigma)));
  const __m256i row1 = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(key)));
  const __m256i row2 = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(key + 4)));
  // Row 3 is (counter, stream number 0) as two 64-bit lanes per half; 64-bit adds carry.
  const __m256i row3a = _mm256_set_epi64x(0, static_cast<long long>(counter + 1), 0, static_cast<long long>(counter));
  const __m256i row3b =
      _mm256_set_epi64x(0, static_cast<long long>(counter + 3), 0, static_cast<long long>(counter + 2));
  __m256i a0 = row0, b0 = row1, c0 = row2, d0 = row3a;
  __m256i a1 = row0, b1 = row1, c1 = row2, d1 = row3b;
  for (int r = 0; r < kRounds; r += 2) {
    qr_avx2(a0, b0, c0, d0, rot16, rot8);
    qr_avx2(a1, b1, c1, d1, rot16, rot8);
    b0 = _mm256_shuffle_epi32(b0, 0x39); c0 = _mm256_shuffle_epi32(c0, 0x4E); d0 = _mm256_shuffle_epi32(d0, 0x93);
    b1 = _mm256_shuffle_epi32(b1, 0x39); c1 = _mm256_shuffle_epi32(c1, 0x4E); d1 = _mm256_shuffle_epi32(d1, 0x93);
    qr_avx2(a0, b0, c0, d0, rot16, rot8);
    qr_avx2(a1, b1, c1, d1, rot16, rot8);
    b0 = _mm256_shuffle_epi32(b0, 0x93); c0 = _mm256_shuffle_epi32(c0, 0x4E); d0 = _mm256_shuffle_epi32(d0, 0x39);
    b1 = _mm256_shuffle_epi32(b1, 0x93); c1 = _mm256_shuffle_epi32(c1, 0x4E); d1 = _mm256_shuffle_epi32(d1, 0x39);
  }
  a0 = _mm256_add_epi32(a0, row0); b0 = _mm256_add_epi32(b0, row1);
  c0 = _mm256_add_epi32(c0, row2); d0 = _mm256_add_epi32(d0, row3a);
  a1 = _mm256_add_epi32(a1, row0); b1 = _mm256_add_epi32(b1, row1);
  c1 = _mm256_add_epi32(c1, row2); d1 = _mm256_add_epi32(d1, row3b);
  auto* o = reinterpret_cast<__m256i*>(out);
  _mm256_storeu_si256(o + 0, _mm256_permute2x128_si256(a0, b0, 0x20));
  _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(c0, d0, 0x20));
  _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(a0, b0, 0x31));
  _mm256_storeu_si256(o + 3, _mm256_permute2x128_si256(c0, d0, 0x31));
  _mm256_storeu_si256(o + 4, _mm256_permute2x128_si256(a1, b1, 0x20));
  _mm256_storeu_si256(o + 5, _mm256_permute2x128_si256(c1, d1, 0x20));
  _mm256_storeu_si256(o + 6, _mm256_permute2x128_si256(a1, b1, 0x31));
  _mm256_storeu_si256(o + 7, _mm256_permute2x128_si256(c1, d1, 0x31));
}
#undef QUARN_AVX2

#endif  // QUARN_CHACHA_X86

Blocks4Fn pick_best() noexcept {
#ifdef QUARN_CHACHA_X86
  if (__builtin_cpu_supports("avx2")) return &blocks4_avx2_impl;
  return &blocks4_sse2_impl;
#else
  return &blocks4_portable;
#endif
}

}  // namespace

void blocks4_portable(const std::uint32_t* key, std::uint64_t counter, std::uint32_t* out) noexcept {
  for (std::uint64_t b = 0; b < 4; ++b) {
    const Block o = block<kRounds>(input_block(key, counter + b));
    for (int i = 0; i < 16; ++i) out[b * 16 + static_cast<std::uint64_t>(i)] = o[i];
  }
}

Blocks4Fn blocks4_sse2() noexcept {
#ifdef QUARN_CHACHA_X86
  return &blocks4_sse2_impl;
#else
  return nullptr;
#endif
}

Blocks4Fn blocks4_avx2() noexcept {
#ifdef QUARN_CHACHA_X86
  if (__builtin_cpu_supports("avx2")) return &blocks4_avx2_impl;
#endif
  return nullptr;
}

Blocks4Fn blocks4_best() noexcept {
  static const Blocks4Fn best = pick_best();  // the processor does not change under us
  return best;
}

const char* best_path_name() noexcept {
  const Blocks4Fn b = blocks4_best();
  if (b == blocks4_avx2()) return "avx2";
  if (b == blocks4_sse2()) return "sse2";
  return "portable";
}

}  // namespace quarn::sampling::chacha
