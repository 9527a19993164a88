// WriteWatch: a stand-in for sys.stdout that hands every call and attribute
// to the stream it wraps and notes whether the module may have written, so
// that the follow-up knows whether the module answered: `write` was called,
// or some other attribute was used, through which writing is not seen.
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace launcher {

// A new watch in front of `stream`; empty with an exception set on failure.
runtime::Owned<> make_write_watch(PyObject* stream);

// Whether `write` or any other attribute of `watch` was used.
bool may_have_written(PyObject* watch);

} // namespace launcher
