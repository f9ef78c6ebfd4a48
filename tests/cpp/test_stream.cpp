// The stream's block function and tables, checked where Python cannot reach.
#include <cmath>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <numbers>

#include "check.hpp"
#include "sampling/chacha.hpp"
#include "sampling/stream.hpp"
#include "sampling/ziggurat_tables.hpp"

using namespace quarn::sampling;
__extension__ typedef unsigned __int128 U128;

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

// ---- reference vectors from ../shared/testdata ------------------------------------
// Read at run time (never copied into code): env QUARN_TESTDATA, else
// <repo>/../shared/testdata, else /work/shared/testdata.

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Just enough JSON for the vector files: objects, arrays, strings, unsigned integers.
struct Json {
  enum class T { Object, Array, String, Number } t = T::Number;
  std::map<std::string, Json> obj;
  std::vector<Json> arr;
  std::string str;
  std::uint64_t num = 0;
  const Json& operator[](const std::string& k) const { return obj.at(k); }
};

struct JsonReader {
  const std::string& s;
  std::size_t i = 0;
  void ws() { while (i < s.size() && std::strchr(" \t\r\n", s[i])) ++i; }
  std::string string() {
    std::string out;
    ++i;  // opening quote
    while (s[i] != '"') {
      if (s[i] == '\\') ++i;
      out += s[i++];
    }
    ++i;
    return out;
  }
  Json value() {
    ws();
    Json j;
    if (s[i] == '{') {
      j.t = Json::T::Object;
      ++i;
      ws();
      while (s[i] != '}') {
        ws();
        std::string k = string();
        ws();
        ++i;  // ':'
        j.obj[k] = value();
        ws();
        if (s[i] == ',') ++i;
        ws();
      }
      ++i;
    } else if (s[i] == '[') {
      j.t = Json::T::Array;
      ++i;
      ws();
      while (s[i] != ']') {
        j.arr.push_back(value());
        ws();
        if (s[i] == ',') ++i;
        ws();
      }
      ++i;
    } else if (s[i] == '"') {
      j.t = Json::T::String;
      j.str = string();
    } else {
      while (i < s.size() && s[i] >= '0' && s[i] <= '9') j.num = j.num * 10 + static_cast<std::uint64_t>(s[i++] - '0');
    }
    return j;
  }
};

std::string testdata_dir() {
  if (const char* env = std::getenv("QUARN_TESTDATA")) return env;
  std::string here = __FILE__;  // <repo>/tests/cpp/test_stream.cpp
  const auto cut = here.rfind("tests/cpp/");
  if (cut != std::string::npos) {
    const std::string dir = here.substr(0, cut) + "../shared/testdata";
    if (std::ifstream(dir + "/stream_vectors.json")) return dir;
  }
  return "/work/shared/testdata";
}

std::unique_ptr<Json> load(const char* name) {
  std::ifstream f(testdata_dir() + "/" + name);
  if (!f) {
    std::fprintf(stderr, "skipped: %s not found (set QUARN_TESTDATA)\n", name);
    return nullptr;
  }
  std::stringstream ss;
  ss << f.rdbuf();
  const std::string text = ss.str();
  JsonReader r{text};
  return std::make_unique<Json>(r.value());
}

std::uint64_t bits_of(double d) {
  std::uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}
double from_hex(const std::string& h) {
  const std::uint64_t b = std::strtoull(h.c_str(), nullptr, 16);
  double d;
  std::memcpy(&d, &b, sizeof d);
  return d;
}

template <class Draw>
void check_doubles(const Json& list, std::uint64_t seed, Draw draw) {
  Stream s = seeded_rng(seed);
  for (const Json& want : list.arr) CHECK_EQ(bits_of(draw(s)), bits_of(from_hex(want.str)));
}

}  // namespace

