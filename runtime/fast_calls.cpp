// Calls with a fast path for the common callee kinds: built-in functions and
// the module's own functions go straight to their native entry, everything
// else through its vectorcall entry when it has one.
#include "fast_calls.hpp"

#include <cstring>

#include "exception_match.hpp"
#include "function_type.hpp"
#include "recursion_guard.hpp"
#include "runtime_state.hpp"

namespace runtime {

namespace {

Owned<> check_result(PyObject* result)
{
    if (!result && !PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "NULL result without error in PyObject_Call");
    }
    return steal(result);
}

vectorcallfunc vectorcall_entry(PyObject* callee)
{
    PyTypeObject* type = Py_TYPE(callee);
    // Our function objects always carry an entry chosen from their method
    // flags; read it from the record instead of through the type's offset.
    if (type == state.function_type) {
        return as_native_function(callee)->base.func.vectorcall;
    }
    if (!PyType_HasFeature(type, Py_TPFLAGS_HAVE_VECTORCALL)) {
        return nullptr;
    }
    const Py_ssize_t offset = type->tp_vectorcall_offset;
    vectorcallfunc entry;
    std::memcpy(&entry, reinterpret_cast<char*>(callee) + offset, sizeof entry);
    return entry;
}

} // namespace

Owned<> call_object(PyObject* callee, PyObject* args, PyObject* kwargs)
{
    const ternaryfunc call = Py_TYPE(callee)->tp_call;
    if (!call) {
        // Raises the interpreter's "object is not callable".
        return steal(PyObject_Call(callee, args, kwargs));
    }
    return check_result(call_guarded([&] { return call(callee, args, kwargs); }));
}

Owned<> call_c_entry(PyObject* callee, PyObject* arg)
{
    // Both kinds of callee begin with PyCFunctionObject.
    auto* function = reinterpret_cast<PyCFunctionObject*>(callee);
    const PyCFunction entry = function->m_ml->ml_meth;
    PyObject* self = (function->m_ml->ml_flags & METH_STATIC) ? nullptr : function->m_self;
    return check_result(call_guarded([&] { return entry(self, arg); }));
}

Owned<> call_fast(PyObject* callee, PyObject* const* args, std::size_t nargsf)
{
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    // A NULL function_type (before the exec step has fetched it) matches no
    // type, so only built-in functions take this path then.
    if (type_inherits_either(Py_TYPE(callee), state.function_type, &PyCFunction_Type)) {
        // Read through the shared record layout: PyCFunction_GET_FLAGS checks
        // for the built-in function type, which our function type is not.
        const int flags = reinterpret_cast<PyCFunctionObject*>(callee)->m_ml->ml_flags;
        if (nargs == 0 && (flags & METH_NOARGS)) {
            return call_c_entry(callee, nullptr);
        }
        if (nargs == 1 && (flags & METH_O)) {
            return call_c_entry(callee, args[0]);
        }
    }
    if (const vectorcallfunc entry = vectorcall_entry(callee)) {
        // Our function objects and the interpreter's built-in functions hold
        // the guard in their entries, and the interpreter enters a Python
        // function's frame under it. Any other callee may be a wrapper
        // (functools.partial, a bound method) that calls on without one, and
        // a loop through such wrappers must end in RecursionError rather than
        // overflow the C stack.
        const PyTypeObject* type = Py_TYPE(callee);
        if (type == state.function_type || type == &PyFunction_Type ||
            type == &PyCFunction_Type || type == &PyCMethod_Type) {
            return check_result(entry(callee, args, nargsf, nullptr));
        }
        return check_result(call_guarded([&] { return entry(callee, args, nargsf, nullptr); }));
    }
    if (nargs == 0) {
        return call_object(callee, state.empty_tuple, nullptr);
    }
    return steal(PyObject_VectorcallDict(callee, args, static_cast<std::size_t>(nargs), nullptr));
}

Owned<> call_unbinding(PyObject* callee, PyObject** args, Py_ssize_t nargs)
{
    if (Py_IS_TYPE(callee, &PyMethod_Type)) {
        // The caller keeps the method alive for the call, and a method never
        // changes its function or self, so both may be used borrowed.
        args[0] = PyMethod_GET_SELF(callee);
        return call_fast(PyMethod_GET_FUNCTION(callee), args, static_cast<std::size_t>(nargs) + 1);
    }
    args[0] = nullptr;
    return call_fast(callee, args + 1,
                     static_cast<std::size_t>(nargs) | PY_VECTORCALL_ARGUMENTS_OFFSET);
}

} // namespace runtime
