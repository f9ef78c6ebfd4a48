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

struct IsochoreArgs {
  Form form;
  Lattice lattice;
  double mean_thickness, variability;
  Variogram variogram;
  std::uint64_t seed;
};
using IA = IsochoreArgs;

constexpr Param<IA> kIsochoreParams[] = {
    {"lattice", arg<&IA::lattice, as_lattice>},       {"mean_thickness", arg<&IA::mean_thickness, as_float>},
    {"variability", arg<&IA::variability, as_float>}, {"variogram", arg<&IA::variogram, as_variogram>},
    {"seed", arg<&IA::seed, as_count>},
};

const FunctionDef<IA> kIsochore{
    .name = "synth_isochore",
    .owner = nullptr,
    .params = kIsochoreParams,
    .doc = "Synthetic thickness map: an unconditional simulation with mean\n"
           "`mean_thickness`, standard deviation `variability` and the continuity of\n"
           "`variogram` (24 neighbours within max(1.5 * range, 4 node spacings)), clamped\n"
           "at zero. Returns nested lists `field[col][row]`.",
    .call = [](IA& a) -> Outcome {
      return done(quarn::synth::synth_isochore(a.lattice, a.mean_thickness, a.variability, a.variogram, a.seed),
                  field_builder(a.form));
    },
    .nogil = true,
    .flat_name = "synth_isochore_flat",
    .flat_doc = "As `synth_isochore`, returning `(field_bytes, (ncol, nrow))` with one\n"
                "little-endian f64 buffer in `field[col][row]` order.",
};

// ---- trend map ----------------------------------------------------------------

// `correlate_with`: a 2-tuple (nested-list field, rho); the field is shaped against
// the lattice in the check.
struct PendingCorrelate {
  Nested field;
  double rho = 0.0;
};

bool as_correlate_with(PyObject* o, PendingCorrelate& out) {
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
  return as_nested(PyTuple_GetItem(o, 0), out.field) && as_float(PyTuple_GetItem(o, 1), out.rho);
}

struct TrendArgs {
  Form form;
  Lattice lattice;
  Variogram variogram;
  std::uint64_t seed;
  std::optional<PendingCorrelate> pending;
  std::optional<CorrelateWith> correlate_with;  ///< from pending, shaped in the check
};
using TA = TrendArgs;

bool check_trend(TA& a) {
  if (!a.pending) return true;
  CorrelateWith c;
  if (!lattice_field(a.pending->field, a.lattice, c.field)) return false;
  c.rho = a.pending->rho;
  a.correlate_with = std::move(c);
  return true;
}

constexpr Param<TA> kTrendParams[] = {
    {"lattice", arg<&TA::lattice, as_lattice>},
    {"variogram", arg<&TA::variogram, as_variogram>},
    {"seed", arg<&TA::seed, as_count>},
    {"correlate_with", arg<&TA::pending, as_correlate_with>, Default::none()},
};

const FunctionDef<TA> kTrend{
    .name = "synth_trend_map",
    .owner = nullptr,
    .params = kTrendParams,
    .doc = "Depositional trend map with values in [0, 1]: the normal distribution function\n"
           "of a unit unconditional simulation. With `correlate_with=(field, rho)` the\n"
           "simulation is blended with the normal scores of `field[col][row]` (NaN nodes\n"
           "score 0) as sqrt(1 - rho^2) * z + rho * score, so the trend follows `field`\n"
           "with correlation about `rho`. Returns nested lists `field[col][row]`.",
    .call = [](TA& a) -> Outcome {
      return done(quarn::synth::synth_trend_map(a.lattice, a.variogram, a.seed, a.correlate_with),
                  field_builder(a.form));
    },
    .check = check_trend,
    .nogil = true,
    .flat_name = "synth_trend_map_flat",
    .flat_doc = "As `synth_trend_map` (`correlate_with` still takes nested lists), returning\n"
                "`(field_bytes, (ncol, nrow))` with one little-endian f64 buffer in\n"
                "`field[col][row]` order.",
};

// ---- dome -----------------------------------------------------------------------

struct DomeArgs {
  Form form;
  Lattice lattice;
  double relief, aspect, tilt, noise_variance;
  Variogram noise_variogram;
  std::uint64_t seed;
  std::optional<NoiseSpec> noise;  ///< from the noise parameters, in the check
};
using DA = DomeArgs;

constexpr Param<DA> kDomeParams[] = {
    {"lattice", arg<&DA::lattice, as_lattice>},
    {"relief", arg<&DA::relief, as_float>},
    {"aspect", arg<&DA::aspect, as_float>},
    {"tilt", arg<&DA::tilt, as_float>},
    {"noise_variance", arg<&DA::noise_variance, as_float>},
    {"noise_variogram", arg<&DA::noise_variogram, as_variogram>},
    {"seed", arg<&DA::seed, as_count>},
};

