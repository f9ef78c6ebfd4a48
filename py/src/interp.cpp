// py/src/interp.cpp: binding of interp1d.
#include <string>
#include <vector>

#include "areas.hpp"
#include "convert.hpp"
#include "interp/interp1d.hpp"

namespace qpy {
namespace {

using quarn::interp::Method;
using Floats = std::vector<double>;

// The method name is resolved with the lock held; an unknown name is a core error.
bool check_method(Bound& a) {
  auto m = quarn::interp::parse_method(a.get<std::string>(3));
  if (!m.ok()) {
    set_error(PyExc_ValueError, m.error().display());
    return false;
  }
  a.slots[3] = m.value();
  return true;
}

constexpr Param kInterpParams[] = {
    {"x", to_floats},
    {"y", to_floats},
    {"query", to_floats},
    {"method", to_name, Default::str("linear")},
    {"extrapolate", to_flag, Default::flag(false)},
};

const FunctionDef kInterp1d{
    .name = "interp1d",
    .owner = nullptr,
    .params = kInterpParams,
    .doc = "interp1d(x, y, query, method='linear', extrapolate=False)\n--\n\n"
           "Interpolate `y`, given at the finite, strictly increasing knots `x`, at every\n"
           "position of `query`; returns one float per query, in order.\n\n"
           "`method`: 'linear'; 'nearest' (or 'closest', 'nn'; a tie goes to the lower\n"
           "knot); 'previous' (or 'prev', 'ffill'); 'next' (or 'bfill'); 'cubic' (or\n"
           "'spline', 'natural', 'natural_cubic', 'cubic_natural'), a natural cubic spline.\n"
           "Queries outside `[x[0], x[-1]]` give NaN unless `extrapolate` is true: then\n"
           "nearest, previous and next hold the end values while linear and cubic extend\n"
           "their end pieces. A NaN query always gives NaN.",
    .call = [](Bound& a) -> Outcome {
      return done(quarn::interp::interp1d(a.get<Floats>(0), a.get<Floats>(1), a.get<Floats>(2), a.get<Method>(3),
                                          a.get<bool>(4)),
                  py_floats);
    },
    .check = check_method,
    .nogil = true,
};

const Export kExports[] = {function_export<kInterp1d>()};

}  // namespace

std::span<const Export> interp_exports() { return kExports; }

}  // namespace qpy
