#include "config_file_rules.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <iterator>
#include <cstring>

#include "refusal_text.hpp"

namespace kestrune {

namespace {

ConfigRefusal stat_failure()
{
    return errno == ENOENT || errno == ENOTDIR ? ConfigRefusal::missing : ConfigRefusal::not_readable;
}

bool owned_by_us_or_root(const struct stat& st)
{
    return st.st_uid == 0 || st.st_uid == geteuid();
}

bool writable_by_others(const struct stat& st)
{
    return (st.st_mode & S_IWOTH) != 0;
}

ConfigRefusal check_file(const char* path)
{
    struct stat st;
    if (stat(path, &st) != 0) {
        return stat_failure();
    }
    if (!S_ISREG(st.st_mode)) {
        return ConfigRefusal::not_regular_file;
    }
    if (st.st_size > config_file_max_size) {
        return ConfigRefusal::too_large;
    }
    if (!owned_by_us_or_root(st)) {
        return ConfigRefusal::unsafe_owner;
    }
    if (writable_by_others(st)) {
        return ConfigRefusal::unsafe_mode;
    }
    if (faccessat(AT_FDCWD, path, R_OK, AT_EACCESS) != 0) {
        return ConfigRefusal::not_readable;
    }
    return ConfigRefusal::none;
}

// `path` is absolute, so its folder is "/" or the text before its last "/".
// The folder's name is copied into a buffer of PATH_MAX bytes: a longer one
// cannot name a file either.
ConfigRefusal check_folder(const char* path)
{
    const std::size_t folder_length = std::max<std::size_t>(std::strrchr(path, '/') - path, 1);
    std::array<char, PATH_MAX> folder;
    if (folder_length >= folder.size()) {
        return ConfigRefusal::not_readable;
    }
    std::memcpy(folder.data(), path, folder_length);
    folder[folder_length] = '\0';
    struct stat st;
    if (stat(folder.data(), &st) != 0) {
        return stat_failure();
    }
    if (!owned_by_us_or_root(st)) {
        return ConfigRefusal::unsafe_folder_owner;
    }
    if (writable_by_others(st)) {
        return ConfigRefusal::unsafe_folder_mode;
    }
    return ConfigRefusal::none;
}

} // namespace

ConfigRefusal check_config_file(const char* path)
{
    if (!path || path[0] != '/') {
        return ConfigRefusal::relative_path;
    }
    const ConfigRefusal file = check_file(path);
    return file != ConfigRefusal::none ? file : check_folder(path);
}

namespace {

// The name and the reason of each refusal, in the order of the enumeration.
constexpr RefusalText refusal_texts[] = {
    {"none", "acceptable"},
    {"relative_path", "not an absolute path"},
    {"missing", "no such file"},
    {"not_readable", "not readable"},
    {"not_regular_file", "not a regular file"},
    {"too_large", "larger than 1 MiB"},
    {"unsafe_owner", "owned by another user"},
    {"unsafe_mode", "writable by others"},
    {"unsafe_folder_owner", "folder owned by another user"},
    {"unsafe_folder_mode", "folder writable by others"},
};
static_assert(std::size(refusal_texts) == static_cast<std::size_t>(ConfigRefusal::unsafe_folder_mode) + 1,
              "one text per refusal");
static_assert(config_file_max_size == std::int64_t{1} << 20, "the too_large reason names the limit");

} // namespace

const char* describe(ConfigRefusal refusal)
{
    return text_of(refusal_texts, refusal).reason;
}

const char* refusal_name(ConfigRefusal refusal)
{
    return text_of(refusal_texts, refusal).name;
}

} // namespace kestrune
