#include "binder.hpp"

#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

namespace qpy {
namespace {

std::string full_name(const Signature& d) {
  std::string s;
  if (d.owner) {
    s += d.owner;
    s += '.';
  }
  s += d.name;
  s += "()";
  return s;
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": the interpreter's list wording.
std::string name_list(const std::vector<const char*>& names) {
  std::string s;
  const std::size_t n = names.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i != 0) {
      if (n > 2) s += ',';
      s += (i == n - 1) ? " and " : " ";
    }
    s += '\'';
    s += names[i];
    s += '\'';
  }
  return s;
}

void type_error(const std::string& msg) { set_error(PyExc_TypeError, msg); }

Ref default_object(const Default& d) {
  switch (d.tag) {
    case Default::Tag::Float: return Ref(PyFloat_FromDouble(d.f));
    case Default::Tag::Int: return Ref(PyLong_FromUnsignedLongLong(d.i));
    case Default::Tag::Bool: return Ref(PyBool_FromLong(d.i != 0));
    case Default::Tag::Text: return Ref(PyUnicode_FromString(d.text));
    default: return Ref();
  }
}

}  // namespace

void set_error(PyObject* type, const std::string& msg) {
  Ref text(PyUnicode_DecodeUTF8(msg.data(), static_cast<Py_ssize_t>(msg.size()), "replace"));
  if (text) PyErr_SetObject(type, text.get());
}

void raise_core_error(const quarn::CoreError& e) { set_error(PyExc_ValueError, e.display()); }

void add_processing_note(const char* param) {
  if (!PyErr_Occurred()) return;
  PyObject *type, *val, *tb;
  PyErr_Fetch(&type, &val, &tb);
  PyErr_NormalizeException(&type, &val, &tb);
  if (val) {
    if (tb) PyException_SetTraceback(val, tb);
    std::string note = std::string("while processing '") + param + "'";
    Ref r(PyObject_CallMethod(val, "add_note", "s", note.c_str()));
    if (!r) PyErr_Clear();
  }
  PyErr_Restore(type, val, tb);
}

void raise_from_cpp(const char* where) {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::length_error&) {  // a container asked for more than it can hold
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_Format(PyExc_SystemError, "%s: internal error: %s", where, e.what());
  } catch (...) {
    PyErr_Format(PyExc_SystemError, "%s: internal error", where);
  }
}

bool bind(const Signature& d, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          std::vector<PyObject*>& objs) {
  const std::size_t np = d.count;
  objs.assign(np, nullptr);
  if (static_cast<std::size_t>(nargs) > np) {
    std::size_t required = 0;
    for (std::size_t i = 0; i < np; ++i)
      if (d[i].def.tag == Default::Tag::Required) ++required;
    std::string msg = full_name(d);
    if (required != np)
      msg += " takes from " + std::to_string(required) + " to " + std::to_string(np);
    else
      msg += " takes " + std::to_string(np);
    msg += " positional arguments but " + std::to_string(nargs) + (nargs == 1 ? " was" : " were") + " given";
    type_error(msg);
    return false;
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) objs[static_cast<std::size_t>(i)] = args[i];
  if (kwnames) {
    const Py_ssize_t nkw = PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      PyObject* key = PyTuple_GetItem(kwnames, k);
      if (!PyUnicode_Check(key)) {
        type_error("keywords must be strings");
        return false;
      }
      std::size_t idx = np;
      for (std::size_t i = 0; i < np; ++i) {
        if (PyUnicode_CompareWithASCIIString(key, d[i].name) == 0) {
          idx = i;
          break;
        }
      }
      if (idx == np) {
        Ref text(PyObject_Str(key));
        if (!text) return false;
        Py_ssize_t len = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &len);
        if (!utf8) return false;
        type_error(full_name(d) + " got an unexpected keyword argument '" +
                   std::string(utf8, static_cast<std::size_t>(len)) + "'");
        return false;
      }
      if (objs[idx]) {
        type_error(full_name(d) + " got multiple values for argument '" + d[idx].name + "'");
        return false;
      }
      objs[idx] = args[nargs + k];
    }
  }
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < np; ++i)
    if (!objs[i] && d[i].def.tag == Default::Tag::Required) missing.push_back(d[i].name);
  if (!missing.empty()) {
    type_error(full_name(d) + " missing " + std::to_string(missing.size()) + " required positional " +
               (missing.size() == 1 ? "argument" : "arguments") + ": " + name_list(missing));
    return false;
  }
  return true;
}

