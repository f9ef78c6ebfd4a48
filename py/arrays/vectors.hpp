// py/arrays/vectors.hpp: the functions of `_arrays`, in registration order.
#pragma once
#include <span>

#include "binder.hpp"

namespace qpy::arrays {

std::span<const Export> vector_exports();

}  // namespace qpy::arrays
