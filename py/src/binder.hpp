// py/src/binder.hpp: functions and classes declared as data, and the one dispatcher
// that binds, converts, checks, calls the core (optionally without the GIL) and
// builds the result.
#pragma once
#include "pyref.hpp"

#include <any>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "error.hpp"

namespace qpy {

/// An owned core value produced by a converter.
using Slot = std::any;

/// Object in, owned core value out. On failure a Python exception is set and the
/// result is false; the binder then attaches the "while processing" note.
using Converter = bool (*)(PyObject* obj, Slot& out);

/// Default of an optional parameter. `none()` means absent; an explicit None is
/// treated as absent too.
struct Default {
  enum class Tag : std::uint8_t { Required, None, Float, Int, Bool, Text };
  Tag tag = Tag::Required;
  double f = 0.0;
  unsigned long long i = 0;
  const char* text = nullptr;

  static constexpr Default none() { return {Tag::None}; }
  static constexpr Default real(double v) { return {Tag::Float, v}; }
  static constexpr Default integer(unsigned long long v) { return {Tag::Int, 0.0, v}; }
  static constexpr Default flag(bool v) { return {Tag::Bool, 0.0, v ? 1ULL : 0ULL}; }
  static constexpr Default str(const char* v) { return {Tag::Text, 0.0, 0, v}; }
};

struct Param {
  const char* name;
  Converter convert;
  Default def{};
};

/// The converted arguments of one call, in parameter order.
class Bound {
 public:
  PyObject* self = nullptr;  ///< the instance for methods; null for functions and statics
  std::vector<Slot> slots;

  [[nodiscard]] bool has(std::size_t i) const { return slots[i].has_value(); }
  template <class T>
  [[nodiscard]] const T& get(std::size_t i) const {
    return *std::any_cast<T>(&slots[i]);
  }
  template <class T>
  [[nodiscard]] T& mut(std::size_t i) {
    return *std::any_cast<T>(&slots[i]);
  }
  template <class T>
  [[nodiscard]] T take(std::size_t i) {
    return std::move(*std::any_cast<T>(&slots[i]));
  }
};

/// What a core call produced: a value with its builder, a CoreError, a plain
/// ValueError of the binding layer, or (GIL held only) an already-set exception.
class Outcome {
 public:
  struct Value {
    virtual ~Value() = default;
    virtual PyObject* build() = 0;
  };

  Outcome(quarn::CoreError e) : kind_(Kind::Core), error_(std::move(e)) {}  // NOLINT: implicit
  explicit Outcome(std::unique_ptr<Value> v) : kind_(Kind::Ok), value_(std::move(v)) {}

  /// ValueError with this exact text, no kind prefix.
  [[nodiscard]] static Outcome value_error(std::string msg) {
    Outcome o(quarn::CoreError{quarn::ErrorKind::InvalidArgument, std::move(msg)});
    o.kind_ = Kind::Plain;
    return o;
  }
  /// A Python exception is already set (only valid with the GIL held).
  [[nodiscard]] static Outcome python_error() {
    Outcome o(quarn::CoreError{});
    o.kind_ = Kind::Raised;
    return o;
  }

  /// With the GIL held: the result object, or null with the exception set.
  [[nodiscard]] PyObject* finish();

 private:
  enum class Kind { Ok, Core, Plain, Raised };
  Kind kind_;
  quarn::CoreError error_{};
  std::unique_ptr<Value> value_;
};

namespace detail {
template <class T, class B>
struct ValueOf final : Outcome::Value {
  T v;
  B b;
  ValueOf(T&& value, B builder) : v(std::move(value)), b(builder) {}
  PyObject* build() override { return b(v); }
};
}  // namespace detail

/// A plain value and the builder that turns it into a Python object later.
template <class T, class B>
[[nodiscard]] Outcome value(T v, B build) {
  return Outcome(std::make_unique<detail::ValueOf<T, B>>(std::move(v), build));
}

/// A core Result: its value with the builder, or its error.
template <class T, class B>
[[nodiscard]] Outcome done(quarn::Result<T> r, B build) {
  if (!r.ok()) return Outcome(std::move(r).error());
  return value(std::move(r).value(), build);
}

/// Binding-only check run after conversion with the GIL held; sets an exception
/// and returns false to stop the call.
using Check = bool (*)(Bound&);

struct FunctionDef {
  const char* name;             ///< Python name ("__new__" for constructors)
  const char* owner;            ///< class name for methods and constructors, else null
  std::span<const Param> params;
  const char* doc;              ///< "name(params)\n--\n\n" followed by the description
  Outcome (*call)(Bound&);
  Check check = nullptr;
  bool nogil = false;           ///< run `call` with the interpreter lock released
};

/// The dispatcher; every wrapper goes through it.
PyObject* invoke(const FunctionDef& def, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames);
/// Same, from the (tuple, dict) calling convention.
PyObject* invoke_tuple(const FunctionDef& def, PyObject* self, PyObject* args, PyObject* kwargs);

template <const FunctionDef& D>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return invoke(D, self, args, nargs, kwnames);
}

/// The method-table entry of a function, method or static method.
template <const FunctionDef& D>
PyMethodDef method_entry(int extra_flags = 0) {
  return {D.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fastcall<D>)),
          METH_FASTCALL | METH_KEYWORDS | extra_flags, D.doc};
}

/// Sets the exception of a C++ exception caught at the boundary.
void raise_from_cpp(const char* where);

/// Sets `type` with the whole of `msg`; messages can quote user text holding NULs.
void set_error(PyObject* type, const std::string& msg);

/// Sets the ValueError of a core error: its kind prefix and message, in full.
void raise_core_error(const quarn::CoreError& e);

/// Attaches "while processing '<param>'" to the current exception.
void add_processing_note(const char* param);

// Result builders shared by all areas.
PyObject* py_float(double v);
PyObject* py_count(std::uint64_t v);
PyObject* py_bool(bool v);
PyObject* py_str(const std::string& s);
PyObject* py_none();
PyObject* py_floats(const std::vector<double>& v);
PyObject* py_ints(const std::vector<std::int64_t>& v);
PyObject* py_counts(const std::vector<std::uint64_t>& v);
PyObject* py_pair_list(const std::pair<double, double>& p);   ///< [x, y]
PyObject* py_pair_tuple(const std::pair<double, double>& p);  ///< (x, y)
PyObject* py_pair_lists(const std::vector<std::pair<double, double>>& v);
/// Builds a tuple from new references; steals them, also on failure.
PyObject* py_tuple(std::initializer_list<PyObject*> items);

/// A new list of `item(x)` for every x of `v`, in order; null when an item fails.
template <class V, class F>
PyObject* build_list(const V& v, F item) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(v.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < v.size(); ++i) {
    PyObject* o = item(v[i]);
    if (!o) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), o);
  }
  return list.release();
}

/// One exported module attribute: how to make it, in registration order.
struct Export {
  const char* name;
  PyObject* (*make)(PyObject* module);
};

template <const FunctionDef& D>
PyObject* make_function(PyObject* module) {
  static PyMethodDef def = method_entry<D>();
  Ref modname(PyModule_GetNameObject(module));
  if (!modname) return nullptr;
  return PyCFunction_NewEx(&def, module, modname.get());
}

/// Export of a module-level function.
template <const FunctionDef& D>
constexpr Export function_export() {
  return {D.name, &make_function<D>};
}

}  // namespace qpy
