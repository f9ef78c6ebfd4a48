// py/src/interp.cpp: binding of interp1d.
#include <string>
#include <vector>

#include "areas.hpp"
#include "convert.hpp"
#include "interp/interp1d.hpp"
#include "kinds.hpp"
#include "options.hpp"

namespace qpy {

using quarn::interp::Method;

namespace {

using Floats = std::vector<double>;

constexpr OptionName<Method> kMethodNames[] = {
    {"nearest", Method::NearestKnot},   {"closest", Method::NearestKnot},   {"nn", Method::NearestKnot},
    {"previous", Method::PreviousKnot}, {"prev", Method::PreviousKnot},     {"ffill", Method::PreviousKnot},
    {"next", Method::NextKnot},         {"bfill", Method::NextKnot},        {"linear", Method::Linear},
    {"cubic", Method::NaturalCubic},    {"spline", Method::NaturalCubic},   {"natural", Method::NaturalCubic},
    {"natural_cubic", Method::NaturalCubic}, {"cubic_natural", Method::NaturalCubic},
};

}  // namespace

// An unknown name reads as an invalid-argument error of the core.
const Option<Method> kInterpMethod{kMethodNames, true, [](const std::string& key) {
  return quarn::invalid_argument("unknown interpolation method '" + key + "'").display();
}};

namespace {

struct InterpArgs {
  Floats x, y, query;
  std::string method_name;
  Method method;  ///< from method_name, in the check (lock held)
  bool extrapolate;
};
using IA = InterpArgs;

constexpr Param<IA> kInterpParams[] = {
    {"x", arg<&IA::x, as_floats>},
    {"y", arg<&IA::y, as_floats>},
    {"query", arg<&IA::query, as_floats>},
    {"method", arg<&IA::method_name, as_name>, Default::str("linear")},
    {"extrapolate", arg<&IA::extrapolate, as_flag>, Default::flag(false)},
};

const FunctionDef<IA> kInterp1d{
    .name = "interp1d",
    .owner = nullptr,
    .params = kInterpParams,
    .doc = "Interpolate `y`, given at the finite, strictly increasing knots `x`, at every\n"
           "position of `query`; returns one float per query, in order.\n\n"
           "`method`: 'linear'; 'nearest' (or 'closest', 'nn'; a tie goes to the lower\n"
           "knot); 'previous' (or 'prev', 'ffill'); 'next' (or 'bfill'); 'cubic' (or\n"
           "'spline', 'natural', 'natural_cubic', 'cubic_natural'), a natural cubic spline.\n"
           "Queries outside `[x[0], x[-1]]` give NaN unless `extrapolate` is true: then\n"
           "nearest, previous and next hold the end values while linear and cubic extend\n"
           "their end pieces. A NaN query always gives NaN.",
    .call = [](IA& a) -> Outcome {
      return done(quarn::interp::interp1d(a.x, a.y, a.query, a.method, a.extrapolate), py_floats);
    },
    .check = [](IA& a) { return parse_option(kInterpMethod, a.method_name, a.method); },
    .nogil = true,
};

const Export kExports[] = {function_export<kInterp1d>()};

}  // namespace

std::span<const Export> interp_exports() { return kExports; }

}  // namespace qpy
