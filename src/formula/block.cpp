#include "formula/block.hpp"

#include <algorithm>
#include <deque>
#include <iterator>
#include <unordered_map>

namespace quarn::formula {
namespace {

void sort_unique(std::vector<std::string>& v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

std::vector<std::string> names_of(const Expr& e, NodeKind kind) {
  std::vector<std::string> out;
  for (const Node& n : e.code)
    if (n.kind == kind) out.push_back(n.name);
  sort_unique(out);
  return out;
}

}  // namespace

std::vector<std::string> var_names(const Expr& e) { return names_of(e, NodeKind::Var); }
std::vector<std::string> param_names(const Expr& e) { return names_of(e, NodeKind::Param); }

Result<FormulaBlock> compile_block(const std::vector<std::string>& texts) {
  QUARN_TRY(assignments, parse_block(texts));
  const std::size_t n = assignments.size();

  std::unordered_map<std::string, std::size_t> target;
  target.reserve(n);
  for (std::size_t i = 0; i < n; ++i)
    if (!target.emplace(assignments[i].lhs, i).second)
      return invalid_argument("duplicate assignment lhs `" + assignments[i].lhs + "`");

  std::vector<std::size_t> indegree(n, 0);
  std::vector<std::vector<std::size_t>> dependents(n);
  for (std::size_t i = 0; i < n; ++i) {
    for (const std::string& name : var_names(assignments[i].expr)) {
      const auto it = target.find(name);
      if (it == target.end()) continue;
      ++indegree[i];
      dependents[it->second].push_back(i);
    }
  }

  std::vector<std::size_t> order;
  order.reserve(n);
  std::deque<std::size_t> queue;
  for (std::size_t i = 0; i < n; ++i)
    if (indegree[i] == 0) queue.push_back(i);
  while (!queue.empty()) {
    const std::size_t i = queue.front();
    queue.pop_front();
    order.push_back(i);
    for (const std::size_t d : dependents[i])
      if (--indegree[d] == 0) queue.push_back(d);
  }

  if (order.size() != n) {
    std::string names;
    for (std::size_t i = 0; i < n; ++i) {
      if (indegree[i] == 0) continue;
      if (!names.empty()) names += ", ";
      names += assignments[i].lhs;
    }
    return invalid_argument("cyclic formula dependencies involving " + names);
  }
  return FormulaBlock{std::move(assignments), std::move(order)};
}

Result<FormulaInfo> formula_info(const std::vector<std::string>& texts) {
  QUARN_TRY(block, compile_block(texts));
  FormulaInfo info;
  for (const Assignment& a : block.assignments) info.outputs.push_back(a.lhs);
  for (const std::size_t i : block.order) info.order.push_back(block.assignments[i].lhs);
  std::vector<std::string> vars;
  for (const Assignment& a : block.assignments) {
    for (const Node& n : a.expr.code) {
      if (n.kind == NodeKind::Param) info.params.push_back(n.name);
      if (n.kind == NodeKind::Var) vars.push_back(n.name);
    }
  }
  sort_unique(info.params);
  sort_unique(vars);
  std::vector<std::string> targets = info.outputs;
  std::sort(targets.begin(), targets.end());
  std::set_difference(vars.begin(), vars.end(), targets.begin(), targets.end(), std::back_inserter(info.properties));
  return info;
}

}  // namespace quarn::formula
