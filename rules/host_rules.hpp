// The host rule: which request hosts name GitHub. Plain C++, so that any part
// of the helper can apply it to bytes it holds.
//
// Git passes the host as the user wrote it in the URL, and matches its own
// `credential.<url>.helper` keys ignoring case and a trailing dot; whatever
// git can produce from a crafted URL (a "/", "@" or ":" before ".github.com")
// must not be taken for GitHub.
#pragma once

#include <string_view>

namespace kestrune {

// The GitHub host name, lower-case. The module's own copy is in its constant
// table, which a test holds equal to this one.
inline constexpr std::string_view github_host = "github.com";

// Whether `host` names the host `github` (lower-case ASCII) or a subdomain of
// it. An optional port (":" and 1 to 5 ASCII digits, value 1 to 65535) and
// then one optional trailing dot are removed first; what remains must equal
// `github`, or be one or more DNS labels (ASCII letters, digits and hyphens,
// 1 to 63 characters, not starting or ending with a hyphen) followed by "."
// and `github`. Letters are compared with ASCII-only case folding.
bool host_is_github(std::string_view host, std::string_view github);

} // namespace kestrune
