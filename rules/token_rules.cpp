#include "token_rules.hpp"

#include <iterator>

#include "refusal_text.hpp"

namespace kestrune {

namespace {

bool is_ascii_whitespace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_printable_ascii(char c)
{
    return c >= '!' && c <= '~';
}

} // namespace

TokenRefusal check_token(std::string_view token)
{
    if (token.empty()) {
        return TokenRefusal::empty;
    }
    bool printable = true;
    for (const char c : token) {
        if (is_ascii_whitespace(c)) {
            return TokenRefusal::whitespace;
        }
        printable = printable && is_printable_ascii(c);
    }
    if (!printable) {
        return TokenRefusal::not_printable;
    }
    return token.size() > token_max_length ? TokenRefusal::too_long : TokenRefusal::none;
}

namespace {

// The name and the reason of each refusal, in the order of the enumeration.
constexpr RefusalText refusal_texts[] = {
    {"none", "acceptable"},
    {"empty", "is empty"},
    {"whitespace", "contains whitespace or a line break"},
    {"not_printable", "contains characters outside printable ASCII"},
    {"too_long", "is longer than 4000 characters"},
};
static_assert(std::size(refusal_texts) == static_cast<std::size_t>(TokenRefusal::too_long) + 1,
              "one text per refusal");
static_assert(token_max_length == 4000, "the too_long reason names the limit");

} // namespace

const char* describe(TokenRefusal refusal)
{
    return text_of(refusal_texts, refusal).reason;
}

const char* refusal_name(TokenRefusal refusal)
{
    return text_of(refusal_texts, refusal).name;
}

} // namespace kestrune
