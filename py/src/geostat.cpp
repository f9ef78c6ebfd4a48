// py/src/geostat.cpp: bindings of the variogram classes, the experimental variogram
// and its fit, and local kriging onto a lattice.
#include "geostat.hpp"

#include <string>

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

// Slot `idx` holds the model name; replaces it by the parsed VariogramModel.
template <std::size_t Idx>
bool model_check(Bound& a) {
  VariogramModel model;
  if (!parse_option(kModel, a.get<std::string>(Idx), model)) return false;
  a.slots[Idx] = model;
  return true;
}

bool to_experimental(PyObject* o, Slot& out) {
  if (!is_instance<PyExperimental>(o)) {
    if (!PyErr_Occurred()) not_an_instance(o, "ExperimentalVariogram");
    return false;
  }
  out = unwrap<PyExperimental>(o).core;
  return true;
}

// ---- Variogram ------------------------------------------------------------

constexpr Param kVariogramParams[] = {
    {"model", to_name},
    {"nugget", to_float},
    {"sill", to_float},
    {"range", to_float},
};

const FunctionDef kVariogramNew{
    .name = "__new__",
    .owner = "Variogram",
    .params = kVariogramParams,
    .doc = nullptr,
    .call = [](Bound& a) -> Outcome {
      return done(Variogram::make(a.get<VariogramModel>(0), a.get<double>(1), a.get<double>(2), a.get<double>(3)),
                  wrap_ref<Variogram>);
    },
    .check = model_check<0>,
};

constexpr Param kFitParams[] = {
    {"model", to_name},
    {"experimental", to_experimental},
};

const FunctionDef kFit{
    .name = "fit",
    .owner = "Variogram",
    .params = kFitParams,
    .doc = "fit(model, experimental)\n--\n\n"
           "Fit a `Variogram` of shape `model` to an `ExperimentalVariogram` by pair-count\n"
           "weighted least squares: the range by a coarse (400) then fine (100) grid search\n"
           "up to twice the largest lag, nugget and partial sill in closed form (non-negative)\n"
           "for each candidate range. 'nugget' fits the count-weighted mean semivariance.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::geostat::fit_variogram(a.get<VariogramModel>(0), a.get<ExperimentalVariogram>(1)),
                  wrap_ref<Variogram>);
    },
    .check = model_check<0>,
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
    .doc = "Variogram(model, nugget, sill, range)\n--\n\n"
           "An isotropic variogram model. `model` is 'nugget', 'spherical' ('sph'),\n"
           "'exponential' ('exp') or 'gaussian' ('gauss'), case and surrounding spaces\n"
           "ignored; `sill` is the partial sill above `nugget`. gamma(0) = 0 and, for h > 0,\n"
           "gamma(h) = nugget + sill * f(h / range), with the exponential and Gaussian\n"
           "shapes scaled so that `range` is their practical range.",
    .ctor = &kVariogramNew,
    .methods = kVariogramMethods,
    .getters = kVariogramGetters,
    .repr = repr_of<Variogram>,
};

// ---- AnisotropicVariogram -------------------------------------------------

constexpr Param kAnisoParams[] = {
    {"model", to_name},
    {"major", to_float},
    {"minor", to_float},
    {"vertical", to_float},
    {"azimuth", to_float},
    {"sill", to_float, Default::real(1.0)},
    {"nugget", to_float, Default::real(0.0)},
};

const FunctionDef kAnisoNew{
    .name = "__new__",
    .owner = "AnisotropicVariogram",
    .params = kAnisoParams,
    .doc = nullptr,
    .call = [](Bound& a) -> Outcome {
      return done(AnisotropicVariogram::make(a.get<VariogramModel>(0), a.get<double>(1), a.get<double>(2),
                                             a.get<double>(3), a.get<double>(4), a.get<double>(5),
                                             a.get<double>(6)),
                  wrap_ref<AnisotropicVariogram>);
    },
    .check = model_check<0>,
};

const FunctionDef kIsotropic{
    .name = "isotropic",
    .owner = "AnisotropicVariogram",
    .params = kVariogramParams,
    .doc = "isotropic(model, nugget, sill, range)\n--\n\n"
           "An `AnisotropicVariogram` with major = minor = vertical = `range` and azimuth 0.",
    .call = [](Bound& a) -> Outcome {
      return done(AnisotropicVariogram::isotropic(a.get<VariogramModel>(0), a.get<double>(1), a.get<double>(2),
                                                  a.get<double>(3)),
                  wrap_ref<AnisotropicVariogram>);
    },
    .check = model_check<0>,
};

constexpr Param kOffsetParams[] = {
    {"dx", to_float},
    {"dy", to_float},
    {"dz", to_float, Default::real(0.0)},
};

const AnisotropicVariogram& self_aniso(const Bound& a) { return unwrap<AnisotropicVariogram>(a.self); }

const FunctionDef kAnisoDistance{
    .name = "anisotropic_distance",
    .owner = "AnisotropicVariogram",
    .params = kOffsetParams,
    .doc = "anisotropic_distance($self, dx, dy, dz=0.0)\n--\n\n"
           "The separation (dx east, dy north, dz up) scaled into units of the major range:\n"
           "a separation of `minor` across the major axis, or of `vertical` along z, counts\n"
           "as `major`.",
    .call = [](Bound& a) -> Outcome {
      return value(self_aniso(a).anisotropic_distance(a.get<double>(0), a.get<double>(1), a.get<double>(2)),
                   py_float);
    },
};

