#include "launcher_modules.hpp"

#include <cstring>

#include "launcher_sources.hpp"
#include "rules_module.hpp"

namespace launcher {

using runtime::Owned;
using runtime::steal;

namespace {

// Registers _kestrune_rules in sys.modules unless it is there.
bool register_rules_module()
{
    PyObject* modules = PyImport_GetModuleDict();
    PyObject* existing = PyDict_GetItemString(modules, rules_module_name);
    if (existing) {
        return true;
    }
    auto module = make_rules_module();
    return module && PyDict_SetItemString(modules, rules_module_name, module.get()) == 0;
}

// Executes one source as a module registered in sys.modules, unless it is
// there. On failure the import system takes the module out again.
bool execute_source(const LauncherSource& source)
{
    PyObject* existing = PyDict_GetItemString(PyImport_GetModuleDict(), source.module);
    if (existing) {
        return true;
    }
    auto code = steal(Py_CompileString(source.text, source.file, Py_file_input));
    if (!code) {
        return false;
    }
    auto module = steal(PyImport_ExecCodeModuleEx(source.module, code.get(), source.file));
    return static_cast<bool>(module);
}

} // namespace

Owned<> import_launcher_module(const char* name)
{
    if (!register_rules_module()) {
        return {};
    }
    for (std::size_t i = 0; i < launcher_source_count; ++i) {
        const LauncherSource& source = launcher_sources[i];
        if (!execute_source(source)) {
            return {};
        }
        if (std::strcmp(source.module, name) == 0) {
            return runtime::borrow(PyDict_GetItemString(PyImport_GetModuleDict(), name));
        }
    }
    PyErr_Format(PyExc_ImportError, "no launcher module named %s", name);
    return {};
}

} // namespace launcher
