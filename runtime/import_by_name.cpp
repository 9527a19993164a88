// `import name`, answered from the interpreter's module registry when it can.
#include "import_by_name.hpp"

#include "runtime_state.hpp"

namespace runtime {

Owned<> import_by_name(PyObject* name)
{
    auto module = steal(PyImport_GetModule(name));
    if (module) {
        const Py_ssize_t dot = PyUnicode_FindChar(name, '.', 0, PyUnicode_GET_LENGTH(name), 1);
        if (dot == -2) {
            return {};
        }
        if (dot == -1) {
            return module;
        }
        // `import a.b` binds the top-level package `a`. With a.b registered,
        // `a` normally is too; if it is not, the import machinery decides.
        auto top = steal(PyUnicode_Substring(name, 0, dot));
        if (!top) {
            return {};
        }
        module = steal(PyImport_GetModule(top.get()));
        if (module) {
            return module;
        }
    }
    if (PyErr_Occurred()) {
        return {};
    }
    auto locals = steal(PyDict_New());
    if (!locals) {
        return {};
    }
    return steal(
        PyImport_ImportModuleLevelObject(name, state.module_dict, locals.get(), nullptr, 0));
}

} // namespace runtime
