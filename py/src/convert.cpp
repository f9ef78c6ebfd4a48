#include "convert.hpp"

#include <bit>
#include <cstring>

#include "grid.hpp"

namespace qpy {
namespace {

const char* type_name(PyObject* o, Ref& hold) {
  hold = Ref(PyType_GetQualName(Py_TYPE(o)));
  if (!hold) {
    PyErr_Clear();
    return "?";
  }
  const char* s = PyUnicode_AsUTF8AndSize(hold.get(), nullptr);
  if (!s) {
    PyErr_Clear();
    return "?";
  }
  return s;
}

bool is_numpy_bool(PyObject* o) {
  PyObject* t = reinterpret_cast<PyObject*>(Py_TYPE(o));
  Ref mod(PyObject_GetAttrString(t, "__module__"));
  if (!mod) {
    PyErr_Clear();
    return false;
  }
  if (!PyUnicode_Check(mod.get()) || PyUnicode_CompareWithASCIIString(mod.get(), "numpy") != 0) return false;
  Ref name(PyType_GetName(Py_TYPE(o)));
  if (!name) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
         PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

// Applies `item` to every element of a list-like argument, in order.
template <class T, class F>
bool sequence_of(PyObject* o, std::vector<T>& out, F item) {
  if (!require_sequence(o)) return false;
  out.clear();
  if (PyList_Check(o)) {
    out.reserve(static_cast<std::size_t>(PyList_Size(o)));
    // Re-read the size each step: an item's conversion may run Python code.
    for (Py_ssize_t i = 0; i < PyList_Size(o); ++i) {
      Ref it = Ref::borrow(PyList_GetItem(o, i));
      T v{};
      if (!item(it.get(), v)) return false;
      out.push_back(std::move(v));
    }
    return true;
  }
  if (PyTuple_Check(o)) {
    const Py_ssize_t n = PyTuple_Size(o);
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      T v{};
      if (!item(PyTuple_GetItem(o, i), v)) return false;
      out.push_back(std::move(v));
    }
    return true;
  }
  const Py_ssize_t n = PySequence_Size(o);
  if (n < 0)
    PyErr_Clear();
  else
    out.reserve(static_cast<std::size_t>(n));
  Ref iter(PyObject_GetIter(o));
  if (!iter) return false;
  while (true) {
    Ref it(PyIter_Next(iter.get()));
    if (!it) break;
    T v{};
    if (!item(it.get(), v)) return false;
    out.push_back(std::move(v));
  }
  return !PyErr_Occurred();
}

template <std::size_t N>
bool fixed_sequence(PyObject* o, double* out) {
  if (!PySequence_Check(o)) {
    not_an_instance(o, "Sequence");
    return false;
  }
  const Py_ssize_t n = PySequence_Size(o);
  if (n < 0) return false;
  if (static_cast<std::size_t>(n) != N) {
    PyErr_Format(PyExc_ValueError, "expected a sequence of length %zu (got %zd)", N, n);
    return false;
  }
  for (std::size_t i = 0; i < N; ++i) {
    Ref it(PySequence_GetItem(o, static_cast<Py_ssize_t>(i)));
    if (!it || !as_float(it.get(), out[i])) return false;
  }
  return true;
}

template <class T, bool (*F)(PyObject*, T&)>
bool into_slot(PyObject* o, Slot& out) {
  T v{};
  if (!F(o, v)) return false;
  out = std::move(v);
  return true;
}

}  // namespace

void not_an_instance(PyObject* o, const char* what) {
  if (o == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", what);
    return;
  }
  Ref hold;
  PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of '%s'", type_name(o, hold), what);
}

bool require_sequence(PyObject* o) {
  if (PyUnicode_Check(o)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(o)) {
    not_an_instance(o, "Sequence");
    return false;
  }
  return true;
}

bool as_float(PyObject* o, double& out) {
  if (PyFloat_CheckExact(o)) {
    out = PyFloat_AsDouble(o);
    return true;
  }
  const double v = PyFloat_AsDouble(o);
  if (v == -1.0 && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool as_count(PyObject* o, std::uint64_t& out) {
  Ref idx(PyNumber_Index(o));
  if (!idx) return false;
  const unsigned long long v = PyLong_AsUnsignedLongLong(idx.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool as_int(PyObject* o, std::int64_t& out) {
  Ref idx(PyNumber_Index(o));
  if (!idx) return false;
  const long long v = PyLong_AsLongLong(idx.get());
  if (v == -1 && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool as_flag(PyObject* o, bool& out) {
  if (PyBool_Check(o)) {
    out = o == Py_True;
    return true;
  }
  if (is_numpy_bool(o)) {
    const int t = PyObject_IsTrue(o);
    if (t < 0) return false;
    out = t != 0;
    return true;
  }
  not_an_instance(o, "bool");
  return false;
}

bool as_name(PyObject* o, std::string& out) {
  if (!PyUnicode_Check(o)) {
    not_an_instance(o, "str");
    return false;
  }
  Py_ssize_t n = 0;
  const char* s = PyUnicode_AsUTF8AndSize(o, &n);
  if (!s) return false;
  out.assign(s, static_cast<std::size_t>(n));
  return true;
}

// One-copy path for objects exporting a 1-D C-contiguous buffer of native float64
// (NumPy arrays, array('d')). Returns 1 when taken, 0 when the object does not
// qualify (nothing is set), -1 on error.
static int floats_from_buffer(PyObject* o, std::vector<double>& out) {
  if (PyBytes_Check(o) || PyList_Check(o) || PyTuple_Check(o) || !PyObject_CheckBuffer(o)) return 0;
  Py_buffer view;
  if (PyObject_GetBuffer(o, &view, PyBUF_FORMAT | PyBUF_ND | PyBUF_C_CONTIGUOUS) != 0) {
    PyErr_Clear();
    return 0;
  }
  const char* f = view.format ? view.format : "B";
  const bool native_double = (std::strcmp(f, "d") == 0 || std::strcmp(f, "=d") == 0 ||
                              (std::strcmp(f, "<d") == 0 && std::endian::native == std::endian::little) ||
                              (std::strcmp(f, ">d") == 0 && std::endian::native == std::endian::big));
  int taken = 0;
  if (native_double && view.itemsize == 8 && view.ndim == 1) {
    const auto n = static_cast<std::size_t>(view.len / 8);
    try {
      out.resize(n);
    } catch (...) {
      PyBuffer_Release(&view);
      throw;
    }
    if (n) std::memcpy(out.data(), view.buf, n * 8);
    taken = 1;
  }
  PyBuffer_Release(&view);
  return taken;
}

bool as_floats(PyObject* o, std::vector<double>& out) {
  if (!PyUnicode_Check(o) && PySequence_Check(o)) {
    const int r = floats_from_buffer(o, out);
    if (r != 0) return r > 0;
  }
  return sequence_of(o, out, as_float);
}
bool as_ints(PyObject* o, std::vector<std::int64_t>& out) { return sequence_of(o, out, as_int); }
bool as_pair(PyObject* o, Pair& out) {
  double v[2];
  if (!fixed_sequence<2>(o, v)) return false;
  out = {v[0], v[1]};
  return true;
}
bool as_row(PyObject* o, Row3& out) { return fixed_sequence<3>(o, out.data()); }
bool as_pairs(PyObject* o, std::vector<Pair>& out) { return sequence_of(o, out, as_pair); }
bool as_rows(PyObject* o, std::vector<Row3>& out) { return sequence_of(o, out, as_row); }
bool as_nested(PyObject* o, Nested& out) { return sequence_of(o, out, as_floats); }

bool to_float(PyObject* o, Slot& out) { return into_slot<double, as_float>(o, out); }
bool to_count(PyObject* o, Slot& out) { return into_slot<std::uint64_t, as_count>(o, out); }
bool to_flag(PyObject* o, Slot& out) { return into_slot<bool, as_flag>(o, out); }
bool to_name(PyObject* o, Slot& out) { return into_slot<std::string, as_name>(o, out); }
bool to_floats(PyObject* o, Slot& out) { return into_slot<std::vector<double>, as_floats>(o, out); }
bool to_ints(PyObject* o, Slot& out) { return into_slot<std::vector<std::int64_t>, as_ints>(o, out); }
bool to_point(PyObject* o, Slot& out) { return into_slot<Pair, as_pair>(o, out); }
bool to_points(PyObject* o, Slot& out) { return into_slot<std::vector<Pair>, as_pairs>(o, out); }
bool to_rows(PyObject* o, Slot& out) { return into_slot<std::vector<Row3>, as_rows>(o, out); }
bool to_nested(PyObject* o, Slot& out) { return into_slot<Nested, as_nested>(o, out); }

bool to_flat(PyObject* o, Slot& out) {
  if (!PyBytes_Check(o)) {
    not_an_instance(o, "bytes");
    return false;
  }
  out = FlatBytes{Ref::borrow(o)};
  return true;
}

}  // namespace qpy
