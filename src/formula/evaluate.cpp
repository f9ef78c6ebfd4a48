#include "formula/evaluate.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "cancel.hpp"
#include "format.hpp"
#include "formula/block.hpp"

// Evaluation runs in two passes per block. The plan pass walks every expression in
// evaluation order with the values of scalars and only the lengths of vectors: it
// raises every error, in the order a left-to-right tree walk would, and folds
// scalar sub-expressions into constants. The run pass then executes the vector
// instructions chunk by chunk, so intermediates live in small reused buffers
// instead of one full vector per node. Both passes use the same scalar kernels, so
// a value is the same bits whether it was folded or computed element-wise.

namespace quarn::formula {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kChunk = 2048;

inline double k_min(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return kNaN;
  return a < b ? a : b;
}
inline double k_max(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return kNaN;
  return a > b ? a : b;
}
inline double k_clip(double x, double lo, double hi) { return k_min(k_max(x, lo), hi); }
inline double k_if(double c, double a, double b) { return std::isfinite(c) && c != 0.0 ? a : b; }
inline double k_truth(bool b) { return b ? 1.0 : 0.0; }

enum class Op : std::uint8_t {
  Load, Neg,
  Add, Sub, Mul, Div, Pow, Lt, Le, Gt, Ge, Eq, Ne,  // same order as BinaryOp
  Sqrt, Log, Log10, Exp, Abs, Min, Max, Clip, If,
};

double binary(BinaryOp op, double a, double b) {
  switch (op) {
    case BinaryOp::Add: return a + b;
    case BinaryOp::Sub: return a - b;
    case BinaryOp::Mul: return a * b;
    case BinaryOp::Div: return a / b;
    case BinaryOp::Pow: return std::pow(a, b);
    case BinaryOp::Lt: return k_truth(a < b);
    case BinaryOp::Le: return k_truth(a <= b);
    case BinaryOp::Gt: return k_truth(a > b);
    case BinaryOp::Ge: return k_truth(a >= b);
    case BinaryOp::Eq: return k_truth(a == b);
    case BinaryOp::Ne: return k_truth(!(a == b));
  }
  return kNaN;
}

double call(Function f, const double* x) {
  switch (f) {
    case Function::Sqrt: return std::sqrt(x[0]);
    case Function::Log: return std::log(x[0]);
    case Function::Log10: return std::log10(x[0]);
    case Function::Exp: return std::exp(x[0]);
    case Function::Abs: return std::fabs(x[0]);
    case Function::Pow: return std::pow(x[0], x[1]);
    case Function::Min: return k_min(x[0], x[1]);
    case Function::Max: return k_max(x[0], x[1]);
    case Function::Clip: return k_clip(x[0], x[1], x[2]);
    case Function::If: return k_if(x[0], x[1], x[2]);
    case Function::Unknown: break;
  }
  return kNaN;
}

Op op_of(BinaryOp b) { return static_cast<Op>(static_cast<int>(Op::Add) + static_cast<int>(b)); }
Op op_of(Function f) {
  switch (f) {
    case Function::Sqrt: return Op::Sqrt;
    case Function::Log: return Op::Log;
    case Function::Log10: return Op::Log10;
    case Function::Exp: return Op::Exp;
    case Function::Abs: return Op::Abs;
    case Function::Pow: return Op::Pow;
    case Function::Min: return Op::Min;
    case Function::Max: return Op::Max;
    case Function::Clip: return Op::Clip;
    default: return Op::If;
  }
}

/// One vector instruction: operand k is a vector (taken from the stack, in order)
/// when bit k of `mask` is set, else the scalar imm[k].
struct Instr {
  Op op;
  std::uint8_t mask = 0;
  double imm[3] = {0.0, 0.0, 0.0};
  const double* src = nullptr;  ///< Load: the first element of the vector
};

template <class F>
void run_unary(const double* a, double* o, std::size_t n, F f) {
  for (std::size_t j = 0; j < n; ++j) o[j] = f(a[j]);
}

template <class F>
void run_binary(const Instr& in, const double* const* p, double* o, std::size_t n, F f) {
  if (in.mask == 1) {
    const double* a = p[0];
    const double b = in.imm[1];
    for (std::size_t j = 0; j < n; ++j) o[j] = f(a[j], b);
  } else if (in.mask == 2) {
    const double a = in.imm[0];
    const double* b = p[0];
    for (std::size_t j = 0; j < n; ++j) o[j] = f(a, b[j]);
  } else {
    const double* a = p[0];
    const double* b = p[1];
    for (std::size_t j = 0; j < n; ++j) o[j] = f(a[j], b[j]);
  }
}

template <unsigned M, class F>
void run_ternary_m(const Instr& in, const double* const* p, double* o, std::size_t n, F f) {
  const double* q[3] = {nullptr, nullptr, nullptr};
  unsigned next = 0;
  for (unsigned k = 0; k < 3; ++k)
    if ((M >> k) & 1U) q[k] = p[next++];
  const double s0 = in.imm[0], s1 = in.imm[1], s2 = in.imm[2];
  for (std::size_t j = 0; j < n; ++j) {
    const double x0 = (M & 1U) ? q[0][j] : s0;
    const double x1 = (M & 2U) ? q[1][j] : s1;
    const double x2 = (M & 4U) ? q[2][j] : s2;
    o[j] = f(x0, x1, x2);
  }
}

template <class F>
void run_ternary(const Instr& in, const double* const* p, double* o, std::size_t n, F f) {
  switch (in.mask) {
    case 1: run_ternary_m<1>(in, p, o, n, f); break;
    case 2: run_ternary_m<2>(in, p, o, n, f); break;
    case 3: run_ternary_m<3>(in, p, o, n, f); break;
    case 4: run_ternary_m<4>(in, p, o, n, f); break;
    case 5: run_ternary_m<5>(in, p, o, n, f); break;
    case 6: run_ternary_m<6>(in, p, o, n, f); break;
    default: run_ternary_m<7>(in, p, o, n, f); break;
  }
}

void execute(const Instr& in, const double* const* p, double* o, std::size_t n) {
  switch (in.op) {
    case Op::Load: break;
    case Op::Neg: run_unary(p[0], o, n, [](double a) { return -a; }); break;
    case Op::Add: run_binary(in, p, o, n, [](double a, double b) { return a + b; }); break;
    case Op::Sub: run_binary(in, p, o, n, [](double a, double b) { return a - b; }); break;
    case Op::Mul: run_binary(in, p, o, n, [](double a, double b) { return a * b; }); break;
    case Op::Div: run_binary(in, p, o, n, [](double a, double b) { return a / b; }); break;
    case Op::Pow: run_binary(in, p, o, n, [](double a, double b) { return std::pow(a, b); }); break;
    case Op::Lt: run_binary(in, p, o, n, [](double a, double b) { return k_truth(a < b); }); break;
    case Op::Le: run_binary(in, p, o, n, [](double a, double b) { return k_truth(a <= b); }); break;
    case Op::Gt: run_binary(in, p, o, n, [](double a, double b) { return k_truth(a > b); }); break;
    case Op::Ge: run_binary(in, p, o, n, [](double a, double b) { return k_truth(a >= b); }); break;
    case Op::Eq: run_binary(in, p, o, n, [](double a, double b) { return k_truth(a == b); }); break;
    case Op::Ne: run_binary(in, p, o, n, [](double a, double b) { return k_truth(!(a == b)); }); break;
    case Op::Sqrt: run_unary(p[0], o, n, [](double a) { return std::sqrt(a); }); break;
    case Op::Log: run_unary(p[0], o, n, [](double a) { return std::log(a); }); break;
    case Op::Log10: run_unary(p[0], o, n, [](double a) { return std::log10(a); }); break;
    case Op::Exp: run_unary(p[0], o, n, [](double a) { return std::exp(a); }); break;
    case Op::Abs: run_unary(p[0], o, n, [](double a) { return std::fabs(a); }); break;
    case Op::Min: run_binary(in, p, o, n, [](double a, double b) { return k_min(a, b); }); break;
    case Op::Max: run_binary(in, p, o, n, [](double a, double b) { return k_max(a, b); }); break;
    case Op::Clip: run_ternary(in, p, o, n, [](double x, double l, double h) { return k_clip(x, l, h); }); break;
    case Op::If: run_ternary(in, p, o, n, [](double c, double a, double b) { return k_if(c, a, b); }); break;
  }
}

/// A value during planning: a scalar with its value, or a vector with its length.
struct Operand {
  bool vec;
  double s;
  std::size_t len;
};

struct Slot {
  bool vec = false;
  double s = 0.0;
  std::vector<double> v;
};

std::string num(std::size_t n) { return fmt::num(static_cast<std::uint64_t>(n)); }

CoreError pair_mismatch(std::size_t l, std::size_t r) {
  return invalid_argument("formula shape mismatch: left length " + num(l) + ", right length " + num(r));
}
CoreError length_mismatch(std::size_t expected, std::size_t got) {
  return invalid_argument("formula shape mismatch: expected length " + num(expected) + ", got " + num(got));
}

class Evaluator {
 public:
  Evaluator(const FormulaBlock& b, const Properties& props, const Params& params)
      : b_(b), props_(props), params_(params), slots_(b.assignments.size()), programs_(b.assignments.size()) {
    for (std::size_t i = 0; i < b.assignments.size(); ++i) target_.emplace(b.assignments[i].lhs, i);
  }

