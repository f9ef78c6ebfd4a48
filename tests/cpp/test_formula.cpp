// Formula parser: tree shapes (precedence, associativity, call markers) and the
// numeric literal edge cases that Python cannot see directly.
#include <cmath>
#include <string>

#include "check.hpp"
#include "formula/block.hpp"
#include "formula/parse.hpp"

using quarn::formula::NodeKind;
using quarn::formula::parse_assignment;
using quarn::formula::to_sexpr;

namespace {

std::string tree(const char* text) {
  auto r = parse_assignment(text);
  if (!r.ok()) return "error: " + r.error().display();
  return r->lhs + " := " + to_sexpr(r->expr);
}

}  // namespace

TEST_CASE("formula parse: precedence and associativity") {
  CHECK_EQ(tree("y = 1 + 2 * 3"), std::string("y := (+ 1.0 (* 2.0 3.0))"));
  CHECK_EQ(tree("y = a - b - c"), std::string("y := (- (- a b) c)"));
  CHECK_EQ(tree("y = a / b * c"), std::string("y := (* (/ a b) c)"));
  CHECK_EQ(tree("y = 2 ** 3 ** 2"), std::string("y := (** 2.0 (** 3.0 2.0))"));
  CHECK_EQ(tree("y = -a ** 2"), std::string("y := (** (neg a) 2.0)"));
  CHECK_EQ(tree("y = 2 ** -a ** b"), std::string("y := (** 2.0 (** (neg a) b))"));
  CHECK_EQ(tree("y = a ** b * c"), std::string("y := (* (** a b) c)"));
  CHECK_EQ(tree("y = a < b < c"), std::string("y := (< (< a b) c)"));
  CHECK_EQ(tree("y = a + b == c * d"), std::string("y := (== (+ a b) (* c d))"));
  CHECK_EQ(tree("y = -(a + b) ** 2"), std::string("y := (** (neg (+ a b)) 2.0)"));
  CHECK_EQ(tree("y = +-+a"), std::string("y := (+ (neg (+ a)))"));
  CHECK_EQ(tree("y = ((a))"), std::string("y := a"));
  CHECK_EQ(tree("y = f()"), std::string("y := (f)"));
  CHECK_EQ(tree("y = if(a > 0, g(b), $k)"), std::string("y := (if (> a 0.0) (g b) $k)"));
  CHECK_EQ(tree("y = a * b + c * d ** e ** f - g"),
           std::string("y := (- (+ (* a b) (* c (** d (** e f)))) g)"));
}

TEST_CASE("formula parse: calls are marked before their arguments") {
  auto r = parse_assignment("y = f(g(x), 1)");
  CHECK(r.ok());
  const auto& code = r->expr.code;
  CHECK_EQ(code.size(), std::size_t{6});
  CHECK(code[0].kind == NodeKind::CallStart && code[0].name == "f" && code[0].argc == 2);
  CHECK(code[1].kind == NodeKind::CallStart && code[1].name == "g" && code[1].argc == 1);
  CHECK(code[3].kind == NodeKind::Call && code[3].argc == 1);
  CHECK(code[5].kind == NodeKind::Call && code[5].argc == 2);
}

TEST_CASE("formula parse: literals that leave the double range") {
  auto big = parse_assignment("y = 1e400");
  auto tiny = parse_assignment("y = 1e-400");
  auto sub = parse_assignment("y = 4.9e-324");
  auto edge = parse_assignment("y = 1.7976931348623159e308");  // rounds past the largest double
  auto frac = parse_assignment("y = 0.00000000000000000000000000000001e-300");
  auto huge_exp = parse_assignment("y = 0.001e99999999999999999999999");
  CHECK(big.ok() && std::isinf(big->expr.code[0].value));
  CHECK(tiny.ok() && tiny->expr.code[0].value == 0.0);
  CHECK(sub.ok() && sub->expr.code[0].value == 4.9406564584124654e-324);
  CHECK(edge.ok() && std::isinf(edge->expr.code[0].value));
  CHECK(frac.ok() && frac->expr.code[0].value == 0.0);
  CHECK(huge_exp.ok() && std::isinf(huge_exp->expr.code[0].value));
}

TEST_CASE("formula parse: nesting bound and long chains") {
  std::string deep = "y = ";
  for (int i = 0; i < 100000; ++i) deep += "(";
  auto r = parse_assignment(deep);
  CHECK(!r.ok() && r.error().kind == quarn::ErrorKind::Parse);
  std::string flat = "y = x";
  for (int i = 0; i < 100000; ++i) flat += " + x";
  auto f = parse_assignment(flat);
  CHECK(f.ok() && f->expr.code.size() == 200001);
}
