// src/sampling/normal_policy.hpp: the Boost.Math policy behind normal_cdf and
// normal_inv_cdf.
//
// Pure double evaluation (no promotion to long double), so the same bits come out
// on every IEEE platform; overflow gives +-inf instead of throwing (erfc_inv(0) and
// erfc_inv(2)); domain and pole errors return NaN instead of throwing. Boost's
// double erfc_inv is the documented rational approximation (offsets
// 0.0891314744949340820313, 2.249481201171875, ...). Its double erfc uses Boost's
// own interval breakpoints and coefficients, which may differ from other
// implementations of the same family by a few ulp; we take Boost's as the
// reference rather than hand-writing coefficient tables.
#pragma once
#include <boost/math/policies/policy.hpp>
#include <boost/math/special_functions/erf.hpp>

namespace quarn::sampling {

using NormalPolicy = boost::math::policies::policy<
    boost::math::policies::promote_float<false>, boost::math::policies::promote_double<false>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::pole_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>>;

[[nodiscard]] inline double erfc_double(double z) { return boost::math::erfc(z, NormalPolicy()); }
[[nodiscard]] inline double erfc_inv_double(double q) { return boost::math::erfc_inv(q, NormalPolicy()); }

}  // namespace quarn::sampling
