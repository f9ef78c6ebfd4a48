// py/src/synth/surface.cpp: synthetic maps (isochore, trend map, dome) and outlines.
#include "../areas.hpp"
#include "../grid.hpp"
#include "../lattice.hpp"
#include "synth/outline.hpp"

namespace qpy {
namespace {

using quarn::Field;
using quarn::Lattice;

// ---- outlines -------------------------------------------------------------

constexpr Param kClosureParams[] = {
    {"surface", to_nested},
    {"lattice", to_lattice},
    {"spill_depth", to_float},
};

const FunctionDef kClosureOutline{
    .name = "closure_outline",
    .owner = nullptr,
    .params = kClosureParams,
    .doc = "closure_outline(surface, lattice, spill_depth)\n--\n\n"
           "Outline of the largest region enclosed by the contour of `surface[col][row]`\n"
           "at `spill_depth` (nodes with level < value lie inside), traced by marching\n"
           "squares over the lattice cells. Contours that leave the lattice or cross\n"
           "undefined (NaN) cells do not close. Returns the ring as a list of world\n"
           "`[x, y]` points without repeating the first, or `[]` when nothing closes.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::synth::closure_outline(a.get<Field>(0), a.get<Lattice>(1), a.get<double>(2)),
                  py_pair_lists);
    },
    .check = [](Bound& a) {
      const Lattice& lat = a.get<Lattice>(1);
      return nested_field_check(a, 0, lat.ncol, lat.nrow);
    },
};

constexpr Param kStudyAreaParams[] = {
    {"xmin", to_float},          {"ymin", to_float}, {"xmax", to_float}, {"ymax", to_float},
    {"corner_radius", to_float}, {"arc_steps", to_count},
};

const FunctionDef kStudyAreaOutline{
    .name = "study_area_outline",
    .owner = nullptr,
    .params = kStudyAreaParams,
    .doc = "study_area_outline(xmin, ymin, xmax, ymax, corner_radius, arc_steps)\n--\n\n"
           "Counter-clockwise ring of the rectangle `[xmin, xmax] x [ymin, ymax]` as a list\n"
           "of `[x, y]` points (the first is not repeated). With `arc_steps` > 0 and a\n"
           "positive `corner_radius` (capped at half the shorter side) each corner is a\n"
           "circular arc of `arc_steps` segments, giving `4 * (arc_steps + 1)` points.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::synth::study_area_outline(a.get<double>(0), a.get<double>(1), a.get<double>(2),
                                                   a.get<double>(3), a.get<double>(4), a.get<std::uint64_t>(5)),
                  py_pair_lists);
    },
};

const Export kExports[] = {
    function_export<kClosureOutline>(),
    function_export<kStudyAreaOutline>(),
};

}  // namespace

std::span<const Export> surface_exports() { return kExports; }

}  // namespace qpy
