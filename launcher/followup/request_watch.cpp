// Two small stream wrappers. LineRecorder is iterated like the stream it
// wraps and keeps every line handed out; WriteWatch forwards every attribute
// to its stream and notes that `write` was called. Both pass the stream's own
// errors through untouched, so the module fails where and as it would have.
#include "request_watch.hpp"

namespace launcher {

using runtime::Owned;
using runtime::steal;

namespace {

struct LineRecorder {
    PyObject_HEAD
    PyObject* stream;    // the wrapped sys.stdin
    PyObject* iterator;  // iter(stream), once the module asked for it
    PyObject* lines;     // list of the lines handed out
};

void line_recorder_dealloc(PyObject* self)
{
    auto* recorder = reinterpret_cast<LineRecorder*>(self);
    Py_XDECREF(recorder->stream);
    Py_XDECREF(recorder->iterator);
    Py_XDECREF(recorder->lines);
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// iter(recorder): iter(stream), which fails as the stream's would; the
// recorder itself is the iterator.
PyObject* line_recorder_iter(PyObject* self)
{
    auto* recorder = reinterpret_cast<LineRecorder*>(self);
    PyObject* iterator = PyObject_GetIter(recorder->stream);
    if (!iterator) {
        return nullptr;
    }
    Py_XSETREF(recorder->iterator, iterator);
    return runtime::new_ref(self);
}

PyObject* line_recorder_iternext(PyObject* self)
{
    auto* recorder = reinterpret_cast<LineRecorder*>(self);
    if (!recorder->iterator) {
        PyErr_SetString(PyExc_TypeError, "the line recorder was not started with iter()");
        return nullptr;
    }
    PyObject* line = Py_TYPE(recorder->iterator)->tp_iternext(recorder->iterator);
    if (line && PyList_Append(recorder->lines, line) < 0) {
        // Only memory can run out here; the module gets its line regardless.
        PyErr_Clear();
    }
    return line;
}

PyType_Slot line_recorder_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(line_recorder_dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(line_recorder_iter)},
    {Py_tp_iternext, reinterpret_cast<void*>(line_recorder_iternext)},
    {0, nullptr},
};

PyType_Spec line_recorder_spec = {
    "git_credential_kestrune_launcher.LineRecorder", sizeof(LineRecorder), 0,
    Py_TPFLAGS_DEFAULT, line_recorder_slots,
};

struct WriteWatch {
    PyObject_HEAD
    PyObject* stream;  // the wrapped sys.stdout
    bool written;
};

void write_watch_dealloc(PyObject* self)
{
    Py_XDECREF(reinterpret_cast<WriteWatch*>(self)->stream);
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* write_watch_write(PyObject* self, PyObject* text)
{
    auto* watch = reinterpret_cast<WriteWatch*>(self);
    watch->written = true;
    return PyObject_CallMethod(watch->stream, "write", "O", text);
}

// Every attribute but `write` is the stream's own.
PyObject* write_watch_getattro(PyObject* self, PyObject* name)
{
    if (PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, "write") == 0) {
        return PyObject_GenericGetAttr(self, name);
    }
    return PyObject_GetAttr(reinterpret_cast<WriteWatch*>(self)->stream, name);
}

PyMethodDef write_watch_methods[] = {
    {"write", write_watch_write, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot write_watch_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(write_watch_dealloc)},
    {Py_tp_getattro, reinterpret_cast<void*>(write_watch_getattro)},
    {Py_tp_methods, write_watch_methods},
    {0, nullptr},
};

PyType_Spec write_watch_spec = {
    "git_credential_kestrune_launcher.WriteWatch", sizeof(WriteWatch), 0,
    Py_TPFLAGS_DEFAULT, write_watch_slots,
};

// An instance of the type made from `spec`, its fields zeroed.
Owned<> new_wrapper(PyType_Spec& spec)
{
    auto type = steal(PyType_FromSpec(&spec));
    if (!type) {
        return {};
    }
    return steal(reinterpret_cast<PyTypeObject*>(type.get())->tp_alloc(
        reinterpret_cast<PyTypeObject*>(type.get()), 0));
}

Owned<> make_recorder(PyObject* stream)
{
    auto lines = steal(PyList_New(0));
    auto recorder = lines ? new_wrapper(line_recorder_spec) : Owned<>();
    if (!recorder) {
        return {};
    }
    auto* fields = reinterpret_cast<LineRecorder*>(recorder.get());
    fields->stream = runtime::new_ref(stream);
    fields->lines = lines.release();
    return recorder;
}

Owned<> make_write_watch(PyObject* stream)
{
    auto watch = new_wrapper(write_watch_spec);
    if (watch) {
        reinterpret_cast<WriteWatch*>(watch.get())->stream = runtime::new_ref(stream);
    }
    return watch;
}

// The stream sys.<name> if it is one (not missing, not None), else NULL.
PyObject* standard_stream(const char* name)
{
    PyObject* stream = PySys_GetObject(name);
    return stream == Py_None ? nullptr : stream;
}

// Puts `wrapper` in sys.<name> in front of `stream`; the stream kept in
// `saved` once that worked.
void install(const char* name, PyObject* stream, Owned<>& wrapper, Owned<>& saved)
{
    if (wrapper && PySys_SetObject(name, wrapper.get()) == 0) {
        saved = runtime::borrow(stream);
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
    if (PyObject* stream = standard_stream("stdin")) {
        recorder_ = make_recorder(stream);
        install("stdin", stream, recorder_, stdin_);
    }
    if (PyObject* stream = standard_stream("stdout")) {
        write_watch_ = make_write_watch(stream);
        install("stdout", stream, write_watch_, stdout_);
    }
    PyErr_Clear();
}

RequestWatch::~RequestWatch()
{
    restore("stdin", stdin_);
    restore("stdout", stdout_);
}

bool RequestWatch::answered() const
{
    return !write_watch_ || reinterpret_cast<WriteWatch*>(write_watch_.get())->written;
}

PyObject* RequestWatch::lines() const
{
    return recorder_ ? reinterpret_cast<LineRecorder*>(recorder_.get())->lines : nullptr;
}

} // namespace launcher
