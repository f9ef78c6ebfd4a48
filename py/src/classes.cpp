#include "classes.hpp"

#include <vector>

namespace qpy {
namespace detail {
namespace {

PyObject* getter_trampoline(PyObject* self, void* closure) {
  try {
    return static_cast<const GetterDef*>(closure)->get(self);
  } catch (...) {
    raise_from_cpp("getter");
    return nullptr;
  }
}

}  // namespace

PyObject* string_repr(const std::string& s) { return py_str(s); }

PyTypeObject* create_type(const ClassDef& def, Py_ssize_t basicsize, destructor dealloc, newfunc tp_new) {
  // The type lives for the rest of the process, and so do its getset table, name and doc.
  auto* getset = new PyGetSetDef[def.getters.size() + 1]();
  for (std::size_t i = 0; i < def.getters.size(); ++i) {
    const GetterDef& g = def.getters[i];
    getset[i] = PyGetSetDef{g.name, &getter_trampoline, nullptr, g.doc,
                            const_cast<void*>(static_cast<const void*>(&g))};
  }
  auto* qualname = new std::string(std::string("quarntools._quarntools.") + def.name);
  auto* doc = new std::string(def.ctor.signature ? def.ctor.signature(def.name) + "\n--\n\n" + def.doc : def.doc);

  std::vector<PyType_Slot> slots;
  slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(dealloc)});
  slots.push_back({Py_tp_doc, const_cast<char*>(doc->c_str())});
  slots.push_back({Py_tp_getset, getset});
  if (def.methods) slots.push_back({Py_tp_methods, def.methods});
  if (def.repr) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(def.repr)});
  if (tp_new) slots.push_back({Py_tp_new, reinterpret_cast<void*>(tp_new)});
  slots.push_back({0, nullptr});

  unsigned int flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
  if (!tp_new) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
  PyType_Spec spec{qualname->c_str(), static_cast<int>(basicsize), 0, flags, slots.data()};
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}

}  // namespace detail
}  // namespace qpy
