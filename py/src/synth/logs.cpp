// py/src/synth/logs.cpp: bindings of the synthetic logs: ZoneSpec, PetroZoneSpec,
// zone stacks, facies and porosity series, petrophysics curves and the NTG curve.
#include <cstdint>
#include <optional>
#include <vector>

#include "../areas.hpp"
#include "../classes.hpp"
#include "../convert.hpp"
#include "../kinds.hpp"
#include "synth/log_series.hpp"
#include "synth/petro.hpp"

namespace qpy {

using quarn::synth::PetroZoneSpec;
using quarn::synth::ZoneSpec;

using Flags = std::vector<std::uint8_t>;

// A list of ZoneSpec instances, copied out in order.
bool as_zones(PyObject* o, std::vector<ZoneSpec>& out) {
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

// Facies as bytes (non-zero = sand), copied while the lock is held.
bool as_facies(PyObject* o, Flags& out) {
  std::vector<std::int64_t> v;
  if (!as_ints(o, v)) return false;
  out.resize(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) out[i] = v[i] != 0 ? 1 : 0;
  return true;
}

namespace {

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

struct ZoneSpecArgs {
  double thickness_m, mean, std, corr_length_m;
};
using ZSA = ZoneSpecArgs;

constexpr Param<ZSA> kZoneSpecParams[] = {
    {"thickness_m", arg<&ZSA::thickness_m, as_float>},
    {"mean", arg<&ZSA::mean, as_float>},
    {"std", arg<&ZSA::std, as_float>},
    {"corr_length_m", arg<&ZSA::corr_length_m, as_float>},
};

const FunctionDef<ZSA> kZoneSpecNew{
    .name = "__new__",
    .owner = "ZoneSpec",
    .params = kZoneSpecParams,
    .doc = nullptr,
    .call = [](ZSA& a) -> Outcome {
      return done(ZoneSpec::make(a.thickness_m, a.mean, a.std, a.corr_length_m), wrap_ref<ZoneSpec>);
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
    .doc = "One zone of a synthetic log stack: thickness in metres, the target mean and\n"
           "standard deviation of a [0,1] property (0 < mean < 1, std^2 < mean (1 - mean)),\n"
           "and the depth autocorrelation length in metres.",
    .ctor = constructor<kZoneSpecNew>(),
    .methods = nullptr,
    .getters = kZoneSpecGetters,
    .repr = repr_of<ZoneSpec>,
};

// ---- zone stacks --------------------------------------------------------------

struct ZonesArgs {
  std::vector<ZoneSpec> zones;
  double depth_step;
  std::uint64_t transition_beds, seed;
};
using ZA = ZonesArgs;

constexpr Param<ZA> kCountsParams[] = {{"zones", arg<&ZA::zones, as_zones>},
                                       {"depth_step", arg<&ZA::depth_step, as_float>}};

const FunctionDef<ZA> kZoneSampleCounts{
    .name = "zone_sample_counts",
    .owner = nullptr,
    .params = kCountsParams,
    .doc = "Samples per zone: round(thickness_m / depth_step), halves away from zero,\n"
           "saturated to the 64-bit range, at least 1. `depth_step` is not validated.",
    .call = [](ZA& a) -> Outcome {
      return value(quarn::synth::zone_sample_counts(a.zones, a.depth_step), py_counts);
    },
};

constexpr Param<ZA> kLogSeriesParams[] = {
    {"zones", arg<&ZA::zones, as_zones>},
    {"depth_step", arg<&ZA::depth_step, as_float>},
    {"transition_beds", arg<&ZA::transition_beds, as_count>},
    {"seed", arg<&ZA::seed, as_count>},
};

const FunctionDef<ZA> kSynthLogSeries{
    .name = "synth_log_series",
    .owner = nullptr,
    .params = kLogSeriesParams,
    .doc = "A depth-correlated [0,1] log over a zone stack (top first): one AR(1) normal\n"
           "driver through all zones, each zone mapped by its own moment-matched transform,\n"
           "parameters blended over `transition_beds` samples on each side of a boundary.",
    .call = [](ZA& a) -> Outcome {
      return done(quarn::synth::synth_log_series(a.zones, a.depth_step, a.transition_beds, a.seed), py_floats);
    },
    .nogil = true,
};

// ---- facies and porosity -----------------------------------------------------

struct FaciesArgs {
  std::uint64_t n;
  double depth_step, ntg_target, bed_scale_m;
  std::uint64_t seed;
};
using FA = FaciesArgs;

constexpr Param<FA> kFaciesParams[] = {
    {"n", arg<&FA::n, as_count>},
    {"depth_step", arg<&FA::depth_step, as_float>},
    {"ntg_target", arg<&FA::ntg_target, as_float>},
    {"bed_scale_m", arg<&FA::bed_scale_m, as_float>},
    {"seed", arg<&FA::seed, as_count>},
};

const FunctionDef<FA> kSynthFaciesSeries{
    .name = "synth_facies_series",
    .owner = nullptr,
    .params = kFaciesParams,
    .doc = "A sand (1) / shale (0) column of n samples: a truncated-Gaussian indicator of an\n"
           "AR(1) driver with coefficient exp(-depth_step / bed_scale_m), sand above the\n"
           "threshold that gives `ntg_target` in expectation.",
    .call = [](FA& a) -> Outcome {
      return done(quarn::synth::synth_facies_series(a.n, a.depth_step, a.ntg_target, a.bed_scale_m, a.seed),
                  py_flags);
    },
    .nogil = true,
};

struct PorArgs {
  Flags facies;
  double depth_step, sand_mean, sand_std, shale_mean, shale_std, corr_length_m;
  std::uint64_t seed;
};
using PoA = PorArgs;

constexpr Param<PoA> kPorParams[] = {
    {"facies", arg<&PoA::facies, as_facies>},
    {"depth_step", arg<&PoA::depth_step, as_float>},
    {"sand_mean", arg<&PoA::sand_mean, as_float>},
    {"sand_std", arg<&PoA::sand_std, as_float>},
    {"shale_mean", arg<&PoA::shale_mean, as_float>},
    {"shale_std", arg<&PoA::shale_std, as_float>},
    {"corr_length_m", arg<&PoA::corr_length_m, as_float>},
    {"seed", arg<&PoA::seed, as_count>},
};

const FunctionDef<PoA> kSynthPorWithFacies{
    .name = "synth_por_with_facies",
    .owner = nullptr,
    .params = kPorParams,
    .doc = "[0,1] porosity on a facies column (non-zero = sand): one shared AR(1) driver,\n"
           "each sample mapped through the sand or the shale moment-matched transform.",
    .call = [](PoA& a) -> Outcome {
      return done(quarn::synth::synth_por_with_facies(a.facies, a.depth_step, a.sand_mean, a.sand_std, a.shale_mean,
                                                      a.shale_std, a.corr_length_m, a.seed),
                  py_floats);
    },
    .nogil = true,
};

// ---- PetroZoneSpec -----------------------------------------------------------

struct PetroSpecArgs {
  double ntg_target, net_por_mean, net_por_std, nonnet_por_mean, nonnet_por_std, bed_scale_m, correlation_len_m,
      net_cutoff;
};
using PSA = PetroSpecArgs;

constexpr Param<PSA> kPetroSpecParams[] = {
    {"ntg_target", arg<&PSA::ntg_target, as_float>},
    {"net_por_mean", arg<&PSA::net_por_mean, as_float>},
    {"net_por_std", arg<&PSA::net_por_std, as_float>},
    {"nonnet_por_mean", arg<&PSA::nonnet_por_mean, as_float>},
    {"nonnet_por_std", arg<&PSA::nonnet_por_std, as_float>},
    {"bed_scale_m", arg<&PSA::bed_scale_m, as_float>},
    {"correlation_len_m", arg<&PSA::correlation_len_m, as_float>},
    {"net_cutoff", arg<&PSA::net_cutoff, as_float>, Default::real(0.1)},
};

const FunctionDef<PSA> kPetroZoneSpecNew{
    .name = "__new__",
    .owner = "PetroZoneSpec",
    .params = kPetroSpecParams,
    .doc = nullptr,
    .call = [](PSA& a) -> Outcome {
      return done(PetroZoneSpec::make(a.ntg_target, a.net_por_mean, a.net_por_std, a.nonnet_por_mean,
                                      a.nonnet_por_std, a.bed_scale_m, a.correlation_len_m, a.net_cutoff),
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
    .doc = "Targets of one zone's coupled porosity / net-flag curves: the net-to-gross, the\n"
           "mean and std of porosity among net samples, the shale porosity distribution,\n"
           "the facies bed scale and porosity correlation length (m), and the net cutoff.\n"
           "Feasibility is checked when curves are drawn.",
    .ctor = constructor<kPetroZoneSpecNew>(),
    .methods = nullptr,
    .getters = kPetroZoneSpecGetters,
    .repr = repr_of<PetroZoneSpec>,
};

struct PetroArgs {
  std::optional<PetroZoneSpec> zone;
  double depth_step;
  std::uint64_t n_samples, seed;
};
using PeA = PetroArgs;

constexpr Param<PeA> kPetroParams[] = {
    {"zone", arg<&PeA::zone, as_held<PetroZoneSpec>>},
    {"depth_step", arg<&PeA::depth_step, as_float>},
    {"n_samples", arg<&PeA::n_samples, as_count>},
    {"seed", arg<&PeA::seed, as_count>},
};

const FunctionDef<PeA> kSynthPetroCurves{
    .name = "synth_petro_curves",
    .owner = nullptr,
    .params = kPetroParams,
    .doc = "Effective porosity and net flag (phie >= net_cutoff) of one zone, calibrated so\n"
           "that the realised NTG and net-porosity moments match the `PetroZoneSpec`\n"
           "targets in expectation. Returns {'phie': [...], 'net_flag': [...]}.",
    .call = [](PeA& a) -> Outcome {
      return done(quarn::synth::synth_petro_curves(*a.zone, a.depth_step, a.n_samples, a.seed), py_petro_curves);
    },
    .nogil = true,
};

// ---- NTG display curve ----------------------------------------------------------

struct NtgArgs {
  std::vector<double> net_flag;
  double depth_step, window_m;
};

constexpr Param<NtgArgs> kNtgParams[] = {{"net_flag", arg<&NtgArgs::net_flag, as_floats>},
                                         {"depth_step", arg<&NtgArgs::depth_step, as_float>},
                                         {"window_m", arg<&NtgArgs::window_m, as_float>}};

const FunctionDef<NtgArgs> kNtgCurve{
    .name = "ntg_curve",
    .owner = nullptr,
    .params = kNtgParams,
    .doc = "Centred running mean of a net flag (non-zero = net) over `window_m` metres,\n"
           "truncated at the ends; at least 3 samples wide.",
    .call = [](NtgArgs& a) -> Outcome {
      return done(quarn::synth::ntg_curve(a.net_flag, a.depth_step, a.window_m), py_floats);
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
