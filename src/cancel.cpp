#include "cancel.hpp"

namespace quarn::cancel {

bool ask() noexcept {
  State& s = t_state;
  if (s.stopped) return true;  // budget stays 0: every later poll lands here
  if (!s.hook) {
    s.budget = std::numeric_limits<std::int64_t>::max();
    return false;
  }
  if (s.hook(s.context)) {
    s.stopped = true;
    s.budget = 0;
    return true;
  }
  s.budget = kStride;
  return false;
}

}  // namespace quarn::cancel
