// The recorder passes the stream's own errors through untouched, so the
// module fails where and as it would have.
#include "followup/line_recorder.hpp"

namespace launcher {

using runtime::Owned;
using runtime::steal;

namespace {

struct LineRecorder {
    PyObject_HEAD
    PyObject* stream;    // the wrapped sys.stdin, owned
    PyObject* iterator;  // iter(stream) once the module asked for it, owned
    PyObject* lines;     // list of the lines handed out, owned
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

} // namespace

Owned<> make_line_recorder(PyObject* stream)
{
    auto lines = steal(PyList_New(0));
    auto type = lines ? steal(PyType_FromSpec(&line_recorder_spec)) : Owned<>();
    if (!type) {
        return {};
    }
    auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
    auto recorder = steal(type_object->tp_alloc(type_object, 0));
    if (!recorder) {
        return {};
    }
    auto* fields = reinterpret_cast<LineRecorder*>(recorder.get());
    fields->stream = runtime::new_ref(stream);
    fields->lines = lines.release();
    return recorder;
}

PyObject* recorded_lines(PyObject* recorder)
{
    return reinterpret_cast<LineRecorder*>(recorder)->lines;
}

} // namespace launcher
