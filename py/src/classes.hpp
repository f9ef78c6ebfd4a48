// py/src/classes.hpp: heap-type classes holding one core value each, declared as data.
#pragma once
#include "binder.hpp"

#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "convert.hpp"

namespace qpy {

struct GetterDef {
  const char* name;
  PyObject* (*get)(PyObject* self);
  const char* doc = nullptr;
};

struct ClassDef {
  const char* name;               ///< "Lattice"
  const char* doc;                ///< the description
  /// `constructor<kNew>()`; without one, calling the class raises TypeError. The
  /// class docstring then opens with the constructor's text signature.
  CtorDef ctor;
  PyMethodDef* methods;           ///< null-terminated, or null
  std::span<const GetterDef> getters;
  PyObject* (*repr)(PyObject* self);
};

/// Specialised once per wrapped core type, next to its binding table.
template <class T>
struct ClassOf;  // { static const ClassDef& def(); }

template <class T>
struct Instance {
  PyObject_HEAD
  T value;
};

namespace detail {
PyTypeObject* create_type(const ClassDef& def, Py_ssize_t basicsize, destructor dealloc, newfunc tp_new);
PyObject* string_repr(const std::string& s);

template <class T>
void dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  reinterpret_cast<Instance<T>*>(self)->value.~T();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
  free_fn(self);
  Py_DECREF(tp);
}

template <class T>
PyObject* tp_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return ClassOf<T>::def().ctor.call(args, kwargs);
}

template <class T>
PyTypeObject*& type_slot() {
  static PyTypeObject* type = nullptr;
  return type;
}
}  // namespace detail

/// The class's type object, created on first use and shared afterwards.
template <class T>
PyTypeObject* type_of() {
  PyTypeObject*& t = detail::type_slot<T>();
  if (!t) {
    const ClassDef& def = ClassOf<T>::def();
    t = detail::create_type(def, static_cast<Py_ssize_t>(sizeof(Instance<T>)), &detail::dealloc<T>,
                            def.ctor.call ? &detail::tp_new<T> : nullptr);
  }
  return t;
}

/// A new instance holding `v`.
template <class T>
PyObject* wrap(T v) {
  PyTypeObject* tp = type_of<T>();
  if (!tp) return nullptr;
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(tp, Py_tp_alloc));
  PyObject* self = alloc(tp, 0);
  if (!self) return nullptr;
  new (&reinterpret_cast<Instance<T>*>(self)->value) T(std::move(v));
  return self;
}

/// Builder form of wrap, for value()/done().
template <class T>
PyObject* wrap_ref(T& v) {
  return wrap<T>(std::move(v));
}

template <class T>
T& unwrap(PyObject* self) {
  return reinterpret_cast<Instance<T>*>(self)->value;
}

template <class T>
bool is_instance(PyObject* o) {
  PyTypeObject* tp = type_of<T>();
  return tp && PyObject_TypeCheck(o, tp);
}

/// Class-instance converter: a copy of the instance's value.
template <class T>
bool as_instance(PyObject* o, T& out) {
  if (!is_instance<T>(o)) {
    if (!PyErr_Occurred()) not_an_instance(o, ClassOf<T>::def().name);
    return false;
  }
  out = unwrap<T>(o);
  return true;
}

/// Class-instance converter into an optional member, for core types without a default.
template <class T>
bool as_held(PyObject* o, std::optional<T>& out) {
  if (!is_instance<T>(o)) {
    if (!PyErr_Occurred()) not_an_instance(o, ClassOf<T>::def().name);
    return false;
  }
  out.emplace(unwrap<T>(o));
  return true;
}

/// Repr from the core value's repr() method.
template <class T>
PyObject* repr_of(PyObject* self) {
  try {
    return detail::string_repr(unwrap<T>(self).repr());
  } catch (...) {
    raise_from_cpp("repr");
    return nullptr;
  }
}

template <class T>
PyObject* make_class(PyObject*) {
  PyObject* t = reinterpret_cast<PyObject*>(type_of<T>());
  Py_XINCREF(t);
  return t;
}

/// Export of a class.
template <class T>
Export class_export(const char* name) {
  return {name, &make_class<T>};
}

}  // namespace qpy
