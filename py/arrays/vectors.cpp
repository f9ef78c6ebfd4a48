// py/arrays/vectors.cpp: the functions of `_arrays`. Each takes the parameters of its
// `_quarntools` namesake through the same converters, runs the same core call and
// hands the result over as Vector buffers instead of lists of Python numbers.
#include "vectors.hpp"

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

using FoA = FormulaArgs;

const FunctionDef<FoA> kEvaluateFormula{
    .name = "evaluate_formula",
    .owner = nullptr,
    .params = kEvaluateParams,
    .doc = "quarntools.evaluate_formula with a dict of Vectors out (one per target).",
    .call = [](FoA& a) -> Outcome {
      const quarn::formula::Params none;
      return done(quarn::formula::evaluate_formula(a.assignments, a.properties, a.params ? *a.params : none),
                  [](quarn::formula::Outputs& o) { return vector_dict(o); });
    },
};

// ---- interpolation and aggregation ------------------------------------------------

using IA = InterpArgs;

const FunctionDef<IA> kInterp1d{
    .name = "interp1d",
    .owner = nullptr,
    .params = kInterpParams,
    .doc = "quarntools.interp1d with a Vector out.",
    .call = [](IA& a) -> Outcome {
      return done(quarn::interp::interp1d(a.x, a.y, a.query, a.method, a.extrapolate), vec);
    },
    .check = resolve_method,
    .nogil = true,
};

using AgA = AggregateArgs;

const FunctionDef<AgA> kAggregate{
    .name = "aggregate",
    .owner = nullptr,
    .params = kAggregateParams,
    .doc = "quarntools.aggregate with a Vector out.",
    .call = [](AgA& a) -> Outcome { return value(quarn::sampling::aggregate(a.segments, a.correlation), vec); },
    .check = resolve_correlation,
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

using ZA = ZonesArgs;

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

using FA = FaciesArgs;

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

using PoA = PorArgs;

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

using PeA = PetroArgs;

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