  Result<Outputs> run() {
    for (const std::size_t i : b_.order)
      if (auto s = plan(i); !s) return std::move(s).error();
    for (const std::size_t i : b_.order)
      if (!programs_[i].empty() && !execute_program(i)) return cancel::error("evaluate_formula");
    const std::size_t n = have_len_ ? len_ : 1;
    Outputs out;
    out.reserve(slots_.size());
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      Slot& s = slots_[i];
      if (s.vec && s.v.size() != n) return length_mismatch(n, s.v.size());
      out.emplace_back(b_.assignments[i].lhs, s.vec ? std::move(s.v) : std::vector<double>(n, s.s));
    }
    return out;
  }

 private:
  Status use_length(std::size_t n) {
    if (!have_len_) {
      have_len_ = true;
      len_ = n;
    } else if (n != len_) {
      return length_mismatch(len_, n);
    }
    return ok_status();
  }

  void load(const double* src, std::size_t n) {
    Instr in{Op::Load};
    in.src = src;
    prog_->push_back(in);
    stack_.push_back({true, 0.0, n});
    depth_max_ = std::max(depth_max_, ++depth_);
  }

  // Replaces the top `k` operands by the vector result of `op`.
  void emit(Op op, unsigned k) {
    Instr in{op};
    const std::size_t base = stack_.size() - k;
    std::size_t len = 0;
    unsigned nvec = 0;
    for (unsigned i = 0; i < k; ++i) {
      const Operand& a = stack_[base + i];
      if (a.vec) {
        in.mask = static_cast<std::uint8_t>(in.mask | (1U << i));
        if (nvec++ == 0) len = a.len;
      } else {
        in.imm[i] = a.s;
      }
    }
    prog_->push_back(in);
    stack_.resize(base);
    stack_.push_back({true, 0.0, len});
    depth_ = depth_ - nvec + 1;
  }

