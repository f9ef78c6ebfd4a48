// py/src/synth/surface.cpp: synthetic maps (isochore, trend map, dome) and outlines.
#include <optional>
#include <string>

#include "../areas.hpp"
#include "../geostat.hpp"
#include "../grid.hpp"
#include "../lattice.hpp"
#include "synth/outline.hpp"
#include "synth/surface.hpp"

namespace qpy {
namespace {

using quarn::Field;
using quarn::Lattice;
using quarn::geostat::Variogram;
using quarn::synth::CorrelateWith;
using quarn::synth::NoiseSpec;

// ---- isochore ---------------------------------------------------------------

constexpr Param kIsochoreParams[] = {
    {"lattice", to_lattice}, {"mean_thickness", to_float}, {"variability", to_float},
    {"variogram", to_variogram}, {"seed", to_count},
};

quarn::Result<Field> run_isochore(Bound& a) {
  return quarn::synth::synth_isochore(a.get<Lattice>(0), a.get<double>(1), a.get<double>(2), a.get<Variogram>(3),
                                      a.get<std::uint64_t>(4));
}

const FunctionDef kIsochore{
    .name = "synth_isochore",
    .owner = nullptr,
    .params = kIsochoreParams,
    .doc = "synth_isochore(lattice, mean_thickness, variability, variogram, seed)\n--\n\n"
           "Synthetic thickness map: an unconditional simulation with mean\n"
           "`mean_thickness`, standard deviation `variability` and the continuity of\n"
           "`variogram` (24 neighbours within max(1.5 * range, 4 node spacings)), clamped\n"
           "at zero. Returns nested lists `field[col][row]`.",
    .call = [](Bound& a) -> Outcome { return done(run_isochore(a), py_field_nested); },
    .nogil = true,
};

const FunctionDef kIsochoreFlat{
    .name = "synth_isochore_flat",
    .owner = nullptr,
    .params = kIsochoreParams,
    .doc = "synth_isochore_flat(lattice, mean_thickness, variability, variogram, seed)\n--\n\n"
           "As `synth_isochore`, returning `(field_bytes, (ncol, nrow))` with one\n"
           "little-endian f64 buffer in `field[col][row]` order.",
    .call = [](Bound& a) -> Outcome { return done(run_isochore(a), py_field_flat); },
    .nogil = true,
};

// ---- trend map ----------------------------------------------------------------

// `correlate_with`: a 2-tuple (nested-list field, rho); the field is shaped against
// the lattice in the check.
struct PendingCorrelate {
  Nested field;
  double rho = 0.0;
};

bool to_correlate_with(PyObject* o, Slot& out) {
  if (!PyTuple_Check(o)) {
    not_an_instance(o, "tuple");
    return false;
  }
  const Py_ssize_t n = PyTuple_Size(o);
  if (n != 2) {
    const std::string msg = "expected tuple of length 2, but got tuple of length " + std::to_string(n);
    PyErr_SetString(PyExc_ValueError, msg.c_str());
    return false;
  }
  PendingCorrelate c;
  if (!as_nested(PyTuple_GetItem(o, 0), c.field) || !as_float(PyTuple_GetItem(o, 1), c.rho)) return false;
  out = std::move(c);
  return true;
}

bool check_trend(Bound& a) {
  if (!a.has(3)) {
    a.slots[3] = std::optional<CorrelateWith>{};
    return true;
  }
  const Lattice& lat = a.get<Lattice>(0);
  const std::string msg = "field must be a rectangular " + std::to_string(lat.ncol) + "x" +
                          std::to_string(lat.nrow) + " nested list (field[col][row])";
  PendingCorrelate& pending = a.mut<PendingCorrelate>(3);
  CorrelateWith c;
  if (!nested_to_field(pending.field, lat.ncol, lat.nrow, c.field, msg.c_str())) return false;
  c.rho = pending.rho;
  a.slots[3] = std::optional<CorrelateWith>(std::move(c));
  return true;
}

constexpr Param kTrendParams[] = {
    {"lattice", to_lattice},
    {"variogram", to_variogram},
    {"seed", to_count},
    {"correlate_with", to_correlate_with, Default::none()},
};

quarn::Result<Field> run_trend(Bound& a) {
  return quarn::synth::synth_trend_map(a.get<Lattice>(0), a.get<Variogram>(1), a.get<std::uint64_t>(2),
                                       a.get<std::optional<CorrelateWith>>(3));
}

const FunctionDef kTrend{
    .name = "synth_trend_map",
    .owner = nullptr,
    .params = kTrendParams,
    .doc = "synth_trend_map(lattice, variogram, seed, correlate_with=None)\n--\n\n"
           "Depositional trend map with values in [0, 1]: the normal distribution function\n"
           "of a unit unconditional simulation. With `correlate_with=(field, rho)` the\n"
           "simulation is blended with the normal scores of `field[col][row]` (NaN nodes\n"
           "score 0) as sqrt(1 - rho^2) * z + rho * score, so the trend follows `field`\n"
           "with correlation about `rho`. Returns nested lists `field[col][row]`.",
    .call = [](Bound& a) -> Outcome { return done(run_trend(a), py_field_nested); },
    .check = check_trend,
    .nogil = true,
};

const FunctionDef kTrendFlat{
    .name = "synth_trend_map_flat",
    .owner = nullptr,
    .params = kTrendParams,
    .doc = "synth_trend_map_flat(lattice, variogram, seed, correlate_with=None)\n--\n\n"
           "As `synth_trend_map` (`correlate_with` still takes nested lists), returning\n"
           "`(field_bytes, (ncol, nrow))` with one little-endian f64 buffer in\n"
           "`field[col][row]` order.",
    .call = [](Bound& a) -> Outcome { return done(run_trend(a), py_field_flat); },
    .check = check_trend,
    .nogil = true,
};

// ---- dome -----------------------------------------------------------------------

constexpr Param kDomeParams[] = {
    {"lattice", to_lattice}, {"relief", to_float},         {"aspect", to_float},
    {"tilt", to_float},      {"noise_variance", to_float}, {"noise_variogram", to_variogram},
    {"seed", to_count},
};

// The noise parameters are validated with the lock held.
bool check_dome(Bound& a) {
  auto noise = NoiseSpec::make(a.get<double>(4), a.get<Variogram>(5));
  if (!noise.ok()) {
    raise_core_error(noise.error());
    return false;
  }
  a.slots[4] = std::move(noise).value();
  return true;
}

quarn::Result<Field> run_dome(Bound& a) {
  return quarn::synth::synth_dome_surface(a.get<Lattice>(0), a.get<double>(1), a.get<double>(2), a.get<double>(3),
                                          a.get<NoiseSpec>(4), a.get<std::uint64_t>(6));
}

const FunctionDef kDome{
    .name = "synth_dome_surface",
    .owner = nullptr,
    .params = kDomeParams,
    .doc = "synth_dome_surface(lattice, relief, aspect, tilt, noise_variance, noise_variogram, seed)\n--\n\n"
           "Synthetic structure: an elliptical Gaussian dome of height `relief` centred on\n"
           "the lattice's world bounding box (semi-axes a quarter of the extent, east-west\n"
           "stretched by sqrt(aspect) and north-south shrunk by it), a plane rising east\n"
           "from -tilt/2 to +tilt/2, and correlated noise of variance `noise_variance`\n"
           "(`noise_variogram`; none when the variance is 0). Returns nested lists\n"
           "`field[col][row]`.",
    .call = [](Bound& a) -> Outcome { return done(run_dome(a), py_field_nested); },
    .check = check_dome,
    .nogil = true,
};

const FunctionDef kDomeFlat{
    .name = "synth_dome_surface_flat",
    .owner = nullptr,
    .params = kDomeParams,
    .doc = "synth_dome_surface_flat(lattice, relief, aspect, tilt, noise_variance, noise_variogram, seed)\n--\n\n"
           "As `synth_dome_surface`, returning `(field_bytes, (ncol, nrow))` with one\n"
           "little-endian f64 buffer in `field[col][row]` order.",
    .call = [](Bound& a) -> Outcome { return done(run_dome(a), py_field_flat); },
    .check = check_dome,
    .nogil = true,
};

// ---- outlines -------------------------------------------------------------

constexpr Param kClosureParams[] = {
    {"surface", to_nested},
    {"lattice", to_lattice},
    {"spill_depth", to_float},
};

const FunctionDef kClosureOutline{
    .name = "closure_outline",
    .owner = nullptr,
    .params = kClosureParams,
    .doc = "closure_outline(surface, lattice, spill_depth)\n--\n\n"
           "Outline of the largest region enclosed by the contour of `surface[col][row]`\n"
           "at `spill_depth` (nodes with level < value lie inside), traced by marching\n"
           "squares over the lattice cells. Contours that leave the lattice or cross\n"
           "undefined (NaN) cells do not close. Returns the ring as a list of world\n"
           "`[x, y]` points without repeating the first, or `[]` when nothing closes.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::synth::closure_outline(a.get<Field>(0), a.get<Lattice>(1), a.get<double>(2)),
                  py_pair_lists);
    },
    .check = [](Bound& a) {
      const Lattice& lat = a.get<Lattice>(1);
      return nested_field_check(a, 0, lat.ncol, lat.nrow);
    },
};

