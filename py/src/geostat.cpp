// py/src/geostat.cpp: bindings of the variogram classes, the experimental variogram
// and its fit, and local kriging onto a lattice.
#include "geostat.hpp"

#include <optional>
#include <string>
#include <vector>

#include "areas.hpp"
#include "geostat/fit.hpp"
#include "geostat/local_kriging.hpp"
#include "grid.hpp"
#include "lattice.hpp"
#include "options.hpp"

namespace qpy {
namespace {

using quarn::Lattice;
using quarn::geostat::AnisotropicVariogram;
using quarn::geostat::ExperimentalVariogram;
using quarn::geostat::Variogram;
using quarn::geostat::VariogramModel;
using quarn::geostat::VariogramSpec;

/// An ExperimentalVariogram instance: the core vectors, which fit reads, and the three
/// lists built once, which the getters hand out (the same objects on every access).
struct PyExperimental {
  ExperimentalVariogram core;
  Ref lags, semivariances, counts;
};

}  // namespace

template <>
struct ClassOf<PyExperimental> {
  static const ClassDef& def();
};

namespace {

constexpr OptionName<VariogramModel> kModelNames[] = {
    {"nugget", VariogramModel::Nugget},
    {"sph", VariogramModel::Spherical},   {"spherical", VariogramModel::Spherical},
    {"exp", VariogramModel::Exponential}, {"exponential", VariogramModel::Exponential},
    {"gauss", VariogramModel::Gaussian},  {"gaussian", VariogramModel::Gaussian},
};

const Option<VariogramModel> kModel{kModelNames, true, [](const std::string& key) {
  return "unknown variogram model '" + key + "' (expected 'nugget', 'spherical', 'exponential', or 'gaussian')";
}};

// The model name of an argument struct, resolved in its check.
template <class A>
bool model_check(A& a) {
  return parse_option(kModel, a.model_name, a.model);
}

bool as_experimental(PyObject* o, ExperimentalVariogram& out) {
  if (!is_instance<PyExperimental>(o)) {
    if (!PyErr_Occurred()) not_an_instance(o, "ExperimentalVariogram");
    return false;
  }
  out = unwrap<PyExperimental>(o).core;
  return true;
}

// ---- Variogram ------------------------------------------------------------

struct VariogramArgs {
  std::string model_name;
  VariogramModel model;  ///< from model_name, in the check
  double nugget, sill, range;
};
using VA = VariogramArgs;

constexpr Param<VA> kVariogramParams[] = {
    {"model", arg<&VA::model_name, as_name>},
    {"nugget", arg<&VA::nugget, as_float>},
    {"sill", arg<&VA::sill, as_float>},
    {"range", arg<&VA::range, as_float>},
};

const FunctionDef<VA> kVariogramNew{
    .name = "__new__",
    .owner = "Variogram",
    .params = kVariogramParams,
    .doc = nullptr,
    .call = [](VA& a) -> Outcome {
      return done(Variogram::make(a.model, a.nugget, a.sill, a.range), wrap_ref<Variogram>);
    },
    .check = model_check<VA>,
};

struct FitArgs {
  std::string model_name;
  VariogramModel model;
  ExperimentalVariogram experimental;
};

constexpr Param<FitArgs> kFitParams[] = {
    {"model", arg<&FitArgs::model_name, as_name>},
    {"experimental", arg<&FitArgs::experimental, as_experimental>},
};

const FunctionDef<FitArgs> kFit{
    .name = "fit",
    .owner = "Variogram",
    .params = kFitParams,
    .doc = "Fit a `Variogram` of shape `model` to an `ExperimentalVariogram` by pair-count\n"
           "weighted least squares: the range by a coarse (400) then fine (100) grid search\n"
           "up to twice the largest lag, nugget and partial sill in closed form (non-negative)\n"
           "for each candidate range. 'nugget' fits the count-weighted mean semivariance.",
    .call = [](FitArgs& a) -> Outcome {
      return done(quarn::geostat::fit_variogram(a.model, a.experimental), wrap_ref<Variogram>);
    },
    .check = model_check<FitArgs>,
    .nogil = true,
};

PyMethodDef kVariogramMethods[] = {
    method_entry<kFit>(METH_STATIC),
    {nullptr, nullptr, 0, nullptr},
};

template <auto Member>
PyObject* variogram_float(PyObject* self) {
  return py_float(unwrap<Variogram>(self).*Member);
}

const GetterDef kVariogramGetters[] = {
    {"nugget", variogram_float<&Variogram::nugget>, "Nugget c0: the jump of the semivariance at the origin."},
    {"sill", variogram_float<&Variogram::sill>, "Partial sill c above the nugget; the total sill is nugget + sill."},
    {"range", variogram_float<&Variogram::range>,
     "Range a: where the spherical shape reaches its sill, the practical (95%) range otherwise."},
};

const ClassDef kVariogramClass{
    .name = "Variogram",
    .doc = "An isotropic variogram model. `model` is 'nugget', 'spherical' ('sph'),\n"
           "'exponential' ('exp') or 'gaussian' ('gauss'), case and surrounding spaces\n"
           "ignored; `sill` is the partial sill above `nugget`. gamma(0) = 0 and, for h > 0,\n"
           "gamma(h) = nugget + sill * f(h / range), with the exponential and Gaussian\n"
           "shapes scaled so that `range` is their practical range.",
    .ctor = constructor<kVariogramNew>(),
    .methods = kVariogramMethods,
    .getters = kVariogramGetters,
    .repr = repr_of<Variogram>,
};

// ---- AnisotropicVariogram -------------------------------------------------

struct AnisoArgs {
  std::string model_name;
  VariogramModel model;
  double major, minor, vertical, azimuth, sill, nugget;
};
using AA = AnisoArgs;

constexpr Param<AA> kAnisoParams[] = {
    {"model", arg<&AA::model_name, as_name>},
    {"major", arg<&AA::major, as_float>},
    {"minor", arg<&AA::minor, as_float>},
    {"vertical", arg<&AA::vertical, as_float>},
    {"azimuth", arg<&AA::azimuth, as_float>},
    {"sill", arg<&AA::sill, as_float>, Default::real(1.0)},
    {"nugget", arg<&AA::nugget, as_float>, Default::real(0.0)},
};

const FunctionDef<AA> kAnisoNew{
    .name = "__new__",
    .owner = "AnisotropicVariogram",
    .params = kAnisoParams,
    .doc = nullptr,
    .call = [](AA& a) -> Outcome {
      return done(AnisotropicVariogram::make(a.model, a.major, a.minor, a.vertical, a.azimuth, a.sill, a.nugget),
                  wrap_ref<AnisotropicVariogram>);
    },
    .check = model_check<AA>,
};

const FunctionDef<VA> kIsotropic{
    .name = "isotropic",
    .owner = "AnisotropicVariogram",
    .params = kVariogramParams,
    .doc = "An `AnisotropicVariogram` with major = minor = vertical = `range` and azimuth 0.",
    .call = [](VA& a) -> Outcome {
      return done(AnisotropicVariogram::isotropic(a.model, a.nugget, a.sill, a.range), wrap_ref<AnisotropicVariogram>);
    },
    .check = model_check<VA>,
};

struct OffsetArgs {
  PyObject* self;
  double dx, dy, dz;
};

constexpr Param<OffsetArgs> kOffsetParams[] = {
    {"dx", arg<&OffsetArgs::dx, as_float>},
    {"dy", arg<&OffsetArgs::dy, as_float>},
    {"dz", arg<&OffsetArgs::dz, as_float>, Default::real(0.0)},
};

const AnisotropicVariogram& self_aniso(const OffsetArgs& a) { return unwrap<AnisotropicVariogram>(a.self); }

const FunctionDef<OffsetArgs> kAnisoDistance{
    .name = "anisotropic_distance",
    .owner = "AnisotropicVariogram",
    .params = kOffsetParams,
    .doc = "The separation (dx east, dy north, dz up) scaled into units of the major range:\n"
           "a separation of `minor` across the major axis, or of `vertical` along z, counts\n"
           "as `major`.",
    .call = [](OffsetArgs& a) -> Outcome {
      return value(self_aniso(a).anisotropic_distance(a.dx, a.dy, a.dz), py_float);
    },
};

const FunctionDef<OffsetArgs> kGammaOffset{
    .name = "gamma_offset",
    .owner = "AnisotropicVariogram",
    .params = kOffsetParams,
    .doc = "Semivariance for the separation (dx east, dy north, dz up); 0 at zero separation.",
    .call = [](OffsetArgs& a) -> Outcome {
      return value(self_aniso(a).gamma_offset(a.dx, a.dy, a.dz), py_float);
    },
};

PyMethodDef kAnisoMethods[] = {
    method_entry<kIsotropic>(METH_STATIC),
    method_entry<kAnisoDistance>(),
    method_entry<kGammaOffset>(),
    {nullptr, nullptr, 0, nullptr},
};

template <auto Member>
PyObject* aniso_float(PyObject* self) {
  return py_float(unwrap<AnisotropicVariogram>(self).*Member);
}

const GetterDef kAnisoGetters[] = {
    {"nugget", aniso_float<&AnisotropicVariogram::nugget>, "Nugget c0."},
    {"sill", aniso_float<&AnisotropicVariogram::sill>, "Partial sill c above the nugget."},
    {"major", aniso_float<&AnisotropicVariogram::major>, "Horizontal range along the major axis."},
    {"minor", aniso_float<&AnisotropicVariogram::minor>, "Horizontal range across the major axis."},
    {"vertical", aniso_float<&AnisotropicVariogram::vertical>, "Vertical range."},
    {"azimuth", aniso_float<&AnisotropicVariogram::azimuth>,
     "Azimuth of the major axis in degrees clockwise from north, normalised into [0, 360)."},
};

const ClassDef kAnisoClass{
    .name = "AnisotropicVariogram",
    .doc = "A directional variogram model: ranges along the major axis (at `azimuth`,\n"
           "degrees clockwise from north), across it and vertically. Separations are scaled\n"
           "into units of the major range, then the shape of `model` applies as in `Variogram`.",
    .ctor = constructor<kAnisoNew>(),
    .methods = kAnisoMethods,
    .getters = kAnisoGetters,
    .repr = repr_of<AnisotropicVariogram>,
};

// ---- ExperimentalVariogram ------------------------------------------------

PyObject* new_ref(const Ref& r) {
  PyObject* p = r.get();
  Py_XINCREF(p);
  return p;
}

const GetterDef kExperimentalGetters[] = {
    {"lags", [](PyObject* self) { return new_ref(unwrap<PyExperimental>(self).lags); },
     "Mean separation of the pairs of each retained lag class (the same list on every access)."},
    {"semivariances", [](PyObject* self) { return new_ref(unwrap<PyExperimental>(self).semivariances); },
     "Semivariance sum (zi - zj)^2 / (2 * count) of each retained lag class."},
    {"counts", [](PyObject* self) { return new_ref(unwrap<PyExperimental>(self).counts); },
     "Number of pairs of each retained lag class (always >= 1)."},
};

PyObject* experimental_repr(PyObject* self) {
  try {
    return py_str("ExperimentalVariogram(" + std::to_string(unwrap<PyExperimental>(self).core.size()) +
                  " lag classes)");
  } catch (...) {
    raise_from_cpp("repr");
    return nullptr;
  }
}

const ClassDef kExperimentalClass{
    .name = "ExperimentalVariogram",
    .doc = "An omnidirectional experimental variogram: one entry per non-empty lag class.\n"
           "Made only by `experimental_variogram`; feed it to `Variogram.fit`.",
    .ctor = {},
    .methods = nullptr,
    .getters = kExperimentalGetters,
    .repr = experimental_repr,
};

PyObject* build_experimental(ExperimentalVariogram& ev) {
  PyExperimental obj;
  obj.lags = Ref(py_floats(ev.lags));
  if (!obj.lags) return nullptr;
  obj.semivariances = Ref(py_floats(ev.semivariances));
  if (!obj.semivariances) return nullptr;
  obj.counts = Ref(py_counts(ev.counts));
  if (!obj.counts) return nullptr;
  obj.core = std::move(ev);
  return wrap<PyExperimental>(std::move(obj));
}

struct ExperimentalArgs {
  std::vector<Row3> coords;
  double lag;
  std::uint64_t n_lags;
};
using EA = ExperimentalArgs;

constexpr Param<EA> kExperimentalParams[] = {
    {"coords", arg<&EA::coords, as_rows>},
    {"lag", arg<&EA::lag, as_float>},
    {"n_lags", arg<&EA::n_lags, as_count>},
};

const FunctionDef<EA> kExperimentalVariogram{
    .name = "experimental_variogram",
    .owner = nullptr,
    .params = kExperimentalParams,
    .doc = "Omnidirectional experimental semivariogram of rows `[x, y, z]` (value in z):\n"
           "every pair is binned by its horizontal separation g into class floor(g / lag)\n"
           "when g < n_lags * lag. Empty classes are dropped. Returns an\n"
           "`ExperimentalVariogram`.",
    .call = [](EA& a) -> Outcome {
      return done(quarn::geostat::experimental_variogram(a.coords, a.lag, a.n_lags), build_experimental);
    },
    .nogil = true,
};

// ---- local kriging --------------------------------------------------------

struct KrigingArgs {
  Form form;
  std::vector<Row3> coords;
  Lattice lattice;
  Variogram variogram;
  std::uint64_t max_neighbours;
  double radius;
  std::optional<quarn::geostat::LocalKriging> engine;  ///< from the check
};
using KA = KrigingArgs;

constexpr Param<KA> kKrigingParams[] = {
    {"coords", arg<&KA::coords, as_rows>},
    {"lattice", arg<&KA::lattice, as_lattice>},
    {"variogram", arg<&KA::variogram, as_variogram>},
    {"max_neighbours", arg<&KA::max_neighbours, as_count>},
    {"radius", arg<&KA::radius, as_float>},
};

// The neighbourhood is validated before the lock is released.
bool kriging_check(KA& a) {
  auto engine = quarn::geostat::LocalKriging::make(a.max_neighbours, a.radius, a.variogram);
  if (!engine.ok()) {
    raise_core_error(engine.error());
    return false;
  }
  a.engine = std::move(engine).value();
  return true;
}

// (estimate, variance) as nested lists, or (estimate_bytes, variance_bytes, shape).
PyObject* py_kriged(const quarn::geostat::KrigedFields& f, Form form) {
  if (form == Form::Flat)
    return py_tuple({py_field_bytes(f.estimate), py_field_bytes(f.variance), py_shape(f.estimate)});
  return py_tuple({py_field_nested(f.estimate), py_field_nested(f.variance)});
}

const FunctionDef<KA> kLocalKriging{
    .name = "local_kriging_grid",
    .owner = nullptr,
    .params = kKrigingParams,
    .doc = "Ordinary kriging of rows `[x, y, z]` onto every node of `lattice` with the\n"
           "`max_neighbours` nearest data within `radius` (coincident data are averaged\n"
           "first). Returns `(estimate, variance)` as nested lists `field[col][row]`; nodes\n"
           "without data in range, or with a singular system, are NaN in both.",
    .call = [](KA& a) -> Outcome {
      return done(a.engine->krige(a.coords, a.lattice),
                  [form = a.form](quarn::geostat::KrigedFields& f) { return py_kriged(f, form); });
    },
    .check = kriging_check,
    .nogil = true,
    .flat_name = "local_kriging_grid_flat",
    .flat_doc = "As `local_kriging_grid`, with both fields as flat little-endian f64 buffers in\n"
                "(ncol, nrow) row-major order. Returns `(estimate_bytes, variance_bytes, (ncol, nrow))`.",
};

const Export kExports[] = {
    class_export<Variogram>("Variogram"),
    class_export<AnisotropicVariogram>("AnisotropicVariogram"),
    class_export<PyExperimental>("ExperimentalVariogram"),
    function_export<kExperimentalVariogram>(),
    function_export<kLocalKriging>(),
    function_export<kLocalKriging, Form::Flat>(),
};

}  // namespace

const ClassDef& ClassOf<Variogram>::def() { return kVariogramClass; }
const ClassDef& ClassOf<AnisotropicVariogram>::def() { return kAnisoClass; }
const ClassDef& ClassOf<PyExperimental>::def() { return kExperimentalClass; }

bool as_variogram_spec(PyObject* o, VariogramSpec& out) {
  if (is_instance<Variogram>(o)) {
    out = VariogramSpec(unwrap<Variogram>(o));
    return true;
  }
  if (PyErr_Occurred()) return false;
  if (is_instance<AnisotropicVariogram>(o)) {
    out = VariogramSpec(unwrap<AnisotropicVariogram>(o));
    return true;
  }
  if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "expected Variogram or AnisotropicVariogram");
  return false;
}

std::span<const Export> geostat_exports() { return kExports; }

}  // namespace qpy
