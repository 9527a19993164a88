// Whether the helper may read its config file. The token is a secret, so the
// file must be one that only the user (or root) can have written, and one that
// can be read without blocking or exhausting memory.
#pragma once

namespace kestrune {

enum class ConfigRefusal {
    none,              // the file may be read
    relative_path,     // the path is not absolute (HOME is relative or unset)
    missing,           // no file at the path
    not_readable,      // it exists but cannot be read
    not_regular_file,  // after symlinks, not a regular file (a folder, a FIFO, a device)
    too_large,         // larger than 1 MiB
    unsafe_owner,      // the file or its folder belongs to another user than the caller or root
    unsafe_mode,       // the file or its folder is writable by others (o+w)
};

// Checks the file at `path` with stat calls only: never opens it, so it never
// blocks.
ConfigRefusal check_config_file(const char* path);

// The refusal in words, to follow "no token for github.com: ".
const char* describe(ConfigRefusal refusal);

} // namespace kestrune
