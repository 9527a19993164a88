// Running the linked-in module as __main__.
//
// This follows what the interpreter does for an extension module it runs as
// its main module: the module is created from its definition with an import
// spec named "__main__", stored in sys.modules["__main__"], and then executed.
// The definition comes straight from the entry point linked into the
// launcher, so no file is searched for and nothing is loaded at run time.
#include "process/main_module.hpp"

#include <Python.h>

#include "owned.hpp"
#include "process/finish_run.hpp"
#include "process/interrupt.hpp"

PyMODINIT_FUNC PyInit_git_credential_kestrune();

namespace launcher {

using runtime::Owned;
using runtime::steal;

namespace {

// The module definition. Multi-phase initialisation hands back the static
// definition itself, which is never released: the result is borrowed.
PyModuleDef* module_definition()
{
    PyObject* result = PyInit_git_credential_kestrune();
    if (!result) {
        return nullptr;
    }
    if (!PyObject_TypeCheck(result, &PyModuleDef_Type)) {
        PyErr_SetString(PyExc_SystemError,
                        "git_credential_kestrune: the entry point did not return a module definition");
        return nullptr;
    }
    return reinterpret_cast<PyModuleDef*>(result);
}

// ModuleSpec("__main__", None, origin=<the launcher's path>). The import
// system's own ModuleSpec is loaded during start-up, so nothing is imported.
Owned<> main_spec()
{
    PyObject* bootstrap = PyDict_GetItemString(PyImport_GetModuleDict(), "_frozen_importlib");
    if (!bootstrap) {
        PyErr_SetString(PyExc_SystemError, "the import system is not initialised");
        return {};
    }
    auto spec_type = steal(PyObject_GetAttrString(bootstrap, "ModuleSpec"));
    if (!spec_type) {
        return {};
    }
    PyObject* origin = PySys_GetObject("executable");
    if (!origin) {
        origin = Py_None;
    }
    auto name = steal(PyUnicode_FromString("__main__"));
    if (!name) {
        return {};
    }
    auto keywords = steal(Py_BuildValue("(s)", "origin"));
    if (!keywords) {
        return {};
    }
    PyObject* args[] = {name.get(), Py_None, origin};
    return steal(PyObject_Vectorcall(spec_type.get(), args, 2, keywords.get()));
}

// The module's first step decompresses its constants with zlib.decompress and
// reports any failure to import zlib as an ImportError, a KeyboardInterrupt
// included. zlib is imported here first, with Ctrl-C held, so that the
// module finds it loaded. Whatever fails here is left for the module to meet
// and report its own way.
void import_zlib()
{
    const HeldInterrupt held;
    auto zlib = steal(PyImport_ImportModule("zlib"));
    if (!zlib) {
        PyErr_Clear();
    }
}

int create_and_execute()
{
    PyModuleDef* definition = module_definition();
    if (!definition) {
        return -1;
    }
    auto spec = main_spec();
    if (!spec) {
        return -1;
    }
    auto module = steal(PyModule_FromDefAndSpec(definition, spec.get()));
    if (!module) {
        return -1;
    }
    // The import system sets __spec__ between the create and exec steps; the
    // module body may rely on it like any other module.
    if (PyObject_SetAttrString(module.get(), "__spec__", spec.get()) < 0) {
        return -1;
    }
    if (PyDict_SetItemString(PyImport_GetModuleDict(), "__main__", module.get()) < 0) {
        return -1;
    }
    return PyModule_ExecDef(module.get(), definition);
}

} // namespace

int run_main_module()
{
    // A Ctrl-C from the start is taken before the module runs.
    if (PyErr_CheckSignals() == 0) {
        import_zlib();
        if (create_and_execute() == 0) {
            return 0;
        }
    }
    const bool interrupted = PyErr_ExceptionMatches(PyExc_KeyboardInterrupt);
    // Prints the traceback; for SystemExit it finalises the interpreter and
    // exits with the exception's code instead of returning.
    PyErr_Print();
    return interrupted ? interrupted_status : 1;
}

} // namespace launcher
