// py/src/stats.cpp: bindings of the descriptive and weighted statistics, the
// reservoir summary and realization aggregation.
#include <string>
#include <vector>

#include "areas.hpp"
#include "classes.hpp"
#include "sampling/aggregate.hpp"
#include "stats/descriptive.hpp"
#include "stats/weighted.hpp"
#include "kinds.hpp"
#include "options.hpp"

namespace qpy {

template <>
struct ClassOf<quarn::sampling::ReservoirSummary> {
  static const ClassDef& def();
};

namespace {

using quarn::sampling::Correlation;
using quarn::sampling::ReservoirSummary;
using Floats = std::vector<double>;

// ---- descriptive ------------------------------------------------------------

struct DataArgs {
  Floats data;
  double p;
};

constexpr Param<DataArgs> kData[] = {{"data", arg<&DataArgs::data, as_floats>}};
constexpr Param<DataArgs> kDataP[] = {{"data", arg<&DataArgs::data, as_floats>}, {"p", arg<&DataArgs::p, as_float>}};

/// A statistic of one sample.
template <quarn::Result<double> (*F)(std::span<const double>)>
Outcome of_data(DataArgs& a) {
  return done(F(a.data), py_float);
}

const FunctionDef<DataArgs> kMean{
    .name = "mean",
    .owner = nullptr,
    .params = kData,
    .doc = "Arithmetic mean of `data`. Errors on empty input.",
    .call = of_data<quarn::stats::mean>,
};

const FunctionDef<DataArgs> kVariance{
    .name = "variance",
    .owner = nullptr,
    .params = kData,
    .doc = "Unbiased sample variance (`n \u2212 1` denominator). A single value yields `0.0`.",
    .call = of_data<quarn::stats::variance>,
};

const FunctionDef<DataArgs> kStd{
    .name = "std",
    .owner = nullptr,
    .params = kData,
    .doc = "Unbiased sample standard deviation (`\u221avariance`).",
    .call = of_data<quarn::stats::std_dev>,
};

const FunctionDef<DataArgs> kPercentile{
    .name = "percentile",
    .owner = nullptr,
    .params = kDataP,
    .doc = "The `p`-th percentile (`p` in `[0, 100]`), type-7 (Excel `PERCENTILE`\n"
           "parity): `percentile([1, 2, 3, 4, 5], 25) == 2.0`.",
    .call = [](DataArgs& a) -> Outcome { return done(quarn::stats::percentile(a.data, a.p), py_float); },
};

const FunctionDef<DataArgs> kMedian{
    .name = "median",
    .owner = nullptr,
    .params = kData,
    .doc = "The median (50th percentile) of `data`.",
    .call = of_data<quarn::stats::median>,
};

// ---- weighted -----------------------------------------------------------------

struct WeightedArgs {
  Floats values, weights;
  double p;
};
using WA = WeightedArgs;

constexpr Param<WA> kValuesWeights[] = {{"values", arg<&WA::values, as_floats>},
                                        {"weights", arg<&WA::weights, as_floats>}};
constexpr Param<WA> kValuesWeightsP[] = {
    {"values", arg<&WA::values, as_floats>}, {"weights", arg<&WA::weights, as_floats>}, {"p", arg<&WA::p, as_float>}};

/// A statistic of a weighted sample.
template <quarn::Result<double> (*F)(std::span<const double>, std::span<const double>)>
Outcome of_weighted(WA& a) {
  return done(F(a.values, a.weights), py_float);
}

const FunctionDef<WA> kWeightedMean{
    .name = "weighted_mean",
    .owner = nullptr,
    .params = kValuesWeights,
    .doc = "Weighted arithmetic mean of `values` under `weights` (equal length,\n"
           "non-negative weights summing > 0).",
    .call = of_weighted<quarn::stats::weighted_mean>,
};

const FunctionDef<WA> kWeightedVariance{
    .name = "weighted_variance",
    .owner = nullptr,
    .params = kValuesWeights,
    .doc = "Weighted (reliability-weighted, unbiased) sample variance.",
    .call = of_weighted<quarn::stats::weighted_variance>,
};

const FunctionDef<WA> kWeightedStd{
    .name = "weighted_std",
    .owner = nullptr,
    .params = kValuesWeights,
    .doc = "Weighted sample standard deviation (`\u221aweighted_variance`).",
    .call = of_weighted<quarn::stats::weighted_std>,
};

const FunctionDef<WA> kWeightedPercentile{
    .name = "weighted_percentile",
    .owner = nullptr,
    .params = kValuesWeightsP,
    .doc = "The `p`-th weighted percentile (`p` in `[0, 100]`). Sorted ascending, each value\n"
           "sits at the middle of its own weight interval on the [0, 1] scale; between those\n"
           "positions the result is linear, below the first it is the minimum and above the\n"
           "last the maximum. Equal weights interpolate between the midpoints (k + 0.5) / n.",
    .call = [](WA& a) -> Outcome {
      return done(quarn::stats::weighted_percentile(a.values, a.weights, a.p), py_float);
    },
};

// ---- reservoir summary ------------------------------------------------------------

template <double ReservoirSummary::*Field>
PyObject* summary_field(PyObject* self) {
  return py_float(unwrap<ReservoirSummary>(self).*Field);
}

const GetterDef kSummaryGetters[] = {
    {"p90", summary_field<&ReservoirSummary::p90>, "Low case: the statistical 10th percentile."},
    {"p50", summary_field<&ReservoirSummary::p50>, "Mid case: the median."},
    {"p10", summary_field<&ReservoirSummary::p10>, "High case: the statistical 90th percentile."},
    {"mean", summary_field<&ReservoirSummary::mean>, "Arithmetic mean of the realizations."},
};

PyObject* summary_dict(const ReservoirSummary& s) {
  Ref d(PyDict_New());
  if (!d) return nullptr;
  const std::pair<const char*, double> items[] = {{"p90", s.p90}, {"p50", s.p50}, {"p10", s.p10}, {"mean", s.mean}};
  for (const auto& [key, v] : items) {
    Ref f(PyFloat_FromDouble(v));
    if (!f || PyDict_SetItemString(d.get(), key, f.get()) < 0) return nullptr;
  }
  return d.release();
}

struct SelfArgs {
  PyObject* self;
};

const FunctionDef<SelfArgs> kToDict{
    .name = "to_dict",
    .owner = "ReservoirSummary",
    .params = {},
    .doc = "A new dict with the keys 'p90', 'p50', 'p10' and 'mean', in that order.",
    .call = [](SelfArgs& a) -> Outcome { return value(unwrap<ReservoirSummary>(a.self), summary_dict); },
};

PyMethodDef kSummaryMethods[] = {method_entry<kToDict>(), {nullptr, nullptr, 0, nullptr}};

const ClassDef kSummaryClass{
    .name = "ReservoirSummary",
    .doc = "The P90 (low) / P50 (mid) / P10 (high) / mean digest of a realization set.\n\n"
           "Fields follow the **oil-industry exceedance convention** (P90 = low): `p90`\n"
           "is the value exceeded 90 % of the time (statistical 10th percentile), `p10`\n"
           "the high (statistical 90th), so `p90 <= p50 <= p10`. Percentiles are type-7\n"
           "(Excel `PERCENTILE` parity). Read-only getters plus a `to_dict()`.",
    .ctor = {},
    .methods = kSummaryMethods,
    .getters = kSummaryGetters,
    .repr = repr_of<ReservoirSummary>,
};

const FunctionDef<DataArgs> kReservoirSummary{
    .name = "reservoir_summary",
    .owner = nullptr,
    .params = kData,
    .doc = "Summarise `data` (one realization per element) into a [`ReservoirSummary`]\n"
           "under the oil-industry P90 = low convention. Errors on empty input.",
    .call = [](DataArgs& a) -> Outcome {
      return done(quarn::sampling::reservoir_summary(a.data), wrap_ref<ReservoirSummary>);
    },
};

// ---- aggregation ----------------------------------------------------------------

constexpr OptionName<Correlation> kCorrelationNames[] = {
    {"independent", Correlation::Independent},
    {"indep", Correlation::Independent},
    {"comonotonic", Correlation::Comonotonic},
    {"comono", Correlation::Comonotonic},
};

}  // namespace

const Option<Correlation> kCorrelation{kCorrelationNames, true, [](const std::string& key) {
  return "unknown correlation '" + key + "' (expected 'independent' or 'comonotonic')";
}};

namespace {

struct AggregateArgs {
  Nested segments;
  std::string correlation_name;
  Correlation correlation;  ///< from correlation_name, in the check
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
    .doc = "Sum per-segment realization vectors index by index into a field total.\n\n"
           "`segments` holds one list of realizations per segment; the result is as long\n"
           "as the shortest segment (later values are ignored), and `[]` when there are no\n"
           "segments or one is empty. `correlation` is the dependence assumption, matched\n"
           "after trimming white space and ignoring case: 'independent' (or 'indep') adds\n"
           "the i-th realization of every segment; 'comonotonic' (or 'comono') first sorts\n"
           "each segment's leading values ascending, so low adds to low and high to high.\n"
           "Values are not validated: NaN and infinities are summed like any value.",
    .call = [](AgA& a) -> Outcome { return value(quarn::sampling::aggregate(a.segments, a.correlation), py_floats); },
    // The name is resolved before any summing, so a bad name fails even with no segments.
    .check = [](AgA& a) { return parse_option(kCorrelation, a.correlation_name, a.correlation); },
};

const Export kExports[] = {
    function_export<kMean>(),
    function_export<kVariance>(),
    function_export<kStd>(),
    function_export<kPercentile>(),
    function_export<kMedian>(),
    function_export<kWeightedMean>(),
    function_export<kWeightedVariance>(),
    function_export<kWeightedStd>(),
    function_export<kWeightedPercentile>(),
    class_export<ReservoirSummary>("ReservoirSummary"),
    function_export<kReservoirSummary>(),
    function_export<kAggregate>(),
};

}  // namespace

const ClassDef& ClassOf<quarn::sampling::ReservoirSummary>::def() { return kSummaryClass; }

std::span<const Export> stats_exports() { return kExports; }

}  // namespace qpy
