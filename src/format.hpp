// src/format.hpp: the number texts shared by every repr and formatted message.
#pragma once
#include <cstdint>
#include <string>

namespace quarn::fmt {

/// Shortest text that reads back to the same double, never in exponent form and
/// without a trailing ".0": 1 -> "1", 1e21 -> "1000000000000000000000",
/// 1e-7 -> "0.0000001", -0.0 -> "-0", NaN -> "NaN", infinities "inf" / "-inf".
[[nodiscard]] std::string num(double v);

/// Fixed notation with exactly `decimals` digits after the point, rounded from the
/// exact binary value (ties to even), as printf's "%.*f" does; NaN/inf as in num().
[[nodiscard]] std::string fixed(double v, int decimals);

/// Debug form: at least one fractional digit ("1.0", "-0.0"); exponent form
/// ("1e16", "1.5e-5") when |v| >= 1e16 or 0 < |v| < 1e-4.
[[nodiscard]] std::string debug(double v);

/// "true" / "false".
[[nodiscard]] inline const char* boolean(bool b) { return b ? "true" : "false"; }

/// Plain decimal integer.
[[nodiscard]] std::string num(std::uint64_t v);

}  // namespace quarn::fmt
