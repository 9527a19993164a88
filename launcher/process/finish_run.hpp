// The end of a run: what the process needs of the interpreter's shutdown, and
// the end by SIGINT of a run that Ctrl-C interrupted.
#pragma once

#include <csignal>

namespace launcher {

// What run_main_module returns when a KeyboardInterrupt reached the top.
inline constexpr int interrupted_status = 128 + SIGINT;

// Ends a run whose main module has finished with `exit_status`, and returns
// the process's exit status. Output that cannot be flushed gives 120, as in
// `python`. A run that Ctrl-C interrupted at any point (interrupt.hpp) gives
// interrupted_status, even when no KeyboardInterrupt reached the top.
//
// The interpreter is finalised only when the run asked for what finalisation
// does beyond flushing the standard streams: exit handlers (the `atexit`
// module is loaded) or threads to wait for (`threading` is loaded). The
// helper itself needs neither, and releasing every object of the run would
// take a sizeable part of it (docs/performance.md, P1).
int finish_run(int exit_status);

// Ends the process by SIGINT with its default action, as `python` does after
// an unhandled KeyboardInterrupt, so that the caller (a shell, git) sees that
// the helper was interrupted. The standard streams must have been flushed.
// Returns interrupted_status only when the signal did not end the process.
int exit_by_sigint();

} // namespace launcher
