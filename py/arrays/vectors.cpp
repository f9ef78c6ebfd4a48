// py/arrays/vectors.cpp: the functions of `_arrays`. Each takes the parameters of its
// `_quarntools` namesake through the same converters, runs the same core call and
// hands the result over as Vector buffers instead of lists of Python numbers.
#include "vectors.hpp"

#include <bit>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "buffer.hpp"
#include "convert.hpp"
#include "kinds.hpp"
#include "sampling.hpp"
#include "synth/log_series.hpp"
#include "synth/petro.hpp"

namespace qpy::arrays {
namespace {

using quarn::sampling::Clamped;
using quarn::sampling::Sampler;
using quarn::synth::PetroZoneSpec;
using quarn::synth::ZoneSpec;
using Floats = std::vector<double>;
using Flags = std::vector<std::uint8_t>;

PyObject* vec(Floats& v) { return py_vector(v); }
PyObject* flags(Flags& v) { return py_int_vector(v); }

// A dict from names to Vectors, in the given order.
template <class Items>
PyObject* vector_dict(Items& items) {
  Ref d(PyDict_New());
  if (!d) return nullptr;
  for (auto& [name, values] : items) {
    Ref v(py_vector(values));
    if (!v || PyDict_SetItemString(d.get(), name.c_str(), v.get()) < 0) return nullptr;
  }
  return d.release();
}

// ---- formulas -------------------------------------------------------------------

struct FormulaArgs {
  std::vector<std::string> assignments;
  quarn::formula::Properties properties;
  std::optional<quarn::formula::Params> params;
};
using FoA = FormulaArgs;

constexpr Param<FoA> kFormulaParams[] = {
    {"assignments", arg<&FoA::assignments, as_texts>},
    {"properties", arg<&FoA::properties, as_properties>},
    {"params", arg<&FoA::params, as_params>, Default::none()},
};

const FunctionDef<FoA> kEvaluateFormula{
    .name = "evaluate_formula",
    .owner = nullptr,
    .params = kFormulaParams,
    .doc = "quarntools.evaluate_formula with a dict of Vectors out (one per target).",
    .call = [](FoA& a) -> Outcome {
      const quarn::formula::Params none;
      return done(quarn::formula::evaluate_formula(a.assignments, a.properties, a.params ? *a.params : none),
                  [](quarn::formula::Outputs& o) { return vector_dict(o); });
    },
};

// ---- interpolation and aggregation ------------------------------------------------

struct InterpArgs {
  Floats x, y, query;
  std::string method_name;
  quarn::interp::Method method;
  bool extrapolate;
};
using IA = InterpArgs;

constexpr Param<IA> kInterpParams[] = {
    {"x", arg<&IA::x, as_floats>},
    {"y", arg<&IA::y, as_floats>},
    {"query", arg<&IA::query, as_floats>},
    {"method", arg<&IA::method_name, as_name>, Default::str("linear")},
    {"extrapolate", arg<&IA::extrapolate, as_flag>, Default::flag(false)},
};

const FunctionDef<IA> kInterp1d{
    .name = "interp1d",
    .owner = nullptr,
    .params = kInterpParams,
    .doc = "quarntools.interp1d with a Vector out.",
    .call = [](IA& a) -> Outcome {
      return done(quarn::interp::interp1d(a.x, a.y, a.query, a.method, a.extrapolate), vec);
    },
    .check = [](IA& a) { return parse_option(kInterpMethod, a.method_name, a.method); },
    .nogil = true,
};

struct AggregateArgs {
  std::vector<Floats> segments;
  std::string correlation_name;
  quarn::sampling::Correlation correlation;
};
using AgA = AggregateArgs;

constexpr Param<AgA> kAggregateParams[] = {
    {"segments", arg<&AgA::segments, as_nested>},
    {"correlation", arg<&AgA::correlation_name, as_name>, Default::str("independent")},
};

const FunctionDef<AgA> kAggregate{
    .name = "aggregate",
    .owner = nullptr,
    .params = kAggregateParams,
    .doc = "quarntools.aggregate with a Vector out.",
    .call = [](AgA& a) -> Outcome { return value(quarn::sampling::aggregate(a.segments, a.correlation), vec); },
    .check = [](AgA& a) { return parse_option(kCorrelation, a.correlation_name, a.correlation); },
};

// ---- sampler draws ----------------------------------------------------------------

using AnySampler = std::variant<Sampler, Clamped>;

// A Sampler or a Clamped instance (a copy).
bool as_any_sampler(PyObject* o, std::optional<AnySampler>& out) {
  if (is_instance<Sampler>(o)) {
    out.emplace(unwrap<Sampler>(o));
    return true;
  }
  if (is_instance<Clamped>(o)) {
    out.emplace(unwrap<Clamped>(o));
    return true;
  }
  if (!PyErr_Occurred()) not_an_instance(o, "Sampler");
  return false;
}

struct DrawArgs {
  std::optional<AnySampler> sampler;
  std::uint64_t n, seed;
  RngArg rng;
};
using DA = DrawArgs;

Outcome draw(const AnySampler& s, std::uint64_t n, quarn::sampling::Stream& stream) {
  return std::visit([&](const auto& d) { return done(d.sample_n(n, stream), vec); }, s);
}

constexpr Param<DA> kDrawParams[] = {
    {"sampler", arg<&DA::sampler, as_any_sampler>}, {"n", arg<&DA::n, as_count>}, {"rng", arg<&DA::rng, as_rng>}};
constexpr Param<DA> kDrawSeededParams[] = {
    {"sampler", arg<&DA::sampler, as_any_sampler>}, {"n", arg<&DA::n, as_count>}, {"seed", arg<&DA::seed, as_count>}};

const FunctionDef<DA> kSampleN{
    .name = "sample_n",
    .owner = nullptr,
    .params = kDrawParams,
    .doc = "sampler.sample_n(n, rng) with a Vector out; advances `rng` the same way.",
    .call = [](DA& a) -> Outcome {
      RngBorrow rng(a.rng);
      if (!rng.ok()) return Outcome::python_error();
      return draw(*a.sampler, a.n, rng.stream());
    },
};

const FunctionDef<DA> kSampleNSeeded{
    .name = "sample_n_seeded",
    .owner = nullptr,
    .params = kDrawSeededParams,
    .doc = "sampler.sample_n_seeded(n, seed) with a Vector out.",
    .call = [](DA& a) -> Outcome {
      quarn::sampling::Stream s = quarn::sampling::seeded_rng(a.seed);
      return draw(*a.sampler, a.n, s);
    },
};

// ---- synthetic logs -----------------------------------------------------------------

struct ZonesArgs {
  std::vector<ZoneSpec> zones;
  double depth_step;
  std::uint64_t transition_beds, seed;
};
using ZA = ZonesArgs;

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
    .doc = "quarntools.synth_log_series with a Vector out.",
    .call = [](ZA& a) -> Outcome {
      return done(quarn::synth::synth_log_series(a.zones, a.depth_step, a.transition_beds, a.seed), vec);
    },
    .nogil = true,
};

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
    .doc = "quarntools.synth_facies_series with an int64 Vector out.",
    .call = [](FA& a) -> Outcome {
      return done(quarn::synth::synth_facies_series(a.n, a.depth_step, a.ntg_target, a.bed_scale_m, a.seed), flags);
    },
    .nogil = true,
};

