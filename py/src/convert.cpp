#include "convert.hpp"

#include <bit>
#include <cstring>


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

// True when o's type is numpy's `name` (or `alias`) itself, not a subclass.
bool is_numpy_type(PyObject* o, const char* name, const char* alias = nullptr) {
  PyObject* t = reinterpret_cast<PyObject*>(Py_TYPE(o));
  Ref mod(PyObject_GetAttrString(t, "__module__"));
  if (!mod) {
    PyErr_Clear();
    return false;
  }
  if (!PyUnicode_Check(mod.get()) || PyUnicode_CompareWithASCIIString(mod.get(), "numpy") != 0) return false;
  Ref type_name(PyType_GetName(Py_TYPE(o)));
  if (!type_name) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_CompareWithASCIIString(type_name.get(), name) == 0 ||
         (alias && PyUnicode_CompareWithASCIIString(type_name.get(), alias) == 0);
}

bool is_numpy_bool(PyObject* o) { return is_numpy_type(o, "bool_", "bool"); }

// The values of an object exporting a C-contiguous buffer of native float64 with
// `ndim` dimensions (for 2, the second of extent `width`), for the one-copy paths.
// Objects that do not qualify leave nothing set and `ok()` false.
class Float64View {
 public:
  Float64View(PyObject* o, int ndim, Py_ssize_t width) {
    if (PyBytes_Check(o) || PyList_Check(o) || PyTuple_Check(o) || !PyObject_CheckBuffer(o)) return;
    if (PyObject_GetBuffer(o, &view_, PyBUF_FORMAT | PyBUF_ND | PyBUF_C_CONTIGUOUS) != 0) {
      PyErr_Clear();
      return;
    }
    held_ = true;
    const char* f = view_.format ? view_.format : "B";
    const bool native_double = (std::strcmp(f, "d") == 0 || std::strcmp(f, "=d") == 0 ||
                                (std::strcmp(f, "<d") == 0 && std::endian::native == std::endian::little) ||
                                (std::strcmp(f, ">d") == 0 && std::endian::native == std::endian::big));
    ok_ = native_double && view_.itemsize == 8 && view_.ndim == ndim && (ndim != 2 || view_.shape[1] == width);
  }
  ~Float64View() {
    if (held_) PyBuffer_Release(&view_);
  }
  Float64View(const Float64View&) = delete;
  Float64View& operator=(const Float64View&) = delete;

  [[nodiscard]] bool ok() const { return ok_; }
  [[nodiscard]] const double* data() const { return static_cast<const double*>(view_.buf); }
  [[nodiscard]] std::size_t size() const { return static_cast<std::size_t>(view_.len / 8); }

 private:
  Py_buffer view_{};
  bool held_ = false;
  bool ok_ = false;
};

// Rows of W floats from a (n, W) float64 C-contiguous numpy array in one pass; the
// array type itself only, since a subclass may iterate differently. Returns true
// when taken.
template <class T, std::size_t W>
bool rows_from_array(PyObject* o, std::vector<T>& out) {
  if (PyList_Check(o) || PyTuple_Check(o) || !is_numpy_type(o, "ndarray")) return false;
  const Float64View view(o, 2, static_cast<Py_ssize_t>(W));
  if (!view.ok()) return false;
  const std::size_t n = view.size() / W;
  const double* v = view.data();
  out.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    if constexpr (W == 2)
      out[i] = {v[2 * i], v[2 * i + 1]};
    else
      out[i] = {v[3 * i], v[3 * i + 1], v[3 * i + 2]};
  }
  return true;
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

// A 1-D C-contiguous float64 buffer (NumPy arrays, array('d')) is copied in one step.
bool as_floats(PyObject* o, std::vector<double>& out) {
  if (!PyUnicode_Check(o) && PySequence_Check(o)) {
    const Float64View view(o, 1, 0);
    if (view.ok()) {
      out.assign(view.data(), view.data() + view.size());
      return true;
    }
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
// A (n, 2) or (n, 3) float64 C-contiguous array crosses in one pass, with the
// values the item-by-item path reads from it.
bool as_pairs(PyObject* o, std::vector<Pair>& out) {
  return rows_from_array<Pair, 2>(o, out) || sequence_of(o, out, as_pair);
}
bool as_rows(PyObject* o, std::vector<Row3>& out) {
  return rows_from_array<Row3, 3>(o, out) || sequence_of(o, out, as_row);
}
bool as_nested(PyObject* o, Nested& out) { return sequence_of(o, out, as_floats); }

bool as_object(PyObject* o, Ref& out) {
  out = Ref::borrow(o);
  return true;
}

}  // namespace qpy