TEST_CASE("stream reproduces the reference words and draws of three seeds") {
  const auto doc = load("stream_vectors.json");
  if (!doc) return;
  CHECK_EQ((*doc)["seeds"].obj.size(), std::size_t{3});
  for (const auto& [name, v] : (*doc)["seeds"].obj) {
    const std::uint64_t seed = std::strtoull(name.c_str(), nullptr, 10);
    {
      Stream s = seeded_rng(seed);
      for (const Json& w : v["u32"].arr) CHECK_EQ(std::uint64_t{s.next_u32()}, w.num);
    }
    {
      // index 63: the last word of the old buffer is the low half, and the index ends at 1
      Stream s = seeded_rng(seed);
      for (int i = 0; i < 63; ++i) (void)s.next_u32();
      for (const Json& w : v["u64_after_63"].arr) CHECK_EQ(s.next_u64(), w.num);
      Stream t = seeded_rng(seed);
      for (int i = 0; i < 63; ++i) (void)t.next_u32();
      (void)t.next_u64();
      CHECK_EQ(std::uint64_t{t.next_u32()}, v["u32"].arr[65].num);
    }
    check_doubles(v["unit"], seed, [](Stream& s) { return s.draw_unit(); });
    check_doubles(v["open01"], seed, [](Stream& s) { return s.draw_open01(); });
    check_doubles(v["normal"], seed, [](Stream& s) { return s.draw_standard_normal(); });
    check_doubles(v["range_m10_10"], seed, [](Stream& s) { return s.draw_range(-10.0, 10.0); });
  }
}

TEST_CASE("normal_cdf and normal_inv_cdf reproduce the Boost reference bits") {
  const auto doc = load("normal_vectors.json");
  if (!doc) return;
  CHECK((*doc)["cdf"].arr.size() > 100);
  for (const Json& pair : (*doc)["cdf"].arr)
    CHECK_EQ(bits_of(normal_cdf(from_hex(pair.arr[0].str))), bits_of(from_hex(pair.arr[1].str)));
  for (const Json& pair : (*doc)["inv"].arr)
    CHECK_EQ(bits_of(normal_inv_cdf(from_hex(pair.arr[0].str))), bits_of(from_hex(pair.arr[1].str)));
}

// ---- pinned behaviour of the draws ---------------------------------------------

TEST_CASE("a refill advances the counter by four blocks") {
  Stream s = seeded_rng(9);
  Stream k = seeded_rng(9);
  // Recover the key through the first buffer: words 0..63 are blocks 0..3.
  std::uint32_t first[64], second[64];
  for (auto& w : first) w = s.next_u32();
  for (auto& w : second) w = s.next_u32();  // word 64 triggers the second refill
  // Same words from a stream forked after one refill: blocks 4..7.
  for (int i = 0; i < 64; ++i) (void)k.next_u32();
  Stream fork = k;
  for (int i = 0; i < 64; ++i) CHECK_EQ(fork.next_u32(), second[i]);
  // and they are the portable blocks at counter 4 of the same key (key via seeding).
  std::uint32_t key[8];
  std::uint64_t st = 9;
  for (auto& w : key) {
    st = st * 0x5851F42D4C957F2Dull + 0xA17654E46FBE17F3ull;
    const auto x = static_cast<std::uint32_t>(((st >> 18) ^ st) >> 27);
    w = chacha::rotl(x, static_cast<int>(32 - (st >> 59)) & 31);
  }
  std::uint32_t b0[64], b4[64];
  chacha::blocks4_portable(key, 0, b0);
  chacha::blocks4_portable(key, 4, b4);
  for (int i = 0; i < 64; ++i) {
    CHECK_EQ(first[i], b0[i]);
    CHECK_EQ(second[i], b4[i]);
  }
}

