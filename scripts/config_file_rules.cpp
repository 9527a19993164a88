#include "config_file_rules.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace kestrune {

namespace {

constexpr off_t max_config_size = 1024 * 1024;

// Owned by the caller or by root, and not writable by others.
ConfigRefusal check_owner_and_mode(const struct stat& st)
{
    if (st.st_uid != geteuid() && st.st_uid != 0) {
        return ConfigRefusal::unsafe_owner;
    }
    if (st.st_mode & S_IWOTH) {
        return ConfigRefusal::unsafe_mode;
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
    if (file.st_size > max_config_size) {
        return ConfigRefusal::too_large;
    }
    struct stat folder {};
    if (stat(folder_of(path).c_str(), &folder) != 0) {
        return ConfigRefusal::not_readable;
    }
    for (const struct stat* st : {&file, &folder}) {
        if (const auto refusal = check_owner_and_mode(*st); refusal != ConfigRefusal::none) {
            return refusal;
        }
    }
    if (faccessat(AT_FDCWD, path, R_OK, AT_EACCESS) != 0) {
        return ConfigRefusal::not_readable;
    }
    return ConfigRefusal::none;
}

const char* describe(ConfigRefusal refusal)
{
    switch (refusal) {
    case ConfigRefusal::none:
        return "the config file may be read";
    case ConfigRefusal::relative_path:
        return "the config path is not absolute";
    case ConfigRefusal::missing:
        return "the config file does not exist";
    case ConfigRefusal::not_readable:
        return "the config file cannot be read";
    case ConfigRefusal::not_regular_file:
        return "the config file is not a regular file";
    case ConfigRefusal::too_large:
        return "the config file is larger than 1 MiB";
    case ConfigRefusal::unsafe_owner:
        return "the config file or its folder belongs to another user";
    case ConfigRefusal::unsafe_mode:
        return "the config file or its folder is writable by others";
    }
    return "the config file is refused";
}

} // namespace kestrune
