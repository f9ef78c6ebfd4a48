// src/formula/parse.hpp: tokens, the expression tree and the parser of one assignment.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"

namespace quarn::formula {

enum class TokenKind : std::uint8_t {
  Number, Ident, Param, Plus, Minus, Star, Slash, Pow, LParen, RParen, Comma,
  Lt, Le, Gt, Ge, EqEq, Ne, End,
};

struct Token {
  TokenKind kind;
  double number = 0.0;  ///< Number only
  std::string name;     ///< Ident and Param (Param without the `$`)
};

/// Display form used in messages: "Plus", "Number(3.0)", "Ident(\"b\")".
[[nodiscard]] std::string display(const Token& t);

/// Splits an expression text into tokens ending with End. Errors: Parse.
[[nodiscard]] Result<std::vector<Token>> lex(std::string_view text);

enum class UnaryOp : std::uint8_t { Plus, Neg };
enum class BinaryOp : std::uint8_t { Add, Sub, Mul, Div, Pow, Lt, Le, Gt, Ge, Eq, Ne };

/// Functions known to the evaluator; Unknown names fail only when evaluated.
enum class Function : std::uint8_t { Sqrt, Log, Log10, Exp, Abs, Pow, Min, Max, Clip, If, Unknown };

[[nodiscard]] Function lookup_function(std::string_view name);
[[nodiscard]] unsigned arity(Function f);

enum class NodeKind : std::uint8_t {
  Number, Param, Var, Unary, BinOp,
  CallStart,  ///< marks where a call's arguments begin, so the name is checked before them
  Call,
};

struct Node {
  NodeKind kind;
  std::uint8_t op = 0;       ///< UnaryOp or BinaryOp
  Function fn = Function::Unknown;
  std::uint32_t argc = 0;    ///< CallStart and Call
  double value = 0.0;        ///< Number
  std::string name;          ///< Param, Var, CallStart, Call
};

/// An expression tree stored in post-order: every node follows its operands, a
/// Call follows its arguments (which follow its CallStart). Walking `code` from
/// front to back is a left-to-right evaluation; nothing needs native recursion,
/// and destruction is flat however deep the tree.
struct Expr {
  std::vector<Node> code;
};

/// Prefix rendering for diagnostics and tests: "(+ 1.0 (neg a))", "(call f a $k)".
[[nodiscard]] std::string to_sexpr(const Expr& e);

struct Assignment {
  std::string lhs;
  Expr expr;
};

/// Maximum nesting of parentheses, signs, `**` operands and call arguments.
inline constexpr unsigned kMaxNesting = 256;

/// Parses "name = expression". Errors: Parse.
[[nodiscard]] Result<Assignment> parse_assignment(std::string_view text);

/// Parses in list order; the first failing text's error is returned unchanged.
[[nodiscard]] Result<std::vector<Assignment>> parse_block(const std::vector<std::string>& texts);

}  // namespace quarn::formula
