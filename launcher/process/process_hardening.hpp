// What the launcher does to its own process before anything else runs.
#pragma once

namespace launcher {

// Makes the process non-dumpable, so that it writes no core file holding the
// token and no process of the same user can attach to it or read its memory,
// and changes the working directory to "/". Git runs the helper at the root
// of whatever repository the user is in, which anyone may have written: from
// "/" no relative path the run may open (a traceback's source file, for one)
// can reach it. False, with a reason written on stderr, when either step
// failed; the caller then stops.
bool harden_process();

// The first of those steps alone, for the launcher's own options, which run
// in the caller's working directory (--status looks at the repository there).
bool make_non_dumpable();

} // namespace launcher
