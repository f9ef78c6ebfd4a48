// py/src/synth/wells.cpp: well placement, trajectories, dogleg severity and tops.
#include <optional>
#include <string>
#include <vector>

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

struct PlaceArgs {
  double xmin, ymin, xmax, ymax;
  std::uint64_t n, seed;
};
using PA = PlaceArgs;

constexpr Param<PA> kPlaceWellsParams[] = {
    {"xmin", arg<&PA::xmin, as_float>}, {"ymin", arg<&PA::ymin, as_float>}, {"xmax", arg<&PA::xmax, as_float>},
    {"ymax", arg<&PA::ymax, as_float>}, {"n", arg<&PA::n, as_count>},       {"seed", arg<&PA::seed, as_count>},
};

const FunctionDef<PA> kPlaceWells{
    .name = "place_wells",
    .owner = nullptr,
    .params = kPlaceWellsParams,
    .doc = "`n` seeded uniform well heads in the extent [xmin, xmax) x [ymin, ymax),\n"
           "as `[x, y]` lists (x drawn before y). The same arguments and seed give the\n"
           "same points.",
    .call = [](PA& a) -> Outcome {
      return done(wells::place_wells(a.xmin, a.ymin, a.xmax, a.ymax, a.n, a.seed), py_pair_lists);
    },
};

struct PolygonArgs {
  std::vector<Pair> polygon;
  std::uint64_t n, seed;
};

constexpr Param<PolygonArgs> kPlaceInPolygonParams[] = {{"polygon", arg<&PolygonArgs::polygon, as_pairs>},
                                                        {"n", arg<&PolygonArgs::n, as_count>},
                                                        {"seed", arg<&PolygonArgs::seed, as_count>}};

const FunctionDef<PolygonArgs> kPlaceWellsInPolygon{
    .name = "place_wells_in_polygon",
    .owner = nullptr,
    .params = kPlaceInPolygonParams,
    .doc = "`n` seeded well heads inside `polygon` (a list of `[x, y]` vertices, implicitly\n"
           "closed; even-odd rule), by rejection sampling from its bounding box with at\n"
           "most max(10000, 10000 n) attempts. Fails rather than returning fewer points.",
    .call = [](PolygonArgs& a) -> Outcome {
      return done(wells::place_wells_in_polygon(a.polygon, a.n, a.seed), py_pair_lists);
    },
};

// ---- tops ---------------------------------------------------------------------

struct TopsArgs {
  Nested surface_rows;
  Lattice lattice;
  std::vector<Pair> well_xy;
  std::optional<quarn::sampling::Sampler> residual;
  std::uint64_t seed;
  Field surface;  ///< from surface_rows, shaped against lattice in the check
};
using TA = TopsArgs;

constexpr Param<TA> kTopsParams[] = {
    {"surface", arg<&TA::surface_rows, as_nested>}, {"lattice", arg<&TA::lattice, as_lattice>},
    {"well_xy", arg<&TA::well_xy, as_pairs>},       {"residual", arg<&TA::residual, as_sampler>},
    {"seed", arg<&TA::seed, as_count>},
};

