// src/formula/evaluate.hpp: evaluation of a formula block over property vectors.
#pragma once
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "error.hpp"

namespace quarn::formula {

using Properties = std::unordered_map<std::string, std::vector<double>>;
using Params = std::unordered_map<std::string, double>;

/// One output per assignment, in source order: the target name and its values.
using Outputs = std::vector<std::pair<std::string, std::vector<double>>>;

/// Compiles and evaluates the block in dependency order. Scalars broadcast; every
/// vector met must share one length, which is also the output length (1 when no
/// vector is met). Errors: those of compile_block; then, in evaluation order,
/// NotFound for a missing parameter or property, InvalidArgument for a non-finite
/// parameter, a length mismatch, an unsupported function or a wrong argument count.
[[nodiscard]] Result<Outputs> evaluate_formula(const std::vector<std::string>& texts, const Properties& properties,
                                             const Params& params);

}  // namespace quarn::formula
