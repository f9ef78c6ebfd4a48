// py/src/binder.hpp: functions and classes declared as data, and the one dispatcher
// that binds, converts, checks, calls the core (optionally without the GIL) and
// builds the result.
#pragma once
#include "pyref.hpp"

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "cancel.hpp"
#include "error.hpp"

namespace qpy {

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

/// The result form of a function declared with a flat twin: nested lists, or flat
/// little-endian f64 buffers (the `_flat` name).
enum class Form : std::uint8_t { Nested, Flat };

/// What every parameter has, whatever its argument struct: the Python name and the default.
struct ParamHead {
  const char* name;
  Default def;
};

/// One parameter of a row whose converted arguments land in the struct `A`: the
/// Python name, the converter into its member (usually `arg<&A::member, as_kind>`),
/// and the default. The converter sets a Python exception and returns false on failure.
template <class A>
struct Param : ParamHead {
  bool (*convert)(PyObject* obj, A& args);

  constexpr Param(const char* n, bool (*c)(PyObject*, A&), Default d = {}) : ParamHead{n, d}, convert(c) {}
};

namespace detail {
template <class M>
struct MemberOf;
template <class C, class T>
struct MemberOf<T C::*> {
  using Class = C;
  using Type = T;
};
// An optional member whose value type `F` converts into.
template <class T, class F>
inline constexpr bool kEngageFirst = false;
template <class U, class F>
inline constexpr bool kEngageFirst<std::optional<U>, F> = std::is_invocable_v<F, PyObject*, U&>;
}  // namespace detail

/// The converter of one member: `As(obj, args.*Member)`. A std::optional member
/// (for a `Default::none()` parameter, or a core type without a default) is engaged
/// first unless `As` fills the optional itself. The member's type must be
/// the one `As` produces, so a mismatch does not compile.
template <auto Member, auto As>
bool arg(PyObject* obj, typename detail::MemberOf<decltype(Member)>::Class& args) {
  using T = typename detail::MemberOf<decltype(Member)>::Type;
  if constexpr (detail::kEngageFirst<T, decltype(As)>)
    return As(obj, (args.*Member).emplace());
  else
    return As(obj, args.*Member);  // also an optional of a type without default, which `As` fills
}

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

/// Sets the exception of a C++ exception caught at the boundary.
void raise_from_cpp(const char* where);

/// Sets `type` with the whole of `msg`; messages can quote user text holding NULs.
void set_error(PyObject* type, const std::string& msg);

/// Sets the ValueError of a core error: its kind prefix and message, in full.
void raise_core_error(const quarn::CoreError& e);

/// Attaches "while processing '<param>'" to the current exception.
void add_processing_note(const char* param);

/// A function, method, static method or constructor declared as data. Its converted
/// arguments are the fields of `A`; a member `PyObject* self` receives the instance
/// and a member `Form form` the result form.
template <class A>
struct FunctionDef {
  const char* name;                  ///< Python name ("__new__" for constructors)
  const char* owner;                 ///< class name for methods and constructors, else null
  std::span<const Param<A>> params;
  /// The description; the text signature line in front of it is made from the row.
  const char* doc;
  Outcome (*call)(A&);
  /// Binding-only checks after every conversion, GIL held: they fill the members
  /// derived from converted ones (option values, shaped fields), or set an exception
  /// and return false.
  bool (*check)(A&) = nullptr;
  bool nogil = false;                ///< run `call` with the interpreter lock released
  const char* flat_name = nullptr;   ///< the twin returning flat buffers, if any
  const char* flat_doc = nullptr;

  [[nodiscard]] const char* name_of(Form f) const { return f == Form::Flat ? flat_name : name; }
};

/// What binding needs of a row, whatever its argument struct.
struct Signature {
  const char* name;
  const char* owner;
  const void* params;  ///< the row's Param<A> array
  std::size_t count;
  const ParamHead& (*head)(const void* params, std::size_t i);

  [[nodiscard]] const ParamHead& operator[](std::size_t i) const { return head(params, i); }
};

template <class A>
const ParamHead& param_head(const void* params, std::size_t i) {
  return static_cast<const Param<A>*>(params)[i];
}

template <class A>
Signature signature_of(const FunctionDef<A>& d, Form f) {
  return {d.name_of(f), d.owner, d.params.data(), d.params.size(), &param_head<A>};
}

/// How a row is called from Python, for its text signature.
enum class Callable : std::uint8_t { Function, Method, Static, Constructor };

/// "name(p, q='x', r=0.0)": the parameters and defaults of the row as Python writes
/// them, with `$self` first for methods and the class name for constructors.
std::string text_signature(const Signature& sig, Callable kind);

/// The docstring of a row: its text signature, "\n--\n\n", the description.
template <const auto& D, Form F, Callable K>
const char* docstring() {
  static const std::string doc = text_signature(signature_of(D, F), K) + "\n--\n\n" +
                                 (F == Form::Flat ? D.flat_doc : D.doc);
  return doc.c_str();
}

/// Binds positional and keyword arguments to parameters (borrowed references, null
/// where absent); false with the interpreter's TypeError set on a binding error.
bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          std::vector<PyObject*>& objs);

/// The object to convert for parameter `i`: the argument, its default (held in `hold`),
/// or null when the parameter is absent (Default::none()).
PyObject* argument_or_default(PyObject* obj, const Default& def, Ref& hold);

