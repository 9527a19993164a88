// The watch hands every call and attribute to the stream as it came, so the
// module succeeds or fails where and as it would have unwatched.
#include "followup/write_watch.hpp"

namespace launcher {

using runtime::Owned;
using runtime::steal;

namespace {

struct WriteWatch {
    PyObject_HEAD
    PyObject* stream;  // the wrapped sys.stdout, owned
    bool used;         // whether `write` or any other attribute was used
};

void write_watch_dealloc(PyObject* self)
{
    Py_XDECREF(reinterpret_cast<WriteWatch*>(self)->stream);
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// write(*args, **kwargs): the stream's own write with the same arguments.
PyObject* write_watch_write(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    auto* watch = reinterpret_cast<WriteWatch*>(self);
    auto write = steal(PyObject_GetAttrString(watch->stream, "write"));
    if (!write) {
        return nullptr;
    }
    watch->used = true;
    return PyObject_Vectorcall(write.get(), args, static_cast<size_t>(nargs), kwnames);
}

// Every attribute but `write` is the stream's own; writing through it
// (writelines, buffer, fileno, ...) is not seen, so any use counts.
PyObject* write_watch_getattro(PyObject* self, PyObject* name)
{
    if (PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, "write") == 0) {
        return PyObject_GenericGetAttr(self, name);
    }
    auto* watch = reinterpret_cast<WriteWatch*>(self);
    watch->used = true;
    return PyObject_GetAttr(watch->stream, name);
}

// Setting or deleting an attribute sets or deletes the stream's.
int write_watch_setattro(PyObject* self, PyObject* name, PyObject* value)
{
    return PyObject_SetAttr(reinterpret_cast<WriteWatch*>(self)->stream, name, value);
}

PyObject* write_watch_repr(PyObject* self)
{
    return PyObject_Repr(reinterpret_cast<WriteWatch*>(self)->stream);
}

PyMethodDef write_watch_methods[] = {
    {"write", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_watch_write)),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot write_watch_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(write_watch_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(write_watch_repr)},
    {Py_tp_getattro, reinterpret_cast<void*>(write_watch_getattro)},
    {Py_tp_setattro, reinterpret_cast<void*>(write_watch_setattro)},
    {Py_tp_methods, write_watch_methods},
    {0, nullptr},
};

// Made by make_write_watch only: one made by calling its type would wrap no
// stream.
PyType_Spec write_watch_spec = {
    "git_credential_kestrune_launcher.WriteWatch", sizeof(WriteWatch), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, write_watch_slots,
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

bool may_have_written(PyObject* watch)
{
    return reinterpret_cast<WriteWatch*>(watch)->used;
}

} // namespace launcher
