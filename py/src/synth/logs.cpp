// py/src/synth/logs.cpp: bindings of the synthetic logs: ZoneSpec, PetroZoneSpec,
// zone stacks, facies and porosity series, petrophysics curves and the NTG curve.
#include <cstdint>
#include <vector>

#include "../areas.hpp"
#include "../classes.hpp"
#include "../convert.hpp"
#include "synth/log_series.hpp"
#include "synth/petro.hpp"

namespace qpy {

using quarn::synth::PetroZoneSpec;
using quarn::synth::ZoneSpec;

template <>
struct ClassOf<ZoneSpec> {
  static const ClassDef& def();
};
template <>
struct ClassOf<PetroZoneSpec> {
  static const ClassDef& def();
};

namespace {

using Flags = std::vector<std::uint8_t>;

// A list of ZoneSpec instances, copied out in order.
bool to_zones(PyObject* o, Slot& out) {
  if (!require_sequence(o)) return false;
  Ref iter(PyObject_GetIter(o));
  if (!iter) return false;
  std::vector<ZoneSpec> zones;
  while (true) {
    Ref it(PyIter_Next(iter.get()));
    if (!it) break;
    if (!is_instance<ZoneSpec>(it.get())) {
      if (!PyErr_Occurred()) not_an_instance(it.get(), "ZoneSpec");
      return false;
    }
    zones.push_back(unwrap<ZoneSpec>(it.get()));
  }
  if (PyErr_Occurred()) return false;
  out = std::move(zones);
  return true;
}

PyObject* py_flags(const Flags& v) {
  return build_list(v, [](std::uint8_t f) { return PyLong_FromLong(f); });
}

PyObject* py_petro_curves(const quarn::synth::PetroCurves& c) {
  Ref dict(PyDict_New());
  if (!dict) return nullptr;
  Ref phie(py_floats(c.phie));
  if (!phie || PyDict_SetItemString(dict.get(), "phie", phie.get()) < 0) return nullptr;
  Ref flag(py_flags(c.net_flag));
  if (!flag || PyDict_SetItemString(dict.get(), "net_flag", flag.get()) < 0) return nullptr;
  return dict.release();
}

// ---- ZoneSpec ---------------------------------------------------------------

constexpr Param kZoneSpecParams[] = {
    {"thickness_m", to_float},
    {"mean", to_float},
    {"std", to_float},
    {"corr_length_m", to_float},
};

const FunctionDef kZoneSpecNew{
    .name = "__new__",
    .owner = "ZoneSpec",
    .params = kZoneSpecParams,
    .doc = nullptr,
    .call = [](Bound& a) -> Outcome {
      return done(ZoneSpec::make(a.get<double>(0), a.get<double>(1), a.get<double>(2), a.get<double>(3)),
                  wrap_ref<ZoneSpec>);
    },
};

template <auto Member>
PyObject* zone_float(PyObject* self) {
  return py_float(unwrap<ZoneSpec>(self).*Member);
}

const GetterDef kZoneSpecGetters[] = {
    {"thickness_m", zone_float<&ZoneSpec::thickness_m>, "Zone thickness (m)."},
    {"mean", zone_float<&ZoneSpec::mean>, "Target mean of the [0,1] property."},
    {"std", zone_float<&ZoneSpec::std>, "Target standard deviation of the [0,1] property."},
    {"corr_length_m", zone_float<&ZoneSpec::corr_length_m>, "Depth autocorrelation length (m)."},
};

const ClassDef kZoneSpecClass{
    .name = "ZoneSpec",
    .doc = "ZoneSpec(thickness_m, mean, std, corr_length_m)\n--\n\n"
           "One zone of a synthetic log stack: thickness in metres, the target mean and\n"
           "standard deviation of a [0,1] property (0 < mean < 1, std^2 < mean (1 - mean)),\n"
           "and the depth autocorrelation length in metres.",
    .ctor = &kZoneSpecNew,
    .methods = nullptr,
    .getters = kZoneSpecGetters,
    .repr = repr_of<ZoneSpec>,
};

// ---- zone stacks --------------------------------------------------------------

constexpr Param kCountsParams[] = {{"zones", to_zones}, {"depth_step", to_float}};

const FunctionDef kZoneSampleCounts{
    .name = "zone_sample_counts",
    .owner = nullptr,
    .params = kCountsParams,
    .doc = "zone_sample_counts(zones, depth_step)\n--\n\n"
           "Samples per zone: round(thickness_m / depth_step), halves away from zero,\n"
           "saturated to the 64-bit range, at least 1. `depth_step` is not validated.",
    .call = [](Bound& a) -> Outcome {
      return value(quarn::synth::zone_sample_counts(a.get<std::vector<ZoneSpec>>(0), a.get<double>(1)),
                   py_counts);
    },
};

constexpr Param kLogSeriesParams[] = {
    {"zones", to_zones},
    {"depth_step", to_float},
    {"transition_beds", to_count},
    {"seed", to_count},
};

const FunctionDef kSynthLogSeries{
    .name = "synth_log_series",
    .owner = nullptr,
    .params = kLogSeriesParams,
    .doc = "synth_log_series(zones, depth_step, transition_beds, seed)\n--\n\n"
           "A depth-correlated [0,1] log over a zone stack (top first): one AR(1) normal\n"
           "driver through all zones, each zone mapped by its own moment-matched transform,\n"
           "parameters blended over `transition_beds` samples on each side of a boundary.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::synth::synth_log_series(a.get<std::vector<ZoneSpec>>(0), a.get<double>(1),
                                                 a.get<std::uint64_t>(2), a.get<std::uint64_t>(3)),
                  py_floats);
    },
    .nogil = true,
};

