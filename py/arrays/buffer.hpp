// py/arrays/buffer.hpp: the one result object of `_arrays`: a flat vector owned by a
// Python object and lent through the buffer protocol (writable, one dimension), so
// `numpy.frombuffer` wraps it without a copy and without one object per value.
#pragma once
#include "pyref.hpp"

#include <cstdint>
#include <vector>

namespace qpy::arrays {

/// The Vector type; created by the module's exec step before any result is built.
bool init_vector_type(PyObject* module);

/// A new Vector holding `v` (moved in): format "d" (float64).
PyObject* py_vector(std::vector<double>& v);
/// A new Vector of int64 ("q") with the values of `v`.
PyObject* py_int_vector(const std::vector<std::uint8_t>& v);

}  // namespace qpy::arrays
