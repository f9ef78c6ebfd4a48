// py/src/lattice.cpp: bindings of Lattice and Georef.
#include "lattice.hpp"

#include "areas.hpp"

namespace qpy {
namespace {

using quarn::Georef;
using quarn::Lattice;

// ---- Lattice --------------------------------------------------------------

constexpr Param kLatticeParams[] = {
    {"xori", to_float},
    {"yori", to_float},
    {"xinc", to_float},
    {"yinc", to_float},
    {"ncol", to_count},
    {"nrow", to_count},
    {"rotation_deg", to_float, Default::real(0.0)},
    {"yflip", to_flag, Default::flag(false)},
};

const FunctionDef kLatticeNew{
    .name = "__new__",
    .owner = "Lattice",
    .params = kLatticeParams,
    .doc = nullptr,
    .call = [](Bound& a) -> Outcome {
      return done(Lattice::make(a.get<double>(0), a.get<double>(1), a.get<double>(2), a.get<double>(3),
                                a.get<std::uint64_t>(4), a.get<std::uint64_t>(5), a.get<double>(6),
                                a.get<bool>(7)),
                  wrap_ref<Lattice>);
    },
};

const Lattice& self_lattice(const Bound& a) { return unwrap<Lattice>(a.self); }

const FunctionDef kStepVectors{
    .name = "step_vectors",
    .owner = "Lattice",
    .params = {},
    .doc = "step_vectors($self)\n--\n\n"
           "The world displacement of one step in +I and in +J: `([Ix, Iy], [Jx, Jy])`.",
    .call = [](Bound& a) -> Outcome {
      return value(self_lattice(a).step_vectors(), [](const std::array<std::array<double, 2>, 2>& s) {
        return py_tuple({py_pair_list({s[0][0], s[0][1]}), py_pair_list({s[1][0], s[1][1]})});
      });
    },
};

constexpr Param kFiFj[] = {{"fi", to_float}, {"fj", to_float}};
constexpr Param kXY[] = {{"x", to_float}, {"y", to_float}};
constexpr Param kIJ[] = {{"i", to_count}, {"j", to_count}};

PyObject* optional_pair(const std::optional<std::pair<double, double>>& p) {
  return p ? py_pair_tuple(*p) : py_none();
}

const FunctionDef kIntrinsicToWorld{
    .name = "intrinsic_to_world",
    .owner = "Lattice",
    .params = kFiFj,
    .doc = "intrinsic_to_world($self, fi, fj)\n--\n\n"
           "World `(x, y)` of fractional intrinsic coordinates `(fi, fj)`.",
    .call = [](Bound& a) -> Outcome {
      return value(self_lattice(a).intrinsic_to_world(a.get<double>(0), a.get<double>(1)), py_pair_tuple);
    },
};

const FunctionDef kWorldToIntrinsic{
    .name = "world_to_intrinsic",
    .owner = "Lattice",
    .params = kXY,
    .doc = "world_to_intrinsic($self, x, y)\n--\n\n"
           "Fractional intrinsic `(fi, fj)` of a world point, or `None` where the inverse\n"
           "is undefined (zero spacing, non-finite input or result).",
    .call = [](Bound& a) -> Outcome {
      return value(self_lattice(a).world_to_intrinsic(a.get<double>(0), a.get<double>(1)), optional_pair);
    },
};

const FunctionDef kNodeXY{
    .name = "node_xy",
    .owner = "Lattice",
    .params = kIJ,
    .doc = "node_xy($self, i, j)\n--\n\n"
           "World `(x, y)` of node `(i, j)`; compatibility alias of `intrinsic_to_world`.",
    .call = [](Bound& a) -> Outcome {
      return value(self_lattice(a).node_xy(a.get<std::uint64_t>(0), a.get<std::uint64_t>(1)), py_pair_tuple);
    },
};

const FunctionDef kXYToIJ{
    .name = "xy_to_ij",
    .owner = "Lattice",
    .params = kXY,
    .doc = "xy_to_ij($self, x, y)\n--\n\n",
    .call = [](Bound& a) -> Outcome {
      return value(self_lattice(a).world_to_intrinsic(a.get<double>(0), a.get<double>(1)), optional_pair);
    },
};

PyMethodDef kLatticeMethods[] = {
    method_entry<kStepVectors>(),  method_entry<kIntrinsicToWorld>(), method_entry<kWorldToIntrinsic>(),
    method_entry<kNodeXY>(),       method_entry<kXYToIJ>(),           {nullptr, nullptr, 0, nullptr},
};

template <auto Member>
PyObject* lattice_float(PyObject* self) {
  return py_float(unwrap<Lattice>(self).*Member);
}
template <auto Member>
PyObject* lattice_count(PyObject* self) {
  return py_count(unwrap<Lattice>(self).*Member);
}

const GetterDef kLatticeGetters[] = {
    {"ncol", lattice_count<&Lattice::ncol>},
    {"nrow", lattice_count<&Lattice::nrow>},
    {"xori", lattice_float<&Lattice::xori>, "Origin x of node `(0, 0)` (world units)."},
    {"yori", lattice_float<&Lattice::yori>, "Origin y of node `(0, 0)` (world units)."},
    {"xinc", lattice_float<&Lattice::xinc>, "Node spacing along the column/x axis (world units)."},
    {"yinc", lattice_float<&Lattice::yinc>, "Node spacing along the row/y axis (world units)."},
    {"rotation_deg", lattice_float<&Lattice::rotation_deg>,
     "Intrinsic rotation in normalized degrees CCW from world east to I."},
    {"yflip", [](PyObject* self) { return py_bool(unwrap<Lattice>(self).yflip); },
     "Whether positive intrinsic J follows the flipped axis."},
};

const ClassDef kLatticeClass{
    .name = "Lattice",
    .doc = "Lattice(xori, yori, xinc, yinc, ncol, nrow, rotation_deg=0.0, yflip=False)\n--\n\n"
           "A regular 2-D lattice \u2014 the target grid geometry. Optional intrinsic\n"
           "`rotation_deg` (CCW from east to I) and `yflip` preserve the historic\n"
           "axis-aligned constructor defaults. World units throughout.",
    .ctor = &kLatticeNew,
    .methods = kLatticeMethods,
    .getters = kLatticeGetters,
    .repr = repr_of<Lattice>,
};

// ---- Georef ---------------------------------------------------------------

constexpr Param kGeorefParams[] = {
    {"east0", to_float, Default::none()},
    {"north0", to_float, Default::none()},
};

const FunctionDef kGeorefNew{
    .name = "__new__",
    .owner = "Georef",
    .params = kGeorefParams,
    .doc = nullptr,
    .call = [](Bound& a) -> Outcome {
      if (a.has(0) != a.has(1))
        return Outcome::value_error("Georef: pass both east0 and north0, or neither (fictional default)");
      if (!a.has(0)) return value(Georef{}, wrap_ref<Georef>);
      return done(Georef::make(a.get<double>(0), a.get<double>(1)), wrap_ref<Georef>);
    },
};

const Georef& self_georef(const Bound& a) { return unwrap<Georef>(a.self); }

const FunctionDef kOrigin{
    .name = "origin",
    .owner = "Georef",
    .params = {},
    .doc = "origin($self)\n--\n\nThe origin as an `[east, north]` world point.",
    .call = [](Bound& a) -> Outcome {
      const Georef& g = self_georef(a);
      return value(std::pair{g.east0, g.north0}, py_pair_list);
    },
};

constexpr Param kGeorefLatticeParams[] = {
    {"xinc", to_float},
    {"yinc", to_float},
    {"ncol", to_count},
    {"nrow", to_count},
    {"rotation_deg", to_float, Default::real(0.0)},
    {"yflip", to_flag, Default::flag(false)},
};

const FunctionDef kGeorefLattice{
    .name = "lattice",
    .owner = "Georef",
    .params = kGeorefLatticeParams,
    .doc = "lattice($self, xinc, yinc, ncol, nrow, rotation_deg=0.0, yflip=False)\n--\n\n"
           "A world-placed `Lattice` of `ncol \u00d7 nrow` nodes at spacing `(xinc, yinc)`,\n"
           "node `(0, 0)` pinned to this origin.",
    .call = [](Bound& a) -> Outcome {
      return done(self_georef(a).lattice(a.get<double>(0), a.get<double>(1), a.get<std::uint64_t>(2),
                                         a.get<std::uint64_t>(3), a.get<double>(4), a.get<bool>(5)),
                  wrap_ref<Lattice>);
    },
};

constexpr Param kLocalParam[] = {{"local", to_point}};

const FunctionDef kPlacePoint{
    .name = "place_point",
    .owner = "Georef",
    .params = kLocalParam,
    .doc = "place_point($self, local)\n--\n\nTranslate a local `[x, y]` (from `(0, 0)`) into this world frame.",
    .call = [](Bound& a) -> Outcome {
      return value(self_georef(a).place_point(a.get<Pair>(0)), py_pair_list);
    },
};

constexpr Param kLocalsParam[] = {{"locals", to_points}};

const FunctionDef kPlacePoints{
    .name = "place_points",
    .owner = "Georef",
    .params = kLocalsParam,
    .doc = "place_points($self, locals)\n--\n\nTranslate a list of local `[x, y]` points into this world frame.",
    .call = [](Bound& a) -> Outcome {
      return value(self_georef(a).place_points(a.get<std::vector<Pair>>(0)), py_pair_lists);
    },
};

constexpr Param kPlaceIntrinsicParams[] = {
    {"intrinsic", to_point},
    {"rotation_deg", to_float, Default::real(0.0)},
    {"yflip", to_flag, Default::flag(false)},
};

const FunctionDef kPlaceIntrinsic{
    .name = "place_intrinsic",
    .owner = "Georef",
    .params = kPlaceIntrinsicParams,
    .doc = "place_intrinsic($self, intrinsic, rotation_deg=0.0, yflip=False)\n--\n\n"
           "Place a local point through a rotated/flipped intrinsic frame.",
    .call = [](Bound& a) -> Outcome {
      return done(self_georef(a).place_intrinsic(a.get<Pair>(0), a.get<double>(1), a.get<bool>(2)), py_pair_list);
    },
};

PyMethodDef kGeorefMethods[] = {
    method_entry<kOrigin>(),      method_entry<kGeorefLattice>(),   method_entry<kPlacePoint>(),
    method_entry<kPlacePoints>(), method_entry<kPlaceIntrinsic>(), {nullptr, nullptr, 0, nullptr},
};

const GetterDef kGeorefGetters[] = {
    {"east0", [](PyObject* self) { return py_float(unwrap<Georef>(self).east0); }},
    {"north0", [](PyObject* self) { return py_float(unwrap<Georef>(self).north0); }},
};

const ClassDef kGeorefClass{
    .name = "Georef",
    .doc = "Georef(east0=None, north0=None)\n--\n\n"
           "A fictional **world-frame** origin (a UTM-style easting/northing) for placing a\n"
           "synthetic asset in the world \u2014 the default posture (the frame escapes the\n"
           "testing doctrine feeds trace to fixtures built in one tidy local frame). In\n"
           "quarnTools the georeference *is* the `Lattice`; `Georef` is a convenience over\n"
           "that: it builds a world-placed `Lattice` and translates locally-built points\n"
           "into the same frame. `Georef()` uses the documented fictional origin;\n"
           "`Georef(east0, north0)` a chosen one.",
    .ctor = &kGeorefNew,
    .methods = kGeorefMethods,
    .getters = kGeorefGetters,
    .repr = repr_of<Georef>,
};

const Export kExports[] = {
    class_export<Lattice>("Lattice"),
    class_export<Georef>("Georef"),
};

}  // namespace

const ClassDef& ClassOf<quarn::Lattice>::def() { return kLatticeClass; }
const ClassDef& ClassOf<quarn::Georef>::def() { return kGeorefClass; }

std::span<const Export> lattice_exports() { return kExports; }

}  // namespace qpy
