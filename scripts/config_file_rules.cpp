#include "config_file_rules.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace kestrune {

namespace {

// Owned by the caller or by root, and not writable by others; `owner` and
// `mode` are the refusals for the file or for its folder.
ConfigRefusal check_owner_and_mode(const struct stat& st, ConfigRefusal owner, ConfigRefusal mode)
{
    if (st.st_uid != geteuid() && st.st_uid != 0) {
        return owner;
    }
    if (st.st_mode & S_IWOTH) {
        return mode;
    }
    return ConfigRefusal::none;
}

// The folder that holds `path`, an absolute path.
std::string folder_of(const char* path)
{
    std::string folder(path);
    const auto slash = folder.find_last_of('/');
    folder.erase(slash == 0 ? 1 : slash);
    return folder;
}

} // namespace

ConfigRefusal check_config_file(const char* path)
{
    if (path == nullptr || path[0] != '/') {
        return ConfigRefusal::relative_path;
    }
    struct stat file {};
    if (stat(path, &file) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? ConfigRefusal::missing : ConfigRefusal::not_readable;
    }
    if (!S_ISREG(file.st_mode)) {
        return ConfigRefusal::not_regular_file;
    }
    if (file.st_size > config_file_max_size) {
        return ConfigRefusal::too_large;
    }
    auto refusal = check_owner_and_mode(file, ConfigRefusal::unsafe_owner, ConfigRefusal::unsafe_mode);
    if (refusal != ConfigRefusal::none) {
        return refusal;
    }
    if (faccessat(AT_FDCWD, path, R_OK, AT_EACCESS) != 0) {
        return ConfigRefusal::not_readable;
    }
    struct stat folder {};
    if (stat(folder_of(path).c_str(), &folder) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? ConfigRefusal::missing : ConfigRefusal::not_readable;
    }
    return check_owner_and_mode(folder, ConfigRefusal::unsafe_folder_owner, ConfigRefusal::unsafe_folder_mode);
}

const char* describe(ConfigRefusal refusal)
{
    switch (refusal) {
    case ConfigRefusal::none:
        return "acceptable";
    case ConfigRefusal::relative_path:
        return "not an absolute path";
    case ConfigRefusal::missing:
        return "no such file";
    case ConfigRefusal::not_readable:
        return "not readable";
    case ConfigRefusal::not_regular_file:
        return "not a regular file";
    case ConfigRefusal::too_large:
        return "larger than 1 MiB";
    case ConfigRefusal::unsafe_owner:
        return "owned by another user";
    case ConfigRefusal::unsafe_mode:
        return "writable by others";
    case ConfigRefusal::unsafe_folder_owner:
        return "folder owned by another user";
    case ConfigRefusal::unsafe_folder_mode:
        return "folder writable by others";
    }
    return "unknown reason";
}

} // namespace kestrune
