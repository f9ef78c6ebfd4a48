// py/src/geostat.hpp: the variogram classes, for other binding files (simulation and
// surface generators take variograms).
#pragma once
#include "classes.hpp"
#include "geostat/variogram.hpp"

namespace qpy {

template <>
struct ClassOf<quarn::geostat::Variogram> {
  static const ClassDef& def();
};
template <>
struct ClassOf<quarn::geostat::AnisotropicVariogram> {
  static const ClassDef& def();
};

/// Converter of a parameter that takes only a `Variogram` (slot: quarn::geostat::Variogram).
/// Anything else: TypeError "'<type>' object is not an instance of 'Variogram'".
inline bool to_variogram(PyObject* o, Slot& out) { return to_instance<quarn::geostat::Variogram>(o, out); }

/// Either class to a VariogramSpec, trying Variogram first, then AnisotropicVariogram
/// (slot: quarn::geostat::VariogramSpec, a copy). Anything else sets ValueError
/// "expected Variogram or AnisotropicVariogram" (no kind prefix) and returns false.
/// Used as a converter, the binder attaches the "while processing" note and the error
/// takes the parameter's place in conversion order.
bool to_variogram_spec(PyObject* o, Slot& out);

/// Keeps the argument object itself (slot: a Ref), for a parameter resolved later by
/// variogram_spec_check: the variogram type then fails after every conversion has run.
bool to_any_object(PyObject* o, Slot& out);

/// For a `.check`: replaces slot `idx` (a Ref from to_any_object) by the VariogramSpec,
/// or sets the ValueError of to_variogram_spec (no note) and returns false.
bool variogram_spec_check(Bound& b, std::size_t idx);

}  // namespace qpy
