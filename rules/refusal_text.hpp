// The texts of a refusal enumeration: for each enumerator, in order, its own
// name (for machine-readable output) and a short reason for people.
#pragma once

#include <cstddef>

namespace kestrune {

struct RefusalText {
    const char* name;
    const char* reason;
};

// The texts of `refusal` in `texts`, the table of its enumeration.
template <class Refusal, std::size_t count>
constexpr const RefusalText& text_of(const RefusalText (&texts)[count], Refusal refusal)
{
    return texts[static_cast<std::size_t>(refusal)];
}

} // namespace kestrune
