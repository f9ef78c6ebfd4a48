// src/field.hpp: a 2-D field of doubles on a lattice, stored (col, row) row-major.
#pragma once
#include <cstddef>
#include <new>
#include <vector>

namespace quarn {

/// Values of node (col, row) at data[col * nrow + row]; NaN marks an undefined node.
/// This is also the flat little-endian byte layout, so crossings are one copy.
struct Field {
  std::size_t ncol = 0;
  std::size_t nrow = 0;
  std::vector<double> data;

  Field() = default;
  /// Throws std::bad_alloc (MemoryError in Python) when nc * nr overflows.
  Field(std::size_t nc, std::size_t nr, double fill) : ncol(nc), nrow(nr), data(checked_size(nc, nr), fill) {}

  [[nodiscard]] static std::size_t checked_size(std::size_t nc, std::size_t nr) {
    std::size_t n = 0;
    if (__builtin_mul_overflow(nc, nr, &n)) throw std::bad_alloc();
    return n;
  }

  [[nodiscard]] double& at(std::size_t col, std::size_t row) { return data[col * nrow + row]; }
  [[nodiscard]] double at(std::size_t col, std::size_t row) const { return data[col * nrow + row]; }
  [[nodiscard]] std::size_t size() const { return data.size(); }
};

}  // namespace quarn
