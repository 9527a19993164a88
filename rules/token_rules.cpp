#include "token_rules.hpp"

#include <array>
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

// "is longer than <token_max_length> characters", spelled out at compile time so
// that the limit is written in one place only.
constexpr auto too_long_reason = [] {
    constexpr std::string_view head = "is longer than ";
    constexpr std::string_view tail = " characters";
    std::array<char, head.size() + 20 + tail.size() + 1> text{};
    std::size_t n = 0;
    for (const char c : head) {
        text[n++] = c;
    }
    std::array<char, 20> digits{};
    std::size_t count = 0;
    for (std::size_t value = token_max_length; value != 0 || count == 0; value /= 10) {
        digits[count++] = static_cast<char>('0' + value % 10);
    }
    while (count > 0) {
        text[n++] = digits[--count];
    }
    for (const char c : tail) {
        text[n++] = c;
    }
    return text;
}();

// The name and the reason of each refusal, in the order of the enumeration.
constexpr RefusalText refusal_texts[] = {
    {"none", "acceptable"},
    {"empty", "is empty"},
    {"whitespace", "contains whitespace or a line break"},
    {"not_printable", "contains characters outside printable ASCII"},
    {"too_long", too_long_reason.data()},
};
static_assert(std::size(refusal_texts) == static_cast<std::size_t>(TokenRefusal::too_long) + 1,
              "one text per refusal");

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
