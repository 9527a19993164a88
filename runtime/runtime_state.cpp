#include "runtime_state.hpp"

namespace runtime {

// Zero-initialised at load: every reference null and the code cache empty.
RuntimeState state{};

} // namespace runtime
