#include "../areas.hpp"

namespace qpy {

std::span<const Export> surface_exports() { return {}; }

}  // namespace qpy
