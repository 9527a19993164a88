// The launcher's own Python modules: the programs behind --setup, --remove
// and --status and the explanations written on standard error, linked into
// the launcher as source text (launcher_sources.cpp, generated from the .py
// files beside this one) and never read from disk. With them comes
// `_kestrune_rules`, the C++ rules for the config file and the token
// (rules_module.hpp).
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace launcher {

// The module `name` (one of "_kestrune_config_check", "_kestrune_git_setup",
// "_kestrune_status"), executed on first use together with the modules it
// imports; empty with an exception set on failure.
runtime::Owned<> import_launcher_module(const char* name);

} // namespace launcher
