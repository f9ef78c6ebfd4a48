// py/src/kinds.hpp: converters, option tables and classes of parameter kinds that both
// extension modules (`_quarntools` and `_arrays`) read, defined in their area's file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "classes.hpp"
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

}  // namespace qpy
