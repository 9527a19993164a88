// Watching a `get` run from outside the module: which request lines it read
// and whether it answered. The module is not told: it reads sys.stdin and
// prints to sys.stdout as always, through a LineRecorder and a WriteWatch
// that hand everything on unchanged.
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace launcher {

class RequestWatch {
public:
    // Puts a recorder in front of sys.stdin and a write watch in front of
    // sys.stdout, where these are streams. Whatever fails leaves that stream
    // as it was (and unwatched) with no exception set.
    RequestWatch();
    // Puts the streams back.
    ~RequestWatch();
    RequestWatch(const RequestWatch&) = delete;
    RequestWatch& operator=(const RequestWatch&) = delete;

    // Whether the module wrote to sys.stdout, or may have (write_watch.hpp);
    // true when it was not watched, so that nothing is said about a run that
    // cannot be seen.
    bool answered() const;
    // The lines the module read from sys.stdin, as a list (borrowed); NULL
    // when it was not watched or the record was given up (line_recorder.hpp).
    PyObject* lines() const;

private:
    runtime::Owned<> stdin_;
    runtime::Owned<> stdout_;
    runtime::Owned<> recorder_;
    runtime::Owned<> write_watch_;
};

} // namespace launcher
