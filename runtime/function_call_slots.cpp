// Calls of function objects: the four vectorcall entries, the
// type's call slot, the conversion of a keyword dictionary into vectorcall
// form, and the tuple-and-dictionary call.
#include "function_call_slots.hpp"

#include "function_type.hpp"
#include "owned.hpp"
#include "recursion_guard.hpp"

namespace runtime {

namespace {

// The checks shared by the four entries, in this order: the missing `self` of
// a FUNC_METHOD function, then keywords (for the entries that take none). On
// success `self` is the first positional argument of a FUNC_METHOD function,
// taken off the front of the arguments, or else m_self. The count check is
// the entry's own, on what is left.
inline bool take_self(NativeFunction* op, PyObject* const*& args, Py_ssize_t& nargs,
                      PyObject* kwnames, bool refuse_keywords, PyObject*& self)
{
    const bool self_is_first = (op->func_flags & FUNC_METHOD) && !(op->func_flags & FUNC_STATIC);
    if (self_is_first && nargs == 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() %s", op->base.func.m_ml->ml_name,
                     "needs an argument");
        return false;
    }
    if (refuse_keywords && kwnames && PyTuple_GET_SIZE(kwnames) != 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() %s", op->base.func.m_ml->ml_name,
                     "takes no keyword arguments");
        return false;
    }
    if (self_is_first) {
        self = args[0];
        ++args;
        --nargs;
    } else {
        self = op->base.func.m_self;
    }
    return true;
}

template <class F>
inline F entry_as(PyMethodDef* ml) noexcept
{
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(ml->ml_meth));
}

// The calling conventions of a definition that have a vectorcall entry.
enum class Convention { noargs, o, fastcall_keywords, method };

// The vectorcall entry for `convention`: take_self, then for METH_NOARGS and
// METH_O (which refuse keywords) the count of what is left, and the
// definition's entry run under the recursion guard.
template <Convention convention>
PyObject* vectorcall_entry(PyObject* func, PyObject* const* args, std::size_t nargsf,
                           PyObject* kwnames)
{
    constexpr bool counted = convention == Convention::noargs || convention == Convention::o;
    NativeFunction* op = as_native_function(func);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyObject* self = nullptr;
    if (!take_self(op, args, nargs, kwnames, counted, self)) {
        return nullptr;
    }
    PyMethodDef* ml = op->base.func.m_ml;
    if constexpr (counted) {
        constexpr Py_ssize_t count = convention == Convention::o ? 1 : 0;
        if (nargs != count) {
            PyErr_Format(PyExc_TypeError, "%.200s() %s (%zd given)", ml->ml_name,
                         count == 0 ? "takes no arguments" : "takes exactly one argument", nargs);
            return nullptr;
        }
        PyObject* arg = count == 0 ? nullptr : args[0];
        return call_guarded([&] { return ml->ml_meth(self, arg); });
    } else if constexpr (convention == Convention::fastcall_keywords) {
        const auto entry = entry_as<_PyCFunctionFastWithKeywords>(ml);
        return call_guarded([&] { return entry(self, args, nargs, kwnames); });
    } else {
        const auto entry = entry_as<PyCMethod>(ml);
        return call_guarded([&] {
            return entry(self, op->base.mm_class, args, static_cast<std::size_t>(nargs), kwnames);
        });
    }
}

} // namespace

PyObject* vectorcall_noargs(PyObject* func, PyObject* const* args, std::size_t nargsf,
                            PyObject* kwnames)
{
    return vectorcall_entry<Convention::noargs>(func, args, nargsf, kwnames);
}

PyObject* vectorcall_o(PyObject* func, PyObject* const* args, std::size_t nargsf,
                       PyObject* kwnames)
{
    return vectorcall_entry<Convention::o>(func, args, nargsf, kwnames);
}

PyObject* vectorcall_fastcall_keywords(PyObject* func, PyObject* const* args, std::size_t nargsf,
                                       PyObject* kwnames)
{
    return vectorcall_entry<Convention::fastcall_keywords>(func, args, nargsf, kwnames);
}

PyObject* vectorcall_fastcall_keywords_method(PyObject* func, PyObject* const* args,
                                              std::size_t nargsf, PyObject* kwnames)
{
    return vectorcall_entry<Convention::method>(func, args, nargsf, kwnames);
}

PyObject* vectorcall_from_dict(PyObject* func, vectorcallfunc entry, PyObject* const* args,
                               Py_ssize_t nargs, PyObject* kwargs)
{
    const Py_ssize_t nkw = PyDict_GET_SIZE(kwargs);
    // One array for the positional values (borrowed) and the keyword values
    // (owned while the call runs).
    auto** array = static_cast<PyObject**>(
        PyMem_Malloc(static_cast<std::size_t>(nargs + nkw) * sizeof(PyObject*)));
    if (!array) {
        PyErr_NoMemory();
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        array[i] = args[i];
    }
    auto names = steal(PyTuple_New(nkw));
    if (!names) {
        PyMem_Free(array);
        return nullptr;
    }
    PyObject** values = array + nargs;
    Py_ssize_t pos = 0;
    Py_ssize_t count = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    unsigned long keys_are_str = Py_TPFLAGS_UNICODE_SUBCLASS;
    while (count < nkw && PyDict_Next(kwargs, &pos, &key, &value)) {
        keys_are_str &= Py_TYPE(key)->tp_flags;
        PyTuple_SET_ITEM(names.get(), count, Py_NewRef(key));
        values[count] = Py_NewRef(value);
        ++count;
    }

    Owned<> result;
    if (!keys_are_str) {
        PyErr_SetString(PyExc_TypeError, "keywords must be strings");
    } else {
        // No PY_VECTORCALL_ARGUMENTS_OFFSET: there is no slot before the array
        // that the callee may use.
        result = steal(entry(func, array, static_cast<std::size_t>(nargs), names.get()));
    }
    names.reset();
    for (Py_ssize_t i = 0; i < count; ++i) {
        Py_DECREF(values[i]);
    }
    PyMem_Free(array);
    return result.release();
}

PyObject* call_with_tuple(PyObject* func, PyObject* self, PyObject* args, PyObject* kwargs)
{
    const auto entry = entry_as<PyCFunctionWithKeywords>(as_native_function(func)->base.func.m_ml);
    return call_guarded([&] { return entry(self, args, kwargs); });
}

PyObject* native_function_call(PyObject* func, PyObject* args, PyObject* kwargs)
{
    NativeFunction* op = as_native_function(func);
    if (vectorcallfunc entry = op->base.func.vectorcall) {
        // The tuple's own item array, neither copied nor counted.
        PyObject* const* items = &PyTuple_GET_ITEM(args, 0);
        const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
        if (kwargs && PyDict_GET_SIZE(kwargs) != 0) {
            return vectorcall_from_dict(func, entry, items, nargs, kwargs);
        }
        return entry(func, items, static_cast<std::size_t>(nargs), nullptr);
    }
    if ((op->func_flags & FUNC_METHOD) && !(op->func_flags & FUNC_STATIC)) {
        const Py_ssize_t argc = PyTuple_GET_SIZE(args);
        auto rest = steal(PyTuple_GetSlice(args, 1, argc));
        if (!rest) {
            return nullptr;
        }
        if (argc == 0) {
            rest.reset();
            PyErr_Format(PyExc_TypeError, "unbound method %.200S() needs an argument",
                         op->func_qualname);
            return nullptr;
        }
        return call_with_tuple(func, PyTuple_GET_ITEM(args, 0), rest.get(), kwargs);
    }
    return call_with_tuple(func, op->base.func.m_self, args, kwargs);
}

} // namespace runtime
