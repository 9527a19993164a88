// The launcher's own Python modules: the programs behind --setup, --remove
// and --status and the explanations written on standard error, linked into
// the launcher as source text (generated at build time from the .py files
// beside this one) and never read from disk; and `_kestrune_rules`, a native
// module through which they apply the helper's rules and read its facts
// (rules/), so that no limit, path or host rule is written twice.
//
//     check_config_file(path: str) -> None | (name: str, reason: str)
//         None when the file may be read; else the refusal's name (its
//         ConfigRefusal enumerator, "unsafe_mode", ...) and its description.
//     check_token(token: str) -> None | (name: str, reason: str)
//         None when the token is handed out; else the refusal's name (its
//         TokenRefusal enumerator, "whitespace", ...) and its description.
//     token_is_acceptable(token: str) -> bool
//     host_is_github(host: str) -> bool
//     CONFIG_PATH_TEMPLATE: str     "~/.kestrune/config.json"
//     CONFIG_FILE_MAX_SIZE: int     in bytes
//     TOKEN_MAX_LENGTH: int         in characters
//     GITHUB_HOST: str              "github.com"
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace launcher {

// The module `name` (one of "_kestrune_config_check", "_kestrune_git_setup",
// "_kestrune_status"), executed on first use together with the modules it
// imports; empty with an exception set on failure.
runtime::Owned<> import_launcher_module(const char* name);

} // namespace launcher
