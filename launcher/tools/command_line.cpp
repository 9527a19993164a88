// The launcher's own options. --help and --version are answered from static
// text, with no interpreter, so asking for them costs nothing and reads no
// file; --setup, --remove and --status are parsed here and run by the tool
// programs (tool_program.cpp).
#include "options.hpp"

#include <cstdio>

#include "tool_options.hpp"
#include "tool_program.hpp"

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
    "               absolute path; running it again changes nothing\n"
    "  --remove     take out exactly the entries --setup wrote\n"
    "  --global     with --setup or --remove: the user's git config (the default)\n"
    "  --system     ... the system-wide git config\n"
    "  --local      ... the current repository's config\n"
    "  --file PATH  ... the git config file PATH\n"
    "  --dry-run    print the git config commands instead of running them\n"
    "  --status     check the config file, the token and git's helper set-up, one\n"
    "               line each; exit 0 when git would get the token from this\n"
    "               helper for https://github.com, 1 otherwise\n"
    "  --json       with --status: print the same as one JSON object\n"
    "  -h, --help   show this help and exit\n"
    "  --version    show the version and exit\n"
    "\n"
    "See git-credential-kestrune(1).\n";

constexpr const char version_text[] = "git-credential-kestrune " KESTRUNE_VERSION "\n";

int write_text(const char* text)
{
    return std::fputs(text, stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
}

} // namespace

std::optional<int> answer_option(int argc, char** argv)
{
    const std::string_view arg = argv[1];
    if (arg == "--help" || arg == "-h") {
        return write_text(usage_text);
    }
    if (arg == "--version") {
        return write_text(version_text);
    }
    // "--" alone is no option but the usual end-of-options word: an action
    // word like any other, which the module ignores.
    if (!arg.starts_with("--") || arg == "--") {
        return std::nullopt;
    }
    const auto options = parse_tool_options(argc, argv);
    if (!options) {
        return usage_error_status;
    }
    return run_tool(*options, argc, argv);
}

} // namespace launcher
