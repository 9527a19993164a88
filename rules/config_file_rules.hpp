// The rules a configuration file must meet before the helper reads a token
// from it. Git runs the helper inside whatever repository the user is in, and
// that repository, or another user of the machine, may try to supply the file
// or make reading it hang; a file that breaks any rule is not read at all.
//
// Plain C++ with no Python objects, so that the launcher reports the same
// checks that the module applies.
#pragma once

#include <cstdint>

namespace kestrune {

// Why a configuration file is refused; `none` when it may be read.
enum class ConfigRefusal {
    none,
    relative_path,          // not an absolute path (or no path at all)
    missing,                // the file, or a folder on the way to it, is not there
    not_readable,           // stat or the read permission failed
    not_regular_file,       // a folder, FIFO, device or socket, after symlinks
    too_large,              // more than config_file_max_size bytes
    unsafe_owner,           // the file belongs to neither this user nor root
    unsafe_mode,            // the file is writable by others (o+w)
    unsafe_folder_owner,    // its folder belongs to neither this user nor root
    unsafe_folder_mode,     // its folder is writable by others (o+w), sticky or not
};

// Where the configuration file is, before the home directory is expanded
// (os.path.expanduser). The module's own copy is in its constant table, which
// a test holds equal to this one.
inline constexpr char config_path_template[] = "~/.kestrune/config.json";

// The largest configuration file that is read: 1 MiB.
inline constexpr std::int64_t config_file_max_size = std::int64_t{1} << 20;

// Checks the file that `path` names, by stat alone: nothing is opened, so a
// FIFO or a device never blocks the check.
// - `path` must be absolute.
// - The file itself, after following symlinks, must be a regular file of at
//   most config_file_max_size bytes, readable by this process, owned by this
//   process's effective user or by root, and not writable by others.
// - Its folder, the one named in `path` as given (everything before the last
//   "/"), must be owned by this user or by root and not writable by others.
//   Nobody else can then put another file in the file's place between this
//   check and the open that follows it.
// Group-writable files and folders are allowed.
ConfigRefusal check_config_file(const char* path);

// A short lower-case English reason, such as "no such file" or "writable by
// others"; "acceptable" for ConfigRefusal::none.
const char* describe(ConfigRefusal refusal);

// The enumerator's own name, such as "unsafe_mode", for tools that read the
// launcher's machine-readable status.
const char* refusal_name(ConfigRefusal refusal);

} // namespace kestrune
