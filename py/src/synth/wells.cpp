// py/src/synth/wells.cpp: well placement, trajectories, dogleg severity and tops.
#include <string>

#include "../areas.hpp"
#include "../grid.hpp"
#include "../lattice.hpp"
#include "../options.hpp"
#include "../sampling.hpp"
#include "synth/wells/placement.hpp"
#include "synth/wells/tops.hpp"
#include "synth/wells/trajectory.hpp"

namespace qpy {
namespace {

namespace wells = quarn::synth::wells;
using quarn::Field;
using quarn::Lattice;

// ---- placement ----------------------------------------------------------------

constexpr Param kPlaceWellsParams[] = {
    {"xmin", to_float}, {"ymin", to_float}, {"xmax", to_float},
    {"ymax", to_float}, {"n", to_count},    {"seed", to_count},
};

const FunctionDef kPlaceWells{
    .name = "place_wells",
    .owner = nullptr,
    .params = kPlaceWellsParams,
    .doc = "place_wells(xmin, ymin, xmax, ymax, n, seed)\n--\n\n"
           "`n` seeded uniform well heads in the extent [xmin, xmax) x [ymin, ymax),\n"
           "as `[x, y]` lists (x drawn before y). The same arguments and seed give the\n"
           "same points.",
    .call = [](Bound& a) -> Outcome {
      return done(wells::place_wells(a.get<double>(0), a.get<double>(1), a.get<double>(2), a.get<double>(3),
                                     a.get<std::uint64_t>(4), a.get<std::uint64_t>(5)),
                  py_pair_lists);
    },
};

constexpr Param kPlaceInPolygonParams[] = {{"polygon", to_points}, {"n", to_count}, {"seed", to_count}};

const FunctionDef kPlaceWellsInPolygon{
    .name = "place_wells_in_polygon",
    .owner = nullptr,
    .params = kPlaceInPolygonParams,
    .doc = "place_wells_in_polygon(polygon, n, seed)\n--\n\n"
           "`n` seeded well heads inside `polygon` (a list of `[x, y]` vertices, implicitly\n"
           "closed; even-odd rule), by rejection sampling from its bounding box with at\n"
           "most max(10000, 10000 n) attempts. Fails rather than returning fewer points.",
    .call = [](Bound& a) -> Outcome {
      return done(wells::place_wells_in_polygon(a.get<std::vector<Pair>>(0), a.get<std::uint64_t>(1),
                                                a.get<std::uint64_t>(2)),
                  py_pair_lists);
    },
};

// ---- tops ---------------------------------------------------------------------

constexpr Param kTopsParams[] = {
    {"surface", to_nested}, {"lattice", to_lattice}, {"well_xy", to_points},
    {"residual", to_sampler}, {"seed", to_count},
};

const FunctionDef kTopsFromSurface{
    .name = "tops_from_surface",
    .owner = nullptr,
    .params = kTopsParams,
    .doc = "tops_from_surface(surface, lattice, well_xy, residual, seed)\n--\n\n"
           "One top per well: the surface `surface[col][row]` sampled bilinearly at the\n"
           "well's world `[x, y]`, plus one draw of the `residual` Sampler. The k-th\n"
           "well takes the k-th draw from `Rng(seed)`; wells outside the lattice or over\n"
           "an undefined (NaN) cell get NaN, and still consume their draw.",
    .call = [](Bound& a) -> Outcome {
      return done(wells::tops_from_surface(a.get<Field>(0), a.get<Lattice>(1), a.get<std::vector<Pair>>(2),
                                           a.get<quarn::sampling::Sampler>(3), a.get<std::uint64_t>(4)),
                  py_floats);
    },
    .check = [](Bound& a) {
      const Lattice& lat = a.get<Lattice>(1);
      return nested_field_check(a, 0, lat.ncol, lat.nrow);
    },
};

// ---- trajectories ---------------------------------------------------------------

// Columnar dict of the stations.
PyObject* py_trajectory(const std::vector<wells::Station>& st) {
  Ref dict(PyDict_New());
  if (!dict) return nullptr;
  const auto column = [&](const char* key, double wells::Station::*member) {
    Ref list(build_list(st, [member](const wells::Station& s) { return PyFloat_FromDouble(s.*member); }));
    return list && PyDict_SetItemString(dict.get(), key, list.get()) == 0;
  };
  if (!column("md", &wells::Station::md) || !column("x", &wells::Station::x) || !column("y", &wells::Station::y) ||
      !column("z", &wells::Station::z) || !column("tvd", &wells::Station::tvd) ||
      !column("incl", &wells::Station::incl) || !column("azim", &wells::Station::azim))
    return nullptr;
  return dict.release();
}

constexpr Param kTrajectoryParams[] = {
    {"wellhead_xy", to_point}, {"kb_elevation", to_float}, {"td", to_float},
    {"md_step", to_float},     {"seed", to_count},
};

const FunctionDef kSynthTrajectory{
    .name = "synth_trajectory",
    .owner = nullptr,
    .params = kTrajectoryParams,
    .doc = "synth_trajectory(wellhead_xy, kb_elevation, td, md_step, seed)\n--\n\n"
           "A vertical well from the kelly bushing to `td` (m, positive down) with a\n"
           "station every `md_step` m and one on `td`. Returns the columns\n"
           "{'md', 'x', 'y', 'z', 'tvd', 'incl', 'azim'} with z = kb_elevation - tvd.\n"
           "`seed` is reserved (validated, not used).",
    .call = [](Bound& a) -> Outcome {
      return done(wells::synth_trajectory(a.get<Pair>(0), a.get<double>(1), a.get<double>(2), a.get<double>(3)),
                  py_trajectory);
    },
};

constexpr Param kProfileParams[] = {
    {"wellhead_xy", to_point},
    {"kb_elevation", to_float},
    {"td", to_float},
    {"md_step", to_float},
    {"seed", to_count},
    {"profile", to_name},
    {"kickoff_md", to_float, Default::real(0.0)},
    {"build_rate_deg_per_30m", to_float, Default::real(3.0)},
    {"hold_incl_deg", to_float, Default::real(45.0)},
    {"azimuth_deg", to_float, Default::real(0.0)},
    {"drop_start_md", to_float, Default::none()},
    {"drop_rate_deg_per_30m", to_float, Default::real(3.0)},
    {"final_incl_deg", to_float, Default::real(0.0)},
};

// The text written as a double-quoted string literal with escapes.
std::string quoted(const std::string& s) {
  static const char* const kHex = "0123456789abcdef";
  std::string out = "\"";
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u{";
          if (c >= 0x10) out += kHex[c >> 4];
          out += kHex[c & 0xF];
          out += "}";
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

enum class Profile { Vertical, BuildHold, BuildHoldDrop };

constexpr OptionName<Profile> kProfileNames[] = {
    {"vertical", Profile::Vertical},
    {"build_hold", Profile::BuildHold},
    {"build-hold", Profile::BuildHold},
    {"build_hold_drop", Profile::BuildHoldDrop},
    {"build-hold-drop", Profile::BuildHoldDrop},
};

// Matched exactly: no trimming, no case folding.
const Option<Profile> kProfile{kProfileNames, false, [](const std::string& name) {
  return "unknown profile " + quoted(name) + "; use 'vertical' | 'build_hold' | 'build_hold_drop'";
}};

Outcome run_profile(Bound& a) {
  Profile profile;
  if (!parse_option(kProfile, a.get<std::string>(5), profile)) return Outcome::python_error();
  const auto wh = a.get<Pair>(0);
  const double kb = a.get<double>(1), td = a.get<double>(2), step = a.get<double>(3);
  if (profile == Profile::Vertical)
    return done(wells::synth_trajectory_profile(wh, kb, td, step, wells::Vertical{}), py_trajectory);
  const bool hold = profile == Profile::BuildHold;
  auto bh = wells::BuildHold::make(a.get<double>(6), a.get<double>(7), a.get<double>(8), a.get<double>(9));
  if (!bh) return Outcome(std::move(bh).error());
  if (hold) return done(wells::synth_trajectory_profile(wh, kb, td, step, *bh), py_trajectory);
  if (!a.has(10)) return Outcome::value_error("build_hold_drop needs drop_start_md");
  auto bhd = wells::BuildHoldDrop::make(*bh, a.get<double>(10), a.get<double>(11), a.get<double>(12));
  if (!bhd) return Outcome(std::move(bhd).error());
  return done(wells::synth_trajectory_profile(wh, kb, td, step, *bhd), py_trajectory);
}

const FunctionDef kSynthTrajectoryProfile{
    .name = "synth_trajectory_profile",
    .owner = nullptr,
    .params = kProfileParams,
    .doc = "synth_trajectory_profile(wellhead_xy, kb_elevation, td, md_step, seed, profile, kickoff_md=0.0, "
           "build_rate_deg_per_30m=3.0, hold_incl_deg=45.0, azimuth_deg=0.0, drop_start_md=None, "
           "drop_rate_deg_per_30m=3.0, final_incl_deg=0.0)\n--\n\n"
           "A designed well path to MD `td`: 'vertical', 'build_hold' (kick off at\n"
           "`kickoff_md`, build at `build_rate_deg_per_30m` to `hold_incl_deg` along\n"
           "`azimuth_deg`, hold) or 'build_hold_drop' (then drop from `drop_start_md` at\n"
           "`drop_rate_deg_per_30m` to `final_incl_deg`). Positions by minimum curvature;\n"
           "same columns as `synth_trajectory`. `seed` is reserved (validated, not used).",
    .call = run_profile,
};

constexpr Param kDoglegParams[] = {{"md", to_floats}, {"incl", to_floats}, {"azim", to_floats}};

const FunctionDef kMaxDoglegSeverity{
    .name = "max_dogleg_severity",
    .owner = nullptr,
    .params = kDoglegParams,
    .doc = "max_dogleg_severity(md, incl, azim)\n--\n\n"
           "Largest dogleg severity (deg/30 m) between consecutive stations with\n"
           "increasing MD (angles in degrees); 0.0 when there is no such pair.",
    .call = [](Bound& a) -> Outcome {
      return done(wells::max_dogleg_severity(a.get<std::vector<double>>(0), a.get<std::vector<double>>(1),
                                             a.get<std::vector<double>>(2)),
                  py_float);
    },
    .check = [](Bound& a) {
      const auto n = a.get<std::vector<double>>(0).size();
      if (a.get<std::vector<double>>(1).size() != n || a.get<std::vector<double>>(2).size() != n) {
        PyErr_SetString(PyExc_ValueError, "max_dogleg_severity: md, incl and azim must be equal length");
        return false;
      }
      return true;
    },
};

const Export kExports[] = {
    function_export<kPlaceWells>(),      function_export<kPlaceWellsInPolygon>(),
    function_export<kTopsFromSurface>(), function_export<kSynthTrajectory>(),
    function_export<kSynthTrajectoryProfile>(), function_export<kMaxDoglegSeverity>(),
};

}  // namespace

std::span<const Export> wells_exports() { return kExports; }

}  // namespace qpy
