// src/simd.hpp: which instruction-set path the vector kernels take.
//
// Every vector kernel has a portable form and gives the same bits on every path (lanes
// are independent, no fused multiply-add), so the choice only changes speed. The best
// path is detected once from the processor; tests and benchmarks can force another one
// on their own thread to compare the paths on the same inputs.
#pragma once
#include <cstdint>

namespace quarn::simd {

enum class Path : std::uint8_t { Portable = 0, Sse2 = 1, Avx2 = 2 };

/// True when this build and this processor can run the path (Portable always can).
[[nodiscard]] bool available(Path path) noexcept;

/// The fastest available path, detected once.
[[nodiscard]] Path best() noexcept;

/// The path kernels take on the calling thread: the forced one if a ForcePath is alive
/// on this thread, else best().
[[nodiscard]] Path active() noexcept;

/// "portable", "sse2" or "avx2".
[[nodiscard]] const char* name(Path path) noexcept;

/// Forces `path` on the calling thread for the object's lifetime (nested ones restore the
/// previous choice). For tests and benchmarks that compare the paths; the extension never
/// creates one. An unavailable path falls back to Portable.
class ForcePath {
 public:
  explicit ForcePath(Path path) noexcept;
  ~ForcePath();
  ForcePath(const ForcePath&) = delete;
  ForcePath& operator=(const ForcePath&) = delete;

 private:
  int previous_;
};

}  // namespace quarn::simd
