// The launcher's own options, answered before the interpreter starts.
#pragma once

#include <optional>
#include <string_view>

namespace launcher {

// When `arg` (the first command-line argument) is one of the launcher's own
// options, writes its answer to standard output and returns the exit status;
// otherwise returns nothing and the argument goes to the module as its action.
std::optional<int> answer_option(std::string_view arg);

} // namespace launcher
