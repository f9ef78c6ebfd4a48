// py/src/module.cpp: module initialisation and the registration order, nothing else.
#include "areas.hpp"

#include <array>
#include <cstring>

namespace qpy {
namespace {

constexpr const char* kVersion = "0.2.15";

// The order of module attributes and of __all__.
constexpr const char* kOrder[] = {
    "Rng", "Sampler", "Clamped",
    "mean", "variance", "std", "percentile", "median",
    "weighted_mean", "weighted_variance", "weighted_std", "weighted_percentile",
    "ReservoirSummary", "reservoir_summary", "aggregate", "formula_info", "evaluate_formula",
    "Lattice", "Variogram", "AnisotropicVariogram", "ExperimentalVariogram",
    "experimental_variogram", "local_kriging_grid", "local_kriging_grid_flat", "sgs", "sgs_flat",
    "interp1d", "resample", "resample_flat",
    "ZoneSpec", "zone_sample_counts", "synth_log_series", "synth_facies_series", "synth_por_with_facies",
    "PetroZoneSpec", "synth_petro_curves", "ntg_curve",
    "synth_dome_surface", "synth_dome_surface_flat", "synth_isochore", "synth_isochore_flat",
    "synth_trend_map", "synth_trend_map_flat", "place_wells", "place_wells_in_polygon", "tops_from_surface",
    "synth_trajectory", "synth_trajectory_profile", "max_dogleg_severity",
    "Georef", "closure_outline", "study_area_outline",
    "m3_to_mcm", "mcm_to_m3", "m3_to_msm3", "msm3_to_m3", "m3_to_bcm", "bcm_to_m3",
    "scf_to_sm3", "sm3_to_scf", "stb_to_sm3", "sm3_to_stb", "km2_to_m2", "m2_to_km2", "format_volume",
};

constexpr std::array kAreas = {
    &lattice_exports, &resample_exports, &sampling_exports, &stats_exports,
    &interp_exports,  &units_exports,    &geostat_exports,  &sgs_exports,
    &surface_exports, &wells_exports,    &logs_exports,     &formula_exports,
};

const Export* find_export(const char* name) {
  for (auto area : kAreas)
    for (const Export& e : area())
      if (std::strcmp(e.name, name) == 0) return &e;
  return nullptr;
}

// Sets the attribute and appends its name to __all__.
int add(PyObject* module, PyObject* all, const char* name, PyObject* owned) {
  Ref obj(owned);
  if (!obj) return -1;
  if (PyModule_AddObjectRef(module, name, obj.get()) < 0) return -1;
  Ref text(PyUnicode_FromString(name));
  if (!text) return -1;
  return PyList_Append(all, text.get());
}

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    PyErr_SetString(PyExc_TypeError, "module execution step expects a module");
    return -1;
  }
  try {
    Ref all(PyList_New(0));
    if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return -1;
    if (add(module, all.get(), "__version__", PyUnicode_FromString(kVersion)) < 0) return -1;
    for (const char* name : kOrder) {
      const Export* e = find_export(name);
      if (!e) continue;  // not built in this version
      if (add(module, all.get(), name, e->make(module)) < 0) return -1;
    }
    return 0;
  } catch (...) {
    raise_from_cpp("_quarntools");
    return -1;
  }
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "_quarntools",
    "The compiled extension module (`quarntools._quarntools`); re-exported by the\n"
    "`quarntools` Python package's `__init__`.",
    0,
    nullptr,
    kSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace qpy

PyMODINIT_FUNC PyInit__quarntools() { return PyModuleDef_Init(&qpy::kModule); }
