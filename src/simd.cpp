#include "simd.hpp"

namespace quarn::simd {
namespace {

// -1: nothing forced on this thread.
thread_local int forced = -1;

Path detect() noexcept {
#if defined(__GNUC__) && defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) return Path::Avx2;
  return Path::Sse2;
#else
  return Path::Portable;
#endif
}

}  // namespace

bool available(Path path) noexcept {
  switch (path) {
    case Path::Portable:
      return true;
    case Path::Sse2:
      return best() != Path::Portable;
    case Path::Avx2:
      return best() == Path::Avx2;
  }
  return false;
}

Path best() noexcept {
  static const Path path = detect();  // the processor does not change under us
  return path;
}

Path active() noexcept { return forced < 0 ? best() : static_cast<Path>(forced); }

const char* name(Path path) noexcept {
  switch (path) {
    case Path::Sse2:
      return "sse2";
    case Path::Avx2:
      return "avx2";
    case Path::Portable:
      break;
  }
  return "portable";
}

ForcePath::ForcePath(Path path) noexcept : previous_(forced) {
  forced = static_cast<int>(available(path) ? path : Path::Portable);
}

ForcePath::~ForcePath() { forced = previous_; }

}  // namespace quarn::simd
