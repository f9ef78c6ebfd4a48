// Field sizing: a node count that wraps or exceeds a vector's reach is never allocated short.
#include <cstddef>
#include <cstdint>
#include <new>

#include "check.hpp"
#include "field.hpp"

using quarn::Field;

namespace {

bool refuses(std::size_t nc, std::size_t nr) {
  try {
    const Field f(nc, nr, 0.0);
    return false;
  } catch (const std::bad_alloc&) {
    return true;
  }
}

}  // namespace

TEST_CASE("Field: node counts that wrap in 64 bits are refused, not allocated short") {
  CHECK(refuses((std::size_t{1} << 63) + 1, 2));  // wraps to 2
  CHECK(refuses(std::size_t{1} << 32, std::size_t{1} << 32));  // wraps to 0
  CHECK(refuses(SIZE_MAX, SIZE_MAX));
}

TEST_CASE("Field: counts beyond a vector's max_size are refused") {
  CHECK(refuses(std::size_t{1} << 31, std::size_t{1} << 31));
}

TEST_CASE("Field: empty shapes with huge sides allocate nothing") {
  const Field a(std::size_t{1} << 62, 0, 1.0);
  CHECK_EQ(a.size(), std::size_t{0});
  CHECK_EQ(a.ncol, std::size_t{1} << 62);
  const Field b(0, SIZE_MAX, 1.0);
  CHECK_EQ(b.size(), std::size_t{0});
  const Field c(3, 2, 1.5);
  CHECK_EQ(c.size(), std::size_t{6});
  CHECK_EQ(Field::node_count(3, 2), std::size_t{6});
}