// ---- facies and porosity -----------------------------------------------------

constexpr Param kFaciesParams[] = {
    {"n", to_count},
    {"depth_step", to_float},
    {"ntg_target", to_float},
    {"bed_scale_m", to_float},
    {"seed", to_count},
};

const FunctionDef kSynthFaciesSeries{
    .name = "synth_facies_series",
    .owner = nullptr,
    .params = kFaciesParams,
    .doc = "synth_facies_series(n, depth_step, ntg_target, bed_scale_m, seed)\n--\n\n"
           "A sand (1) / shale (0) column of n samples: a truncated-Gaussian indicator of an\n"
           "AR(1) driver with coefficient exp(-depth_step / bed_scale_m), sand above the\n"
           "threshold that gives `ntg_target` in expectation.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::synth::synth_facies_series(a.get<std::uint64_t>(0), a.get<double>(1), a.get<double>(2),
                                                    a.get<double>(3), a.get<std::uint64_t>(4)),
                  py_flags);
    },
    .nogil = true,
};

// Facies as bytes (non-zero = sand), copied while the lock is held.
bool to_facies(PyObject* o, Slot& out) {
  std::vector<std::int64_t> v;
  if (!as_ints(o, v)) return false;
  Flags f(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) f[i] = v[i] != 0 ? 1 : 0;
  out = std::move(f);
  return true;
}

constexpr Param kPorParams[] = {
    {"facies", to_facies},       {"depth_step", to_float}, {"sand_mean", to_float},     {"sand_std", to_float},
    {"shale_mean", to_float},    {"shale_std", to_float},  {"corr_length_m", to_float}, {"seed", to_count},
};

const FunctionDef kSynthPorWithFacies{
    .name = "synth_por_with_facies",
    .owner = nullptr,
    .params = kPorParams,
    .doc = "synth_por_with_facies(facies, depth_step, sand_mean, sand_std, shale_mean, shale_std, "
           "corr_length_m, seed)\n--\n\n"
           "[0,1] porosity on a facies column (non-zero = sand): one shared AR(1) driver,\n"
           "each sample mapped through the sand or the shale moment-matched transform.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::synth::synth_por_with_facies(a.get<Flags>(0), a.get<double>(1), a.get<double>(2),
                                                      a.get<double>(3), a.get<double>(4), a.get<double>(5),
                                                      a.get<double>(6), a.get<std::uint64_t>(7)),
                  py_floats);
    },
    .nogil = true,
};

// ---- PetroZoneSpec -----------------------------------------------------------

constexpr Param kPetroSpecParams[] = {
    {"ntg_target", to_float},
    {"net_por_mean", to_float},
    {"net_por_std", to_float},
    {"nonnet_por_mean", to_float},
    {"nonnet_por_std", to_float},
    {"bed_scale_m", to_float},
    {"correlation_len_m", to_float},
    {"net_cutoff", to_float, Default::real(0.1)},
};

const FunctionDef kPetroZoneSpecNew{
    .name = "__new__",
    .owner = "PetroZoneSpec",
    .params = kPetroSpecParams,
    .doc = nullptr,
    .call = [](Bound& a) -> Outcome {
      return done(PetroZoneSpec::make(a.get<double>(0), a.get<double>(1), a.get<double>(2), a.get<double>(3),
                                      a.get<double>(4), a.get<double>(5), a.get<double>(6), a.get<double>(7)),
                  wrap_ref<PetroZoneSpec>);
    },
};

