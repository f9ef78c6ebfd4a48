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

struct ResampleArgs {
  Form form;
  Nested rows;      ///< src_grid of `resample`
  FlatBytes bytes;  ///< src_grid of `resample_flat`
  Lattice src, target;
  std::string method_name;
  ResampleMode method;  ///< from method_name, in the check
  Field grid;           ///< from rows or bytes, shaped against src, in the check
};
using RA = ResampleArgs;

bool grid_arg(PyObject* o, RA& a) { return a.form == Form::Flat ? as_flat(o, a.bytes) : as_nested(o, a.rows); }

// Method name, then the grid against src_georef.
bool check_resample(RA& a) {
  if (!parse_option(kMethod, a.method_name, a.method)) return false;
  if (a.form == Form::Flat) return flat_to_field(a.bytes, a.src.ncol, a.src.nrow, a.grid);
  return nested_to_field(a.rows, a.src.ncol, a.src.nrow, a.grid,
                         "src_grid must be a rectangular " + std::to_string(a.src.ncol) + "\u00d7" +
                             std::to_string(a.src.nrow) + " (ncol\u00d7nrow) nested list matching src_georef");
}

constexpr Param<RA> kParams[] = {
    {"src_grid", grid_arg},
    {"src_georef", arg<&RA::src, as_lattice>},
    {"target", arg<&RA::target, as_lattice>},
    {"method", arg<&RA::method_name, as_name>, Default::str("bilinear")},
};

const FunctionDef<RA> kResample{
    .name = "resample",
    .owner = nullptr,
    .params = kParams,
    .doc = "Transfer a field `src_grid[col][row]` on lattice `src_georef` onto the nodes of\n"
           "lattice `target` through world coordinates. `method` is 'bilinear' (hole-aware:\n"
           "a NaN nearest node gives NaN, other non-finite corners drop out) or 'nearest'.\n"
           "Target nodes outside the source extent are NaN. Returns nested lists.",
    .call = [](RA& a) -> Outcome {
      return done(quarn::resample(a.grid, a.src, a.target, a.method), field_builder(a.form));
    },
    .check = check_resample,
    .nogil = true,
    .flat_name = "resample_flat",
    .flat_doc = "As `resample`, with the source and the result as flat little-endian f64 buffers\n"
                "in (ncol, nrow) row-major order. Returns `(field_bytes, (ncol, nrow))`.",
};

const Export kExports[] = {
    function_export<kResample>(),
    function_export<kResample, Form::Flat>(),
};

}  // namespace

std::span<const Export> resample_exports() { return kExports; }

}  // namespace qpy
