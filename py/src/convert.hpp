// py/src/convert.hpp: one converter per parameter kind. Each copies the Python value
// into an owned core value, or sets the interpreter's exception and returns false.
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

// Typed forms, usable inside custom converters.
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

// Converters (Slot holds: double, uint64_t, bool, std::string, vector<double>,
// vector<int64_t>, Pair, vector<Pair>, vector<Row3>, Nested, FlatBytes).
bool to_float(PyObject* o, Slot& out);
bool to_count(PyObject* o, Slot& out);
bool to_flag(PyObject* o, Slot& out);
bool to_name(PyObject* o, Slot& out);
bool to_floats(PyObject* o, Slot& out);
bool to_ints(PyObject* o, Slot& out);
bool to_point(PyObject* o, Slot& out);
bool to_points(PyObject* o, Slot& out);
bool to_rows(PyObject* o, Slot& out);
bool to_nested(PyObject* o, Slot& out);
bool to_flat(PyObject* o, Slot& out);

}  // namespace qpy
