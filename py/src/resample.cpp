// py/src/resample.cpp: bindings of resample and resample_flat.
#include "resample.hpp"

#include <string>

#include "areas.hpp"
#include "grid.hpp"
#include "lattice.hpp"
#include "options.hpp"

namespace qpy {
namespace {

using quarn::Field;
using quarn::Lattice;
using quarn::ResampleMode;

constexpr OptionName<ResampleMode> kMethodNames[] = {
    {"bilinear", ResampleMode::Bilinear},
    {"linear", ResampleMode::Bilinear},
    {"nearest", ResampleMode::Nearest},
    {"nn", ResampleMode::Nearest},
};

const Option<ResampleMode> kMethod{kMethodNames, true, [](const std::string& key) {
  return "unknown resample method '" + key + "' (expected 'bilinear' or 'nearest')";
}};

// Method name, then the grid against src_georef (nested or flat).
template <bool Flat>
bool check_resample(Bound& a) {
  ResampleMode mode;
  if (!parse_option(kMethod, a.get<std::string>(3), mode)) return false;
  a.slots[3] = mode;
  const Lattice& src = a.get<Lattice>(1);
  if constexpr (Flat) {
    return flat_field_check(a, 0, src.ncol, src.nrow);
  } else {
    const std::string msg = "src_grid must be a rectangular " + std::to_string(src.ncol) + "\u00d7" +
                            std::to_string(src.nrow) + " (ncol\u00d7nrow) nested list matching src_georef";
    Field f;
    if (!nested_to_field(a.get<Nested>(0), src.ncol, src.nrow, f, msg.c_str())) return false;
    a.slots[0] = std::move(f);
    return true;
  }
}

constexpr Param kNestedParams[] = {
    {"src_grid", to_nested},
    {"src_georef", to_lattice},
    {"target", to_lattice},
    {"method", to_name, Default::str("bilinear")},
};

constexpr Param kFlatParams[] = {
    {"src_grid", to_flat},
    {"src_georef", to_lattice},
    {"target", to_lattice},
    {"method", to_name, Default::str("bilinear")},
};

const FunctionDef kResample{
    .name = "resample",
    .owner = nullptr,
    .params = kNestedParams,
    .doc = "resample(src_grid, src_georef, target, method='bilinear')\n--\n\n"
           "Transfer a field `src_grid[col][row]` on lattice `src_georef` onto the nodes of\n"
           "lattice `target` through world coordinates. `method` is 'bilinear' (hole-aware:\n"
           "a NaN nearest node gives NaN, other non-finite corners drop out) or 'nearest'.\n"
           "Target nodes outside the source extent are NaN. Returns nested lists.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::resample(a.get<Field>(0), a.get<Lattice>(1), a.get<Lattice>(2), a.get<ResampleMode>(3)),
                  py_field_nested);
    },
    .check = check_resample<false>,
    .nogil = true,
};

const FunctionDef kResampleFlat{
    .name = "resample_flat",
    .owner = nullptr,
    .params = kFlatParams,
    .doc = "resample_flat(src_grid, src_georef, target, method='bilinear')\n--\n\n"
           "As `resample`, with the source and the result as flat little-endian f64 buffers\n"
           "in (ncol, nrow) row-major order. Returns `(field_bytes, (ncol, nrow))`.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::resample(a.get<Field>(0), a.get<Lattice>(1), a.get<Lattice>(2), a.get<ResampleMode>(3)),
                  py_field_flat);
    },
    .check = check_resample<true>,
    .nogil = true,
};

const Export kExports[] = {
    function_export<kResample>(),
    function_export<kResampleFlat>(),
};

}  // namespace

std::span<const Export> resample_exports() { return kExports; }

}  // namespace qpy
