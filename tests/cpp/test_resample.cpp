// Core resample: the checks Python cannot reach, and their order.
#include <cmath>
#include <string>

#include "check.hpp"
#include "resample.hpp"

using quarn::Field;
using quarn::Lattice;
using quarn::ResampleMode;

TEST_CASE("resample: a field off its lattice's shape is refused before the geometry") {
  const Lattice src{0, 0, 0, 1, 3, 4};  // zero xinc as well: the shape is reported first
  const Lattice dst{0, 0, 1, 1, 2, 2};
  const Field f(4, 3, 1.0);
  auto r = quarn::resample(f, src, dst, ResampleMode::Bilinear);
  CHECK(!r.ok());
  CHECK_EQ(r.error().display(),
           std::string("invalid argument: resample: src_grid shape [4, 3] does not match src_georef (3, 4)"));
}

TEST_CASE("resample: degenerate source geometry, and the all-NaN answers") {
  const Lattice dst{0, 0, 1, 1, 2, 2};
  auto zero_y = quarn::resample(Field(2, 2, 1.0), Lattice{0, 0, 1, 0, 2, 2}, dst, ResampleMode::Nearest);
  CHECK(!zero_y.ok());
  CHECK_EQ(zero_y.error().display(),
           std::string("invalid geometry: resample: degenerate source geometry (empty grid or zero node spacing)"));
  auto nan_rot = quarn::resample(Field(2, 2, 1.0), Lattice{0, 0, 1, 1, 2, 2, NAN}, dst, ResampleMode::Nearest);
  CHECK(nan_rot.ok());
  CHECK_EQ(nan_rot.value().size(), std::size_t{4});
  for (double v : nan_rot.value().data) CHECK(std::isnan(v));
  auto empty_target = quarn::resample(Field(2, 2, 1.0), Lattice{0, 0, 1, 1, 2, 2}, Lattice{0, 0, 1, 1, 0, 7},
                                      ResampleMode::Bilinear);
  CHECK(empty_target.ok());
  CHECK_EQ(empty_target.value().ncol, std::size_t{0});
  CHECK_EQ(empty_target.value().nrow, std::size_t{7});
}
