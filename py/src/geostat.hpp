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

/// Converter of a parameter that takes only a `Variogram` (a copy). Anything else:
/// TypeError "'<type>' object is not an instance of 'Variogram'".
inline bool as_variogram(PyObject* o, quarn::geostat::Variogram& out) {
  return as_instance<quarn::geostat::Variogram>(o, out);
}

/// Either class to a VariogramSpec (a copy), trying Variogram first, then
/// AnisotropicVariogram. Anything else sets ValueError "expected Variogram or
/// AnisotropicVariogram" (no kind prefix) and returns false. Simulation keeps the
/// object (as_object) and resolves it in its check, so a wrong type fails after every
/// conversion has run, without a "while processing" note.
bool as_variogram_spec(PyObject* o, quarn::geostat::VariogramSpec& out);

}  // namespace qpy
