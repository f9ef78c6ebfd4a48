// Core-only paths of the outlines (Python's binding layer rejects these shapes first).
#include <cmath>
#include <string>

#include "check.hpp"
#include "synth/outline.hpp"

using quarn::Field;
using quarn::Lattice;

TEST_CASE("closure_outline: field shape must match the lattice") {
  const Lattice lat{0, 0, 1, 1, 3, 3, 0, false};
  const auto r = quarn::synth::closure_outline(Field(3, 2, 0.0), lat, 0.5);
  CHECK(!r.ok());
  CHECK_EQ(r.error().display(), std::string("invalid argument: closure_outline: surface shape must match the lattice"));
}

TEST_CASE("closure_outline: shape is checked before the 2x2 minimum") {
  const Lattice lat{0, 0, 1, 1, 1, 3, 0, false};
  const auto r = quarn::synth::closure_outline(Field(2, 3, 0.0), lat, 0.5);
  CHECK(!r.ok());
  CHECK_EQ(r.error().message, std::string("closure_outline: surface shape must match the lattice"));
}

TEST_CASE("closure_outline: a corner exactly at the level gives a zero-length segment, no ring") {
  // value == level is not above: a single node at the level touches nothing
  const Lattice lat{0, 0, 1, 1, 3, 3, 0, false};
  Field f(3, 3, 0.0);
  f.at(1, 1) = 0.5;
  const auto r = quarn::synth::closure_outline(f, lat, 0.5);
  CHECK(r.ok());
  CHECK(r->empty());
}
