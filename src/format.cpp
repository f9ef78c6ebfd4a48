#include "format.hpp"

#include <charconv>
#include <cmath>
#include <string>

namespace quarn::fmt {
namespace {

// Handles NaN and the infinities; returns false for finite values.
bool special(double v, std::string& out) {
  if (std::isnan(v)) {
    out = "NaN";
    return true;
  }
  if (std::isinf(v)) {
    out = v < 0 ? "-inf" : "inf";
    return true;
  }
  return false;
}

}  // namespace

std::string num(double v) {
  std::string out;
  if (special(v, out)) return out;
  // The shortest digits come from the scientific form; laid out in fixed notation
  // they read back the same ("1e23" is 1 and 23 zeros, not the exact binary value
  // 99999999999999991611392 that fixed-format to_chars would print).
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  const std::string s(buf, r.ptr);
  const std::size_t e = s.find('e');
  std::string digits;
  bool neg = false;
  for (std::size_t k = 0; k < e; ++k) {
    if (s[k] == '-') neg = true;
    else if (s[k] != '.') digits += s[k];
  }
  const int exp10 = std::stoi(s.substr(e + 1));
  const int point = exp10 + 1;  // digits before the decimal point
  const auto nd = static_cast<int>(digits.size());
  if (neg) out += '-';
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else if (point >= nd) {
    out += digits;
    out.append(static_cast<std::size_t>(point - nd), '0');
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out += '.';
    out.append(digits, static_cast<std::size_t>(point), std::string::npos);
  }
  return out;
}

std::string num(std::uint64_t v) { return std::to_string(v); }

std::string fixed(double v, int decimals) {
  std::string out;
  if (special(v, out)) return out;
  char buf[512];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

std::string debug(double v) {
  std::string out;
  if (special(v, out)) return out;
  const double a = std::fabs(v);
  char buf[400];
  if ((a != 0.0 && a < 1e-4) || a >= 1e16) {
    // to_chars writes "1.5e-05" / "1e+16"; the debug form is "1.5e-5" / "1e16".
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string s(buf, r.ptr);
    auto e = s.find('e');
    std::string mant = s.substr(0, e);
    std::string ex = s.substr(e + 1);
    bool neg = ex[0] == '-';
    std::size_t k = (ex[0] == '+' || ex[0] == '-') ? 1 : 0;
    while (k + 1 < ex.size() && ex[k] == '0') ++k;
    return mant + "e" + (neg ? "-" : "") + ex.substr(k);
  }
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  std::string s(buf, r.ptr);
  if (s.find('.') == std::string::npos) s += ".0";
  return s;
}

}  // namespace quarn::fmt