/// Whether this is the interpreter's main thread, the only one that sees signals.
bool on_main_thread();

/// The cancel hook (cancel.hpp) of one call: at most every kInterval of wall time it
/// runs the interpreter's signal handlers, briefly taking the lock back when the call
/// released it. A handler that raises (SIGINT's KeyboardInterrupt) stops the
/// computation; its exception stays set for the dispatcher to return.
struct SignalWatch {
  static constexpr std::chrono::milliseconds kInterval{50};
  PyThreadState** released = nullptr;  ///< the saved thread state while the lock is released
  std::chrono::steady_clock::time_point due{};
  bool started = false;
  bool raised = false;

  static bool hook(void* context);
};

/// Runs `call`, with the interpreter lock released when `nogil`, listening for signals
/// on the main thread; then builds the result or maps the error. When a signal handler
/// raised, its exception is returned and the core's result (if any) dropped. An
/// escaping C++ exception is rethrown once the lock is back.
template <class F>
PyObject* run_listening(F&& call, bool nogil) {
  SignalWatch watch;
  std::optional<quarn::cancel::Scope> scope;
  if (on_main_thread()) scope.emplace(&SignalWatch::hook, &watch);
  if (!nogil) {
    Outcome out = call();
    scope.reset();
    if (watch.raised) return nullptr;
    return out.finish();
  }
  std::exception_ptr escaped;
  Outcome out = Outcome::python_error();
  PyThreadState* ts = PyEval_SaveThread();
  watch.released = &ts;
  try {
    out = call();
  } catch (...) {
    escaped = std::current_exception();
  }
  scope.reset();
  PyEval_RestoreThread(ts);
  if (watch.raised) return nullptr;
  if (escaped) std::rethrow_exception(escaped);
  return out.finish();
}

/// The dispatcher; every wrapper goes through it: bind, convert in parameter order,
/// check, call (optionally without the lock), build the result or map the error.
template <class A>
PyObject* invoke(const FunctionDef<A>& d, Form form, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames) {
  const char* name = d.name_of(form);
  try {
    const Signature sig = signature_of(d, form);
    std::vector<PyObject*> objs;
    if (!bind(sig, args, nargs, kwnames, objs)) return nullptr;
    A a{};
    if constexpr (requires { a.self = self; }) a.self = self;
    if constexpr (requires { a.form = form; }) a.form = form;
    for (std::size_t i = 0; i < d.params.size(); ++i) {
      const Param<A>& p = d.params[i];
      Ref hold;
      PyObject* obj = argument_or_default(objs[i], p.def, hold);
      if (!obj) {
        if (PyErr_Occurred()) return nullptr;
        continue;  // absent
      }
      if (!p.convert(obj, a)) {
        add_processing_note(p.name);
        return nullptr;
      }
    }
    if (d.check && !d.check(a)) return nullptr;
    // Every input is an owned copy now; the core may run without the interpreter lock.
    return run_listening([&] { return d.call(a); }, d.nogil);
  } catch (...) {
    raise_from_cpp(name);
    return nullptr;
  }
}

/// Same, from the (tuple, dict) calling convention (constructors).
PyObject* flatten_call(PyObject* args, PyObject* kwargs, const char* name,
                       PyObject* (*then)(PyObject* const*, Py_ssize_t, PyObject*, const void*), const void* ctx);

template <const auto& D, Form F = Form::Nested>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return invoke(D, F, self, args, nargs, kwnames);
}

/// The constructor of a class: calling it, and its text signature.
struct CtorDef {
  PyObject* (*call)(PyObject* args, PyObject* kwargs) = nullptr;
  std::string (*signature)(const char* class_name) = nullptr;
};

template <const auto& D>
PyObject* construct(PyObject* args, PyObject* kwargs) {
  return flatten_call(args, kwargs, D.name, [](PyObject* const* a, Py_ssize_t n, PyObject* kw, const void*) {
    return invoke(D, Form::Nested, nullptr, a, n, kw);
  }, nullptr);
}

/// The constructor made from row `D` ("__new__").
template <const auto& D>
constexpr CtorDef constructor() {
  return {&construct<D>, [](const char* class_name) {
            Signature sig = signature_of(D, Form::Nested);
            sig.name = class_name;
            return text_signature(sig, Callable::Constructor);
          }};
}

/// The method-table entry of a function, method or static method (or of its flat twin).
template <const auto& D, Form F = Form::Nested>
PyMethodDef method_entry(int extra_flags = 0) {
  const char* doc = !D.owner                       ? docstring<D, F, Callable::Function>()
                    : (extra_flags & METH_STATIC) ? docstring<D, F, Callable::Static>()
                                                   : docstring<D, F, Callable::Method>();
  return {D.name_of(F), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fastcall<D, F>)),
          METH_FASTCALL | METH_KEYWORDS | extra_flags, doc};
}

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

template <const auto& D, Form F>
PyObject* make_function(PyObject* module) {
  static PyMethodDef def = method_entry<D, F>();
  Ref modname(PyModule_GetNameObject(module));
  if (!modname) return nullptr;
  return PyCFunction_NewEx(&def, module, modname.get());
}

/// Export of a module-level function, or of its flat twin.
template <const auto& D, Form F = Form::Nested>
constexpr Export function_export() {
  return {D.name_of(F), &make_function<D, F>};
}

}  // namespace qpy
