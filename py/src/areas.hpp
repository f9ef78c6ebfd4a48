// py/src/areas.hpp: what each binding file exports. The module registers the
// union of these in its fixed order.
#pragma once
#include <span>

#include "binder.hpp"

namespace qpy {

std::span<const Export> lattice_exports();    // lattice.cpp: Lattice, Georef
std::span<const Export> resample_exports();   // resample.cpp
std::span<const Export> sampling_exports();   // sampling.cpp: Rng, Sampler, Clamped
std::span<const Export> stats_exports();      // stats.cpp: statistics, aggregation
std::span<const Export> interp_exports();     // interp.cpp
std::span<const Export> units_exports();      // units.cpp
std::span<const Export> geostat_exports();    // geostat.cpp: variograms, kriging
std::span<const Export> sgs_exports();        // sgs.cpp
std::span<const Export> surface_exports();    // synth/surface.cpp: maps and outlines
std::span<const Export> wells_exports();      // synth/wells.cpp
std::span<const Export> logs_exports();       // synth/logs.cpp
std::span<const Export> formula_exports();    // formula.cpp

}  // namespace qpy
