// Code objects that describe the module's functions as if compiled from their
// script: names, variable names, first line and location table, over
// instructions that are never run.
#include "code_object.hpp"

#include <cstring>

#include "runtime_state.hpp"

namespace runtime {

Owned<> make_code_object(CodeSpecWord spec, PyObject* const* varnames, PyObject* filename,
                         PyObject* funcname, PyObject* linetable, PyObject* dedup)
{
    const int nlocals = spec.nlocals();
    auto names = steal(PyTuple_New(nlocals));
    if (!names) {
        return {};
    }
    for (int i = 0; i < nlocals; ++i) {
        PyTuple_SET_ITEM(names.get(), i, new_ref(varnames[i]));
    }
    // Functions with the same locals share one tuple; `dedup` keeps it alive
    // until the code object holds its own reference.
    PyObject* shared_names = PyDict_SetDefault(dedup, names.get(), names.get());
    if (!shared_names) {
        return {};
    }

    // Each location entry covers one code unit (two bytes); the zeroed
    // instructions leave room for all of them, rounded down to whole words.
    Owned<> instructions;
    PyObject* code_bytes = state.empty_bytes;
    PyObject* locations = state.empty_bytes;
    if (linetable) {
        const Py_ssize_t size = (2 * PyBytes_GET_SIZE(linetable) + 4) / 4 * 4;
        instructions = steal(PyBytes_FromStringAndSize(nullptr, size));
        if (!instructions) {
            return {};
        }
        char* buffer = PyBytes_AsString(instructions.get());
        if (!buffer) {
            return {};
        }
        std::memset(buffer, 0, static_cast<std::size_t>(size));
        code_bytes = instructions.get();
        locations = linetable;
    }

    PyObject* empty = state.empty_tuple;
    auto* code = PyUnstable_Code_NewWithPosOnlyArgs(
        spec.argcount(), spec.posonlyargcount(), spec.kwonlyargcount(), nlocals, 0, spec.flags(),
        code_bytes, empty, empty, shared_names, empty, empty, filename, funcname, funcname,
        spec.first_line(), locations, state.empty_bytes);
    if (!code) {
        return {};
    }
    // No instruction is ever traced: tracing starts at the first one.
    code->_co_firsttraceable = 0;
    return steal(reinterpret_cast<PyObject*>(code));
}

} // namespace runtime
