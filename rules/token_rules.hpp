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

// Why a token is not sent; `none` when it is. A token that breaks several
// parts of the rule gets the first of these that applies, in this order, so
// that the stray line break at the end of a pasted token is named as such.
enum class TokenRefusal {
    none,
    empty,
    whitespace,       // a space, tab, line break, vertical tab or form feed
    not_printable,    // another control character, DEL or non-ASCII text
    too_long,         // more than token_max_length characters
};

// Checks `token`, given as UTF-8: 1 to token_max_length characters, each
// printable ASCII from '!' to '~' (no space, no control character).
TokenRefusal check_token(std::string_view token);

// Whether check_token finds nothing wrong with `token`.
inline bool token_is_acceptable(std::string_view token)
{
    return check_token(token) == TokenRefusal::none;
}

// What is wrong, in a few lower-case words a user can act on that follow the
// token's name, such as "contains whitespace or a line break" or "is empty";
// "acceptable" for TokenRefusal::none.
// The token itself is never part of it.
const char* describe(TokenRefusal refusal);

// The enumerator's own name, such as "whitespace", for tools that read the
// launcher's machine-readable status.
const char* refusal_name(TokenRefusal refusal);

} // namespace kestrune
