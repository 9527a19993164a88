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
// and the token is never written. The follow-up keeps or reads at most
// request_max_length characters of a request and never reads past its end.
// A failure inside the follow-up is dropped: it never changes the run's exit
// status, except Ctrl-C, which ends the run as interrupted wherever it comes.
#pragma once

#include <optional>

#include "followup/request_watch.hpp"

namespace launcher {

class Followup {
public:
    // Watches the run when argv names `get` (or no action).
    Followup(int argc, char** argv);

    // Called once the module has run, with its exit status; returns the
    // run's exit status, which is interrupted_status when Ctrl-C came during
    // the follow-up (or before it, and was not yet handled).
    int after_run(int exit_status);

private:
    // Writes the line that the request calls for, if any; returns with an
    // exception set when something failed.
    void explain();

    enum class Action { get, erase, other };
    Action action_;
    std::optional<RequestWatch> watch_;
};

} // namespace launcher
