// py/src/grid.hpp: field crossings, nested lists field[col][row] and flat
// little-endian f64 buffers in (ncol, nrow) row-major order.
#pragma once
#include "convert.hpp"

#include <cstdint>
#include <string>

#include "field.hpp"
#include "lattice.hpp"

namespace qpy {

/// A `bytes` argument held until the shape check copies it into a Field.
struct FlatBytes {
  Ref obj;
};

/// Converter of a flat field parameter: `bytes` only.
bool as_flat(PyObject* o, FlatBytes& out);

/// Nested lists to a Field of ncol x nrow. On a ragged or wrongly sized input sets
/// ValueError `message` and returns false.
bool nested_to_field(const Nested& rows, std::uint64_t ncol, std::uint64_t nrow, quarn::Field& out,
                     const std::string& message);

/// nested_to_field against a lattice's shape, with the message
/// "field must be a rectangular {ncol}x{nrow} nested list (field[col][row])".
bool lattice_field(const Nested& rows, const quarn::Lattice& lattice, quarn::Field& out);

/// Flat bytes to a Field: the overflow and exact-length rules, then one copy.
bool flat_to_field(const FlatBytes& bytes, std::uint64_t ncol, std::uint64_t nrow, quarn::Field& out);

/// A list of ncol lists of nrow floats.
PyObject* py_field_nested(const quarn::Field& f);
/// (bytes, (ncol, nrow)).
PyObject* py_field_flat(const quarn::Field& f);
/// The field in a function's result form: nested lists, or (bytes, (ncol, nrow)).
PyObject* py_field(const quarn::Field& f, Form form);
/// A builder for done()/value() of a field result in `form`.
struct FieldBuilder {
  Form form;
  PyObject* operator()(const quarn::Field& f) const { return py_field(f, form); }
};
inline FieldBuilder field_builder(Form form) { return {form}; }
/// One new bytes object holding the field's values, little-endian.
PyObject* py_field_bytes(const quarn::Field& f);
/// (ncol, nrow).
PyObject* py_shape(const quarn::Field& f);

}  // namespace qpy
