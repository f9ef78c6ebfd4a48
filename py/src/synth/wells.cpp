#include "../areas.hpp"

namespace qpy {

std::span<const Export> wells_exports() { return {}; }

}  // namespace qpy