// Facies from a 1-D C-contiguous buffer of integers in one pass (the value
// of each item, as its __index__ gives it); anything else as the extension converts it.
bool as_facies_fast(PyObject* o, Flags& out) {
  if (!PyBytes_Check(o) && !PyByteArray_Check(o) && PyObject_CheckBuffer(o)) {
    Py_buffer view{};
    if (PyObject_GetBuffer(o, &view, PyBUF_FORMAT | PyBUF_ND | PyBUF_C_CONTIGUOUS) == 0) {
      std::string f = view.format ? view.format : "B";
      if (!f.empty() && (f[0] == '=' || f[0] == '@' || (f[0] == '<' && std::endian::native == std::endian::little)))
        f.erase(0, 1);
      const auto* p = static_cast<const unsigned char*>(view.buf);
      const auto n = static_cast<std::size_t>(view.itemsize > 0 ? view.len / view.itemsize : 0);
      bool taken = view.ndim == 1 && f.size() == 1 && std::string_view("bBhHiIlLqQ").find(f[0]) != std::string_view::npos;
      if (taken) {
        out.assign(n, 0);
        const auto w = static_cast<std::size_t>(view.itemsize);
        for (std::size_t i = 0; i < n; ++i) {
          unsigned char any = 0;
          for (std::size_t b = 0; b < w; ++b) any |= p[i * w + b];  // non-zero in any byte
          out[i] = any != 0 ? 1 : 0;
        }
      }
      PyBuffer_Release(&view);
      if (taken) return true;
    } else {
      PyErr_Clear();
    }
  }
  return as_facies(o, out);
}

