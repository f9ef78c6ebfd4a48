#include "grid.hpp"

#include <bit>
#include <cstring>
#include <string>

namespace qpy {
namespace {

constexpr bool kLittle = std::endian::native == std::endian::little;

void copy_le(const char* src, double* dst, std::size_t n) {
  if (n == 0) return;  // an empty field has no storage: memcpy must not see its null pointer
  std::memcpy(dst, src, n * sizeof(double));
  if constexpr (!kLittle) {
    for (std::size_t i = 0; i < n; ++i)
      dst[i] = std::bit_cast<double>(__builtin_bswap64(std::bit_cast<std::uint64_t>(dst[i])));
  }
}

}  // namespace

bool as_flat(PyObject* o, FlatBytes& out) {
  if (!PyBytes_Check(o)) {
    not_an_instance(o, "bytes");
    return false;
  }
  out.obj = Ref::borrow(o);
  return true;
}

bool nested_to_field(const Nested& rows, std::uint64_t ncol, std::uint64_t nrow, quarn::Field& out,
                     const std::string& message) {
  bool ok = rows.size() == ncol;
  for (std::size_t c = 0; ok && c < rows.size(); ++c) ok = rows[c].size() == nrow;
  if (!ok) {
    set_error(PyExc_ValueError, message);
    return false;
  }
  out.ncol = ncol;
  out.nrow = nrow;
  out.data.resize(ncol * nrow);
  for (std::size_t c = 0; c < ncol; ++c) std::copy(rows[c].begin(), rows[c].end(), out.data.begin() + c * nrow);
  return true;
}

bool lattice_field(const Nested& rows, const quarn::Lattice& lattice, quarn::Field& out) {
  return nested_to_field(rows, lattice.ncol, lattice.nrow, out,
                         "field must be a rectangular " + std::to_string(lattice.ncol) + "x" +
                             std::to_string(lattice.nrow) + " nested list (field[col][row])");
}

bool flat_to_field(const FlatBytes& bytes, std::uint64_t ncol, std::uint64_t nrow, quarn::Field& out) {
  std::uint64_t n = 0;
  if (__builtin_mul_overflow(ncol, nrow, &n) || n >= (std::uint64_t{1} << 61)) {
    PyErr_SetString(PyExc_ValueError, "flat grid shape overflow");
    return false;
  }
  const Py_ssize_t len = PyBytes_Size(bytes.obj.get());
  if (len < 0) return false;
  if (static_cast<std::uint64_t>(len) != n * 8) {
    const std::string msg = "flat grid is " + std::to_string(len) + " bytes, expected " + std::to_string(ncol) +
                            "\u00d7" + std::to_string(nrow) + "\u00d78 = " + std::to_string(n * 8) +
                            " (little-endian f64, field[col][row])";
    PyErr_SetString(PyExc_ValueError, msg.c_str());
    return false;
  }
  const char* src = PyBytes_AsString(bytes.obj.get());
  if (!src) return false;
  out.ncol = ncol;
  out.nrow = nrow;
  out.data.resize(n);
  copy_le(src, out.data.data(), n);
  return true;
}

PyObject* py_field_nested(const quarn::Field& f) {
  // No list holds more than PY_SSIZE_T_MAX items; PyList_New would take the wrapped
  // negative length for a bad argument (a node-less lattice can have such counts).
  constexpr auto kMaxLen = static_cast<std::size_t>(PY_SSIZE_T_MAX);
  if (f.ncol > kMaxLen || f.nrow > kMaxLen) return PyErr_NoMemory();
  Ref outer(PyList_New(static_cast<Py_ssize_t>(f.ncol)));
  if (!outer) return nullptr;
  for (std::size_t c = 0; c < f.ncol; ++c) {
    PyObject* col = PyList_New(static_cast<Py_ssize_t>(f.nrow));
    if (!col) return nullptr;
    PyList_SetItem(outer.get(), static_cast<Py_ssize_t>(c), col);
    const double* v = f.data.data() + c * f.nrow;
    for (std::size_t r = 0; r < f.nrow; ++r) {
      PyObject* x = PyFloat_FromDouble(v[r]);
      if (!x) return nullptr;
      PyList_SetItem(col, static_cast<Py_ssize_t>(r), x);
    }
  }
  return outer.release();
}

PyObject* py_field_bytes(const quarn::Field& f) {
  const std::size_t n = f.data.size();
  Ref bytes(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n * 8)));
  if (!bytes) return nullptr;
  char* dst = PyBytes_AsString(bytes.get());
  if (!dst) return nullptr;
  if constexpr (kLittle) {
    if (n) std::memcpy(dst, f.data.data(), n * 8);
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint64_t w = __builtin_bswap64(std::bit_cast<std::uint64_t>(f.data[i]));
      std::memcpy(dst + i * 8, &w, 8);
    }
  }
  return bytes.release();
}

PyObject* py_shape(const quarn::Field& f) {
  return py_tuple({PyLong_FromSize_t(f.ncol), PyLong_FromSize_t(f.nrow)});
}

PyObject* py_field_flat(const quarn::Field& f) { return py_tuple({py_field_bytes(f), py_shape(f)}); }

PyObject* py_field(const quarn::Field& f, Form form) {
  return form == Form::Flat ? py_field_flat(f) : py_field_nested(f);
}

}  // namespace qpy