TEST_CASE("draw_index_inclusive: word counts, full ranges and the correction draw") {
  {
    Stream s = seeded_rng(1), ref = seeded_rng(1);
    CHECK_EQ(s.draw_index_inclusive(0, 0), 0ull);  // still consumes one word
    (void)ref.next_u32();
    CHECK_EQ(s.next_u32(), ref.next_u32());
  }
  {
    Stream s = seeded_rng(2), ref = seeded_rng(2);
    CHECK_EQ(s.draw_index_inclusive(0, 0xFFFFFFFFull), std::uint64_t{ref.next_u32()});
    CHECK_EQ(s.draw_index_inclusive(0, ~0ull), ref.next_u64());
    CHECK_EQ(s.next_u32(), ref.next_u32());
  }
  {
    // [0, 2^32] takes the 64-bit path by its upper bound: two words where [0, 10] takes one.
    Stream s = seeded_rng(3), ref = seeded_rng(3);
    const std::uint64_t w = ref.next_u64();
    CHECK_EQ(s.draw_index_inclusive(0, 1ull << 32), static_cast<std::uint64_t>((static_cast<U128>(w) * ((1ull << 32) + 1)) >> 64));
    CHECK_EQ(s.next_u32(), ref.next_u32());
  }
  // Against the plain-integer reading of the method: floor((w*r + floor(w2*r / 2^32)) / 2^32),
  // with w2 drawn only when the low half is above 2^32 - r.
  int corrections = 0;
  for (std::uint64_t seed = 0; seed < 200; ++seed) {
    const std::uint64_t lo = seed * 7, hi = lo + 0x80000000ull + seed;
    Stream s = seeded_rng(seed), ref = seeded_rng(seed);
    const std::uint64_t r = hi - lo + 1;
    const std::uint64_t w = ref.next_u32();
    std::uint64_t total = w * r;
    if ((total & 0xFFFFFFFFull) > (1ull << 32) - r) {
      total += (std::uint64_t{ref.next_u32()} * r) >> 32;
      ++corrections;
    }
    CHECK_EQ(s.draw_index_inclusive(lo, hi), lo + (total >> 32));
    CHECK_EQ(s.next_u32(), ref.next_u32());
  }
  CHECK(corrections > 20);
}

TEST_CASE("draw_index_inclusive: a low half exactly at 2^32 - r or 2^64 - r takes no correction draw") {
  // With r = 2^(32-k) the low half of w * r is (w mod 2^k) * 2^(32-k): it equals
  // 2^32 - r whenever the k low bits of w are all ones, so these ranges hit the boundary
  // often. Only a low half strictly above 2^32 - r (here: never) draws a second word.
  for (const int k : {1, 2, 3, 5}) {
    for (const std::uint64_t lo : {std::uint64_t{0}, std::uint64_t{12345}}) {
      const std::uint64_t r = std::uint64_t{1} << (32 - k), hi = lo + r - 1;
      Stream s = seeded_rng(100 + static_cast<std::uint64_t>(k)), ref = s;
      int at_boundary = 0;
      for (int n = 0; n < 200; ++n) {
        const std::uint64_t w = ref.next_u32();
        at_boundary += (w & ((1u << k) - 1)) == (1u << k) - 1;
        CHECK_EQ(s.draw_index_inclusive(lo, hi), lo + (w >> k));
      }
      CHECK_EQ(s.next_u32(), ref.next_u32());
      CHECK(at_boundary > 200 >> (k + 1));
    }
  }
  // the same on the 64-bit path, r = 2^(64-k)
  for (const int k : {1, 2, 4}) {
    const std::uint64_t r = std::uint64_t{1} << (64 - k);
    Stream s = seeded_rng(200 + static_cast<std::uint64_t>(k)), ref = s;
    int at_boundary = 0;
    for (int n = 0; n < 200; ++n) {
      const std::uint64_t w = ref.next_u64();
      at_boundary += (w & ((1ull << k) - 1)) == (1ull << k) - 1;
      CHECK_EQ(s.draw_index_inclusive(7, 7 + r - 1), 7 + (w >> k));
    }
    CHECK_EQ(s.next_u32(), ref.next_u32());
    CHECK(at_boundary > 200 >> (k + 1));
  }
}

TEST_CASE("draw_index_inclusive: the 64-bit correction draw against 128-bit integers") {
  // floor((w*r + floor(w2*r / 2^64)) / 2^64), w2 drawn only when the low half of w*r is
  // above 2^64 - r; ranges just above 2^63 take the correction about half the time
  int corrections = 0, carries = 0;
  for (std::uint64_t seed = 0; seed < 200; ++seed) {
    const std::uint64_t lo = seed * 0x1234567ull, r = (1ull << 63) + seed * 0x9E3779B97F4Aull + 1;
    Stream s = seeded_rng(seed), ref = seeded_rng(seed);
    const U128 total = static_cast<U128>(ref.next_u64()) * r;
    U128 sum = total;
    if (static_cast<std::uint64_t>(total) > 0ull - r) {
      sum += (static_cast<U128>(ref.next_u64()) * r) >> 64;
      ++corrections;
      carries += (sum >> 64) != (total >> 64);
    }
    CHECK_EQ(s.draw_index_inclusive(lo, lo + r - 1), lo + static_cast<std::uint64_t>(sum >> 64));
    CHECK_EQ(s.next_u32(), ref.next_u32());
  }
  CHECK(corrections > 50);
  CHECK(carries > 10);
  CHECK(carries < corrections);
}

