// The launcher's own command line. --help and --version are answered with no
// interpreter, so asking for them costs nothing and reads no file; --setup,
// --remove and --status are parsed here and run by the tool programs
// (tools/tool_program.cpp). No std::string here: the launcher links no more
// of the C++ runtime than it must load at every start.
#include "tools/command_line.hpp"

#include <Python.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iterator>

#include "process/runtime_location.hpp"
#include "tools/tool_program.hpp"

namespace launcher {

namespace {

constexpr const char usage_text[] =
    "usage: git-credential-kestrune [get | store | erase]\n"
    "       git-credential-kestrune --setup [--global | --system | --local | --file PATH] [--dry-run]\n"
    "       git-credential-kestrune --remove [--global | --system | --local | --file PATH] [--dry-run]\n"
    "       git-credential-kestrune --status [--json]\n"
    "\n"
    "Git credential helper for Kestrune. Git runs it with an action and writes a\n"
    "credential request (key=value lines, ended by an empty line) to its standard\n"
    "input.\n"
    "\n"
    "actions:\n"
    "  get     answer a request for https://github.com (or a subdomain of it) with\n"
    "          username=x-access-token and the github_token saved in\n"
    "          ~/.kestrune/config.json as the password; other requests get no\n"
    "          answer (the default when no action is given). When a GitHub\n"
    "          request gets no answer because of the config file or the token,\n"
    "          one line on standard error says why\n"
    "  store   do nothing: the configuration file is the only source of truth\n"
    "  erase   save nothing; when git erases the saved token after GitHub\n"
    "          rejected it, say so on standard error\n"
    "\n"
    "options:\n"
    "  --setup      make git ask only this helper for https://github.com and\n"
    "               https://*.github.com: an empty helper entry (which drops the\n"
    "               helpers configured before it) followed by this program's\n"
    "               absolute path, replacing such a pair of a moved launcher;\n"
    "               running it again changes nothing. It then asks git what it\n"
    "               runs, and exits 1 when another helper still answers first\n"
    "  --remove     take out exactly the pairs of entries --setup writes\n"
    "  --global     with --setup or --remove: the user's git config (the default)\n"
    "  --system     ... the system-wide git config\n"
    "  --local      ... the current repository's config\n"
    "  --file PATH  ... the git config file PATH\n"
    "  --dry-run    print the change to the config file instead of making it\n"
    "  --status     check the config file, the token and git's helper set-up, one\n"
    "               line each; exit 0 when git would get the token from this\n"
    "               helper for https://github.com and the repository's GitHub\n"
    "               remotes, 1 otherwise\n"
    "  --json       with --status: print the same as one JSON object\n"
    "  -h, --help   show this help and exit\n"
    "  --version    show the version, the CPython it runs and its runtime, and exit\n"
    "\n"
    "See git-credential-kestrune(1).\n";

// The one line said at a terminal, where a person rather than git runs the
// helper, when no action is given (the module reads a `get` request) and when
// the word given is not an action (the module does nothing).
constexpr const char no_action_text[] =
    "git-credential-kestrune: reading a credential request for 'get' (key=value lines, then an empty "
    "line); the launcher's own options are --setup, --status and --help\n";
constexpr const char unknown_action_text[] =
    "git-credential-kestrune: not an action, nothing done; git runs this helper with get, store or "
    "erase, and the launcher's own options are --setup, --status and --help\n";

// The action words git uses.
constexpr std::string_view git_actions[] = {"get", "store", "erase"};

int write_text(const char* text)
{
    return std::fputs(text, stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
}

// At a terminal only, so that git's runs stay as they are: one line on
// standard error when `word` (NULL for none) is no action git uses.
void note_at_terminal(const char* word)
{
    if (word && std::ranges::find(git_actions, std::string_view(word)) != std::end(git_actions)) {
        return;
    }
    if (isatty(STDIN_FILENO)) {
        std::fputs(word ? unknown_action_text : no_action_text, stderr);
    }
}

// printf arguments for a std::string_view: "%.*s".
int length(std::string_view text)
{
    return static_cast<int>(text.size());
}

// The version, then what a bug report needs besides: the CPython that runs
// the module and where its standard library comes from. Py_GetVersion()
// needs no interpreter; its first word is the version of the CPython linked
// in, or of the libpython3.12.so that a shared build loaded.
int write_version()
{
    const std::string_view cpython = Py_GetVersion();
    // Not substr, whose range check would link the C++ runtime's exceptions.
    const std::string_view number(cpython.data(), std::min(cpython.find(' '), cpython.size()));
    const int written = std::printf("git-credential-kestrune " KESTRUNE_VERSION "\nCPython %.*s, %s\n",
                                    length(number), number.data(), runtime_kind);
    return written < 0 || std::fflush(stdout) != 0 ? 1 : 0;
}

// Writes "git-credential-kestrune: " and the printf-style message, then a
// pointer to --help, on standard error.
[[gnu::format(printf, 1, 2)]] std::nullopt_t usage_error(const char* format, ...)
{
    std::fputs("git-credential-kestrune: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputs("\nTry 'git-credential-kestrune --help' for more information.\n", stderr);
    return std::nullopt;
}

} // namespace

std::optional<int> answer_option(int argc, char** argv)
{
    if (argc < 2 || !argv[1]) {
        note_at_terminal(nullptr);
        return std::nullopt;
    }
    const std::string_view arg = argv[1];
    if (arg == "--help" || arg == "-h") {
        return write_text(usage_text);
    }
    if (arg == "--version") {
        return write_version();
    }
    // "--" alone is no option but the usual end-of-options word: an action
    // word like any other, which the module ignores.
    if (!arg.starts_with("--") || arg == "--") {
        note_at_terminal(argv[1]);
        return std::nullopt;
    }
    const auto options = parse_tool_options(argc, argv);
    if (!options) {
        return usage_error_status;
    }
    return run_tool(*options, argc, argv);
}

std::optional<ToolOptions> parse_tool_options(int argc, char** argv)
{
    ToolOptions options;
    std::string_view tool_word;
    std::string_view scope_word;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view tool;
        if (arg == "--setup" || arg == "--remove" || arg == "--status") {
            if (!tool_word.empty()) {
                return usage_error("'%.*s' and '%.*s' cannot be combined", length(tool_word), tool_word.data(),
                                   length(arg), arg.data());
            }
            tool_word = arg;
            options.tool = arg == "--setup" ? Tool::setup : arg == "--remove" ? Tool::remove : Tool::status;
        } else if (arg == "--global" || arg == "--system" || arg == "--local" || arg == "--file" ||
                   arg.starts_with("--file=")) {
            if (!scope_word.empty()) {
                return usage_error("%s", "only one of --global, --system, --local and --file can be given");
            }
            scope_word = arg;
            if (arg.starts_with("--file")) {
                options.scope = "--file";
                if (arg == "--file") {
                    if (i + 1 >= argc) {
                        return usage_error("%s", "--file needs a path");
                    }
                    options.file = argv[++i];
                } else {
                    options.file = arg;
                    options.file.remove_prefix(std::string_view("--file=").size());
                }
                if (options.file.empty()) {
                    return usage_error("%s", "--file needs a path");
                }
            } else {
                options.scope = arg;
            }
        } else if (arg == "--dry-run") {
            options.dry_run = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg.starts_with("-")) {
            return usage_error("unknown option '%.*s'", length(arg), arg.data());
        } else {
            return usage_error("unexpected argument '%.*s'", length(arg), arg.data());
        }
    }
    if (tool_word.empty()) {
        return usage_error("%s", "give one of --setup, --remove and --status");
    }
    const bool edits = options.tool != Tool::status;
    if (!edits && (!scope_word.empty() || options.dry_run)) {
        const std::string_view word = scope_word.empty() ? "--dry-run" : scope_word;
        return usage_error("'%.*s' goes with --setup or --remove", length(word), word.data());
    }
    if (edits && options.json) {
        return usage_error("%s", "'--json' goes with --status");
    }
    return options;
}

} // namespace launcher
