// Which tokens the helper hands out.
#pragma once

#include <string_view>

namespace kestrune {

// 1 to 4,000 characters, all printable ASCII from '!' to '~': what GitHub's
// tokens are made of, and nothing that could break git's line protocol.
bool token_is_acceptable(std::string_view token);

} // namespace kestrune