TEST_CASE("ziggurat: rejection and tail branches") {
  struct Pin {
    std::uint64_t seed;
    bool tail;
    double z;
  };
  const Pin pins[] = {
      {19, false, -0x1.4eac9977e4b2bp-2}, {86, false, 0x1.5a58b5635577ep-3},
      {3279, true, -0x1.f6e5a66db149bp+1}, {14544, true, 0x1.d66cf7fbb827bp+1},
  };
  for (const Pin& p : pins) {
    Stream s = seeded_rng(p.seed);
    Stream peek = s;
    const std::uint64_t b = peek.next_u64();
    const std::size_t i = b & 0xFF;
    CHECK_EQ(i == 0, p.tail);
    const std::uint64_t bits = (b >> 12) | 0x4000000000000000ull;
    double two_to_four;
    std::memcpy(&two_to_four, &bits, sizeof two_to_four);
    const double x = (two_to_four - 3.0) * zig::kZigX[i];
    CHECK(!(std::fabs(x) < zig::kZigX[i + 1]));  // not the fast path
    const double z = s.draw_standard_normal();
    CHECK_EQ(bits_of(z), bits_of(p.z));
    if (p.tail) CHECK(std::fabs(z) > zig::kR);
    else CHECK(z != x);  // the first candidate was rejected
  }
}

TEST_CASE("normal_cdf and normal_inv_cdf: fixed points, symmetry, monotonicity") {
  const double inf = std::numeric_limits<double>::infinity();
  CHECK_EQ(normal_cdf(0.0), 0.5);
  CHECK_EQ(normal_inv_cdf(0.5), 0.0);
  CHECK_EQ(normal_inv_cdf(0.0), -inf);
  CHECK_EQ(normal_inv_cdf(1.0), inf);
  CHECK_EQ(normal_cdf(inf), 1.0);
  CHECK_EQ(normal_cdf(-inf), 0.0);
  CHECK(std::isnan(normal_cdf(std::nan(""))));
  CHECK(std::isnan(normal_inv_cdf(std::nan(""))));
  double prev = 0.0;
  for (int k = -3800; k <= 3800; ++k) {
    const double t = k / 100.0;
    const double c = normal_cdf(t);
    CHECK(c >= prev);
    prev = c;
  }
  prev = -inf;
  for (int k = 0; k <= 4096; ++k) {
    const double p = k / 4096.0;
    const double z = normal_inv_cdf(p);
    CHECK(z >= prev);
    prev = z;
    CHECK_EQ(normal_inv_cdf(1.0 - p), -z);  // 1 - p is exact on this grid
  }
}

namespace {
std::uint64_t ulp_distance(double a, double b) {
  const auto ia = static_cast<std::int64_t>(bits_of(a)), ib = static_cast<std::int64_t>(bits_of(b));
  return static_cast<std::uint64_t>(ia > ib ? ia - ib : ib - ia);
}
}  // namespace

TEST_CASE("normal_cdf agrees with the C library's erfc; normal_inv_cdf inverts it") {
  std::uint64_t worst = 0;
  for (int k = -3800; k <= 3800; ++k) {
    const double t = k / 100.0 + 0.003;
    const double libc = 0.5 * std::erfc(-t / std::numbers::sqrt2);
    worst = std::max(worst, ulp_distance(normal_cdf(t), libc));
  }
  CHECK(worst <= 4);
  for (int k = 1; k < 2000; ++k) {
    for (const double p : {k / 2000.0, std::ldexp(k / 2000.0, -40), std::ldexp(k / 2000.0, -1000)}) {
      const double back = 0.5 * std::erfc(-normal_inv_cdf(p) / std::numbers::sqrt2);
      CHECK(std::fabs(back - p) <= 1e-12 * p);
    }
  }
}
