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
  /// Throws std::bad_alloc when nc × nr overflows or exceeds what a vector can hold: a
  /// wrapped product would give a small buffer that the (col, row) loops then overrun.
  Field(std::size_t nc, std::size_t nr, double fill) : ncol(nc), nrow(nr), data(node_count(nc, nr), fill) {}

  [[nodiscard]] static std::size_t node_count(std::size_t nc, std::size_t nr) {
    if (nr != 0 && nc > std::vector<double>().max_size() / nr) throw std::bad_alloc();
    return nc * nr;
  }

  [[nodiscard]] double& at(std::size_t col, std::size_t row) { return data[col * nrow + row]; }
  [[nodiscard]] double at(std::size_t col, std::size_t row) const { return data[col * nrow + row]; }
  [[nodiscard]] std::size_t size() const { return data.size(); }
};

}  // namespace quarn
