// The end of a run that Ctrl-C interrupted.
#pragma once

#include <csignal>

namespace launcher {

// What run_main_module returns when a KeyboardInterrupt reached the top.
inline constexpr int interrupted_status = 128 + SIGINT;

// Ends the process by SIGINT with its default action, as `python` does after
// an unhandled KeyboardInterrupt, so that the caller (a shell, git) sees that
// the helper was interrupted. The standard streams must have been flushed.
// Returns interrupted_status only when the signal did not end the process.
int exit_by_sigint();

} // namespace launcher