  Status var(const std::string& name) {
    if (const auto t = target_.find(name); t != target_.end()) {
      Slot& r = slots_[t->second];
      if (!r.vec) {
        stack_.push_back({false, r.s, 0});
        return ok_status();
      }
      if (auto s = use_length(r.v.size()); !s) return s;
      load(r.v.data(), r.v.size());
      return ok_status();
    }
    const auto p = props_.find(name);
    if (p == props_.end()) return not_found("formula property `" + name + "`");
    if (auto s = use_length(p->second.size()); !s) return s;
    load(p->second.data(), p->second.size());
    return ok_status();
  }

  Status param(const std::string& name) {
    const auto p = params_.find(name);
    if (p == params_.end()) return not_found("formula parameter `$" + name + "`");
    if (!std::isfinite(p->second)) return invalid_argument("formula parameter `$" + name + "` is not finite");
    stack_.push_back({false, p->second, 0});
    return ok_status();
  }

  Status binop(BinaryOp op) {
    const Operand& a = stack_[stack_.size() - 2];
    const Operand& b = stack_.back();
    if (!a.vec && !b.vec) {
      const double v = binary(op, a.s, b.s);
      stack_.pop_back();
      stack_.back() = {false, v, 0};
      return ok_status();
    }
    if (a.vec && b.vec && a.len != b.len) return pair_mismatch(a.len, b.len);
    emit(op_of(op), 2);
    return ok_status();
  }

  Status function(Function f, std::uint32_t argc) {
    const std::size_t base = stack_.size() - argc;
    bool any_vec = false;
    for (std::size_t i = base; i < stack_.size(); ++i) any_vec = any_vec || stack_[i].vec;
    if (!any_vec) {
      double x[3] = {0.0, 0.0, 0.0};
      for (std::uint32_t i = 0; i < argc; ++i) x[i] = stack_[base + i].s;
      const double v = call(f, x);
      stack_.resize(base);
      stack_.push_back({false, v, 0});
      return ok_status();
    }
    const Operand* a = &stack_[base];
    if (f == Function::Pow || f == Function::Min || f == Function::Max || f == Function::Clip) {
      // clip(x, lo, hi) is min(max(x, lo), hi): the same checks in the same order.
      if (a[0].vec && a[1].vec && a[0].len != a[1].len) return pair_mismatch(a[0].len, a[1].len);
      if (f == Function::Clip) {
        const bool inner_vec = a[0].vec || a[1].vec;
        const std::size_t inner_len = a[0].vec ? a[0].len : a[1].len;
        if (inner_vec && a[2].vec && inner_len != a[2].len) return pair_mismatch(inner_len, a[2].len);
      }
    } else if (f == Function::If) {
      std::size_t first = 0;
      bool seen = false;
      for (unsigned i = 0; i < 3; ++i) {
        if (!a[i].vec) continue;
        if (!seen) {
          seen = true;
          first = a[i].len;
        } else if (a[i].len != first) {
          return length_mismatch(first, a[i].len);
        }
      }
    }
    emit(op_of(f), argc);
    return ok_status();
  }

