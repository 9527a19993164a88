#include "token_rules.hpp"

namespace kestrune {

bool token_is_acceptable(std::string_view token)
{
    if (token.empty() || token.size() > token_max_length) {
        return false;
    }
    for (const char c : token) {
        if (c < '!' || c > '~') {
            return false;
        }
    }
    return true;
}

} // namespace kestrune
