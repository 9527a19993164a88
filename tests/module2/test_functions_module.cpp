// A test-only extension module built from runtime/.
//
// Its exec step fills runtime::state as the real module's exec step does,
// fetches the two shared types and binds one function object per valid
// calling convention. Module functions let Python tests make more function
// objects, set the fields that this project's own functions never use
// (func_flags, mm_class, the defaults builder), and call the type's call slot
// directly. The module name comes from KESTRUNE_TEST_MODULE, so that the same
// source builds two modules with separate copies of the runtime library.
#include <Python.h>

#include <cstring>

#include "function_type.hpp"
#include "owned.hpp"
#include "runtime_state.hpp"
#include "shared_type.hpp"

#define KESTRUNE_CAT2(a, b) a##b
#define KESTRUNE_CAT(a, b) KESTRUNE_CAT2(a, b)
#define KESTRUNE_STR2(a) #a
#define KESTRUNE_STR(a) KESTRUNE_STR2(a)

namespace {

using runtime::as_native_function;
using runtime::borrow;
using runtime::NativeFunction;
using runtime::Owned;
using runtime::steal;

constexpr const char module_name[] = KESTRUNE_STR(KESTRUNE_TEST_MODULE);

PyObject* metatype = nullptr;  // the shared metatype, for tests

// ---- Entry functions: each reports what it received -------------------------

PyObject* tuple_of(PyObject* const* items, Py_ssize_t n)
{
    PyObject* t = PyTuple_New(n);
    if (!t) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyTuple_SET_ITEM(t, i, Py_NewRef(items[i]));
    }
    return t;
}

// ("noargs", self, whether the second argument was NULL)
PyObject* entry_noargs(PyObject* self, PyObject* arg)
{
    return Py_BuildValue("(sON)", "noargs", self, PyBool_FromLong(arg == nullptr));
}

// ("o", self, arg)
PyObject* entry_o(PyObject* self, PyObject* arg)
{
    return Py_BuildValue("(sOO)", "o", self, arg);
}

// ("varargs_keywords", self, args, kwargs or None)
PyObject* entry_varargs_keywords(PyObject* self, PyObject* args, PyObject* kwargs)
{
    return Py_BuildValue("(sOOO)", "varargs_keywords", self, args, kwargs ? kwargs : Py_None);
}

// ("fastcall_keywords", self, positional, kwnames or None, keyword values, nargs)
PyObject* entry_fastcall_keywords(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames)
{
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    return Py_BuildValue("(sONONn)", "fastcall_keywords", self, tuple_of(args, nargs),
                         kwnames ? kwnames : Py_None, tuple_of(args + nargs, nkw), nargs);
}

// ("method_fastcall_keywords", self, cls or None, positional, kwnames or None,
//  keyword values, nargsf as received)
PyObject* entry_method_fastcall_keywords(PyObject* self, PyTypeObject* cls, PyObject* const* args,
                                         std::size_t nargsf, PyObject* kwnames)
{
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    PyObject* c = cls ? reinterpret_cast<PyObject*>(cls) : Py_None;
    return Py_BuildValue("(sOONONK)", "method_fastcall_keywords", self, c, tuple_of(args, nargs),
                         kwnames ? kwnames : Py_None, tuple_of(args + nargs, nkw),
                         static_cast<unsigned long long>(nargsf));
}

#define ENTRY(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f))

constexpr const char long_name[] =
    "a_name_of_two_hundred_and_fifty_bytes_"
    "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";
static_assert(sizeof(long_name) - 1 == 250);

