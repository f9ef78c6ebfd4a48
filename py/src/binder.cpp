#include "binder.hpp"

#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

namespace qpy {
namespace {

std::string full_name(const FunctionDef& d) {
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

// Binds positional and keyword arguments to parameter slots (borrowed references).
bool bind(const FunctionDef& d, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          std::vector<PyObject*>& objs) {
  const std::size_t np = d.params.size();
  objs.assign(np, nullptr);
  if (static_cast<std::size_t>(nargs) > np) {
    std::size_t required = 0;
    for (const auto& p : d.params)
      if (p.def.tag == Default::Tag::Required) ++required;
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
        if (PyUnicode_CompareWithASCIIString(key, d.params[i].name) == 0) {
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
        type_error(full_name(d) + " got multiple values for argument '" + d.params[idx].name + "'");
        return false;
      }
      objs[idx] = args[nargs + k];
    }
  }
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < np; ++i)
    if (!objs[i] && d.params[i].def.tag == Default::Tag::Required) missing.push_back(d.params[i].name);
  if (!missing.empty()) {
    type_error(full_name(d) + " missing " + std::to_string(missing.size()) + " required positional " +
               (missing.size() == 1 ? "argument" : "arguments") + ": " + name_list(missing));
    return false;
  }
  return true;
}

// Converts every bound object in parameter order.
bool convert_all(const FunctionDef& d, const std::vector<PyObject*>& objs, Bound& b) {
  const std::size_t np = d.params.size();
  b.slots.resize(np);
  for (std::size_t i = 0; i < np; ++i) {
    const Param& p = d.params[i];
    PyObject* obj = objs[i];
    Ref dflt;
    if (!obj || (obj == Py_None && p.def.tag == Default::Tag::None)) {
      if (p.def.tag == Default::Tag::None) continue;  // absent
      dflt = default_object(p.def);
      if (!dflt) return false;
      obj = dflt.get();
    }
    if (!p.convert(obj, b.slots[i])) {
      add_processing_note(p.name);
      return false;
    }
  }
  return true;
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

PyObject* Outcome::finish() {
  switch (kind_) {
    case Kind::Ok: return value_->build();
    case Kind::Core: raise_core_error(error_); return nullptr;
    case Kind::Plain: set_error(PyExc_ValueError, error_.message); return nullptr;
    case Kind::Raised: return nullptr;
  }
  return nullptr;
}

PyObject* invoke(const FunctionDef& d, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames) {
  try {
    std::vector<PyObject*> objs;
    if (!bind(d, args, nargs, kwnames, objs)) return nullptr;
    Bound b;
    b.self = self;
    if (!convert_all(d, objs, b)) return nullptr;
    if (d.check && !d.check(b)) return nullptr;
    if (!d.nogil) return d.call(b).finish();

    // Every input is an owned copy now; the core runs without the interpreter lock.
    // An escaping exception is held until the lock is back, then translated.
    std::exception_ptr escaped;
    Outcome out = Outcome::python_error();
    PyThreadState* ts = PyEval_SaveThread();
    try {
      out = d.call(b);
    } catch (...) {
      escaped = std::current_exception();
    }
    PyEval_RestoreThread(ts);
    if (escaped) std::rethrow_exception(escaped);  // to the one translator below
    return out.finish();
  } catch (...) {
    raise_from_cpp(d.name);
    return nullptr;
  }
}

PyObject* invoke_tuple(const FunctionDef& d, PyObject* self, PyObject* args, PyObject* kwargs) {
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
    return invoke(d, self, flat.data(), nargs, nkw > 0 ? kwnames.get() : nullptr);
  } catch (...) {
    raise_from_cpp(d.name);
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
