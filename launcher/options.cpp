// --help and --version. They are answered from static text, with no
// interpreter, so asking for them costs nothing and reads no file.
#include "options.hpp"

#include <cstdio>

namespace launcher {

namespace {

constexpr const char usage_text[] =
    "usage: git-credential-kestrune [get | store | erase]\n"
    "\n"
    "Git credential helper for Kestrune. Git runs it with an action and writes a\n"
    "credential request (key=value lines, ended by an empty line) to its standard\n"
    "input.\n"
    "\n"
    "actions:\n"
    "  get     answer a request for https://github.com (or a subdomain of it) with\n"
    "          username=x-access-token and the github_token saved in\n"
    "          ~/.kestrune/config.json as the password; other requests get no\n"
    "          answer (the default when no action is given)\n"
    "  store   do nothing: the configuration file is the only source of truth\n"
    "  erase   do nothing\n"
    "\n"
    "set-up:\n"
    "  git config --global credential.https://github.com.helper kestrune\n"
    "\n"
    "options:\n"
    "  -h, --help   show this help and exit\n"
    "  --version    show the version and exit\n";

constexpr const char version_text[] = "git-credential-kestrune " KESTRUNE_VERSION "\n";

int write_text(const char* text)
{
    return std::fputs(text, stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
}

} // namespace

std::optional<int> answer_option(std::string_view arg)
{
    if (arg == "--help" || arg == "-h") {
        return write_text(usage_text);
    }
    if (arg == "--version") {
        return write_text(version_text);
    }
    return std::nullopt;
}

} // namespace launcher