// Definitions by kind. The first group has valid flags; the second has flags
// that native_function_new refuses.
PyMethodDef definitions[] = {
    {"noargs", ENTRY(entry_noargs), METH_NOARGS,
     "noargs()\n\nTakes nothing \xE2\x80\x94 and says so."},
    {"o", ENTRY(entry_o), METH_O, nullptr},
    {"varargs_keywords", ENTRY(entry_varargs_keywords), METH_VARARGS | METH_KEYWORDS,
     "varargs_keywords(*args, **kwargs)"},
    {"fastcall_keywords", ENTRY(entry_fastcall_keywords), METH_FASTCALL | METH_KEYWORDS,
     "fastcall_keywords(*args, **kwargs)"},
    {"method_fastcall_keywords", ENTRY(entry_method_fastcall_keywords),
     METH_METHOD | METH_FASTCALL | METH_KEYWORDS, "method_fastcall_keywords(*args, **kwargs)"},
    // Bits outside the mask do not take part in the choice.
    {"noargs_class", ENTRY(entry_noargs), METH_NOARGS | METH_CLASS, nullptr},
    {"o_coexist", ENTRY(entry_o), METH_O | METH_COEXIST, nullptr},
    {"fastcall_keywords_static", ENTRY(entry_fastcall_keywords),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC, nullptr},
    {long_name, ENTRY(entry_noargs), METH_NOARGS, nullptr},
    // Refused combinations.
    {"varargs", ENTRY(entry_o), METH_VARARGS, nullptr},
    {"fastcall", ENTRY(entry_o), METH_FASTCALL, nullptr},
    {"keywords", ENTRY(entry_o), METH_KEYWORDS, nullptr},
    {"no_flags", ENTRY(entry_o), 0, nullptr},
    {"noargs_o", ENTRY(entry_o), METH_NOARGS | METH_O, nullptr},
    {"noargs_keywords", ENTRY(entry_o), METH_NOARGS | METH_KEYWORDS, nullptr},
    {"method_noargs", ENTRY(entry_o), METH_METHOD | METH_NOARGS, nullptr},
    {"method_fastcall", ENTRY(entry_o), METH_METHOD | METH_FASTCALL, nullptr},
    {"method_varargs_keywords", ENTRY(entry_o), METH_METHOD | METH_VARARGS | METH_KEYWORDS,
     nullptr},
};

PyMethodDef* definition_of(const char* kind)
{
    if (std::strcmp(kind, "long_name") == 0) {
        kind = long_name;
    }
    for (PyMethodDef& def : definitions) {
        if (std::strcmp(def.ml_name, kind) == 0) {
            return &def;
        }
    }
    PyErr_Format(PyExc_ValueError, "no test definition %s", kind);
    return nullptr;
}

NativeFunction* native_arg(PyObject* f)
{
    if (!PyObject_TypeCheck(f, runtime::state.function_type)) {
        PyErr_SetString(PyExc_TypeError, "not a native function object");
        return nullptr;
    }
    return as_native_function(f);
}

// ---- Module functions -------------------------------------------------------

// make(kind, qualname=None, module=<this module's name>, globals=None,
//      code=None, null_module=False)
PyObject* make(PyObject* self, PyObject* args, PyObject* kwargs)
{
    static const char* keywords[] = {"kind", "qualname", "module", "globals", "code",
                                     "null_module", nullptr};
    const char* kind = nullptr;
    PyObject* qualname = Py_None;
    PyObject* module = nullptr;
    PyObject* globals = Py_None;
    PyObject* code = Py_None;
    int null_module = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s|OOOOp", const_cast<char**>(keywords), &kind,
                                     &qualname, &module, &globals, &code, &null_module)) {
        return nullptr;
    }
    PyMethodDef* def = definition_of(kind);
    if (!def) {
        return nullptr;
    }
    Owned<> qn = qualname == Py_None ? steal(PyUnicode_FromString(def->ml_name)) : borrow(qualname);
    if (!qn) {
        return nullptr;
    }
    Owned<> mod = module ? borrow(module) : steal(PyObject_GetAttrString(self, "__name__"));
    if (!mod) {
        return nullptr;
    }
    PyObject* g = globals == Py_None ? PyModule_GetDict(self) : globals;
    return runtime::native_function_new(def, qn.get(), null_module ? nullptr : mod.get(), g,
                                        code == Py_None ? nullptr : code)
        .release();
}

PyObject* set_flags(PyObject*, PyObject* args)
{
    PyObject* f = nullptr;
    int flags = 0;
    if (!PyArg_ParseTuple(args, "Oi", &f, &flags)) {
        return nullptr;
    }
    NativeFunction* op = native_arg(f);
    if (!op) {
        return nullptr;
    }
    op->func_flags = flags;
    Py_RETURN_NONE;
}

