// The credential helper run as the interpreter's main module.
#pragma once

namespace launcher {

// Creates the module from its definition under the name "__main__", registers
// it in sys.modules and executes it, which runs the helper's dispatch on
// sys.argv. Returns 0 on success. On an uncaught exception it prints the
// traceback and returns 1, or interrupted_status for a KeyboardInterrupt (one
// from Ctrl-C during the start included, taken before the module runs);
// SystemExit ends the process there, as in `python`.
// The interpreter must be initialised; it is left initialised.
int run_main_module();

} // namespace launcher
