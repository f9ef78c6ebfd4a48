// py/src/sampling.hpp: the Rng, Sampler and Clamped classes, for other binding files.
#pragma once
#include "classes.hpp"
#include "sampling/distributions.hpp"
#include "sampling/stream.hpp"

namespace qpy {

/// What an `Rng` instance holds: one stream and the flag of a running borrow.
struct RngState {
  quarn::sampling::Stream stream;
  bool borrowed = false;
};

template <>
struct ClassOf<RngState> {
  static const ClassDef& def();
};
template <>
struct ClassOf<quarn::sampling::Sampler> {
  static const ClassDef& def();
};
template <>
struct ClassOf<quarn::sampling::Clamped> {
  static const ClassDef& def();
};

/// An `rng` argument: the instance itself (not a copy), since calls advance it.
struct RngArg {
  Ref obj;
};

/// Converter of an `rng` parameter: requires an `Rng` instance.
bool as_rng(PyObject* o, RngArg& out);

/// Exclusive use of an Rng's stream for one call (GIL held throughout). A second
/// borrow of the same Rng while one is active is refused with RuntimeError.
class RngBorrow {
 public:
  explicit RngBorrow(const RngArg& arg);
  ~RngBorrow();
  RngBorrow(const RngBorrow&) = delete;
  RngBorrow& operator=(const RngBorrow&) = delete;

  /// False (RuntimeError set) when the Rng was already borrowed.
  [[nodiscard]] bool ok() const noexcept { return state_ != nullptr; }
  [[nodiscard]] quarn::sampling::Stream& stream() noexcept { return state_->stream; }

 private:
  RngState* state_ = nullptr;
};

/// Converter of a `Sampler` parameter (a copy; the core type has no default).
inline bool as_sampler(PyObject* o, std::optional<quarn::sampling::Sampler>& out) {
  return as_held<quarn::sampling::Sampler>(o, out);
}

}  // namespace qpy
