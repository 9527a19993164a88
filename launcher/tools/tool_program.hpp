// Running --setup, --remove and --status.
#pragma once

#include "tools/command_line.hpp"

namespace launcher {

// Starts the interpreter, runs the tool that `options` names and returns the
// process's exit status. The tools are Python modules linked into the
// launcher (embedded_modules.hpp); an uncaught exception prints its traceback
// and gives 1.
int run_tool(const ToolOptions& options, int argc, char** argv);

} // namespace launcher
