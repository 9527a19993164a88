// The launcher's own options, answered before the module runs.
#pragma once

#include <optional>

namespace launcher {

// When argv[1] is one of the launcher's own options (-h, or any word that
// starts with "--"), answers it and returns the exit status: 0 for --help and
// --version, the tool's status for --setup, --remove and --status, and 2 after
// a message on standard error for an unknown option or a wrong combination.
// Otherwise returns nothing and argv[1] goes to the module as its action.
// argc must be at least 2.
std::optional<int> answer_option(int argc, char** argv);

} // namespace launcher
