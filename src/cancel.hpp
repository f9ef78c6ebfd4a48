// src/cancel.hpp: cooperative stopping of long computations. The caller installs a hook
// for its thread; long loops count their work with poll(), which asks the hook at
// intervals. Once the hook says stop, every later poll() of that scope says so too and
// the operation returns a Cancelled error instead of a (partial) result.
#pragma once
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "error.hpp"

namespace quarn::cancel {

/// Asked by poll() after about kStride units of work; returns true to stop.
using Hook = bool (*)(void* context);

/// Work units between two questions to the hook. A unit is roughly one arithmetic step,
/// so the hook runs every few hundred microseconds or less and can keep its own clock.
inline constexpr std::int64_t kStride = std::int64_t{1} << 18;

struct State {
  Hook hook = nullptr;
  void* context = nullptr;
  std::int64_t budget = std::numeric_limits<std::int64_t>::max();
  bool stopped = false;
};

inline constinit thread_local State t_state{};

/// The slow path of poll(): asks the hook, or refills the budget without one.
bool ask() noexcept;

/// Counts `work` units done since the last call; true once this thread's hook asked to
/// stop (and from then on, until the scope ends). Cheap: a subtraction and a compare.
[[nodiscard]] inline bool poll(std::int64_t work = 1) noexcept {
  State& s = t_state;
  if (s.budget > work) {
    s.budget -= work;
    return false;
  }
  return ask();
}

/// Whether the current scope was asked to stop; a poll-free check for the end of an operation.
[[nodiscard]] inline bool stopped() noexcept { return t_state.stopped; }

/// poll() with a work count from a size.
[[nodiscard]] inline bool poll_n(std::size_t work) noexcept {
  return poll(work < static_cast<std::size_t>(kStride) ? static_cast<std::int64_t>(work) : kStride);
}

/// Runs body(i) for i in [0, n), polling once per block of `block` indices.
/// Returns false when stopped (the remaining indices are not visited).
template <class F>
bool each(std::size_t n, F body, std::size_t block = 4096) {
  for (std::size_t i0 = 0; i0 < n; i0 += block) {
    const std::size_t end = n - i0 < block ? n : i0 + block;
    if (poll_n(end - i0)) return false;
    for (std::size_t i = i0; i < end; ++i) body(i);
  }
  return true;
}

/// Installs `hook` for the current thread while alive; the previous hook (and its
/// state) comes back when it ends, so scopes nest.
class Scope {
 public:
  Scope(Hook hook, void* context) noexcept : saved_(t_state) { t_state = State{hook, context, kStride, false}; }
  ~Scope() { t_state = saved_; }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  State saved_;
};

/// The error of an operation stopped through its hook, e.g. "cancelled: sgs: interrupted".
[[nodiscard]] inline CoreError error(const std::string& op) { return {ErrorKind::Cancelled, op + ": interrupted"}; }

}  // namespace quarn::cancel
