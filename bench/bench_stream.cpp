// Raw throughput of the ChaCha12 block paths (built and run by bench_sampling.py;
// not part of the default build).
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "sampling/chacha.hpp"
#include "sampling/stream.hpp"

using namespace quarn::sampling;

namespace {

double gbps(chacha::Blocks4Fn f, int calls) {
  std::uint32_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8}, out[64];
  std::uint32_t sink = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) {
    f(key, static_cast<std::uint64_t>(i) * 4, out);
    sink ^= out[i & 63];
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (sink == 0x12345678u) std::puts("");
  return calls * 256.0 / s / 1e9;
}

}  // namespace

int main() {
  const int calls = 2000000;  // 512 MB per path
  std::printf("portable %.3f\n", gbps(&chacha::blocks4_portable, calls));
  if (auto f = chacha::blocks4_sse2()) std::printf("sse2 %.3f\n", gbps(f, calls));
  if (auto f = chacha::blocks4_avx2()) std::printf("avx2 %.3f\n", gbps(f, calls));
  Stream s = seeded_rng(1);
  std::uint64_t acc = 0;
  const int n = 50000000;
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) acc += s.next_u64();
  const double sec = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("stream_next_u64 %.3f %s %llu\n", n * 8.0 / sec / 1e9, chacha::best_path_name(),
              static_cast<unsigned long long>(acc & 1));
  double z = 0;
  const auto t1 = std::chrono::steady_clock::now();
  for (int i = 0; i < 10000000; ++i) z += s.draw_standard_normal();
  const double sec2 = std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
  std::printf("normal_ns %.3f %g\n", sec2 / 1e7 * 1e9, z > 1e300 ? z : 0.0);
}