PyObject* argument_or_default(PyObject* obj, const Default& def, Ref& hold) {
  if (obj && !(obj == Py_None && def.tag == Default::Tag::None)) return obj;
  if (def.tag == Default::Tag::None) return nullptr;  // absent
  hold = default_object(def);
  return hold.get();
}

PyObject* Outcome::finish() {
  switch (kind_) {
    case Kind::Ok: return value_->build();
    case Kind::Core: raise_core_error(error_); return nullptr;
    case Kind::Plain: set_error(PyExc_ValueError, error_.message); return nullptr;
    case Kind::Raised: return nullptr;
  }
  return nullptr;
}

PyObject* flatten_call(PyObject* args, PyObject* kwargs, const char* name,
                       PyObject* (*then)(PyObject* const*, Py_ssize_t, PyObject*, const void*), const void* ctx) {
  try {  // the argument copy itself can fail for a huge *args
    const Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
    std::vector<PyObject*> flat;
    Ref kwnames;
    const Py_ssize_t nkw = kwargs ? PyDict_Size(kwargs) : 0;
    flat.reserve(static_cast<std::size_t>(nargs + nkw));
    for (Py_ssize_t i = 0; i < nargs; ++i) flat.push_back(PyTuple_GetItem(args, i));
    if (nkw > 0) {
      kwnames = Ref(PyTuple_New(nkw));
      if (!kwnames) return nullptr;
      Py_ssize_t pos = 0, k = 0;
      PyObject *key, *val;
      while (PyDict_Next(kwargs, &pos, &key, &val)) {
        Py_INCREF(key);
        PyTuple_SetItem(kwnames.get(), k++, key);
        flat.push_back(val);
      }
    }
    return then(flat.data(), nargs, nkw > 0 ? kwnames.get() : nullptr, ctx);
  } catch (...) {
    raise_from_cpp(name);
    return nullptr;
  }
}

PyObject* py_float(double v) { return PyFloat_FromDouble(v); }
PyObject* py_count(std::uint64_t v) { return PyLong_FromUnsignedLongLong(v); }
PyObject* py_bool(bool v) { return PyBool_FromLong(v); }
PyObject* py_str(const std::string& s) {
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}
PyObject* py_none() { Py_RETURN_NONE; }

PyObject* py_floats(const std::vector<double>& v) { return build_list(v, PyFloat_FromDouble); }
PyObject* py_ints(const std::vector<std::int64_t>& v) {
  return build_list(v, [](std::int64_t x) { return PyLong_FromLongLong(x); });
}
PyObject* py_counts(const std::vector<std::uint64_t>& v) {
  return build_list(v, [](std::uint64_t x) { return PyLong_FromUnsignedLongLong(x); });
}
PyObject* py_pair_list(const std::pair<double, double>& p) {
  Ref list(PyList_New(2));
  if (!list) return nullptr;
  PyObject* a = PyFloat_FromDouble(p.first);
  if (!a) return nullptr;
  PyList_SetItem(list.get(), 0, a);
  PyObject* b = PyFloat_FromDouble(p.second);
  if (!b) return nullptr;
  PyList_SetItem(list.get(), 1, b);
  return list.release();
}
PyObject* py_pair_tuple(const std::pair<double, double>& p) {
  return py_tuple({PyFloat_FromDouble(p.first), PyFloat_FromDouble(p.second)});
}
PyObject* py_pair_lists(const std::vector<std::pair<double, double>>& v) { return build_list(v, py_pair_list); }

PyObject* py_tuple(std::initializer_list<PyObject*> items) {
  bool ok = true;
  for (PyObject* o : items) ok = ok && o;
  Ref t(ok ? PyTuple_New(static_cast<Py_ssize_t>(items.size())) : nullptr);
  Py_ssize_t i = 0;
  for (PyObject* o : items) {
    if (t) {
      PyTuple_SetItem(t.get(), i++, o);
    } else {
      Py_XDECREF(o);
    }
  }
  return t.release();
}

}  // namespace qpy
