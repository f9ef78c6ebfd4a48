// tests/cpp/kernel_workloads.hpp: small kriging and simulation runs whose output bits are
// pinned (FNV-1a of the little-endian doubles) and compared across the vector paths. They
// cover the OK system with and without the pair cache, the simple kriging systems of
// simulation (isotropic, anisotropic, collocated secondary, the general-index fallback),
// and neighbour counts from 1 to 48.
#pragma once
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "geostat/local_kriging.hpp"
#include "geostat/sgs/sweep.hpp"
#include "splitmix.hpp"

namespace quarn::test {

using WorkloadRng = SplitMix;

inline const char* const kWorkloadNames[] = {
    "krige spherical 24 nb",   "krige exponential 12 nb, rotated", "krige gaussian 48 nb, nugget",
    "krige 1 nb",              "sgs spherical 24 nb",             "sgs anisotropic + secondary 16 nb",
    "sgs exponential 48 nb",   "sgs_unconditional 24 nb",         "sgs_unconditional, radius beyond the lattice",
};
inline constexpr std::size_t kWorkloads = sizeof(kWorkloadNames) / sizeof(kWorkloadNames[0]);

/// The output of workload k: kriging gives estimate then variance, simulation its field.
inline std::vector<double> run_workload(std::size_t k) {
  using namespace quarn::geostat;
  WorkloadRng rng{k * 1000 + 17};
  std::vector<double> out;
  const auto krige = [&](const Lattice& lat, const Variogram& v, std::uint64_t nb, double radius, std::size_t n) {
    std::vector<std::array<double, 3>> rows(n);
    for (auto& r : rows) r = {rng.unit() * 200.0, rng.unit() * 150.0, rng.unit() * 4.0 - 1.0};
    const KrigedFields f = local_kriging_grid(rows, lat, v, nb, radius).value();
    out = f.estimate.data;
    out.insert(out.end(), f.variance.data.begin(), f.variance.data.end());
  };
  const auto conditional = [&](const Lattice& lat, SgsParams p, std::size_t n, std::uint64_t seed) {
    std::vector<DataRow> rows(n);
    for (auto& r : rows)
      r = {rng.unit() * static_cast<double>(lat.ncol - 1), rng.unit() * static_cast<double>(lat.nrow - 1),
           rng.unit() * 3.0 + 1.0};
    out = sgs(rows, lat, p, seed).value().data;
  };
  switch (k) {
    case 0:
      krige(Lattice{0, 0, 5, 5, 40, 30, 0, false},
            Variogram::make(VariogramModel::Spherical, 0.1, 0.9, 60.0).value(), 24, 1e9, 300);
      break;
    case 1:
      krige(Lattice{10, -5, 4, 6, 36, 28, 30, false},
            Variogram::make(VariogramModel::Exponential, 0.0, 2.0, 45.0).value(), 12, 30.0, 250);
      break;
    case 2:
      krige(Lattice{0, 0, 8, 8, 24, 20, 0, true}, Variogram::make(VariogramModel::Gaussian, 0.3, 1.0, 80.0).value(),
            48, 1e9, 400);
      break;
    case 3:
      krige(Lattice{0, 0, 10, 10, 20, 15, 0, false},
            Variogram::make(VariogramModel::Spherical, 0.0, 1.0, 50.0).value(), 1, 1e9, 60);
      break;
    case 4:
      conditional(Lattice{0, 0, 1, 1, 48, 40, 0, false},
                  SgsParams::make(24, 12.0, Variogram::make(VariogramModel::Spherical, 0.0, 1.0, 10.0).value())
                      .value(),
                  60, 5);
      break;
    case 5: {
      const Lattice lat{100, 200, 2, 2, 40, 36, 15, false};
      SgsParams p =
          SgsParams::make(16, 20.0,
                          AnisotropicVariogram::make(VariogramModel::Spherical, 30.0, 12.0, 1.0, 60.0, 0.8, 0.2)
                              .value())
              .value();
      Field sec(lat.ncol, lat.nrow, 0.0);
      for (std::size_t i = 0; i < sec.ncol; ++i)
        for (std::size_t j = 0; j < sec.nrow; ++j)
          sec.at(i, j) = (i + j) % 7 == 0 ? std::nan("") : std::cos(static_cast<double>(i) * 0.3) + 0.1 * static_cast<double>(j);
      p.secondary = CollocatedSecondary{sec, 0.6};
      std::vector<DataRow> rows(40);
      for (auto& r : rows) r = {100.0 + rng.unit() * 70.0, 200.0 + rng.unit() * 80.0, rng.unit()};
      out = sgs(rows, lat, p, 11).value().data;
      break;
    }
    case 6:
      conditional(Lattice{0, 0, 1, 1, 36, 32, 0, false},
                  SgsParams::make(48, 15.0, Variogram::make(VariogramModel::Exponential, 0.1, 0.9, 12.0).value())
                      .value(),
                  50, 8);
      break;
    case 7:
      out = sgs_unconditional(Lattice{0, 0, 1, 1, 48, 48, 0, false}, 2.0, 3.0,
                              Variogram::make(VariogramModel::Spherical, 0.0, 1.0, 15.0).value(), 24, 20.0, 3)
                .value()
                .data;
      break;
    case 8:
      out = sgs_unconditional(Lattice{0, 0, 1, 1, 300, 4, 0, false}, 0.0, 1.0,
                              Variogram::make(VariogramModel::Gaussian, 0.0, 1.0, 30.0).value(), 8, 1e300, 4)
                .value()
                .data;
      break;
    default:
      break;
  }
  return out;
}

}  // namespace quarn::test