PyObject* get_flags(PyObject*, PyObject* f)
{
    NativeFunction* op = native_arg(f);
    return op ? PyLong_FromLong(op->func_flags) : nullptr;
}

// set_mm_class(f, cls or None)
PyObject* set_mm_class(PyObject*, PyObject* args)
{
    PyObject* f = nullptr;
    PyObject* cls = nullptr;
    if (!PyArg_ParseTuple(args, "OO", &f, &cls)) {
        return nullptr;
    }
    NativeFunction* op = native_arg(f);
    if (!op) {
        return nullptr;
    }
    if (cls != Py_None && !PyType_Check(cls)) {
        PyErr_SetString(PyExc_TypeError, "mm_class must be a type or None");
        return nullptr;
    }
    Py_XSETREF(op->base.mm_class,
               reinterpret_cast<PyTypeObject*>(cls == Py_None ? nullptr : Py_NewRef(cls)));
    Py_RETURN_NONE;
}

// call_slot(f, args, kwargs=None): the type's tp_call, with NULL for None.
PyObject* call_slot(PyObject*, PyObject* args)
{
    PyObject* f = nullptr;
    PyObject* call_args = nullptr;
    PyObject* call_kwargs = Py_None;
    if (!PyArg_ParseTuple(args, "OO!|O", &f, &PyTuple_Type, &call_args, &call_kwargs)) {
        return nullptr;
    }
    if (call_kwargs != Py_None && !PyDict_Check(call_kwargs)) {
        PyErr_SetString(PyExc_TypeError, "kwargs must be a dict or None");
        return nullptr;
    }
    return Py_TYPE(f)->tp_call(f, call_args, call_kwargs == Py_None ? nullptr : call_kwargs);
}

// The names of the lazily filled fields that hold a value.
PyObject* filled_fields(PyObject*, PyObject* f)
{
    NativeFunction* op = native_arg(f);
    if (!op) {
        return nullptr;
    }
    struct Field {
        const char* name;
        PyObject* value;
    };
    const Field fields[] = {
        {"func_name", op->func_name},
        {"func_doc", op->func_doc},
        {"positional_defaults", op->positional_defaults},
        {"keyword_defaults", op->keyword_defaults},
        {"func_annotations", op->func_annotations},
        {"coroutine_marker", op->coroutine_marker},
    };
    auto result = steal(PyList_New(0));
    if (!result) {
        return nullptr;
    }
    for (const Field& field : fields) {
        if (field.value) {
            auto name = steal(PyUnicode_FromString(field.name));
            if (!name || PyList_Append(result.get(), name.get()) < 0) {
                return nullptr;
            }
        }
    }
    return result.release();
}

// The test builder: calls the holder with no arguments and returns its result,
// which the tests make a pair (or an exception).
PyObject* call_holder(PyObject* function)
{
    return PyObject_CallNoArgs(as_native_function(function)->defaults_holder);
}

// set_defaults_holder(f, holder or None): installs `holder` as defaults_holder
// and call_holder as defaults_builder, or removes both.
PyObject* set_defaults_holder(PyObject*, PyObject* args)
{
    PyObject* f = nullptr;
    PyObject* holder = nullptr;
    if (!PyArg_ParseTuple(args, "OO", &f, &holder)) {
        return nullptr;
    }
    NativeFunction* op = native_arg(f);
    if (!op) {
        return nullptr;
    }
    if (holder == Py_None) {
        Py_CLEAR(op->defaults_holder);
        op->defaults_builder = nullptr;
    } else {
        Py_XSETREF(op->defaults_holder, Py_NewRef(holder));
        op->defaults_builder = call_holder;
    }
    Py_RETURN_NONE;
}

PyObject* vectorcall_offset(PyObject*, PyObject*)
{
    return PyLong_FromSsize_t(static_cast<Py_ssize_t>(offsetof(NativeFunction, base.func.vectorcall)));
}

PyObject* weaklist_offset(PyObject*, PyObject*)
{
    return PyLong_FromSsize_t(
        static_cast<Py_ssize_t>(offsetof(NativeFunction, base.func.m_weakreflist)));
}

