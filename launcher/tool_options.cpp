#include "tool_options.hpp"

#include <cstdarg>
#include <cstdio>

namespace launcher {

namespace {

// Writes "git-credential-kestrune: " and the printf-style message, then a
// pointer to --help, on standard error. No std::string here: the launcher
// links no more of the C++ runtime than it must load at every start.
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

// printf arguments for a std::string_view: "%.*s".
int length(std::string_view text)
{
    return static_cast<int>(text.size());
}

} // namespace

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
