#include "module_state.hpp"

namespace kestrune {

ModuleState module_state{};
std::int64_t main_interpreter_id = -1;

} // namespace kestrune
