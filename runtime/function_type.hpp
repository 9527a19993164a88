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

#include "owned.hpp"

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
// them; the fields of our own follow. Object fields marked `owned` hold a
// strong reference, released by native_function_clear or, for the two names
// that clear leaves as empty strs, by native_function_dealloc.
struct NativeFunction {
    PyCMethodObject base;  // ob_base; m_ml; m_self, the function itself, not counted;
                           // m_module and mm_class, owned; m_weakreflist; vectorcall
    PyObject* func_name;            // behind __name__; made on first read, owned
    PyObject* func_qualname;        // behind __qualname__; never NULL (empty once cleared), owned
    PyObject* func_doc;             // behind __doc__; made on first read, owned
    PyObject* func_globals;         // the module's global dictionary; NULL once cleared, owned
    PyObject* func_code;            // behind __code__, or NULL, owned
    PyObject* func_closure;         // NULL for this module's functions, owned
    PyObject* defaults_holder;      // read by defaults_builder, owned
    std::int32_t func_flags;        // FUNC_* bits
    PyObject* positional_defaults;  // behind __defaults__; computed on first read, owned
    PyObject* keyword_defaults;     // behind __kwdefaults__; computed on first read, owned
    DefaultsBuilder defaults_builder;
    PyObject* func_annotations;     // behind __annotations__; made on first read, owned
    PyObject* coroutine_marker;     // cached _is_coroutine value, owned
};

inline NativeFunction* as_native_function(PyObject* op) noexcept
{
    return reinterpret_cast<NativeFunction*>(op);
}

// The type specs of the two shared types, in the order the exec step
// fetches them.
extern PyType_Spec common_metatype_spec;
extern PyType_Spec function_type_spec;

// Creates a tracked function object of runtime::state.function_type.
// `qualname` (str) and `globals` (dict) are required; `module` and `code` may
// be NULL. An empty handle with an exception set on failure.
Owned<> native_function_new(PyMethodDef* ml, PyObject* qualname, PyObject* module,
                            PyObject* globals, PyObject* code);

// Type slots (the call slot and the vectorcall entries are in
// function_call_slots.hpp, the attributes in function_attributes.hpp).
PyObject* native_function_descr_get(PyObject* func, PyObject* obj, PyObject* type);
int native_function_clear(PyObject* func);
int native_function_traverse(PyObject* func, visitproc visit, void* arg);
void native_function_dealloc(PyObject* func);

} // namespace runtime
