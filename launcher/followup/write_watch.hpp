// WriteWatch: a stand-in for sys.stdout that forwards every attribute to the
// stream it wraps and notes whether `write` was called, so that the
// follow-up knows whether the module answered.
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace launcher {

// A new watch in front of `stream`; empty with an exception set on failure.
runtime::Owned<> make_write_watch(PyObject* stream);

// Whether `write` was called on `watch`.
bool write_called(PyObject* watch);

} // namespace launcher
