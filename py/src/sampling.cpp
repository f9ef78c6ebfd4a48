#include "areas.hpp"

namespace qpy {

std::span<const Export> sampling_exports() { return {}; }

}  // namespace qpy
