// File paths in fixed buffers, joined from parts.
#pragma once

#include <array>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <string_view>

namespace launcher {

// A path in a fixed buffer rather than a std::string: the launcher links no
// more of the C++ runtime than it must load at every start.
using PathBuffer = std::array<char, PATH_MAX>;

// `parts` joined by "/" into `path`; false, with `path` empty, when that does
// not fit (no file can have such a name).
inline bool join(PathBuffer& path, std::initializer_list<std::string_view> parts)
{
    std::size_t length = 0;
    for (const std::string_view part : parts) {
        const std::size_t separator = length == 0 ? 0 : 1;
        if (separator + part.size() >= path.size() - length) {
            path[0] = '\0';
            return false;
        }
        if (separator != 0) {
            path[length++] = '/';
        }
        std::memcpy(path.data() + length, part.data(), part.size());
        length += part.size();
    }
    path[length] = '\0';
    return true;
}

} // namespace launcher
