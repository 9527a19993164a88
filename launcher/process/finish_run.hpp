// The end of a run: what the process needs of the interpreter's shutdown.
#pragma once

namespace launcher {

// Ends a run whose main module has finished with `exit_status`, and returns
// the process's exit status. Output that cannot be flushed gives 120, as in
// `python`.
//
// The interpreter is finalised only when the run asked for what finalisation
// does beyond flushing the standard streams: exit handlers (the `atexit`
// module is loaded) or threads to wait for (`threading` is loaded). The
// helper itself needs neither, and releasing every object of the run would
// take about 15% of it (docs/performance.md, P1).
int finish_run(int exit_status);

} // namespace launcher
