// How much of a request the follow-up keeps.
#pragma once

#include <Python.h>

namespace launcher {

// The most characters of a request that the follow-up keeps or reads: far
// more than any request git writes (a few short lines), and little enough
// that standard input without end (`yes | git-credential-kestrune get`)
// costs no memory beyond it. Past it the follow-up says nothing; the module
// reads its input as it always does.
inline constexpr Py_ssize_t request_max_length = 64 * 1024;

} // namespace launcher