  Status plan(std::size_t ai) {
    prog_ = &programs_[ai];
    stack_.clear();
    depth_ = 0;
    for (const Node& n : b_.assignments[ai].expr.code) {
      switch (n.kind) {
        case NodeKind::Number: stack_.push_back({false, n.value, 0}); break;
        case NodeKind::Param:
          if (auto s = param(n.name); !s) return s;
          break;
        case NodeKind::Var:
          if (auto s = var(n.name); !s) return s;
          break;
        case NodeKind::Unary:
          if (n.op == static_cast<std::uint8_t>(UnaryOp::Neg)) {
            if (stack_.back().vec)
              emit(Op::Neg, 1);
            else
              stack_.back().s = -stack_.back().s;
          }
          break;
        case NodeKind::BinOp:
          if (auto s = binop(static_cast<BinaryOp>(n.op)); !s) return s;
          break;
        case NodeKind::CallStart:
          if (n.fn == Function::Unknown) return invalid_argument("unsupported formula function `" + n.name + "`");
          if (n.argc != arity(n.fn))
            return invalid_argument("formula function `" + n.name + "` expects " + num(arity(n.fn)) +
                                    " argument(s), got " + num(n.argc));
          break;
        case NodeKind::Call:
          if (auto s = function(n.fn, n.argc); !s) return s;
          break;
      }
    }
    Slot& out = slots_[ai];
    out.vec = stack_.back().vec;
    if (out.vec)
      out.v.resize(stack_.back().len);  // allocated now: later plans keep pointers into it
    else
      out.s = stack_.back().s;
    return ok_status();
  }

  // False when stopped through the cancel hook.
  bool execute_program(std::size_t ai) {
    const std::vector<Instr>& prog = programs_[ai];
    double* out = slots_[ai].v.data();
    const std::size_t n = slots_[ai].v.size();
    if (bufs_.size() < depth_max_) bufs_.resize(depth_max_);
    for (auto& b : bufs_) b.resize(kChunk);
    std::vector<const double*> ptr(depth_max_ + 1);
    for (std::size_t i0 = 0; i0 < n; i0 += kChunk) {
      const std::size_t m = std::min(kChunk, n - i0);
      if (cancel::poll_n(4 * m * prog.size())) return false;
      std::size_t sp = 0;
      for (std::size_t k = 0; k < prog.size(); ++k) {
        const Instr& in = prog[k];
        if (in.op == Op::Load) {
          ptr[sp++] = in.src + i0;
          continue;
        }
        const std::size_t base = sp - static_cast<std::size_t>(std::popcount(in.mask));
        double* o = k + 1 == prog.size() ? out + i0 : bufs_[base].data();
        execute(in, ptr.data() + base, o, m);
        ptr[base] = o;
        sp = base + 1;
      }
      if (prog.back().op == Op::Load) std::memcpy(out + i0, ptr[0], m * sizeof(double));
    }
    return true;
  }

  const FormulaBlock& b_;
  const Properties& props_;
  const Params& params_;
  std::unordered_map<std::string, std::size_t> target_;
  std::vector<Slot> slots_;
  std::vector<std::vector<Instr>> programs_;
  std::vector<std::vector<double>> bufs_;
  bool have_len_ = false;
  std::size_t len_ = 0;
  // planning state of the current assignment
  std::vector<Instr>* prog_ = nullptr;
  std::vector<Operand> stack_;
  std::size_t depth_ = 0;
  std::size_t depth_max_ = 0;
};

}  // namespace

Result<Outputs> evaluate_formula(const std::vector<std::string>& texts, const Properties& properties,
                               const Params& params) {
  QUARN_TRY(block, compile_block(texts));
  return Evaluator(block, properties, params).run();
}

}  // namespace quarn::formula
