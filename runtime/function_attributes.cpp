// Attributes of function objects: the attribute table with its
// getters and setters, __reduce__, the representation, and the metatype's
// __module__. Values that callers rarely need are made on first read and kept.
#include "function_attributes.hpp"

#include "function_type.hpp"
#include "owned.hpp"
#include "runtime_state.hpp"

namespace runtime {

namespace {

// ---- Name and qualified name ------------------------------------------------

PyObject* get_name(PyObject* func, void*)
{
    NativeFunction* op = as_native_function(func);
    if (!op->func_name) {
        op->func_name = PyUnicode_InternFromString(op->base.func.m_ml->ml_name);
        if (!op->func_name) {
            return nullptr;
        }
    }
    return Py_NewRef(op->func_name);
}

int set_name(PyObject* func, PyObject* value, void*)
{
    if (!value || !PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__name__ must be set to a string object");
        return -1;
    }
    set_field(as_native_function(func)->func_name, borrow(value));
    return 0;
}

PyObject* get_qualname(PyObject* func, void*)
{
    return Py_NewRef(as_native_function(func)->func_qualname);
}

int set_qualname(PyObject* func, PyObject* value, void*)
{
    if (!value || !PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__qualname__ must be set to a string object");
        return -1;
    }
    set_field(as_native_function(func)->func_qualname, borrow(value));
    return 0;
}

// ---- Documentation ----------------------------------------------------------

PyObject* get_doc(PyObject* func, void*)
{
    NativeFunction* op = as_native_function(func);
    if (!op->func_doc) {
        const char* doc = op->base.func.m_ml->ml_doc;
        if (!doc) {
            Py_RETURN_NONE;
        }
        op->func_doc = PyUnicode_FromString(doc);
        if (!op->func_doc) {
            return nullptr;
        }
    }
    return Py_NewRef(op->func_doc);
}

int set_doc(PyObject* func, PyObject* value, void*)
{
    // Deletion stores None: the definition's text does not come back.
    set_field(as_native_function(func)->func_doc, borrow(value ? value : Py_None));
    return 0;
}

// ---- Globals, closure and code ----------------------------------------------

PyObject* get_globals(PyObject* func, void*)
{
    // None once the collector has cleared the function, as for a member.
    PyObject* globals = as_native_function(func)->func_globals;
    return Py_NewRef(globals ? globals : Py_None);
}

PyObject* get_closure(PyObject*, void*)
{
    Py_RETURN_NONE;
}

PyObject* get_code(PyObject* func, void*)
{
    PyObject* code = as_native_function(func)->func_code;
    return Py_NewRef(code ? code : Py_None);
}

// ---- Defaults ---------------------------------------------------------------

PyObject* get_defaults(PyObject* func, void*)
{
    NativeFunction* op = as_native_function(func);
    if (!op->positional_defaults) {
        if (!op->defaults_builder) {
            Py_RETURN_NONE;
        }
        if (init_defaults(func) < 0) {
            return nullptr;
        }
    }
    return Py_NewRef(op->positional_defaults);
}

PyObject* get_kwdefaults(PyObject* func, void*)
{
    NativeFunction* op = as_native_function(func);
    if (!op->keyword_defaults) {
        if (!op->defaults_builder) {
            Py_RETURN_NONE;
        }
        if (init_defaults(func) < 0) {
            return nullptr;
        }
    }
    return Py_NewRef(op->keyword_defaults);
}

// The common part of the two defaults setters. `accepted_flag` is the type
// flag of the accepted kind (a tuple or a dict, subclasses included).
int set_defaults_field(PyObject*& field, PyObject* value, unsigned long accepted_flag,
                       const char* type_error, const char* warning)
{
    if (!value) {
        value = Py_None;
    } else if (value != Py_None && !PyType_HasFeature(Py_TYPE(value), accepted_flag)) {
        PyErr_SetString(PyExc_TypeError, type_error);
        return -1;
    }
    // Stack level 1: reported against the code that made the assignment.
    if (PyErr_WarnEx(PyExc_RuntimeWarning, warning, 1) < 0) {
        return -1;
    }
    set_field(field, borrow(value));
    return 0;
}

int set_defaults(PyObject* func, PyObject* value, void*)
{
    return set_defaults_field(as_native_function(func)->positional_defaults, value,
                              Py_TPFLAGS_TUPLE_SUBCLASS,
                              "__defaults__ must be set to a tuple object",
                              "changes to native_function.__defaults__ will not currently affect "
                              "the values used in function calls");
}

int set_kwdefaults(PyObject* func, PyObject* value, void*)
{
    return set_defaults_field(as_native_function(func)->keyword_defaults, value,
                              Py_TPFLAGS_DICT_SUBCLASS,
                              "__kwdefaults__ must be set to a dict object",
                              "changes to native_function.__kwdefaults__ will not currently affect "
                              "the values used in function calls");
}

// ---- Annotations ------------------------------------------------------------

PyObject* get_annotations(PyObject* func, void*)
{
    NativeFunction* op = as_native_function(func);
    if (!op->func_annotations) {
        op->func_annotations = PyDict_New();
        if (!op->func_annotations) {
            return nullptr;
        }
    }
    return Py_NewRef(op->func_annotations);
}

int set_annotations(PyObject* func, PyObject* value, void*)
{
    if (value == Py_None) {
        value = nullptr;  // the next read makes a fresh empty dict
    } else if (value && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    set_field(as_native_function(func)->func_annotations, borrow(value));
    return 0;
}

// ---- Coroutine marker -------------------------------------------------------

// The marker object of asyncio.coroutines, or True when it cannot be had.
Owned<> import_coroutine_marker()
{
    auto fromlist = steal(PyList_New(1));
    if (!fromlist) {
        return {};
    }
    PyList_SET_ITEM(fromlist.get(), 0, Py_NewRef(state.is_coroutine_name));
    auto module = steal(PyImport_ImportModuleLevelObject(state.asyncio_coroutines_name, nullptr,
                                                         nullptr, fromlist.get(), 0));
    fromlist.reset();
    Owned<> marker;
    if (module) {
        PyTypeObject* type = Py_TYPE(module.get());
        marker = steal(type->tp_getattro
                           ? type->tp_getattro(module.get(), state.is_coroutine_name)
                           : PyObject_GetAttr(module.get(), state.is_coroutine_name));
        module.reset();
    }
    if (!marker) {
        PyErr_Clear();
        return borrow(Py_True);
    }
    return marker;
}

PyObject* get_is_coroutine(PyObject* func, void*)
{
    NativeFunction* op = as_native_function(func);
    if (op->coroutine_marker) {
        return Py_NewRef(op->coroutine_marker);
    }
    Owned<> taken;
    if (op->func_flags & FUNC_COROUTINE) {
        taken = import_coroutine_marker();
        if (!taken) {
            return nullptr;
        }
    } else {
        taken = borrow(Py_False);  // no import
    }
    // Code run by the import may have read this attribute already: the
    // marker stored first wins.
    if (!op->coroutine_marker) {
        op->coroutine_marker = taken.release();
    }
    return Py_NewRef(op->coroutine_marker);
}

// ---- Reduction, representation, metatype -------------------------------------

PyObject* native_function_reduce(PyObject* func, PyObject* /*args*/)
{
    // A str makes pickle record the function by reference: the global of this
    // name in the module named by __module__.
    return Py_NewRef(as_native_function(func)->func_qualname);
}

PyObject* metatype_get_module(PyObject* /*type*/, void*)
{
    return PyUnicode_FromString("_native_abi_1");
}

} // namespace

int init_defaults(PyObject* func)
{
    NativeFunction* op = as_native_function(func);
    auto pair = steal(op->defaults_builder(func));
    if (!pair) {
        return -1;
    }
    if (!PyTuple_CheckExact(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2) {
        PyErr_Format(PyExc_TypeError,
                     "defaults of %.200s must be a pair (positional, keyword), not %.200s",
                     op->base.func.m_ml->ml_name, Py_TYPE(pair.get())->tp_name);
        return -1;
    }
    // Both fields are replaced, even when only one of them was empty.
    set_field(op->positional_defaults, borrow(PyTuple_GET_ITEM(pair.get(), 0)));
    set_field(op->keyword_defaults, borrow(PyTuple_GET_ITEM(pair.get(), 1)));
    return 0;
}

PyObject* native_function_repr(PyObject* func)
{
    return PyUnicode_FromFormat("<native function %U at %p>", as_native_function(func)->func_qualname,
                                func);
}

PyGetSetDef native_function_getset[] = {
    {"func_doc", get_doc, set_doc, nullptr, nullptr},
    {"__doc__", get_doc, set_doc, nullptr, nullptr},
    {"func_name", get_name, set_name, nullptr, nullptr},
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"func_dict", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {"func_globals", get_globals, nullptr, nullptr, nullptr},
    {"__globals__", get_globals, nullptr, nullptr, nullptr},
    {"func_closure", get_closure, nullptr, nullptr, nullptr},
    {"__closure__", get_closure, nullptr, nullptr, nullptr},
    {"func_code", get_code, nullptr, nullptr, nullptr},
    {"__code__", get_code, nullptr, nullptr, nullptr},
    {"func_defaults", get_defaults, set_defaults, nullptr, nullptr},
    {"__defaults__", get_defaults, set_defaults, nullptr, nullptr},
    {"__kwdefaults__", get_kwdefaults, set_kwdefaults, nullptr, nullptr},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
    {"_is_coroutine", get_is_coroutine, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef native_function_methods[] = {
    {"__reduce__", native_function_reduce, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef common_metatype_getset[] = {
    {"__module__", metatype_get_module, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

} // namespace runtime
