// The launcher's own command line: the options it answers before the module
// runs (-h, --help, --version) and the command lines of the tools (--setup,
// --remove, --status).
#pragma once

#include <optional>
#include <string_view>

namespace launcher {

enum class Tool { setup, remove, status };

// What the command line asks of a tool. The views point into argv.
struct ToolOptions {
    Tool tool = Tool::status;
    // The git config file that --setup and --remove edit, as git config's own
    // option: "--global" (the default), "--system", "--local" or "--file",
    // the last with `file` as its path.
    std::string_view scope = "--global";
    std::string_view file;
    bool dry_run = false;
    bool json = false;
};

// The exit status of a command line that cannot be run, as for other
// command-line tools.
inline constexpr int usage_error_status = 2;

// When argv[1] is one of the launcher's own options (-h, or any word that
// starts with "--"), answers it and returns the exit status: 0 for --help and
// --version, the tool's status for --setup, --remove and --status, and 2 after
// a message on standard error for an unknown option or a wrong combination.
// Otherwise returns nothing and argv[1] (if any) goes to the module as its
// action; when standard input is a terminal and that is not one of git's
// actions (get, store, erase), one line on standard error first names the
// launcher's options.
std::optional<int> answer_option(int argc, char** argv);

// Parses argv[1] onwards, all of which must be the launcher's options: one
// of --setup, --remove and --status, and the options that go with it. On an
// unknown option or a wrong combination writes the reason and a pointer to
// --help on standard error and returns nothing.
std::optional<ToolOptions> parse_tool_options(int argc, char** argv);

} // namespace launcher
