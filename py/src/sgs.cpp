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

struct SgsArgs {
  Form form;
  std::vector<Row3> coords;
  Lattice lattice;
  Ref variogram_obj;  ///< resolved in the check, after every conversion
  std::uint64_t max_neighbours;
  double radius;
  std::uint64_t seed;
  SgsParams params;  ///< the variogram and the neighbourhood, from the check
};
using SA = SgsArgs;

constexpr Param<SA> kSgsParams[] = {
    {"coords", arg<&SA::coords, as_rows>},
    {"lattice", arg<&SA::lattice, as_lattice>},
    {"variogram", arg<&SA::variogram_obj, as_object>},
    {"max_neighbours", arg<&SA::max_neighbours, as_count>},
    {"radius", arg<&SA::radius, as_float>},
    {"seed", arg<&SA::seed, as_count>},
};

// After every conversion: the variogram type, then the neighbourhood.
bool check_sgs(SA& a) {
  VariogramSpec spec;
  if (!as_variogram_spec(a.variogram_obj.get(), spec)) return false;
  auto params = SgsParams::make(a.max_neighbours, a.radius, spec);
  if (!params.ok()) {
    raise_core_error(params.error());
    return false;
  }
  a.params = std::move(params).value();
  return true;
}

const FunctionDef<SA> kSgs{
    .name = "sgs",
    .owner = nullptr,
    .params = kSgsParams,
    .doc = "One sequential Gaussian simulation on `lattice`, conditioned on `coords`\n"
           "(rows `[x, y, z]`). The values are normal-score transformed, each datum\n"
           "snaps to its nearest node (data off the lattice only shape the transform),\n"
           "and the other nodes are simulated along a random path by simple kriging of\n"
           "scores from at most `max_neighbours` known nodes within `radius`, with\n"
           "correlations 1 - gamma / (nugget + sill) of `variogram` (a `Variogram` or an\n"
           "`AnisotropicVariogram`, fitted on normal scores). The field is back-transformed\n"
           "into the data range; non-finite data values are refused. The same `seed`\n"
           "gives the same field bit for bit.\n"
           "Returns nested lists `field[col][row]`.",
    .call = [](SA& a) -> Outcome {
      return done(quarn::geostat::sgs(a.coords, a.lattice, a.params, a.seed), field_builder(a.form));
    },
    .check = check_sgs,
    .nogil = true,
    .flat_name = "sgs_flat",
    .flat_doc = "As `sgs`, returning `(field_bytes, (ncol, nrow))`: one little-endian f64 buffer\n"
                "in `field[col][row]` order (`np.frombuffer(b, '<f8').reshape(ncol, nrow)`).",
};

const Export kExports[] = {
    function_export<kSgs>(),
    function_export<kSgs, Form::Flat>(),
};

}  // namespace

std::span<const Export> sgs_exports() { return kExports; }

}  // namespace qpy