const FunctionDef kGammaOffset{
    .name = "gamma_offset",
    .owner = "AnisotropicVariogram",
    .params = kOffsetParams,
    .doc = "gamma_offset($self, dx, dy, dz=0.0)\n--\n\n"
           "Semivariance for the separation (dx east, dy north, dz up); 0 at zero separation.",
    .call = [](Bound& a) -> Outcome {
      return value(self_aniso(a).gamma_offset(a.get<double>(0), a.get<double>(1), a.get<double>(2)), py_float);
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
    .doc = "AnisotropicVariogram(model, major, minor, vertical, azimuth, sill=1.0, nugget=0.0)\n--\n\n"
           "A directional variogram model: ranges along the major axis (at `azimuth`,\n"
           "degrees clockwise from north), across it and vertically. Separations are scaled\n"
           "into units of the major range, then the shape of `model` applies as in `Variogram`.",
    .ctor = &kAnisoNew,
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
    .ctor = nullptr,
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

constexpr Param kExperimentalParams[] = {
    {"coords", to_rows},
    {"lag", to_float},
    {"n_lags", to_count},
};

const FunctionDef kExperimentalVariogram{
    .name = "experimental_variogram",
    .owner = nullptr,
    .params = kExperimentalParams,
    .doc = "experimental_variogram(coords, lag, n_lags)\n--\n\n"
           "Omnidirectional experimental semivariogram of rows `[x, y, z]` (value in z):\n"
           "every pair is binned by its horizontal separation g into class floor(g / lag)\n"
           "when g < n_lags * lag. Empty classes are dropped. Returns an\n"
           "`ExperimentalVariogram`.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::geostat::experimental_variogram(a.get<std::vector<Row3>>(0), a.get<double>(1),
                                                         a.get<std::uint64_t>(2)),
                  build_experimental);
    },
    .nogil = true,
};

// ---- local kriging --------------------------------------------------------

constexpr Param kKrigingParams[] = {
    {"coords", to_rows},
    {"lattice", to_lattice},
    {"variogram", to_variogram},
    {"max_neighbours", to_count},
    {"radius", to_float},
};

// The neighbourhood is validated before the lock is released.
bool kriging_check(Bound& a) {
  auto engine = quarn::geostat::LocalKriging::make(a.get<std::uint64_t>(3), a.get<double>(4), a.get<Variogram>(2));
  if (!engine.ok()) {
    raise_core_error(engine.error());
    return false;
  }
  a.slots[2] = std::move(engine).value();
  return true;
}

quarn::Result<quarn::geostat::KrigedFields> run_kriging(Bound& a) {
  return a.get<quarn::geostat::LocalKriging>(2).krige(a.get<std::vector<Row3>>(0), a.get<Lattice>(1));
}

const FunctionDef kLocalKriging{
    .name = "local_kriging_grid",
    .owner = nullptr,
    .params = kKrigingParams,
    .doc = "local_kriging_grid(coords, lattice, variogram, max_neighbours, radius)\n--\n\n"
           "Ordinary kriging of rows `[x, y, z]` onto every node of `lattice` with the\n"
           "`max_neighbours` nearest data within `radius` (coincident data are averaged\n"
           "first). Returns `(estimate, variance)` as nested lists `field[col][row]`; nodes\n"
           "without data in range, or with a singular system, are NaN in both.",
    .call = [](Bound& a) -> Outcome {
      return done(run_kriging(a), [](quarn::geostat::KrigedFields& f) {
        return py_tuple({py_field_nested(f.estimate), py_field_nested(f.variance)});
      });
    },
    .check = kriging_check,
    .nogil = true,
};

const FunctionDef kLocalKrigingFlat{
    .name = "local_kriging_grid_flat",
    .owner = nullptr,
    .params = kKrigingParams,
    .doc = "local_kriging_grid_flat(coords, lattice, variogram, max_neighbours, radius)\n--\n\n"
           "As `local_kriging_grid`, with both fields as flat little-endian f64 buffers in\n"
           "(ncol, nrow) row-major order. Returns `(estimate_bytes, variance_bytes, (ncol, nrow))`.",
    .call = [](Bound& a) -> Outcome {
      return done(run_kriging(a), [](quarn::geostat::KrigedFields& f) {
        return py_tuple({py_field_bytes(f.estimate), py_field_bytes(f.variance), py_shape(f.estimate)});
      });
    },
    .check = kriging_check,
    .nogil = true,
};

const Export kExports[] = {
    class_export<Variogram>("Variogram"),
    class_export<AnisotropicVariogram>("AnisotropicVariogram"),
    class_export<PyExperimental>("ExperimentalVariogram"),
    function_export<kExperimentalVariogram>(),
    function_export<kLocalKriging>(),
    function_export<kLocalKrigingFlat>(),
};

}  // namespace

const ClassDef& ClassOf<Variogram>::def() { return kVariogramClass; }
const ClassDef& ClassOf<AnisotropicVariogram>::def() { return kAnisoClass; }
const ClassDef& ClassOf<PyExperimental>::def() { return kExperimentalClass; }

bool to_variogram_spec(PyObject* o, Slot& out) {
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

bool to_any_object(PyObject* o, Slot& out) {
  out = Ref::borrow(o);
  return true;
}

bool variogram_spec_check(Bound& b, std::size_t idx) {
  const Ref obj = b.get<Ref>(idx);
  return to_variogram_spec(obj.get(), b.slots[idx]);
}

std::span<const Export> geostat_exports() { return kExports; }

}  // namespace qpy
