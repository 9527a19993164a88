#pragma once

namespace kestrune {

// Runs the module body: imports, CONFIG_PATH, the five functions, the
// command-line dispatch when the module runs as __main__, and __test__.
// Returns 0 on success, or the script line of the failing statement with the
// exception set (the caller records the traceback entry).
int run_module_body();

} // namespace kestrune
