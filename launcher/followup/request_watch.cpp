#include "followup/request_watch.hpp"

#include <utility>

#include "followup/line_recorder.hpp"
#include "followup/write_watch.hpp"

namespace launcher {

using runtime::Owned;

namespace {

// The stream sys.<name> if it is one (not missing, not None), else empty.
Owned<> standard_stream(const char* name)
{
    PyObject* stream = PySys_GetObject(name);
    return runtime::borrow(stream == Py_None ? nullptr : stream);
}

// Puts `wrapper` in sys.<name> in front of `stream`; the stream kept in
// `saved` once that worked.
void install(const char* name, Owned<>& stream, Owned<>& wrapper, Owned<>& saved)
{
    if (wrapper && PySys_SetObject(name, wrapper.get()) == 0) {
        saved = std::move(stream);
        return;
    }
    PyErr_Clear();
    wrapper.reset();
}

void restore(const char* name, Owned<>& saved)
{
    if (saved && PySys_SetObject(name, saved.get()) < 0) {
        PyErr_Clear();
    }
}

} // namespace

RequestWatch::RequestWatch()
{
    if (auto stream = standard_stream("stdin")) {
        recorder_ = make_line_recorder(stream.get());
        install("stdin", stream, recorder_, stdin_);
    }
    if (auto stream = standard_stream("stdout")) {
        write_watch_ = make_write_watch(stream.get());
        install("stdout", stream, write_watch_, stdout_);
    }
}

RequestWatch::~RequestWatch()
{
    restore("stdin", stdin_);
    restore("stdout", stdout_);
}

bool RequestWatch::answered() const
{
    return !write_watch_ || may_have_written(write_watch_.get());
}

PyObject* RequestWatch::lines() const
{
    return recorder_ ? recorded_lines(recorder_.get()) : nullptr;
}

} // namespace launcher
