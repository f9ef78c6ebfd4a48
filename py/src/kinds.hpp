// py/src/kinds.hpp: converters, option tables and classes of parameter kinds that both
// extension modules (`_quarntools` and `_arrays`) read, defined in their area's file.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "classes.hpp"
#include "convert.hpp"
#include "formula/evaluate.hpp"
#include "interp/interp1d.hpp"
#include "options.hpp"
#include "sampling/aggregate.hpp"
#include "synth/log_series.hpp"
#include "synth/petro.hpp"

namespace qpy {

// formula.cpp
bool as_texts(PyObject* o, std::vector<std::string>& out);            ///< a sequence of str
bool as_properties(PyObject* o, quarn::formula::Properties& out);     ///< dict: name -> floats
bool as_params(PyObject* o, quarn::formula::Params& out);             ///< dict: name -> float

// interp.cpp, stats.cpp
extern const Option<quarn::interp::Method> kInterpMethod;
extern const Option<quarn::sampling::Correlation> kCorrelation;

// synth/logs.cpp
template <>
struct ClassOf<quarn::synth::ZoneSpec> {
  static const ClassDef& def();
};
template <>
struct ClassOf<quarn::synth::PetroZoneSpec> {
  static const ClassDef& def();
};
bool as_zones(PyObject* o, std::vector<quarn::synth::ZoneSpec>& out);  ///< a sequence of ZoneSpec
bool as_facies(PyObject* o, std::vector<std::uint8_t>& out);           ///< ints, non-zero = sand

// ---- argument structs and parameter rows that both modules declare alike --------------

struct InterpArgs {
  std::vector<double> x, y, query;
  std::string method_name;
  quarn::interp::Method method;  ///< from method_name, in the check (lock held)
  bool extrapolate;
};
inline constexpr Param<InterpArgs> kInterpParams[] = {
    {"x", arg<&InterpArgs::x, as_floats>},
    {"y", arg<&InterpArgs::y, as_floats>},
    {"query", arg<&InterpArgs::query, as_floats>},
    {"method", arg<&InterpArgs::method_name, as_name>, Default::str("linear")},
    {"extrapolate", arg<&InterpArgs::extrapolate, as_flag>, Default::flag(false)},
};
inline bool resolve_method(InterpArgs& a) { return parse_option(kInterpMethod, a.method_name, a.method); }

struct AggregateArgs {
  std::vector<std::vector<double>> segments;
  std::string correlation_name;
  quarn::sampling::Correlation correlation;  ///< from correlation_name, in the check
};
inline constexpr Param<AggregateArgs> kAggregateParams[] = {
    {"segments", arg<&AggregateArgs::segments, as_nested>},
    {"correlation", arg<&AggregateArgs::correlation_name, as_name>, Default::str("independent")},
};
// The name is resolved before any summing, so a bad name fails even with no segments.
inline bool resolve_correlation(AggregateArgs& a) {
  return parse_option(kCorrelation, a.correlation_name, a.correlation);
}

struct FormulaArgs {
  std::vector<std::string> assignments;
  quarn::formula::Properties properties;
  std::optional<quarn::formula::Params> params;
};
inline constexpr Param<FormulaArgs> kEvaluateParams[] = {
    {"assignments", arg<&FormulaArgs::assignments, as_texts>},
    {"properties", arg<&FormulaArgs::properties, as_properties>},
    {"params", arg<&FormulaArgs::params, as_params>, Default::none()},
};

struct ZonesArgs {
  std::vector<quarn::synth::ZoneSpec> zones;
  double depth_step;
  std::uint64_t transition_beds, seed;
};
inline constexpr Param<ZonesArgs> kLogSeriesParams[] = {
    {"zones", arg<&ZonesArgs::zones, as_zones>},
    {"depth_step", arg<&ZonesArgs::depth_step, as_float>},
    {"transition_beds", arg<&ZonesArgs::transition_beds, as_count>},
    {"seed", arg<&ZonesArgs::seed, as_count>},
};

struct FaciesArgs {
  std::uint64_t n;
  double depth_step, ntg_target, bed_scale_m;
  std::uint64_t seed;
};
inline constexpr Param<FaciesArgs> kFaciesParams[] = {
    {"n", arg<&FaciesArgs::n, as_count>},
    {"depth_step", arg<&FaciesArgs::depth_step, as_float>},
    {"ntg_target", arg<&FaciesArgs::ntg_target, as_float>},
    {"bed_scale_m", arg<&FaciesArgs::bed_scale_m, as_float>},
    {"seed", arg<&FaciesArgs::seed, as_count>},
};

struct PorArgs {
  std::vector<std::uint8_t> facies;
  double depth_step, sand_mean, sand_std, shale_mean, shale_std, corr_length_m;
  std::uint64_t seed;
};
inline constexpr Param<PorArgs> kPorParams[] = {
    {"facies", arg<&PorArgs::facies, as_facies>},
    {"depth_step", arg<&PorArgs::depth_step, as_float>},
    {"sand_mean", arg<&PorArgs::sand_mean, as_float>},
    {"sand_std", arg<&PorArgs::sand_std, as_float>},
    {"shale_mean", arg<&PorArgs::shale_mean, as_float>},
    {"shale_std", arg<&PorArgs::shale_std, as_float>},
    {"corr_length_m", arg<&PorArgs::corr_length_m, as_float>},
    {"seed", arg<&PorArgs::seed, as_count>},
};

struct PetroArgs {
  std::optional<quarn::synth::PetroZoneSpec> zone;
  double depth_step;
  std::uint64_t n_samples, seed;
};
inline constexpr Param<PetroArgs> kPetroParams[] = {
    {"zone", arg<&PetroArgs::zone, as_held<quarn::synth::PetroZoneSpec>>},
    {"depth_step", arg<&PetroArgs::depth_step, as_float>},
    {"n_samples", arg<&PetroArgs::n_samples, as_count>},
    {"seed", arg<&PetroArgs::seed, as_count>},
};

struct NtgArgs {
  std::vector<double> net_flag;
  double depth_step, window_m;
};
inline constexpr Param<NtgArgs> kNtgParams[] = {{"net_flag", arg<&NtgArgs::net_flag, as_floats>},
                                                {"depth_step", arg<&NtgArgs::depth_step, as_float>},
                                                {"window_m", arg<&NtgArgs::window_m, as_float>}};

}  // namespace qpy
