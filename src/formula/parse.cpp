#include "formula/parse.hpp"

#include <charconv>
#include <limits>
#include <system_error>
#include <utility>

#include "format.hpp"
#include "text.hpp"

namespace quarn::formula {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_ident_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_ident_char(char c) { return is_ident_start(c) || is_digit(c); }

const char* token_name(TokenKind k) {
  switch (k) {
    case TokenKind::Number: return "Number";
    case TokenKind::Ident: return "Ident";
    case TokenKind::Param: return "Param";
    case TokenKind::Plus: return "Plus";
    case TokenKind::Minus: return "Minus";
    case TokenKind::Star: return "Star";
    case TokenKind::Slash: return "Slash";
    case TokenKind::Pow: return "Pow";
    case TokenKind::LParen: return "LParen";
    case TokenKind::RParen: return "RParen";
    case TokenKind::Comma: return "Comma";
    case TokenKind::Lt: return "Lt";
    case TokenKind::Le: return "Le";
    case TokenKind::Gt: return "Gt";
    case TokenKind::Ge: return "Ge";
    case TokenKind::EqEq: return "EqEq";
    case TokenKind::Ne: return "Ne";
    case TokenKind::End: return "End";
  }
  return "?";
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// from_chars leaves the value unset when the literal rounds to ±inf or to zero;
// the decimal exponent of the leading significant digit tells which.
double out_of_range_value(std::string_view lit) {
  long long lead = 0;
  bool found = false;
  std::size_t i = 0;
  long long int_digits = 0;
  for (; i < lit.size() && is_digit(lit[i]); ++i) {
    if (!found && lit[i] != '0') {
      found = true;
      lead = -int_digits;  // fixed up below once the integer part's length is known
    }
    ++int_digits;
  }
  if (found) lead += int_digits - 1;
  if (i < lit.size() && lit[i] == '.') {
    ++i;
    for (long long f = 1; i < lit.size() && is_digit(lit[i]); ++i, ++f)
      if (!found && lit[i] != '0') {
        found = true;
        lead = -f;
      }
  }
  if (!found) return 0.0;
  long long ex = 0;
  if (i < lit.size() && (lit[i] == 'e' || lit[i] == 'E')) {
    ++i;
    bool neg = false;
    if (i < lit.size() && (lit[i] == '+' || lit[i] == '-')) neg = lit[i++] == '-';
    for (; i < lit.size(); ++i)
      if (ex < 1000000000) ex = ex * 10 + (lit[i] - '0');
    if (neg) ex = -ex;
  }
  return lead + ex > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

Result<double> number_value(std::string_view lit) {
  if (lit.empty()) return parse_error("invalid formula number literal: cannot parse float from empty string");
  double v = 0.0;
  const auto [end, ec] = std::from_chars(lit.data(), lit.data() + lit.size(), v);
  if (ec == std::errc::result_out_of_range && end == lit.data() + lit.size()) return out_of_range_value(lit);
  if (ec != std::errc{} || end != lit.data() + lit.size())
    return parse_error("invalid formula number literal: invalid float literal");
  return v;
}

class Lexer {
 public:
  explicit Lexer(std::string_view s) : s_(s) {}

  Result<std::vector<Token>> run() {
    std::vector<Token> out;
    while (true) {
      skip_space();
      if (i_ >= s_.size()) break;
      const char c = s_[i_];
      if (is_digit(c) || c == '.') {
        QUARN_TRY(v, number());
        out.push_back({TokenKind::Number, v, {}});
        continue;
      }
      if (is_ident_start(c)) {
        out.push_back({TokenKind::Ident, 0.0, ident()});
        continue;
      }
      if (c == '$') {
        ++i_;
        if (i_ >= s_.size() || !is_ident_start(s_[i_])) return parse_error("expected identifier in formula expression");
        out.push_back({TokenKind::Param, 0.0, ident()});
        continue;
      }
      const bool next_eq = i_ + 1 < s_.size() && s_[i_ + 1] == '=';
      TokenKind k{};
      std::size_t len = 1;
      switch (c) {
        case '+': k = TokenKind::Plus; break;
        case '-': k = TokenKind::Minus; break;
        case '/': k = TokenKind::Slash; break;
        case '(': k = TokenKind::LParen; break;
        case ')': k = TokenKind::RParen; break;
        case ',': k = TokenKind::Comma; break;
        case '*':
          if (i_ + 1 < s_.size() && s_[i_ + 1] == '*') {
            k = TokenKind::Pow;
            len = 2;
          } else {
            k = TokenKind::Star;
          }
          break;
        case '<': k = next_eq ? TokenKind::Le : TokenKind::Lt; len = next_eq ? 2 : 1; break;
        case '>': k = next_eq ? TokenKind::Ge : TokenKind::Gt; len = next_eq ? 2 : 1; break;
        case '=':
          if (!next_eq) return parse_error("unexpected `=` inside formula expression; use `==` for equality");
          k = TokenKind::EqEq;
          len = 2;
          break;
        case '!':
          if (!next_eq) return parse_error("unexpected `!` inside formula expression; use `!=` for inequality");
          k = TokenKind::Ne;
          len = 2;
          break;
        default: {
          std::size_t j = i_;
          std::string ch;
          append_utf8(ch, decode_utf8(s_, j));
          return parse_error("unexpected character `" + ch + "` in formula expression");
        }
      }
      i_ += len;
      out.push_back({k, 0.0, {}});
    }
    out.push_back({TokenKind::End, 0.0, {}});
    return out;
  }

 private:
  void skip_space() {
    while (i_ < s_.size()) {
      std::size_t j = i_;
      if (!is_unicode_space(decode_utf8(s_, j))) return;
      i_ = j;
    }
  }

  std::string ident() {
    const std::size_t start = i_;
    while (i_ < s_.size() && is_ident_char(s_[i_])) ++i_;
    return std::string(s_.substr(start, i_ - start));
  }

  bool digit_at(std::size_t k) const { return k < s_.size() && is_digit(s_[k]); }

  Result<double> number() {
    const std::size_t start = i_;
    while (digit_at(i_)) ++i_;
    if (i_ < s_.size() && s_[i_] == '.') {
      if (i_ == start && !digit_at(i_ + 1)) return parse_error("expected digit in formula number literal");
      ++i_;
      while (digit_at(i_)) ++i_;
    }
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      if (!digit_at(i_)) return parse_error("invalid exponent in formula number literal");
      while (digit_at(i_)) ++i_;
    }
    return number_value(s_.substr(start, i_ - start));
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

// Operator-precedence parsing with an explicit stack, so no input depth can
// exhaust the native stack. It accepts exactly the recursive-descent grammar
// (comparison < additive < multiplicative < `**` (right-assoc) < unary signs)
// and emits post-order code, reporting the same errors at the same tokens.
// Nesting (open parentheses and calls, pending signs and `**`) is still bounded
// so that a pathological text fails early with a clear message.
class Parser {
 public:
  explicit Parser(std::vector<Token> toks) : t_(std::move(toks)) {}

  Result<Expr> run() {
    bool want_operand = true;
    while (true) {
      Token& t = t_[p_];
      if (want_operand) {
        switch (t.kind) {
          case TokenKind::Plus:
          case TokenKind::Minus:
            ++p_;
            if (!push({Frame::Unary, static_cast<std::uint8_t>(t.kind == TokenKind::Plus ? UnaryOp::Plus : UnaryOp::Neg)}))
              return std::move(err_);
            continue;
          case TokenKind::Number:
            ++p_;
            emit({NodeKind::Number, 0, Function::Unknown, 0, t.number, {}});
            break;
          case TokenKind::Param:
            ++p_;
            emit({NodeKind::Param, 0, Function::Unknown, 0, 0.0, std::move(t.name)});
            break;
          case TokenKind::Ident:
            ++p_;
            if (peek().kind != TokenKind::LParen) {
              emit({NodeKind::Var, 0, Function::Unknown, 0, 0.0, std::move(t.name)});
              break;
            }
            ++p_;
            emit({NodeKind::CallStart, 0, lookup_function(t.name), 0, 0.0, std::move(t.name)});
            if (peek().kind == TokenKind::RParen) {
              ++p_;
              finish_call(e_.code.size() - 1, 0);
              break;
            }
            if (!push({Frame::Call, 0, e_.code.size() - 1})) return std::move(err_);
            continue;
          case TokenKind::LParen:
            ++p_;
            if (!push({Frame::Paren})) return std::move(err_);
            continue;
          default:
            return parse_error("expected formula expression, got " + display(t));
        }
        operand_done();
        want_operand = false;
        continue;
      }

      BinaryOp op{};
      if (const int lv = level(t.kind, op); lv > 0) {
        // Pop what binds at least as tightly; `**` is right-associative.
        while (!stack_.empty() && stack_.back().kind == Frame::Binary &&
               (level_of(stack_.back().op) > lv || (level_of(stack_.back().op) == lv && lv != kPower)))
          pop_emit();
        ++p_;
        if (!push({Frame::Binary, static_cast<std::uint8_t>(op)})) return std::move(err_);
        want_operand = true;
        continue;
      }
      while (!stack_.empty() && stack_.back().kind == Frame::Binary) pop_emit();
      if (stack_.empty()) {
        if (t.kind == TokenKind::End) return std::move(e_);
        return parse_error("unexpected trailing formula token " + display(t));
      }
      Frame& top = stack_.back();
      if (top.kind == Frame::Paren) {
        if (t.kind != TokenKind::RParen) return parse_error("expected RParen, got " + display(t));
        ++p_;
        pop();
        operand_done();
        continue;
      }
      // Call: after an argument.
      if (t.kind == TokenKind::Comma) {
        ++p_;
        ++top.argc;
        want_operand = true;
        continue;
      }
      if (t.kind != TokenKind::RParen) return parse_error("expected `,` or `)` in formula call, got " + display(t));
      ++p_;
      const std::size_t start = top.call_start;
      const std::uint32_t argc = top.argc + 1;
      pop();
      finish_call(start, argc);
      operand_done();
    }
  }

 private:
  struct Frame {
    enum Kind : std::uint8_t { Unary, Binary, Paren, Call } kind;
    std::uint8_t op = 0;
    std::size_t call_start = 0;  ///< Call: index of its CallStart node
    std::uint32_t argc = 0;      ///< Call: arguments completed before the current one
  };

  static constexpr int kComparison = 1, kAdditive = 2, kMultiplicative = 3, kPower = 4;

  const Token& peek() const { return t_[p_]; }
  void emit(Node n) { e_.code.push_back(std::move(n)); }

  static bool nests(const Frame& f) {
    return f.kind != Frame::Binary || f.op == static_cast<std::uint8_t>(BinaryOp::Pow);
  }

  bool push(Frame f) {
    if (nests(f) && ++depth_ > kMaxNesting) {
      err_ = parse_error("formula expression nested too deeply (more than " + fmt::num(std::uint64_t{kMaxNesting}) +
                         " levels of parentheses, signs, `**` or calls)");
      return false;
    }
    stack_.push_back(f);
    return true;
  }

  void pop() {
    if (nests(stack_.back())) --depth_;
    stack_.pop_back();
  }

  void pop_emit() {
    const Frame f = stack_.back();
    pop();
    emit({f.kind == Frame::Unary ? NodeKind::Unary : NodeKind::BinOp, f.op});
  }

  // Signs bind tighter than any binary operator: apply them to the finished operand.
  void operand_done() {
    while (!stack_.empty() && stack_.back().kind == Frame::Unary) pop_emit();
  }

  void finish_call(std::size_t start, std::uint32_t argc) {
    Node& head = e_.code[start];
    head.argc = argc;
    emit({NodeKind::Call, 0, head.fn, argc, 0.0, head.name});
  }

  static int level_of(std::uint8_t op) {
    switch (static_cast<BinaryOp>(op)) {
      case BinaryOp::Add:
      case BinaryOp::Sub: return kAdditive;
      case BinaryOp::Mul:
      case BinaryOp::Div: return kMultiplicative;
      case BinaryOp::Pow: return kPower;
      default: return kComparison;
    }
  }

  // Level of a binary operator token, 0 if the token is none.
  static int level(TokenKind k, BinaryOp& op) {
    switch (k) {
      case TokenKind::Lt: op = BinaryOp::Lt; break;
      case TokenKind::Le: op = BinaryOp::Le; break;
      case TokenKind::Gt: op = BinaryOp::Gt; break;
      case TokenKind::Ge: op = BinaryOp::Ge; break;
      case TokenKind::EqEq: op = BinaryOp::Eq; break;
      case TokenKind::Ne: op = BinaryOp::Ne; break;
      case TokenKind::Plus: op = BinaryOp::Add; break;
      case TokenKind::Minus: op = BinaryOp::Sub; break;
      case TokenKind::Star: op = BinaryOp::Mul; break;
      case TokenKind::Slash: op = BinaryOp::Div; break;
      case TokenKind::Pow: op = BinaryOp::Pow; break;
      default: return 0;
    }
    return level_of(static_cast<std::uint8_t>(op));
  }

  std::vector<Token> t_;
  std::size_t p_ = 0;
  std::vector<Frame> stack_;
  unsigned depth_ = 0;
  Expr e_;
  CoreError err_{};
};

const char* binary_symbol(std::uint8_t op) {
  static constexpr const char* kSym[] = {"+", "-", "*", "/", "**", "<", "<=", ">", ">=", "==", "!="};
  return kSym[op];
}

}  // namespace

std::string display(const Token& t) {
  switch (t.kind) {
    case TokenKind::Number: return "Number(" + fmt::debug(t.number) + ")";
    case TokenKind::Ident: return "Ident(\"" + t.name + "\")";
    case TokenKind::Param: return "Param(\"" + t.name + "\")";
    default: return token_name(t.kind);
  }
}

Result<std::vector<Token>> lex(std::string_view text) { return Lexer(text).run(); }

Function lookup_function(std::string_view name) {
  static constexpr std::pair<std::string_view, Function> kTable[] = {
      {"sqrt", Function::Sqrt}, {"log", Function::Log}, {"log10", Function::Log10}, {"exp", Function::Exp},
      {"abs", Function::Abs},   {"pow", Function::Pow}, {"min", Function::Min},     {"max", Function::Max},
      {"clip", Function::Clip}, {"if", Function::If},
  };
  for (const auto& [n, f] : kTable)
    if (n == name) return f;
  return Function::Unknown;
}

unsigned arity(Function f) {
  switch (f) {
    case Function::Pow:
    case Function::Min:
    case Function::Max: return 2;
    case Function::Clip:
    case Function::If: return 3;
    case Function::Unknown: return 0;
    default: return 1;
  }
}

std::string to_sexpr(const Expr& e) {
  std::vector<std::string> st;
  for (const Node& n : e.code) {
    switch (n.kind) {
      case NodeKind::Number: st.push_back(fmt::debug(n.value)); break;
      case NodeKind::Param: st.push_back(std::string("$").append(n.name)); break;
      case NodeKind::Var: st.push_back(n.name); break;
      case NodeKind::Unary:
        st.back() = std::string(n.op == static_cast<std::uint8_t>(UnaryOp::Plus) ? "(+ " : "(neg ")
                        .append(st.back())
                        .append(")");
        break;
      case NodeKind::BinOp: {
        std::string rhs = std::move(st.back());
        st.pop_back();
        std::string s = std::string("(").append(binary_symbol(n.op)).append(" ");
        s.append(st.back()).append(" ").append(rhs).append(")");
        st.back() = std::move(s);
        break;
      }
      case NodeKind::CallStart: break;
      case NodeKind::Call: {
        std::string s = std::string("(").append(n.name);
        for (std::size_t k = st.size() - n.argc; k < st.size(); ++k) s.append(" ").append(st[k]);
        st.resize(st.size() - n.argc);
        st.push_back(s.append(")"));
        break;
      }
    }
  }
  return st.empty() ? std::string() : st.back();
}

Result<Assignment> parse_assignment(std::string_view text) {
  std::size_t sign = text.size();
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] != '=') continue;
    const char prev = k > 0 ? text[k - 1] : '\0';
    const bool prev_ok = k == 0 || (prev != '<' && prev != '>' && prev != '=' && prev != '!');
    const bool next_ok = k + 1 == text.size() || text[k + 1] != '=';
    if (prev_ok && next_ok) {
      sign = k;
      break;
    }
  }
  if (sign == text.size()) return parse_error("formula assignment missing `=`: " + std::string(text));
  const std::string_view lhs = trim_unicode(text.substr(0, sign));
  const std::string_view rhs = trim_unicode(text.substr(sign + 1));
  if (lhs.empty() || rhs.empty()) return parse_error("formula assignment requires non-empty lhs and rhs");
  bool bare = is_ident_start(lhs[0]);
  for (std::size_t k = 1; bare && k < lhs.size(); ++k) bare = is_ident_char(lhs[k]);
  if (!bare) return parse_error("invalid assignment lhs `" + std::string(lhs) + "`: expected a bare identifier");
  QUARN_TRY(tokens, lex(rhs));
  QUARN_TRY(expr, Parser(std::move(tokens)).run());
  return Assignment{std::string(lhs), std::move(expr)};
}

Result<std::vector<Assignment>> parse_block(const std::vector<std::string>& texts) {
  std::vector<Assignment> out;
  out.reserve(texts.size());
  for (const std::string& t : texts) {
    QUARN_TRY(a, parse_assignment(t));
    out.push_back(std::move(a));
  }
  return out;
}

}  // namespace quarn::formula
