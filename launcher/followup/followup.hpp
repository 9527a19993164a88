// What the launcher says on standard error after the module has run, about a
// request that concerns the token:
//
//  - a `get` for GitHub over HTTPS that got no answer because of the config
//    file or the token: "git-credential-kestrune: no token for github.com:
//    <reason> (<path>)";
//  - an `erase` for GitHub whose password is the configured token: GitHub
//    rejected it, and the user is told to sign in to Kestrune again.
//
// Standard output is never touched, nothing is said about any other request,
// and the token is never written. A failure inside the follow-up is dropped:
// it never changes the run's exit status.
#pragma once

#include <optional>

#include "followup/request_watch.hpp"

namespace launcher {

class Followup {
public:
    // Watches the run when argv names `get` (or no action).
    Followup(int argc, char** argv);

    // Called once the module has run, with its exit status.
    void after_run(int exit_status);

private:
    enum class Action { get, erase, other };
    Action action_;
    std::optional<RequestWatch> watch_;
};

} // namespace launcher
