// `_kestrune_rules`: the helper's rules for the config file and the token,
// written once in C++ (scripts/config_file_rules.hpp, scripts/token_rules.hpp)
// and offered to the launcher's Python modules.
//
//     check_config_file(path: str) -> None | (name: str, reason: str)
//         None when the file may be read; else the refusal's name (its
//         ConfigRefusal enumerator, "unsafe_mode", ...) and its description.
//     token_is_acceptable(token: str) -> bool
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace launcher {

inline constexpr const char rules_module_name[] = "_kestrune_rules";

// A new _kestrune_rules module; empty with an exception set on failure.
runtime::Owned<> make_rules_module();

} // namespace launcher
