// The rule a token must meet to be sent as the password.
//
// Every GitHub token format is a short run of printable ASCII. Anything else
// (a line break, another control or separator character, non-ASCII text, an
// oversized value) could break or bend the answer's lines, so it is not sent.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrune {

// The longest token that is sent. The whole answer, with its user-name line,
// then stays under 4,096 bytes: one write that a pipe delivers whole.
inline constexpr std::size_t token_max_length = 4000;

// Whether `token` is 1 to token_max_length characters, each printable ASCII
// from '!' to '~' (no space, no control character).
bool token_is_acceptable(std::string_view token);

} // namespace kestrune
