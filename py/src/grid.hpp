// py/src/grid.hpp: field crossings, nested lists field[col][row] and flat
// little-endian f64 buffers in (ncol, nrow) row-major order.
#pragma once
#include "binder.hpp"

#include <cstdint>
#include <vector>

#include "field.hpp"

namespace qpy {

/// A `bytes` argument held until the shape check copies it into a Field.
struct FlatBytes {
  Ref obj;
};

/// Nested lists to a Field of the expected shape. On a ragged or wrongly sized
/// input sets ValueError `message` and returns false.
bool nested_to_field(const std::vector<std::vector<double>>& rows, std::uint64_t ncol, std::uint64_t nrow,
                     quarn::Field& out, const char* message);

/// "field must be a rectangular {ncol}x{nrow} nested list (field[col][row])"
bool nested_field_check(Bound& b, std::size_t field, std::uint64_t ncol, std::uint64_t nrow);

/// Flat bytes to a Field: the overflow and exact-length rules, then one copy.
bool flat_to_field(const FlatBytes& bytes, std::uint64_t ncol, std::uint64_t nrow, quarn::Field& out);

/// Replaces slot `field` (FlatBytes) by the Field it holds.
bool flat_field_check(Bound& b, std::size_t field, std::uint64_t ncol, std::uint64_t nrow);

/// A list of ncol lists of nrow floats.
PyObject* py_field_nested(const quarn::Field& f);
/// (bytes, (ncol, nrow)).
PyObject* py_field_flat(const quarn::Field& f);
/// One new bytes object holding the field's values, little-endian.
PyObject* py_field_bytes(const quarn::Field& f);
/// (ncol, nrow).
PyObject* py_shape(const quarn::Field& f);

}  // namespace qpy
