// LineRecorder: a stand-in for sys.stdin that is iterated like the stream it
// wraps and keeps every line it hands out, so that the follow-up can read the
// request the module read.
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace launcher {

// A new recorder in front of `stream`; empty with an exception set on failure.
runtime::Owned<> make_line_recorder(PyObject* stream);

// The lines `recorder` has handed out, as a list (borrowed).
PyObject* recorded_lines(PyObject* recorder);

} // namespace launcher
