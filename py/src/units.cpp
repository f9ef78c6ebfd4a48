// py/src/units.cpp: bindings of the unit conversions and format_volume.
#include "areas.hpp"
#include "convert.hpp"
#include "units.hpp"

namespace qpy {
namespace {

struct Amount {
  double v;
};

template <double (*F)(double)>
Outcome convert_one(Amount& a) {
  return value(F(a.v), py_float);
}

constexpr auto kV = arg<&Amount::v, as_float>;
constexpr Param<Amount> kM3[] = {{"m3", kV}};
constexpr Param<Amount> kMcm[] = {{"mcm", kV}};
constexpr Param<Amount> kMsm3[] = {{"msm3", kV}};
constexpr Param<Amount> kBcm[] = {{"bcm", kV}};
constexpr Param<Amount> kScf[] = {{"scf", kV}};
constexpr Param<Amount> kSm3[] = {{"sm3", kV}};
constexpr Param<Amount> kStb[] = {{"stb", kV}};
constexpr Param<Amount> kKm2[] = {{"km2", kV}};
constexpr Param<Amount> kM2[] = {{"m2", kV}};
constexpr Param<Amount> kVolume[] = {{"v_m3", kV}};

namespace u = quarn::units;

const FunctionDef<Amount> kM3ToMcm{.name = "m3_to_mcm", .owner = nullptr, .params = kM3,
                           .doc = "Cubic metres -> mcm (million m\u00b3).",
                           .call = convert_one<u::m3_to_mcm>};
const FunctionDef<Amount> kMcmToM3{.name = "mcm_to_m3", .owner = nullptr, .params = kMcm,
                           .doc = "mcm (million m\u00b3) -> cubic metres.",
                           .call = convert_one<u::mcm_to_m3>};
const FunctionDef<Amount> kM3ToMsm3{
    .name = "m3_to_msm3", .owner = nullptr, .params = kM3,
    .doc = "Cubic metres (Sm\u00b3) -> MSm\u00b3 (million Sm\u00b3) \u2014 oil reporting.",
    .call = convert_one<u::m3_to_msm3>};
const FunctionDef<Amount> kMsm3ToM3{.name = "msm3_to_m3", .owner = nullptr, .params = kMsm3,
                            .doc = "MSm\u00b3 (million Sm\u00b3) -> cubic metres (Sm\u00b3).",
                            .call = convert_one<u::msm3_to_m3>};
const FunctionDef<Amount> kM3ToBcm{
    .name = "m3_to_bcm", .owner = nullptr, .params = kM3,
    .doc = "Cubic metres (Sm\u00b3) -> bcm (billion Sm\u00b3) \u2014 gas reporting.",
    .call = convert_one<u::m3_to_bcm>};
const FunctionDef<Amount> kBcmToM3{.name = "bcm_to_m3", .owner = nullptr, .params = kBcm,
                           .doc = "bcm (billion Sm\u00b3) -> cubic metres (Sm\u00b3).",
                           .call = convert_one<u::bcm_to_m3>};
const FunctionDef<Amount> kScfToSm3{
    .name = "scf_to_sm3", .owner = nullptr, .params = kScf,
    .doc = "Standard cubic feet -> standard cubic metres (pure geometric factor).",
    .call = convert_one<u::scf_to_sm3>};
const FunctionDef<Amount> kSm3ToScf{
    .name = "sm3_to_scf", .owner = nullptr, .params = kSm3,
    .doc = "Standard cubic metres -> standard cubic feet (pure geometric factor).",
    .call = convert_one<u::sm3_to_scf>};
const FunctionDef<Amount> kStbToSm3{.name = "stb_to_sm3", .owner = nullptr, .params = kStb,
                            .doc = "Stock-tank barrels -> standard cubic metres.",
                            .call = convert_one<u::stb_to_sm3>};
const FunctionDef<Amount> kSm3ToStb{.name = "sm3_to_stb", .owner = nullptr, .params = kSm3,
                            .doc = "Standard cubic metres -> stock-tank barrels.",
                            .call = convert_one<u::sm3_to_stb>};
const FunctionDef<Amount> kKm2ToM2{.name = "km2_to_m2", .owner = nullptr, .params = kKm2,
                           .doc = "Square kilometres -> square metres (areal report scale).",
                           .call = convert_one<u::km2_to_m2>};
const FunctionDef<Amount> kM2ToKm2{.name = "m2_to_km2", .owner = nullptr, .params = kM2,
                           .doc = "Square metres -> square kilometres (areal report scale).",
                           .call = convert_one<u::m2_to_km2>};

const FunctionDef<Amount> kFormatVolume{
    .name = "format_volume",
    .owner = nullptr,
    .params = kVolume,
    .doc = "A volume in m\u00b3 as text with one decimal and a report unit chosen by magnitude:\n"
           "bcm at 1e9 m\u00b3 and above, mcm at 1e6 m\u00b3 and above, else m\u00b3. The unit is chosen\n"
           "before rounding. `format_volume(12.4e6) == '12.4 mcm'`.",
    .call = [](Amount& a) -> Outcome { return value(u::format_volume(a.v), py_str); },
};

const Export kExports[] = {
    function_export<kM3ToMcm>(),  function_export<kMcmToM3>(),  function_export<kM3ToMsm3>(),
    function_export<kMsm3ToM3>(), function_export<kM3ToBcm>(),  function_export<kBcmToM3>(),
    function_export<kScfToSm3>(), function_export<kSm3ToScf>(), function_export<kStbToSm3>(),
    function_export<kSm3ToStb>(), function_export<kKm2ToM2>(),  function_export<kM2ToKm2>(),
    function_export<kFormatVolume>(),
};

}  // namespace

std::span<const Export> units_exports() { return kExports; }

}  // namespace qpy
