// The watch passes the stream's own errors through untouched, so the module
// fails where and as it would have.
#include "followup/write_watch.hpp"

namespace launcher {

using runtime::Owned;
using runtime::steal;

namespace {

struct WriteWatch {
    PyObject_HEAD
    PyObject* stream;  // the wrapped sys.stdout, owned
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

} // namespace

Owned<> make_write_watch(PyObject* stream)
{
    auto type = steal(PyType_FromSpec(&write_watch_spec));
    if (!type) {
        return {};
    }
    auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
    auto watch = steal(type_object->tp_alloc(type_object, 0));
    if (watch) {
        reinterpret_cast<WriteWatch*>(watch.get())->stream = runtime::new_ref(stream);
    }
    return watch;
}

bool write_called(PyObject* watch)
{
    return reinterpret_cast<WriteWatch*>(watch)->written;
}

} // namespace launcher
