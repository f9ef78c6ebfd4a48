// py/src/sgs.cpp: bindings of sequential Gaussian simulation (sgs, sgs_flat).
#include <cstdint>
#include <vector>

#include "areas.hpp"
#include "geostat.hpp"
#include "geostat/sgs/sweep.hpp"
#include "grid.hpp"
#include "lattice.hpp"

namespace qpy {
namespace {

using quarn::Lattice;
using quarn::geostat::SgsParams;
using quarn::geostat::VariogramSpec;

constexpr Param kSgsParams[] = {
    {"coords", to_rows},         {"lattice", to_lattice}, {"variogram", to_any_object},
    {"max_neighbours", to_count}, {"radius", to_float},    {"seed", to_count},
};

// After every conversion: the variogram type, then the neighbourhood (SgsParams).
bool check_sgs(Bound& a) {
  if (!variogram_spec_check(a, 2)) return false;
  auto params = SgsParams::make(a.get<std::uint64_t>(3), a.get<double>(4), a.get<VariogramSpec>(2));
  if (!params.ok()) {
    raise_core_error(params.error());
    return false;
  }
  a.slots[3] = std::move(params).value();
  return true;
}

quarn::Result<quarn::Field> run_sgs(Bound& a) {
  return quarn::geostat::sgs(a.get<std::vector<Row3>>(0), a.get<Lattice>(1), a.get<SgsParams>(3),
                             a.get<std::uint64_t>(5));
}

const FunctionDef kSgs{
    .name = "sgs",
    .owner = nullptr,
    .params = kSgsParams,
    .doc = "sgs(coords, lattice, variogram, max_neighbours, radius, seed)\n--\n\n"
           "One sequential Gaussian simulation on `lattice`, conditioned on `coords`\n"
           "(rows `[x, y, z]`). The values are normal-score transformed, each datum\n"
           "snaps to its nearest node (data off the lattice only shape the transform),\n"
           "and the other nodes are simulated along a random path by simple kriging of\n"
           "scores from at most `max_neighbours` known nodes within `radius`, with\n"
           "correlations 1 - gamma / (nugget + sill) of `variogram` (a `Variogram` or an\n"
           "`AnisotropicVariogram`, fitted on normal scores). The field is back-transformed\n"
           "into the data range; non-finite data values are refused. The same `seed`\n"
           "gives the same field bit for bit.\n"
           "Returns nested lists `field[col][row]`.",
    .call = [](Bound& a) -> Outcome { return done(run_sgs(a), py_field_nested); },
    .check = check_sgs,
    .nogil = true,
};

const FunctionDef kSgsFlat{
    .name = "sgs_flat",
    .owner = nullptr,
    .params = kSgsParams,
    .doc = "sgs_flat(coords, lattice, variogram, max_neighbours, radius, seed)\n--\n\n"
           "As `sgs`, returning `(field_bytes, (ncol, nrow))`: one little-endian f64 buffer\n"
           "in `field[col][row]` order (`np.frombuffer(b, '<f8').reshape(ncol, nrow)`).",
    .call = [](Bound& a) -> Outcome { return done(run_sgs(a), py_field_flat); },
    .check = check_sgs,
    .nogil = true,
};

const Export kExports[] = {
    function_export<kSgs>(),
    function_export<kSgsFlat>(),
};

}  // namespace

std::span<const Export> sgs_exports() { return kExports; }

}  // namespace qpy