const FunctionDef<TA> kTopsFromSurface{
    .name = "tops_from_surface",
    .owner = nullptr,
    .params = kTopsParams,
    .doc = "One top per well: the surface `surface[col][row]` sampled bilinearly at the\n"
           "well's world `[x, y]`, plus one draw of the `residual` Sampler. The k-th\n"
           "well takes the k-th draw from `Rng(seed)`; wells outside the lattice or over\n"
           "an undefined (NaN) cell get NaN, and still consume their draw.",
    .call = [](TA& a) -> Outcome {
      return done(wells::tops_from_surface(a.surface, a.lattice, a.well_xy, *a.residual, a.seed), py_floats);
    },
    .check = [](TA& a) { return lattice_field(a.surface_rows, a.lattice, a.surface); },
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

struct TrajectoryArgs {
  Pair wellhead_xy;
  double kb_elevation, td, md_step;
  std::uint64_t seed;
  std::string profile_name;
  Profile profile;  ///< from profile_name, in the check
  double kickoff_md, build_rate, hold_incl, azimuth;
  std::optional<double> drop_start_md;
  double drop_rate, final_incl;
};
using TjA = TrajectoryArgs;

constexpr Param<TjA> kTrajectoryParams[] = {
    {"wellhead_xy", arg<&TjA::wellhead_xy, as_pair>}, {"kb_elevation", arg<&TjA::kb_elevation, as_float>},
    {"td", arg<&TjA::td, as_float>},                  {"md_step", arg<&TjA::md_step, as_float>},
    {"seed", arg<&TjA::seed, as_count>},
};

const FunctionDef<TjA> kSynthTrajectory{
    .name = "synth_trajectory",
    .owner = nullptr,
    .params = kTrajectoryParams,
    .doc = "A vertical well from the kelly bushing to `td` (m, positive down) with a\n"
           "station every `md_step` m and one on `td`. Returns the columns\n"
           "{'md', 'x', 'y', 'z', 'tvd', 'incl', 'azim'} with z = kb_elevation - tvd.\n"
           "`seed` is reserved (validated, not used).",
    .call = [](TjA& a) -> Outcome {
      return done(wells::synth_trajectory(a.wellhead_xy, a.kb_elevation, a.td, a.md_step), py_trajectory);
    },
};

constexpr Param<TjA> kProfileParams[] = {
    {"wellhead_xy", arg<&TjA::wellhead_xy, as_pair>},
    {"kb_elevation", arg<&TjA::kb_elevation, as_float>},
    {"td", arg<&TjA::td, as_float>},
    {"md_step", arg<&TjA::md_step, as_float>},
    {"seed", arg<&TjA::seed, as_count>},
    {"profile", arg<&TjA::profile_name, as_name>},
    {"kickoff_md", arg<&TjA::kickoff_md, as_float>, Default::real(0.0)},
    {"build_rate_deg_per_30m", arg<&TjA::build_rate, as_float>, Default::real(3.0)},
    {"hold_incl_deg", arg<&TjA::hold_incl, as_float>, Default::real(45.0)},
    {"azimuth_deg", arg<&TjA::azimuth, as_float>, Default::real(0.0)},
    {"drop_start_md", arg<&TjA::drop_start_md, as_float>, Default::none()},
    {"drop_rate_deg_per_30m", arg<&TjA::drop_rate, as_float>, Default::real(3.0)},
    {"final_incl_deg", arg<&TjA::final_incl, as_float>, Default::real(0.0)},
};

Outcome run_profile(TjA& a) {
  const auto wh = a.wellhead_xy;
  const double kb = a.kb_elevation, td = a.td, step = a.md_step;
  if (a.profile == Profile::Vertical)
    return done(wells::synth_trajectory_profile(wh, kb, td, step, wells::Vertical{}), py_trajectory);
  auto bh = wells::BuildHold::make(a.kickoff_md, a.build_rate, a.hold_incl, a.azimuth);
  if (!bh) return Outcome(std::move(bh).error());
  if (a.profile == Profile::BuildHold) return done(wells::synth_trajectory_profile(wh, kb, td, step, *bh), py_trajectory);
  if (!a.drop_start_md) return Outcome::value_error("build_hold_drop needs drop_start_md");
  auto bhd = wells::BuildHoldDrop::make(*bh, *a.drop_start_md, a.drop_rate, a.final_incl);
  if (!bhd) return Outcome(std::move(bhd).error());
  return done(wells::synth_trajectory_profile(wh, kb, td, step, *bhd), py_trajectory);
}

const FunctionDef<TjA> kSynthTrajectoryProfile{
    .name = "synth_trajectory_profile",
    .owner = nullptr,
    .params = kProfileParams,
    .doc = "A designed well path to MD `td`: 'vertical', 'build_hold' (kick off at\n"
           "`kickoff_md`, build at `build_rate_deg_per_30m` to `hold_incl_deg` along\n"
           "`azimuth_deg`, hold) or 'build_hold_drop' (then drop from `drop_start_md` at\n"
           "`drop_rate_deg_per_30m` to `final_incl_deg`). Positions by minimum curvature;\n"
           "same columns as `synth_trajectory`. `seed` is reserved (validated, not used).",
    .call = run_profile,
    .check = [](TjA& a) { return parse_option(kProfile, a.profile_name, a.profile); },
};

struct DoglegArgs {
  std::vector<double> md, incl, azim;
};

constexpr Param<DoglegArgs> kDoglegParams[] = {{"md", arg<&DoglegArgs::md, as_floats>},
                                               {"incl", arg<&DoglegArgs::incl, as_floats>},
                                               {"azim", arg<&DoglegArgs::azim, as_floats>}};

const FunctionDef<DoglegArgs> kMaxDoglegSeverity{
    .name = "max_dogleg_severity",
    .owner = nullptr,
    .params = kDoglegParams,
    .doc = "Largest dogleg severity (deg/30 m) between consecutive stations with\n"
           "increasing MD (angles in degrees); 0.0 when there is no such pair.",
    .call = [](DoglegArgs& a) -> Outcome {
      return done(wells::max_dogleg_severity(a.md, a.incl, a.azim), py_float);
    },
    .check = [](DoglegArgs& a) {
      const auto n = a.md.size();
      if (a.incl.size() != n || a.azim.size() != n) {
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