PyObject* record_size(PyObject*, PyObject*)
{
    return PyLong_FromSsize_t(static_cast<Py_ssize_t>(sizeof(NativeFunction)));
}

PyMethodDef module_methods[] = {
    {"make", ENTRY(make), METH_VARARGS | METH_KEYWORDS,
     "make(kind, qualname=None, module=None, globals=None, code=None, null_module=False)"},
    {"set_flags", set_flags, METH_VARARGS, "set_flags(f, flags): sets func_flags"},
    {"get_flags", get_flags, METH_O, "get_flags(f): reads func_flags"},
    {"set_mm_class", set_mm_class, METH_VARARGS, "set_mm_class(f, cls or None)"},
    {"call_slot", call_slot, METH_VARARGS, "call_slot(f, args, kwargs=None): the type's tp_call"},
    {"filled_fields", filled_fields, METH_O, "filled_fields(f): lazily filled fields that are set"},
    {"set_defaults_holder", set_defaults_holder, METH_VARARGS,
     "set_defaults_holder(f, holder or None): installs a defaults builder calling holder()"},
    {"vectorcall_offset", vectorcall_offset, METH_NOARGS, nullptr},
    {"weaklist_offset", weaklist_offset, METH_NOARGS, nullptr},
    {"record_size", record_size, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// ---- Exec step ----------------------------------------------------------------

template <class T>
int keep(T*& field, PyObject* value)
{
    if (!value) {
        return -1;
    }
    Py_XSETREF(field, reinterpret_cast<T*>(value));
    return 0;
}

int module_exec(PyObject* module)
{
    auto& rt = runtime::state;
    PyObject* dict = PyModule_GetDict(module);
    if (!dict || keep(rt.module_dict, Py_NewRef(dict)) < 0) {
        return -1;
    }
    PyObject* builtins = PyImport_AddModule("builtins");
    if (!builtins || keep(rt.builtins_module, Py_NewRef(builtins)) < 0) {
        return -1;
    }
    if (keep(rt.empty_tuple, PyTuple_New(0)) < 0 ||
        keep(rt.is_coroutine_name, PyUnicode_InternFromString("_is_coroutine")) < 0 ||
        keep(rt.asyncio_coroutines_name, PyUnicode_InternFromString("asyncio.coroutines")) < 0) {
        return -1;
    }

    // The two shared types, in the order of the real exec step.
    auto bases = steal(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyType_Type)));
    if (!bases) {
        return -1;
    }
    PyObject* meta =
        runtime::fetch_shared_type(nullptr, &runtime::common_metatype_spec, bases.get()).release();
    if (keep(metatype, meta) < 0) {
        return -1;
    }
    PyObject* type = runtime::fetch_shared_type(reinterpret_cast<PyTypeObject*>(metatype),
                                                &runtime::function_type_spec, nullptr)
                         .release();
    if (keep(rt.function_type, type) < 0) {
        return -1;
    }
    if (PyModule_AddObjectRef(module, "metatype", metatype) < 0 ||
        PyModule_AddObjectRef(module, "function_type",
                              reinterpret_cast<PyObject*>(rt.function_type)) < 0) {
        return -1;
    }

    // One function object per valid calling convention, bound under its name.
    auto module_qualname = steal(PyUnicode_FromString(module_name));
    if (!module_qualname) {
        return -1;
    }
    for (const char* kind :
         {"noargs", "o", "varargs_keywords", "fastcall_keywords", "method_fastcall_keywords"}) {
        PyMethodDef* def = definition_of(kind);
        auto qualname = steal(PyUnicode_InternFromString(kind));
        if (!def || !qualname) {
            return -1;
        }
        auto f = runtime::native_function_new(def, qualname.get(), module_qualname.get(),
                                              dict, nullptr);
        if (!f || PyDict_SetItem(dict, qualname.get(), f.get()) < 0) {
            return -1;
        }
    }
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    module_name,
    "Test-only module: function objects of the shared type made by runtime/.",
    0,
    module_methods,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

} // namespace

PyMODINIT_FUNC KESTRUNE_CAT(PyInit_, KESTRUNE_TEST_MODULE)()
{
    return PyModuleDef_Init(&module_def);
}
