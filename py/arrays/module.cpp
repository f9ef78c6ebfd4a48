// py/arrays/module.cpp: initialisation of `quarntools._arrays`, the array-returning
// companion of `_quarntools`, built from the same core and binding layer.
#include <cstring>

#include "buffer.hpp"
#include "kinds.hpp"
#include "sampling.hpp"
#include "vectors.hpp"

namespace qpy::arrays {
namespace {

// The classes are `_quarntools`'s own: arguments made there are accepted here. The
// layout check guards against a pair of modules from different builds.
template <class T>
bool adopt(PyObject* ext, const char* name) {
  Ref type(PyObject_GetAttrString(ext, name));
  if (!type) return false;
  Ref size(PyObject_GetAttrString(type.get(), "__basicsize__"));
  if (!size) return false;
  const Py_ssize_t basicsize = PyLong_AsSsize_t(size.get());
  if (basicsize == -1 && PyErr_Occurred()) return false;
  if (!PyType_Check(type.get()) || basicsize != static_cast<Py_ssize_t>(sizeof(Instance<T>))) {
    PyErr_Format(PyExc_ImportError, "quarntools._arrays: quarntools._quarntools.%s comes from another build", name);
    return false;
  }
  PyTypeObject*& slot = detail::type_slot<T>();
  if (!slot) slot = reinterpret_cast<PyTypeObject*>(type.release());  // held for the process
  return true;
}

int exec_module(PyObject* module) {
  try {
    Ref ext(PyImport_ImportModule("quarntools._quarntools"));
    if (!ext) return -1;
    if (!adopt<RngState>(ext.get(), "Rng") || !adopt<quarn::sampling::Sampler>(ext.get(), "Sampler") ||
        !adopt<quarn::sampling::Clamped>(ext.get(), "Clamped") ||
        !adopt<quarn::synth::ZoneSpec>(ext.get(), "ZoneSpec") ||
        !adopt<quarn::synth::PetroZoneSpec>(ext.get(), "PetroZoneSpec"))
      return -1;
    if (!init_vector_type(module)) return -1;
    for (const Export& e : vector_exports()) {
      Ref obj(e.make(module));
      if (!obj || PyModule_AddObjectRef(module, e.name, obj.get()) < 0) return -1;
    }
    return 0;
  } catch (...) {
    raise_from_cpp("_arrays");
    return -1;
  }
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "_arrays",
    "Array-returning counterparts of `quarntools._quarntools` functions whose results are\n"
    "long vectors: each result is a `Vector` lent through the buffer protocol; the public\n"
    "wrappers are in `quarntools.arrays`.",
    0,
    nullptr,
    kSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace qpy::arrays

PyMODINIT_FUNC PyInit__arrays() { return PyModuleDef_Init(&qpy::arrays::kModule); }