// The noise parameters are validated with the lock held.
bool check_dome(DA& a) {
  auto noise = NoiseSpec::make(a.noise_variance, a.noise_variogram);
  if (!noise.ok()) {
    raise_core_error(noise.error());
    return false;
  }
  a.noise = std::move(noise).value();
  return true;
}

const FunctionDef<DA> kDome{
    .name = "synth_dome_surface",
    .owner = nullptr,
    .params = kDomeParams,
    .doc = "Synthetic structure: an elliptical Gaussian dome of height `relief` centred on\n"
           "the lattice's world bounding box (semi-axes a quarter of the extent, east-west\n"
           "stretched by sqrt(aspect) and north-south shrunk by it), a plane rising east\n"
           "from -tilt/2 to +tilt/2, and correlated noise of variance `noise_variance`\n"
           "(`noise_variogram`; none when the variance is 0). Returns nested lists\n"
           "`field[col][row]`.",
    .call = [](DA& a) -> Outcome {
      return done(quarn::synth::synth_dome_surface(a.lattice, a.relief, a.aspect, a.tilt, *a.noise, a.seed),
                  field_builder(a.form));
    },
    .check = check_dome,
    .nogil = true,
    .flat_name = "synth_dome_surface_flat",
    .flat_doc = "As `synth_dome_surface`, returning `(field_bytes, (ncol, nrow))` with one\n"
                "little-endian f64 buffer in `field[col][row]` order.",
};

// ---- outlines -------------------------------------------------------------

struct ClosureArgs {
  Nested surface_rows;
  Lattice lattice;
  double spill_depth;
  Field surface;  ///< from surface_rows, shaped against lattice in the check
};
using CA = ClosureArgs;

constexpr Param<CA> kClosureParams[] = {
    {"surface", arg<&CA::surface_rows, as_nested>},
    {"lattice", arg<&CA::lattice, as_lattice>},
    {"spill_depth", arg<&CA::spill_depth, as_float>},
};

const FunctionDef<CA> kClosureOutline{
    .name = "closure_outline",
    .owner = nullptr,
    .params = kClosureParams,
    .doc = "Outline of the largest region enclosed by the contour of `surface[col][row]`\n"
           "at `spill_depth` (nodes with level < value lie inside), traced by marching\n"
           "squares over the lattice cells. Contours that leave the lattice or cross\n"
           "undefined (NaN) cells do not close. Returns the ring as a list of world\n"
           "`[x, y]` points without repeating the first, or `[]` when nothing closes.",
    .call = [](CA& a) -> Outcome {
      return done(quarn::synth::closure_outline(a.surface, a.lattice, a.spill_depth), py_pair_lists);
    },
    .check = [](CA& a) { return lattice_field(a.surface_rows, a.lattice, a.surface); },
};

struct StudyAreaArgs {
  double xmin, ymin, xmax, ymax, corner_radius;
  std::uint64_t arc_steps;
};
using SA = StudyAreaArgs;

constexpr Param<SA> kStudyAreaParams[] = {
    {"xmin", arg<&SA::xmin, as_float>},
    {"ymin", arg<&SA::ymin, as_float>},
    {"xmax", arg<&SA::xmax, as_float>},
    {"ymax", arg<&SA::ymax, as_float>},
    {"corner_radius", arg<&SA::corner_radius, as_float>},
    {"arc_steps", arg<&SA::arc_steps, as_count>},
};

const FunctionDef<SA> kStudyAreaOutline{
    .name = "study_area_outline",
    .owner = nullptr,
    .params = kStudyAreaParams,
    .doc = "Counter-clockwise ring of the rectangle `[xmin, xmax] x [ymin, ymax]` as a list\n"
           "of `[x, y]` points (the first is not repeated). With `arc_steps` > 0 and a\n"
           "positive `corner_radius` (capped at half the shorter side) each corner is a\n"
           "circular arc of `arc_steps` segments, giving `4 * (arc_steps + 1)` points.",
    .call = [](SA& a) -> Outcome {
      return done(quarn::synth::study_area_outline(a.xmin, a.ymin, a.xmax, a.ymax, a.corner_radius, a.arc_steps),
                  py_pair_lists);
    },
};

const Export kExports[] = {
    function_export<kDome>(),
    function_export<kDome, Form::Flat>(),
    function_export<kIsochore>(),
    function_export<kIsochore, Form::Flat>(),
    function_export<kTrend>(),
    function_export<kTrend, Form::Flat>(),
    function_export<kClosureOutline>(),
    function_export<kStudyAreaOutline>(),
};

}  // namespace

std::span<const Export> surface_exports() { return kExports; }

}  // namespace qpy
