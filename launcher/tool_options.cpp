#include "tool_options.hpp"

#include <cstdio>
#include <string>

namespace launcher {

namespace {

std::nullopt_t usage_error(const std::string& message)
{
    std::fprintf(stderr,
                 "git-credential-kestrune: %s\n"
                 "Try 'git-credential-kestrune --help' for more information.\n",
                 message.c_str());
    return std::nullopt;
}

std::string quoted(std::string_view arg)
{
    return "'" + std::string(arg) + "'";
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
                return usage_error(quoted(tool_word) + " and " + quoted(arg) + " cannot be combined");
            }
            tool_word = arg;
            options.tool = arg == "--setup" ? Tool::setup : arg == "--remove" ? Tool::remove : Tool::status;
        } else if (arg == "--global" || arg == "--system" || arg == "--local" || arg == "--file" ||
                   arg.starts_with("--file=")) {
            if (!scope_word.empty()) {
                return usage_error("only one of --global, --system, --local and --file can be given");
            }
            scope_word = arg;
            if (arg.starts_with("--file")) {
                options.scope = "--file";
                if (arg == "--file") {
                    if (i + 1 >= argc) {
                        return usage_error("--file needs a path");
                    }
                    options.file = argv[++i];
                } else {
                    options.file = arg.substr(std::string_view("--file=").size());
                }
                if (options.file.empty()) {
                    return usage_error("--file needs a path");
                }
            } else {
                options.scope = arg;
            }
        } else if (arg == "--dry-run") {
            options.dry_run = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg.starts_with("-")) {
            return usage_error("unknown option " + quoted(arg));
        } else {
            return usage_error("unexpected argument " + quoted(arg));
        }
    }
    if (tool_word.empty()) {
        return usage_error("give one of --setup, --remove and --status");
    }
    const bool edits = options.tool != Tool::status;
    if (!edits && (!scope_word.empty() || options.dry_run)) {
        return usage_error(quoted(scope_word.empty() ? "--dry-run" : scope_word) +
                           " goes with --setup or --remove");
    }
    if (edits && options.json) {
        return usage_error("'--json' goes with --status");
    }
    return options;
}

} // namespace launcher
