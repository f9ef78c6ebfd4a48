// py/src/lattice.hpp: the Lattice and Georef classes, for other binding files.
#pragma once
#include "classes.hpp"
#include "georef.hpp"
#include "lattice.hpp"

namespace qpy {

template <>
struct ClassOf<quarn::Lattice> {
  static const ClassDef& def();
};
template <>
struct ClassOf<quarn::Georef> {
  static const ClassDef& def();
};

/// Converter of a `Lattice` parameter (a copy).
inline bool as_lattice(PyObject* o, quarn::Lattice& out) { return as_instance<quarn::Lattice>(o, out); }

}  // namespace qpy
