#include "binder.hpp"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

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

void raise_core_error(const quarn::CoreError& e) {
  if (e.kind == quarn::ErrorKind::Cancelled) {
    // Stopped by the signal hook, whose handler set the exception; keep that one.
    if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    return;
  }
  set_error(PyExc_ValueError, e.display());
}

namespace {
// The main thread's identity, looked up once with the lock held; 0 until then.
std::atomic<unsigned long> g_main_thread{0};
}  // namespace

bool on_main_thread() {
  unsigned long main = g_main_thread.load(std::memory_order_relaxed);
  if (main == 0) {
    Ref threading(PyImport_ImportModule("threading"));
    Ref thread(threading ? PyObject_CallMethod(threading.get(), "main_thread", nullptr) : nullptr);
    Ref ident(thread ? PyObject_GetAttrString(thread.get(), "ident") : nullptr);
    main = ident ? PyLong_AsUnsignedLong(ident.get()) : 0;
    if (PyErr_Occurred()) {
      PyErr_Clear();
      return true;  // unknown: listen anyway, PyErr_CheckSignals ignores other threads
    }
    g_main_thread.store(main, std::memory_order_relaxed);
  }
  return PyThread_get_thread_ident() == main;
}

bool SignalWatch::hook(void* context) {
  auto& w = *static_cast<SignalWatch*>(context);
  const auto now = std::chrono::steady_clock::now();
  if (!w.started) {  // the first question only starts the clock
    w.started = true;
    w.due = now + kInterval;
    return false;
  }
  if (now < w.due) return false;
  w.due = now + kInterval;
  if (w.released) PyEval_RestoreThread(*w.released);
  w.raised = PyErr_CheckSignals() != 0;
  if (w.released) *w.released = PyEval_SaveThread();
  return w.raised;
}

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

namespace {

// The repr() of a float: shortest round-trip digits, positional for exponents in
// [-4, 16), else d.ddde+XX.
std::string float_repr(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  const auto end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific).ptr;
  const std::string_view s(buf, static_cast<std::size_t>(end - buf));
  const std::size_t e = s.find('e');
  const int exp = std::stoi(std::string(s.substr(e + 1)));
  std::string digits;
  for (const char c : s.substr(0, e))
    if (c != '.' && c != '-') digits += c;
  std::string out;
  if (v < 0 || std::signbit(v)) out += '-';
  if (exp >= 16 || exp < -4) {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += exp < 0 ? "e-" : "e+";
    const int mag = exp < 0 ? -exp : exp;
    if (mag < 10) out += '0';
    out += std::to_string(mag);
  } else if (exp < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exp - 1), '0');
    out += digits;
  } else {
    const auto whole = static_cast<std::size_t>(exp) + 1;
    if (digits.size() <= whole) {
      out += digits;
      out.append(whole - digits.size(), '0');
      out += ".0";
    } else {
      out.append(digits, 0, whole);
      out += '.';
      out.append(digits, whole);
    }
  }
  return out;
}

std::string default_text(const Default& d) {
  switch (d.tag) {
    case Default::Tag::None: return "None";
    case Default::Tag::Float: return float_repr(d.f);
    case Default::Tag::Int: return std::to_string(d.i);
    case Default::Tag::Bool: return d.i != 0 ? "True" : "False";
    case Default::Tag::Text: return std::string("'") + d.text + "'";  // plain option names only
    default: return {};
  }
}

}  // namespace

std::string text_signature(const Signature& sig, Callable kind) {
  std::string s = sig.name;
  s += '(';
  if (kind == Callable::Method) s += sig.count ? "$self, " : "$self";
  for (std::size_t i = 0; i < sig.count; ++i) {
    if (i) s += ", ";
    s += sig[i].name;
    if (sig[i].def.tag != Default::Tag::Required) s += '=' + default_text(sig[i].def);
  }
  return s + ')';
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
