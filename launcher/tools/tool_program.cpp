#include "tools/tool_program.hpp"

#include <Python.h>

#include <utility>

#include "owned.hpp"
#include "process/finish_run.hpp"
#include "process/interpreter.hpp"
#include "process/process_hardening.hpp"
#include "tools/embedded_modules.hpp"

namespace launcher {

using runtime::Owned;
using runtime::steal;

namespace {

struct ToolEntry {
    const char* module;
    const char* function;
};

ToolEntry tool_entry(Tool tool)
{
    switch (tool) {
    case Tool::setup:
        return {"_kestrune_git_setup", "setup"};
    case Tool::remove:
        return {"_kestrune_git_setup", "remove"};
    case Tool::status:
        break;
    }
    return {"_kestrune_status", "status"};
}

Owned<> string_view_object(std::string_view text)
{
    return steal(PyUnicode_DecodeFSDefaultAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// The options as the tool's function takes them, keyword arguments: the
// config file to edit and --dry-run for --setup and --remove, --json for
// --status.
Owned<> keyword_arguments(const ToolOptions& options)
{
    auto kwargs = steal(PyDict_New());
    if (!kwargs) {
        return {};
    }
    if (options.tool == Tool::status) {
        return PyDict_SetItemString(kwargs.get(), "json_output", options.json ? Py_True : Py_False) < 0
                   ? Owned<>()
                   : std::move(kwargs);
    }
    auto scope = string_view_object(options.scope);
    if (!scope) {
        return {};
    }
    auto file = string_view_object(options.file);
    if (!file || PyDict_SetItemString(kwargs.get(), "scope", scope.get()) < 0 ||
        PyDict_SetItemString(kwargs.get(), "file", file.get()) < 0 ||
        PyDict_SetItemString(kwargs.get(), "dry_run", options.dry_run ? Py_True : Py_False) < 0) {
        return {};
    }
    return kwargs;
}

// The tool's exit status; -1 with an exception set when it failed.
int call_tool(const ToolOptions& options)
{
    const ToolEntry entry = tool_entry(options.tool);
    auto module = import_launcher_module(entry.module);
    if (!module) {
        return -1;
    }
    auto function = steal(PyObject_GetAttrString(module.get(), entry.function));
    if (!function) {
        return -1;
    }
    auto kwargs = keyword_arguments(options);
    if (!kwargs) {
        return -1;
    }
    auto result = steal(PyObject_VectorcallDict(function.get(), nullptr, 0, kwargs.get()));
    if (!result) {
        return -1;
    }
    const long status = PyLong_AsLong(result.get());
    if (status == -1 && PyErr_Occurred()) {
        return -1;
    }
    return static_cast<int>(status);
}

} // namespace

int run_tool(const ToolOptions& options, int argc, char** argv)
{
    if (!make_non_dumpable()) {
        return 1;
    }
    const PyStatus status = start_interpreter(argc, argv);
    if (PyStatus_Exception(status)) {
        Py_ExitStatusException(status);
    }
    int exit_status = call_tool(options);
    if (exit_status < 0 && PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) {
        // Ctrl-C: the tools have put back what they were changing on the way
        // out; the user asked to stop, so no traceback, and the caller sees
        // the run end by SIGINT.
        PyErr_Clear();
        exit_status = interrupted_status;
    } else if (exit_status < 0) {
        // SystemExit ends the process here, as in `python`.
        PyErr_Print();
        exit_status = 1;
    }
    exit_status = finish_run(exit_status);
    return exit_status == interrupted_status ? exit_by_sigint() : exit_status;
}

} // namespace launcher
