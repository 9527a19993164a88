// Extension modules loaded before the interpreter starts.
#pragma once

#include "process/path_buffer.hpp"

namespace launcher {

// Loads the extension modules that every run imports from `extension_folder`
// (the runtime's lib-dynload) and registers them as built-in modules. Called
// between the interpreter's pre-initialisation and its initialisation; never
// fails: a module that cannot be loaded is imported from disk as usual.
void preload_extension_modules(const char* extension_folder);

} // namespace launcher
