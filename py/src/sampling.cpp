// py/src/sampling.cpp: bindings of Rng, Sampler and Clamped.
#include "sampling.hpp"

#include "areas.hpp"

namespace qpy {

using quarn::sampling::Clamped;
using quarn::sampling::Sampler;

bool as_rng(PyObject* o, RngArg& out) {
  if (!is_instance<RngState>(o)) {
    if (!PyErr_Occurred()) not_an_instance(o, "Rng");
    return false;
  }
  out.obj = Ref::borrow(o);
  return true;
}

RngBorrow::RngBorrow(const RngArg& arg) {
  RngState& s = unwrap<RngState>(arg.obj.get());
  if (s.borrowed) {
    PyErr_SetString(PyExc_RuntimeError, "Rng: already borrowed by a running call");
    return;
  }
  s.borrowed = true;
  state_ = &s;
}

RngBorrow::~RngBorrow() {
  if (state_) state_->borrowed = false;
}

namespace {

// ---- Rng --------------------------------------------------------------------

struct SeedArgs {
  std::uint64_t seed;
};

constexpr Param<SeedArgs> kRngParams[] = {{"seed", arg<&SeedArgs::seed, as_count>}};

const FunctionDef<SeedArgs> kRngNew{
    .name = "__new__",
    .owner = "Rng",
    .params = kRngParams,
    .doc = nullptr,
    .call = [](SeedArgs& a) -> Outcome {
      return value(RngState{quarn::sampling::seeded_rng(a.seed)}, wrap_ref<RngState>);
    },
};

const ClassDef kRngClass{
    .name = "Rng",
    .doc = "A seeded random stream (ChaCha12) carried across sampler calls. Each\n"
           "`sample`/`sample_n` call advances it, so one instance threaded through\n"
           "successive calls gives one continuous, reproducible stream.",
    .ctor = constructor<kRngNew>(),
    .methods = nullptr,
    .getters = {},
    .repr = [](PyObject*) { return PyUnicode_FromString("Rng(<seeded stream>)"); },
};

// ---- draws shared by Sampler and Clamped ------------------------------------

struct DrawArgs {
  PyObject* self;
  std::uint64_t n, seed;
  RngArg rng;
};
using DA = DrawArgs;

constexpr Param<DA> kSampleParams[] = {{"rng", arg<&DA::rng, as_rng>}};
constexpr Param<DA> kSampleNParams[] = {{"n", arg<&DA::n, as_count>}, {"rng", arg<&DA::rng, as_rng>}};
constexpr Param<DA> kSampleNSeededParams[] = {{"n", arg<&DA::n, as_count>}, {"seed", arg<&DA::seed, as_count>}};

template <class T>
Outcome sample_one(DA& a) {
  RngBorrow rng(a.rng);
  if (!rng.ok()) return Outcome::python_error();
  return done(unwrap<T>(a.self).sample(rng.stream()), py_float);
}

template <class T>
Outcome sample_many(DA& a) {
  RngBorrow rng(a.rng);
  if (!rng.ok()) return Outcome::python_error();
  return done(unwrap<T>(a.self).sample_n(a.n, rng.stream()), py_floats);
}

template <class T>
Outcome sample_many_seeded(DA& a) {
  quarn::sampling::Stream s = quarn::sampling::seeded_rng(a.seed);
  return done(unwrap<T>(a.self).sample_n(a.n, s), py_floats);
}

// ---- Sampler ----------------------------------------------------------------

/// The numbers of a distribution, in parameter order (and the instance for `clamped`).
struct ShapeArgs {
  PyObject* self;
  double a, b, c, d;
};
using SA = ShapeArgs;

constexpr Param<SA> kTwoParams[] = {{"lo", arg<&SA::a, as_float>}, {"hi", arg<&SA::b, as_float>}};
constexpr Param<SA> kMeanSdParams[] = {{"mean", arg<&SA::a, as_float>}, {"std_dev", arg<&SA::b, as_float>}};
constexpr Param<SA> kTriParams[] = {
    {"min", arg<&SA::a, as_float>}, {"mode", arg<&SA::b, as_float>}, {"max", arg<&SA::c, as_float>}};
constexpr Param<SA> kTruncParams[] = {{"mean", arg<&SA::a, as_float>}, {"std_dev", arg<&SA::b, as_float>},
                                      {"lo", arg<&SA::c, as_float>},   {"hi", arg<&SA::d, as_float>}};

const FunctionDef<SA> kUniform{
    .name = "uniform",
    .owner = "Sampler",
    .params = kTwoParams,
    .doc = "Uniform on [lo, hi); needs finite lo < hi.",
    .call = [](SA& a) -> Outcome {
      return done(Sampler::uniform(a.a, a.b), wrap_ref<Sampler>);
    },
};

const FunctionDef<SA> kNormal{
    .name = "normal",
    .owner = "Sampler",
    .params = kMeanSdParams,
    .doc = "Normal(mean, std_dev); needs finite mean and std_dev > 0.",
    .call = [](SA& a) -> Outcome {
      return done(Sampler::normal(a.a, a.b), wrap_ref<Sampler>);
    },
};

const FunctionDef<SA> kLogNormal{
    .name = "lognormal",
    .owner = "Sampler",
    .params = kMeanSdParams,
    .doc = "Log-normal: ln(x) ~ Normal(mean, std_dev) (log-space parameters); draws are\n"
           "strictly positive.",
    .call = [](SA& a) -> Outcome {
      return done(Sampler::lognormal(a.a, a.b), wrap_ref<Sampler>);
    },
};

const FunctionDef<SA> kTriangular{
    .name = "triangular",
    .owner = "Sampler",
    .params = kTriParams,
    .doc = "Triangular on [min, max] peaking at mode; needs min < max and min <= mode <= max.",
    .call = [](SA& a) -> Outcome {
      return done(Sampler::triangular(a.a, a.b, a.c), wrap_ref<Sampler>);
    },
};

const FunctionDef<SA> kTruncatedNormal{
    .name = "truncated_normal",
    .owner = "Sampler",
    .params = kTruncParams,
    .doc = "Normal(mean, std_dev) truncated to [lo, hi], density renormalised (no mass\n"
           "piles up at the bounds; compare `clamped`).",
    .call = [](SA& a) -> Outcome {
      return done(Sampler::truncated_normal(a.a, a.b, a.c, a.d),
                  wrap_ref<Sampler>);
    },
};

const FunctionDef<SA> kClampedOf{
    .name = "clamped",
    .owner = "Sampler",
    .params = kTwoParams,
    .doc = "A `Clamped` around a copy of this sampler: out-of-range draws snap to the\n"
           "nearest bound (mass piles up at lo and hi; compare `truncated_normal`).",
    .call = [](SA& a) -> Outcome {
      return done(unwrap<Sampler>(a.self).clamped(a.a, a.b), wrap_ref<Clamped>);
    },
};

const FunctionDef<DA> kSamplerSample{
    .name = "sample",
    .owner = "Sampler",
    .params = kSampleParams,
    .doc = "One draw, advancing `rng`.",
    .call = sample_one<Sampler>,
};

const FunctionDef<DA> kSamplerSampleN{
    .name = "sample_n",
    .owner = "Sampler",
    .params = kSampleNParams,
    .doc = "A list of `n` draws, advancing `rng`.",
    .call = sample_many<Sampler>,
};

const FunctionDef<DA> kSamplerSampleNSeeded{
    .name = "sample_n_seeded",
    .owner = "Sampler",
    .params = kSampleNSeededParams,
    .doc = "A list of `n` draws from a fresh `Rng(seed)`.",
    .call = sample_many_seeded<Sampler>,
};

PyMethodDef kSamplerMethods[] = {
    method_entry<kUniform>(METH_STATIC),
    method_entry<kNormal>(METH_STATIC),
    method_entry<kLogNormal>(METH_STATIC),
    method_entry<kTriangular>(METH_STATIC),
    method_entry<kTruncatedNormal>(METH_STATIC),
    method_entry<kClampedOf>(),
    method_entry<kSamplerSample>(),
    method_entry<kSamplerSampleN>(),
    method_entry<kSamplerSampleNSeeded>(),
    {nullptr, nullptr, 0, nullptr},
};

const ClassDef kSamplerClass{
    .name = "Sampler",
    .doc = "A validated univariate distribution drawn from an explicit `Rng`. Built by the\n"
           "static constructors `uniform`, `normal`, `lognormal`, `triangular` and\n"
           "`truncated_normal`. Bounding: `truncated_normal` reshapes the density onto\n"
           "[lo, hi] (renormalised, no mass at the bounds), while `clamped(lo, hi)` snaps\n"
           "out-of-range draws to the nearest bound (mass piles up at lo and hi).",
    .ctor = {},
    .methods = kSamplerMethods,
    .getters = {},
    .repr = repr_of<Sampler>,
};

// ---- Clamped ----------------------------------------------------------------

const FunctionDef<DA> kClampedSample{
    .name = "sample",
    .owner = "Clamped",
    .params = kSampleParams,
    .doc = "One inner draw clamped into [lo, hi], advancing `rng`.",
    .call = sample_one<Clamped>,
};

const FunctionDef<DA> kClampedSampleN{
    .name = "sample_n",
    .owner = "Clamped",
    .params = kSampleNParams,
    .doc = "A list of `n` clamped draws, advancing `rng`.",
    .call = sample_many<Clamped>,
};

const FunctionDef<DA> kClampedSampleNSeeded{
    .name = "sample_n_seeded",
    .owner = "Clamped",
    .params = kSampleNSeededParams,
    .doc = "A list of `n` clamped draws from a fresh `Rng(seed)`.",
    .call = sample_many_seeded<Clamped>,
};

PyMethodDef kClampedMethods[] = {
    method_entry<kClampedSample>(),
    method_entry<kClampedSampleN>(),
    method_entry<kClampedSampleNSeeded>(),
    {nullptr, nullptr, 0, nullptr},
};

const ClassDef kClampedClass{
    .name = "Clamped",
    .doc = "A sampler whose draws are snapped into [lo, hi]; made by `Sampler.clamped`.",
    .ctor = {},
    .methods = kClampedMethods,
    .getters = {},
    .repr = repr_of<Clamped>,
};

const Export kExports[] = {
    class_export<RngState>("Rng"),
    class_export<Sampler>("Sampler"),
    class_export<Clamped>("Clamped"),
};

}  // namespace

const ClassDef& ClassOf<RngState>::def() { return kRngClass; }
const ClassDef& ClassOf<Sampler>::def() { return kSamplerClass; }
const ClassDef& ClassOf<Clamped>::def() { return kClampedClass; }

std::span<const Export> sampling_exports() { return kExports; }

}  // namespace qpy
