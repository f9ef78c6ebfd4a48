// Number texts of reprs and messages.
#include <cmath>
#include <limits>
#include <string>

#include "check.hpp"
#include "error.hpp"
#include "format.hpp"

using quarn::fmt::debug;
using quarn::fmt::fixed;
using quarn::fmt::num;

TEST_CASE("num: shortest round trip without exponent") {
  CHECK_EQ(num(1.0), std::string("1"));
  CHECK_EQ(num(0.25), std::string("0.25"));
  CHECK_EQ(num(1e21), std::string("1000000000000000000000"));
  CHECK_EQ(num(1e-7), std::string("0.0000001"));
  CHECK_EQ(num(-0.0), std::string("-0"));
  CHECK_EQ(num(0.1), std::string("0.1"));
  CHECK_EQ(num(0.0), std::string("0"));
  CHECK_EQ(num(-2.5), std::string("-2.5"));
  CHECK_EQ(num(123.456), std::string("123.456"));
  CHECK_EQ(num(1e23), std::string("100000000000000000000000"));  // not 99999999999999991611392
  CHECK_EQ(num(-1.5e17), std::string("-150000000000000000"));
  CHECK_EQ(num(9007199254740993.0), std::string("9007199254740992"));
  CHECK_EQ(num(5e-324), "0." + std::string(323, '0') + "5");
  CHECK_EQ(num(1.7976931348623157e308), "17976931348623157" + std::string(292, '0'));
  CHECK_EQ(num(-0.000123), std::string("-0.000123"));
  CHECK_EQ(num(std::numeric_limits<double>::quiet_NaN()), std::string("NaN"));
  CHECK_EQ(num(std::numeric_limits<double>::infinity()), std::string("inf"));
  CHECK_EQ(num(-std::numeric_limits<double>::infinity()), std::string("-inf"));
  CHECK_EQ(num(std::uint64_t{18446744073709551615ULL}), std::string("18446744073709551615"));
}

TEST_CASE("fixed: rounds the exact binary value") {
  CHECK_EQ(fixed(0.125, 2), std::string("0.12"));   // exact tie: to even
  CHECK_EQ(fixed(0.375, 2), std::string("0.38"));
  CHECK_EQ(fixed(2.675, 2), std::string("2.67"));   // 2.67499999... in binary
  CHECK_EQ(fixed(1.0, 5), std::string("1.00000"));
  CHECK_EQ(fixed(-0.0, 1), std::string("-0.0"));
}

TEST_CASE("debug: fractional digit and exponent outside [1e-4, 1e16)") {
  CHECK_EQ(debug(3.0), std::string("3.0"));
  CHECK_EQ(debug(-0.0), std::string("-0.0"));
  CHECK_EQ(debug(0.0), std::string("0.0"));
  CHECK_EQ(debug(0.5), std::string("0.5"));
  CHECK_EQ(debug(1e-4), std::string("0.0001"));
  CHECK_EQ(debug(1.5e-5), std::string("1.5e-5"));
  CHECK_EQ(debug(1e16), std::string("1e16"));
  CHECK_EQ(debug(9999999999999998.0), std::string("9999999999999998.0"));
  CHECK_EQ(debug(-2.5e300), std::string("-2.5e300"));
  CHECK_EQ(debug(5e-324), std::string("5e-324"));
}

TEST_CASE("CoreError: display prefixes and debug form") {
  CHECK_EQ(quarn::empty_input("stats: no data").display(), std::string("empty input: stats: no data"));
  CHECK_EQ(quarn::invalid_geometry("g").display(), std::string("invalid geometry: g"));
  CHECK_EQ(quarn::invalid_argument("a").display(), std::string("invalid argument: a"));
  CHECK_EQ((quarn::CoreError{quarn::ErrorKind::Io, "e"}).display(), std::string("I/O error: e"));
  CHECK_EQ(quarn::parse_error("p").display(), std::string("parse error: p"));
  CHECK_EQ(quarn::not_found("n").display(), std::string("not found: n"));
  CHECK_EQ(quarn::invalid_argument("percentile: p must be in [0, 100]").debug(),
           std::string("InvalidArgument(\"percentile: p must be in [0, 100]\")"));
}