struct PorArgs {
  Flags facies;
  double depth_step, sand_mean, sand_std, shale_mean, shale_std, corr_length_m;
  std::uint64_t seed;
};
using PoA = PorArgs;

constexpr Param<PoA> kPorParams[] = {
    {"facies", arg<&PoA::facies, as_facies_fast>},
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
    .doc = "quarntools.synth_por_with_facies with a Vector out.",
    .call = [](PoA& a) -> Outcome {
      return done(quarn::synth::synth_por_with_facies(a.facies, a.depth_step, a.sand_mean, a.sand_std, a.shale_mean,
                                                      a.shale_std, a.corr_length_m, a.seed),
                  vec);
    },
    .nogil = true,
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

PyObject* py_curves(quarn::synth::PetroCurves& c) {
  Ref d(PyDict_New());
  if (!d) return nullptr;
  Ref phie(py_vector(c.phie));
  if (!phie || PyDict_SetItemString(d.get(), "phie", phie.get()) < 0) return nullptr;
  Ref flag(py_int_vector(c.net_flag));
  if (!flag || PyDict_SetItemString(d.get(), "net_flag", flag.get()) < 0) return nullptr;
  return d.release();
}

const FunctionDef<PeA> kSynthPetroCurves{
    .name = "synth_petro_curves",
    .owner = nullptr,
    .params = kPetroParams,
    .doc = "quarntools.synth_petro_curves with Vectors out ('phie' float64, 'net_flag' int64).",
    .call = [](PeA& a) -> Outcome {
      return done(quarn::synth::synth_petro_curves(*a.zone, a.depth_step, a.n_samples, a.seed), py_curves);
    },
    .nogil = true,
};

struct NtgArgs {
  Floats net_flag;
  double depth_step, window_m;
};

constexpr Param<NtgArgs> kNtgParams[] = {{"net_flag", arg<&NtgArgs::net_flag, as_floats>},
                                         {"depth_step", arg<&NtgArgs::depth_step, as_float>},
                                         {"window_m", arg<&NtgArgs::window_m, as_float>}};

const FunctionDef<NtgArgs> kNtgCurve{
    .name = "ntg_curve",
    .owner = nullptr,
    .params = kNtgParams,
    .doc = "quarntools.ntg_curve with a Vector out.",
    .call = [](NtgArgs& a) -> Outcome {
      return done(quarn::synth::ntg_curve(a.net_flag, a.depth_step, a.window_m), vec);
    },
};

const Export kExports[] = {
    function_export<kEvaluateFormula>(),  function_export<kInterp1d>(),          function_export<kAggregate>(),
    function_export<kSampleN>(),          function_export<kSampleNSeeded>(),     function_export<kSynthLogSeries>(),
    function_export<kSynthFaciesSeries>(), function_export<kSynthPorWithFacies>(), function_export<kSynthPetroCurves>(),
    function_export<kNtgCurve>(),
};

}  // namespace

std::span<const Export> vector_exports() { return kExports; }

}  // namespace qpy::arrays
