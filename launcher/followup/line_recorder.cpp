// The recorder hands the stream's own results and errors through untouched,
// so the module succeeds or fails where and as it would have.
#include "followup/line_recorder.hpp"

#include "followup/request_limit.hpp"

namespace launcher {

using runtime::Owned;
using runtime::steal;

namespace {

struct LineRecorder {
    PyObject_HEAD
    PyObject* stream;    // the wrapped sys.stdin, owned
    PyObject* iterator;  // iter(stream) once the module asked for it, owned
    PyObject* lines;     // list of the lines handed out, owned; NULL once given up
    Py_ssize_t kept;     // the characters in `lines`
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

void give_up(LineRecorder* recorder)
{
    Py_CLEAR(recorder->lines);
}

// Keeps `line`, the result of a successful read, unless that passes the
// limit. A line that is no str cannot be counted and gives up the record.
void record(LineRecorder* recorder, PyObject* line)
{
    if (!recorder->lines) {
        return;
    }
    if (!PyUnicode_Check(line) || PyUnicode_GET_LENGTH(line) > request_max_length - recorder->kept) {
        give_up(recorder);
        return;
    }
    if (PyList_Append(recorder->lines, line) < 0) {
        // Only memory can run out here; the module gets its line regardless.
        PyErr_Clear();
        give_up(recorder);
        return;
    }
    recorder->kept += PyUnicode_GET_LENGTH(line);
}

PyObject* line_recorder_repr(PyObject* self)
{
    return PyObject_Repr(reinterpret_cast<LineRecorder*>(self)->stream);
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

// next(recorder): the next item of iter(stream), or of the stream itself when
// it is its own iterator (as a text stream is) and iter() was not called.
PyObject* line_recorder_iternext(PyObject* self)
{
    auto* recorder = reinterpret_cast<LineRecorder*>(self);
    // Held for the call, which may run code that calls iter() again.
    auto iterator = runtime::borrow(recorder->iterator ? recorder->iterator : recorder->stream);
    if (!PyIter_Check(iterator.get())) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object is not an iterator", Py_TYPE(iterator.get())->tp_name);
        return nullptr;
    }
    PyObject* line = Py_TYPE(iterator.get())->tp_iternext(iterator.get());
    if (line) {
        record(recorder, line);
    }
    return line;
}

// readline(*args, **kwargs): the stream's own readline. Only whole lines are
// kept; a size limit may cut a line in two, which the record cannot show.
PyObject* line_recorder_readline(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    auto* recorder = reinterpret_cast<LineRecorder*>(self);
    auto readline = steal(PyObject_GetAttrString(recorder->stream, "readline"));
    if (!readline) {
        return nullptr;
    }
    if (nargs > 0 || kwnames) {
        give_up(recorder);
    }
    PyObject* line = PyObject_Vectorcall(readline.get(), args, static_cast<size_t>(nargs), kwnames);
    if (line) {
        record(recorder, line);
    }
    return line;
}

// Every attribute but readline is the stream's own; reading through it is
// not seen.
PyObject* line_recorder_getattro(PyObject* self, PyObject* name)
{
    if (PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, "readline") == 0) {
        return PyObject_GenericGetAttr(self, name);
    }
    auto* recorder = reinterpret_cast<LineRecorder*>(self);
    give_up(recorder);
    return PyObject_GetAttr(recorder->stream, name);
}

// Setting or deleting an attribute sets or deletes the stream's.
int line_recorder_setattro(PyObject* self, PyObject* name, PyObject* value)
{
    return PyObject_SetAttr(reinterpret_cast<LineRecorder*>(self)->stream, name, value);
}

PyMethodDef line_recorder_methods[] = {
    {"readline", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(line_recorder_readline)),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot line_recorder_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(line_recorder_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(line_recorder_repr)},
    {Py_tp_getattro, reinterpret_cast<void*>(line_recorder_getattro)},
    {Py_tp_setattro, reinterpret_cast<void*>(line_recorder_setattro)},
    {Py_tp_iter, reinterpret_cast<void*>(line_recorder_iter)},
    {Py_tp_iternext, reinterpret_cast<void*>(line_recorder_iternext)},
    {Py_tp_methods, line_recorder_methods},
    {0, nullptr},
};

// Made by make_line_recorder only: one made by calling its type would wrap no
// stream.
PyType_Spec line_recorder_spec = {
    "git_credential_kestrune_launcher.LineRecorder", sizeof(LineRecorder), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, line_recorder_slots,
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
