// The shared function type `native_function_or_method` and its metatype.
//
// Function objects of this type carry the attributes of a Python function and
// are called through vectorcall. The two types live in the interpreter-wide
// module "_native_abi_1", so every extension module that links this library
// shares one type object; all of them must agree on the record below.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

namespace runtime {

// Kind bits of NativeFunction::func_flags.
inline constexpr int FUNC_STATIC = 1;     // cancels FUNC_METHOD
inline constexpr int FUNC_METHOD = 4;     // self is the first positional argument
inline constexpr int FUNC_COROUTINE = 8;  // _is_coroutine reports a coroutine

// Returns a new pair (positional defaults, keyword defaults), or NULL with an
// exception set.
using DefaultsBuilder = PyObject* (*)(PyObject* function);

// One function object. It begins with the interpreter's PyCMethodObject, so
// code that knows built-in functions finds m_ml and m_self where it expects
// them; the fields of our own follow.
struct NativeFunction {
    PyCMethodObject base;  // ob_base, m_ml, m_self (not counted), m_module,
                           // m_weakreflist, vectorcall; then mm_class
    PyObject* func_name;            // behind __name__; made on first read
    PyObject* func_qualname;        // behind __qualname__; never NULL
    PyObject* func_doc;             // behind __doc__; made on first read
    PyObject* func_globals;         // the module's global dictionary
    PyObject* func_code;            // behind __code__, or NULL
    PyObject* func_closure;         // NULL for this module's functions
    PyObject* defaults_holder;      // read by defaults_builder
    std::int32_t func_flags;        // FUNC_* bits
    PyObject* positional_defaults;  // behind __defaults__; computed on first read
    PyObject* keyword_defaults;     // behind __kwdefaults__; computed on first read
    DefaultsBuilder defaults_builder;
    PyObject* func_annotations;     // behind __annotations__; made on first read
    PyObject* coroutine_marker;     // cached _is_coroutine value
};

inline NativeFunction* as_native_function(PyObject* op) noexcept
{
    return reinterpret_cast<NativeFunction*>(op);
}

// The type specs of the two shared types, in the order the exec step
// fetches them.
extern PyType_Spec common_metatype_spec;
extern PyType_Spec function_type_spec;

// Returns a new reference to the shared type described by `spec`: the one
// registered in "_native_abi_1" under the spec's short name, or a new one made
// from the spec (with `metatype` and `bases`, either may be NULL) and registered
// there. NULL with an exception set on failure.
PyObject* fetch_shared_type(PyTypeObject* metatype, PyType_Spec* spec, PyObject* bases);

// 0 when `candidate` may serve as the shared type `short_name` whose records
// are `basic_size` bytes (0: any size); -1 with TypeError set otherwise.
int check_shared_type(PyObject* candidate, const char* short_name, Py_ssize_t basic_size);

// Creates a tracked function object of runtime::state.function_type.
// `qualname` (str) and `globals` (dict) are required; `module` and `code` may
// be NULL. NULL with an exception set on failure.
PyObject* native_function_new(PyMethodDef* ml, PyObject* qualname, PyObject* module,
                              PyObject* globals, PyObject* code);

// The vectorcall entries, chosen per object from its method flags.
PyObject* vectorcall_noargs(PyObject* func, PyObject* const* args, std::size_t nargsf,
                            PyObject* kwnames);
PyObject* vectorcall_o(PyObject* func, PyObject* const* args, std::size_t nargsf,
                       PyObject* kwnames);
PyObject* vectorcall_fastcall_keywords(PyObject* func, PyObject* const* args,
                                       std::size_t nargsf, PyObject* kwnames);
PyObject* vectorcall_fastcall_keywords_method(PyObject* func, PyObject* const* args,
                                              std::size_t nargsf, PyObject* kwnames);

// Calls `entry` with positional `args` and the keyword arguments of the
// non-empty dictionary `kwargs`, converted to vectorcall form.
PyObject* vectorcall_from_dict(PyObject* func, vectorcallfunc entry, PyObject* const* args,
                               Py_ssize_t nargs, PyObject* kwargs);

// Calls the definition's entry as a METH_VARARGS | METH_KEYWORDS function.
PyObject* call_with_tuple(PyObject* func, PyObject* self, PyObject* args, PyObject* kwargs);

// Type slots.
PyObject* native_function_call(PyObject* func, PyObject* args, PyObject* kwargs);
PyObject* native_function_descr_get(PyObject* func, PyObject* obj, PyObject* type);
int native_function_clear(PyObject* func);
int native_function_traverse(PyObject* func, visitproc visit, void* arg);
void native_function_dealloc(PyObject* func);

// Attributes, representation and reduction (function_attributes.cpp).
extern PyGetSetDef native_function_getset[];
extern PyMethodDef native_function_methods[];
extern PyGetSetDef common_metatype_getset[];
PyObject* native_function_repr(PyObject* func);
int init_defaults(PyObject* func);

} // namespace runtime