template <auto Member>
PyObject* petro_float(PyObject* self) {
  return py_float(unwrap<PetroZoneSpec>(self).*Member);
}

const GetterDef kPetroZoneSpecGetters[] = {
    {"net_cutoff", petro_float<&PetroZoneSpec::net_cutoff>, "Porosity cutoff defining net."},
    {"ntg_target", petro_float<&PetroZoneSpec::ntg_target>, "Required net-to-gross."},
    {"net_por_mean", petro_float<&PetroZoneSpec::net_por_mean>, "Target mean porosity of net samples."},
    {"net_por_std", petro_float<&PetroZoneSpec::net_por_std>, "Target porosity standard deviation of net samples."},
    {"nonnet_por_mean", petro_float<&PetroZoneSpec::nonnet_por_mean>, "Shale porosity mean."},
    {"nonnet_por_std", petro_float<&PetroZoneSpec::nonnet_por_std>, "Shale porosity standard deviation."},
    {"bed_scale_m", petro_float<&PetroZoneSpec::bed_scale_m>, "Facies bed scale (m)."},
    {"correlation_len_m", petro_float<&PetroZoneSpec::correlation_len_m>, "Porosity depth correlation length (m)."},
};

const ClassDef kPetroZoneSpecClass{
    .name = "PetroZoneSpec",
    .doc = "PetroZoneSpec(ntg_target, net_por_mean, net_por_std, nonnet_por_mean, nonnet_por_std, "
           "bed_scale_m, correlation_len_m, net_cutoff=0.1)\n--\n\n"
           "Targets of one zone's coupled porosity / net-flag curves: the net-to-gross, the\n"
           "mean and std of porosity among net samples, the shale porosity distribution,\n"
           "the facies bed scale and porosity correlation length (m), and the net cutoff.\n"
           "Feasibility is checked when curves are drawn.",
    .ctor = &kPetroZoneSpecNew,
    .methods = nullptr,
    .getters = kPetroZoneSpecGetters,
    .repr = repr_of<PetroZoneSpec>,
};

constexpr Param kPetroParams[] = {
    {"zone", to_instance<PetroZoneSpec>},
    {"depth_step", to_float},
    {"n_samples", to_count},
    {"seed", to_count},
};

const FunctionDef kSynthPetroCurves{
    .name = "synth_petro_curves",
    .owner = nullptr,
    .params = kPetroParams,
    .doc = "synth_petro_curves(zone, depth_step, n_samples, seed)\n--\n\n"
           "Effective porosity and net flag (phie >= net_cutoff) of one zone, calibrated so\n"
           "that the realised NTG and net-porosity moments match the `PetroZoneSpec`\n"
           "targets in expectation. Returns {'phie': [...], 'net_flag': [...]}.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::synth::synth_petro_curves(a.get<PetroZoneSpec>(0), a.get<double>(1),
                                                   a.get<std::uint64_t>(2), a.get<std::uint64_t>(3)),
                  py_petro_curves);
    },
    .nogil = true,
};

// ---- NTG display curve ----------------------------------------------------------

constexpr Param kNtgParams[] = {{"net_flag", to_floats}, {"depth_step", to_float}, {"window_m", to_float}};

const FunctionDef kNtgCurve{
    .name = "ntg_curve",
    .owner = nullptr,
    .params = kNtgParams,
    .doc = "ntg_curve(net_flag, depth_step, window_m)\n--\n\n"
           "Centred running mean of a net flag (non-zero = net) over `window_m` metres,\n"
           "truncated at the ends; at least 3 samples wide.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::synth::ntg_curve(a.get<std::vector<double>>(0), a.get<double>(1), a.get<double>(2)),
                  py_floats);
    },
};

const Export kExports[] = {
    class_export<ZoneSpec>("ZoneSpec"),
    function_export<kZoneSampleCounts>(),
    function_export<kSynthLogSeries>(),
    function_export<kSynthFaciesSeries>(),
    function_export<kSynthPorWithFacies>(),
    class_export<PetroZoneSpec>("PetroZoneSpec"),
    function_export<kSynthPetroCurves>(),
    function_export<kNtgCurve>(),
};

}  // namespace

const ClassDef& ClassOf<ZoneSpec>::def() { return kZoneSpecClass; }
const ClassDef& ClassOf<PetroZoneSpec>::def() { return kPetroZoneSpecClass; }

std::span<const Export> logs_exports() { return kExports; }

}  // namespace qpy
