// py/src/formula.cpp: bindings of formula_info and evaluate_formula.
#include <bit>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "areas.hpp"
#include "convert.hpp"
#include "kinds.hpp"
#include "formula/block.hpp"
#include "formula/evaluate.hpp"

namespace qpy {

using quarn::formula::FormulaInfo;
using quarn::formula::Outputs;
using quarn::formula::Params;
using quarn::formula::Properties;

bool as_texts(PyObject* o, std::vector<std::string>& out) {
  if (!require_sequence(o)) return false;
  Ref iter(PyObject_GetIter(o));
  if (!iter) return false;
  std::vector<std::string> texts;
  const Py_ssize_t n = PySequence_Size(o);
  if (n < 0)
    PyErr_Clear();
  else
    texts.reserve(static_cast<std::size_t>(n));
  while (Ref item{PyIter_Next(iter.get())}) {
    std::string s;
    if (!as_name(item.get(), s)) return false;
    texts.push_back(std::move(s));
  }
  if (PyErr_Occurred()) return false;
  out = std::move(texts);
  return true;
}

namespace {

// Walks a snapshot of the items, so value conversions that run Python code
// cannot disturb the iteration.
template <class Map, class F>
bool dict_of(PyObject* o, Map& out, F value) {
  if (!PyDict_Check(o)) {
    not_an_instance(o, "dict");
    return false;
  }
  Ref items(PyDict_Items(o));
  if (!items) return false;
  Map m;
  const Py_ssize_t n = PyList_Size(items.get());
  m.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* kv = PyList_GetItem(items.get(), i);
    std::string key;
    if (!as_name(PyTuple_GetItem(kv, 0), key)) return false;
    typename Map::mapped_type v{};
    if (!value(PyTuple_GetItem(kv, 1), v)) return false;
    m.insert_or_assign(std::move(key), std::move(v));
  }
  out = std::move(m);
  return true;
}

}  // namespace

// as_floats copies 1-D float64 buffers (NumPy arrays, array('d')) in one step.
bool as_properties(PyObject* o, Properties& out) { return dict_of(o, out, as_floats); }
bool as_params(PyObject* o, Params& out) { return dict_of(o, out, as_float); }

namespace {

PyObject* py_strs(const std::vector<std::string>& v) { return build_list(v, py_str); }

bool set_item(PyObject* dict, const std::string& key, PyObject* owned) {
  Ref value(owned);
  Ref k(py_str(key));
  return value && k && PyDict_SetItem(dict, k.get(), value.get()) == 0;
}

PyObject* py_info(FormulaInfo& info) {
  Ref d(PyDict_New());
  if (!d || !set_item(d.get(), "outputs", py_strs(info.outputs)) || !set_item(d.get(), "order", py_strs(info.order)) ||
      !set_item(d.get(), "params", py_strs(info.params)) ||
      !set_item(d.get(), "properties", py_strs(info.properties)))
    return nullptr;
  return d.release();
}

PyObject* py_outputs(Outputs& outs) {
  Ref d(PyDict_New());
  if (!d) return nullptr;
  for (auto& [name, values] : outs)
    if (!set_item(d.get(), name, py_floats(values))) return nullptr;
  return d.release();
}

struct FormulaArgs {
  std::vector<std::string> assignments;
  Properties properties;
  std::optional<Params> params;
};
using FA = FormulaArgs;

constexpr Param<FA> kInfoParams[] = {{"assignments", arg<&FA::assignments, as_texts>}};

const FunctionDef<FA> kFormulaInfo{
    .name = "formula_info",
    .owner = nullptr,
    .params = kInfoParams,
    .doc = "Dependency report of a block of assignment strings such as \"c = a * (1 - b)\",\n"
           "without evaluating it. Returns a dict of lists: 'outputs' (targets in source\n"
           "order), 'order' (targets in evaluation order), 'params' ($names used) and\n"
           "'properties' (names the block reads but does not assign), the last two sorted.",
    .call = [](FA& a) -> Outcome { return done(quarn::formula::formula_info(a.assignments), py_info); },
};

constexpr Param<FA> kEvaluateParams[] = {
    {"assignments", arg<&FA::assignments, as_texts>},
    {"properties", arg<&FA::properties, as_properties>},
    {"params", arg<&FA::params, as_params>, Default::none()},
};

const FunctionDef<FA> kEvaluateFormula{
    .name = "evaluate_formula",
    .owner = nullptr,
    .params = kEvaluateParams,
    .doc = "Evaluate a block of assignments over `properties` (name -> list of floats, all\n"
           "of one length) and scalar `params` (name -> float, written `$name`), in\n"
           "dependency order. Scalars broadcast. Functions: sqrt, log, log10, exp, abs,\n"
           "pow, min, max, clip, if. Returns a dict from each target to its list of values.",
    .call = [](FA& a) -> Outcome {
      const Params none;
      return done(quarn::formula::evaluate_formula(a.assignments, a.properties, a.params ? *a.params : none),
                  py_outputs);
    },
};

const Export kExports[] = {
    function_export<kFormulaInfo>(),
    function_export<kEvaluateFormula>(),
};

}  // namespace

std::span<const Export> formula_exports() { return kExports; }

}  // namespace qpy
