// src/formula/block.hpp: compiling a block of assignments into one evaluation order.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "error.hpp"
#include "formula/parse.hpp"

namespace quarn::formula {

struct FormulaBlock {
  std::vector<Assignment> assignments;  ///< source order
  std::vector<std::size_t> order;       ///< evaluation order: a permutation of assignment indices
};

/// Parses every text, rejects duplicate targets, orders by dependencies (FIFO
/// topological sort). Errors, in this order: Parse (first failing text);
/// InvalidArgument for the first duplicate target, then for a cycle.
[[nodiscard]] Result<FormulaBlock> compile_block(const std::vector<std::string>& texts);

/// Distinct names of a kind in one expression, sorted byte-wise.
[[nodiscard]] std::vector<std::string> var_names(const Expr& e);
[[nodiscard]] std::vector<std::string> param_names(const Expr& e);

struct FormulaInfo {
  std::vector<std::string> outputs;     ///< targets in source order
  std::vector<std::string> order;       ///< targets in evaluation order
  std::vector<std::string> params;      ///< sorted, distinct
  std::vector<std::string> properties;  ///< Var names that are not targets; sorted, distinct
};

/// The dependency report of a block; nothing is evaluated. Errors as compile_block.
[[nodiscard]] Result<FormulaInfo> formula_info(const std::vector<std::string>& texts);

}  // namespace quarn::formula
