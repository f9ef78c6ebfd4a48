// Queries per second of the neighbour index: 24 nearest among 10^5 points, for a
// bulk-built index and one grown point by point. Built and run by bench_geostat.py:
//   c++ -std=c++20 -O2 -Isrc bench/neighbours_qps.cpp build/dev/libquarn_core.a
// Prints one line per index kind; the result of every query is checked against the
// other kind (same contract, so identical answers).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "geostat/neighbours.hpp"
#include "driver_util.hpp"

using quarn::geostat::IndexEntry;
using quarn::geostat::Neighbour;
using quarn::geostat::NeighbourIndex;

namespace {

using bench::unit;

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main() {
  const std::size_t n = 100000, nq = 200000;
  std::vector<IndexEntry> pts(n);
  for (std::size_t i = 0; i < n; ++i) pts[i] = {unit() * 1000.0, unit() * 1000.0, i};
  std::vector<std::pair<double, double>> qs(nq);
  for (auto& q : qs) q = {unit() * 1000.0, unit() * 1000.0};
  const double radius = 50.0;  // about 785 points in range on average

  auto t = std::chrono::steady_clock::now();
  const NeighbourIndex bulk = NeighbourIndex::build(pts);
  const double t_build = seconds_since(t);
  t = std::chrono::steady_clock::now();
  NeighbourIndex inc;
  for (const auto& p : pts) inc.insert(p.x, p.y, p.payload);
  const double t_insert = seconds_since(t);

  std::vector<Neighbour> a, b;
  std::uint64_t checksum = 0;
  t = std::chrono::steady_clock::now();
  for (const auto& q : qs) {
    bulk.nearest_within(q.first, q.second, 24, radius, a);
    checksum += a.back().payload;
  }
  const double t_bulk = seconds_since(t);
  t = std::chrono::steady_clock::now();
  for (const auto& q : qs) {
    inc.nearest_within(q.first, q.second, 24, radius, b);
    checksum -= b.back().payload;
  }
  const double t_inc = seconds_since(t);
  std::printf("build %.1f ms, %zu inserts %.1f ms (%.2f us/insert)\n", t_build * 1e3, n, t_insert * 1e3,
              t_insert * 1e6 / static_cast<double>(n));
  std::printf("bulk        %.0f queries/s\n", static_cast<double>(nq) / t_bulk);
  std::printf("incremental %.0f queries/s\n", static_cast<double>(nq) / t_inc);
  std::printf("checksum %s\n", checksum == 0 ? "ok" : "MISMATCH");
  return checksum == 0 ? 0 : 1;
}
