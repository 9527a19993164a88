// LineRecorder: a stand-in for sys.stdin that hands every call and attribute
// to the stream it wraps and keeps the lines it hands out through iteration
// and readline(), so that the follow-up can read the request the module read.
//
// The record is given up (and its memory released) once it would pass
// request_max_length characters, and as soon as the module reaches the stream
// some other way (any other attribute: read, buffer, fileno, ...), since what
// it reads there is not seen. A given-up record makes the follow-up say
// nothing; the module's reading is the same either way.
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace launcher {

// A new recorder in front of `stream`; empty with an exception set on failure.
runtime::Owned<> make_line_recorder(PyObject* stream);

// The lines `recorder` has handed out, as a list (borrowed); NULL with no
// exception set when the record was given up.
PyObject* recorded_lines(PyObject* recorder);

} // namespace launcher