constexpr Param kStudyAreaParams[] = {
    {"xmin", to_float},          {"ymin", to_float}, {"xmax", to_float}, {"ymax", to_float},
    {"corner_radius", to_float}, {"arc_steps", to_count},
};

const FunctionDef kStudyAreaOutline{
    .name = "study_area_outline",
    .owner = nullptr,
    .params = kStudyAreaParams,
    .doc = "study_area_outline(xmin, ymin, xmax, ymax, corner_radius, arc_steps)\n--\n\n"
           "Counter-clockwise ring of the rectangle `[xmin, xmax] x [ymin, ymax]` as a list\n"
           "of `[x, y]` points (the first is not repeated). With `arc_steps` > 0 and a\n"
           "positive `corner_radius` (capped at half the shorter side) each corner is a\n"
           "circular arc of `arc_steps` segments, giving `4 * (arc_steps + 1)` points.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::synth::study_area_outline(a.get<double>(0), a.get<double>(1), a.get<double>(2),
                                                   a.get<double>(3), a.get<double>(4), a.get<std::uint64_t>(5)),
                  py_pair_lists);
    },
};

const Export kExports[] = {
    function_export<kDome>(),
    function_export<kDomeFlat>(),
    function_export<kIsochore>(),
    function_export<kIsochoreFlat>(),
    function_export<kTrend>(),
    function_export<kTrendFlat>(),
    function_export<kClosureOutline>(),
    function_export<kStudyAreaOutline>(),
};

}  // namespace

std::span<const Export> surface_exports() { return kExports; }

}  // namespace qpy
