// py/src/convert.hpp: one converter per parameter kind. Each copies the Python value
// into an owned core value of its type, or sets the interpreter's exception and
// returns false.
#pragma once
#include "binder.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qpy {

using Pair = std::pair<double, double>;
using Row3 = std::array<double, 3>;
using Nested = std::vector<std::vector<double>>;

// One converter per parameter kind: `arg<&Args::member, as_kind>` in a row.
bool as_float(PyObject* o, double& out);          ///< via __float__ (and __index__)
bool as_count(PyObject* o, std::uint64_t& out);   ///< via __index__; OverflowError outside [0, 2^64-1]
bool as_int(PyObject* o, std::int64_t& out);      ///< via __index__
bool as_flag(PyObject* o, bool& out);             ///< True/False or a NumPy boolean, never an int
bool as_name(PyObject* o, std::string& out);      ///< str only
bool as_floats(PyObject* o, std::vector<double>& out);
bool as_ints(PyObject* o, std::vector<std::int64_t>& out);
bool as_pair(PyObject* o, Pair& out);
bool as_row(PyObject* o, Row3& out);
bool as_pairs(PyObject* o, std::vector<Pair>& out);
bool as_rows(PyObject* o, std::vector<Row3>& out);
bool as_nested(PyObject* o, Nested& out);

/// Sets the TypeError "'<type>' object is not an instance of '<what>'"
/// ("'None' is not an instance of '<what>'" for None).
void not_an_instance(PyObject* o, const char* what);

/// Refuses str for list-like parameters, then requires the sequence protocol.
bool require_sequence(PyObject* o);

/// A parameter whose object is kept as it is (a new reference), for a check to resolve.
bool as_object(PyObject* o, Ref& out);

}  // namespace qpy
