// Kriging and simulation kernels on one core, per vector path. Built and run by
// bench_kernels.py:
//   c++ -std=c++20 -O2 -ffp-contract=off -Isrc bench/kernels_driver.cpp build/dev/libquarn_core.a
//   kernels_driver <portable|sse2|avx2|best> <krige|sgs24|sgs48|uncond> [repeat]
// Prints "<workload> <path> <best seconds> <us per node> <FNV-1a of the output bits>"; the
// digest must not depend on the path.
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "geostat/local_kriging.hpp"
#include "geostat/sgs/sweep.hpp"
#include "simd.hpp"
#include "driver_util.hpp"

using bench::fnv1a;
using bench::unit;

int main(int argc, char** argv) {
  using namespace quarn;
  using namespace quarn::geostat;
  if (argc < 3) {
    std::fprintf(stderr, "usage: kernels_driver <portable|sse2|avx2|best> <krige|sgs24|sgs48|uncond> [repeat]\n");
    return 2;
  }
  const std::string path_name = argv[1], work = argv[2];
  const int repeat = argc > 3 ? std::atoi(argv[3]) : 3;
  simd::Path path = simd::best();
  if (path_name == "portable") path = simd::Path::Portable;
  if (path_name == "sse2") path = simd::Path::Sse2;
  if (path_name == "avx2") path = simd::Path::Avx2;
  if (!simd::available(path)) {
    std::printf("%s %s unavailable\n", work.c_str(), path_name.c_str());
    return 0;
  }
  const simd::ForcePath force(path);

  std::vector<std::array<double, 3>> rows;
  std::size_t nodes = 0;
  std::vector<double> out;
  auto run = [&]() {
    if (work == "krige") {
      const Lattice lat{0, 0, 10, 10, 256, 256, 0, false};
      const Variogram v = Variogram::make(VariogramModel::Spherical, 0.1, 0.9, 500.0).value();
      out = local_kriging_grid(rows, lat, v, 24, 1e9).value().estimate.data;
    } else if (work == "uncond") {
      const Lattice lat{0, 0, 1, 1, 512, 512, 0, false};
      const Variogram v = Variogram::make(VariogramModel::Spherical, 0.0, 1.0, 20.0).value();
      out = sgs_unconditional(lat, 0.0, 1.0, v, 24, 30.0, 7).value().data;
    } else {
      const Lattice lat{0, 0, 1, 1, 256, 256, 0, false};
      const Variogram v = Variogram::make(VariogramModel::Spherical, 0.0, 1.0, 20.0).value();
      const SgsParams p = SgsParams::make(work == "sgs48" ? 48 : 24, 30.0, v).value();
      out = sgs(rows, lat, p, 1).value().data;
    }
  };
  if (work == "krige") {
    rows.resize(2000);
    for (auto& r : rows) r = {unit() * 2550.0, unit() * 2550.0, unit() * 2.0 - 1.0};
    nodes = 256 * 256;
  } else if (work == "uncond") {
    nodes = 512 * 512;
  } else if (work == "sgs24" || work == "sgs48") {
    rows.resize(500);
    for (auto& r : rows) r = {unit() * 255.0, unit() * 255.0, unit() * 2.0 - 1.0};
    nodes = 256 * 256;
  } else {
    std::fprintf(stderr, "unknown workload %s\n", work.c_str());
    return 2;
  }
  double best = 1e300;
  for (int k = 0; k < repeat; ++k) {
    const auto t0 = std::chrono::steady_clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  std::printf("%s %s %.4f %.3f %016llx\n", work.c_str(), simd::name(path), best, best * 1e6 / static_cast<double>(nodes),
              static_cast<unsigned long long>(fnv1a(out)));
  return 0;
}
