#include "token_rules.hpp"

#include <algorithm>

namespace kestrune {

bool token_is_acceptable(std::string_view token)
{
    return !token.empty() && token.size() <= token_max_length &&
           std::all_of(token.begin(), token.end(), [](char c) { return c >= '!' && c <= '~'; });
}

} // namespace kestrune
