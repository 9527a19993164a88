#include "followup/followup.hpp"

#include <unistd.h>

#include <string_view>

#include "module_state.hpp"
#include "owned.hpp"
#include "request_rules.hpp"
#include "tools/embedded_modules.hpp"

namespace launcher {

using runtime::Owned;
using runtime::steal;

namespace {

// The module run as __main__: its globals (borrowed), or NULL.
PyObject* main_globals()
{
    PyObject* main = PyDict_GetItemString(PyImport_GetModuleDict(), "__main__");
    return main && PyModule_Check(main) ? PyModule_GetDict(main) : nullptr;
}

// The request parsed by the module's own _parse_input, from `lines` (a list)
// or, when that is NULL, from sys.stdin.
Owned<> parse_request(PyObject* globals, PyObject* lines)
{
    // Held for the call, which runs code that could rebind the global.
    auto parse_input = runtime::borrow(PyDict_GetItemString(globals, "_parse_input"));
    if (!parse_input) {
        return {};
    }
    if (!lines) {
        return steal(PyObject_CallNoArgs(parse_input.get()));
    }
    auto saved = runtime::borrow(PySys_GetObject("stdin"));
    if (PySys_SetObject("stdin", lines) < 0) {
        return {};
    }
    auto data = steal(PyObject_CallNoArgs(parse_input.get()));
    if (PySys_SetObject("stdin", saved.get()) < 0) {
        return {};
    }
    return data;
}

// Whether `data` is a request the helper answers: GitHub over HTTPS, judged
// with the module's own GitHub host name. The module has run, so its
// constants are there.
bool is_github_request(PyObject* data)
{
    if (!data || !PyDict_Check(data)) {
        return false;
    }
    PyObject* github = kestrune::constant(kestrune::str_github_host);
    PyObject* host = PyDict_GetItemString(data, "host");
    return github && host && kestrune::host_is_github(host, github) &&
           kestrune::protocol_allows_token(data) == 1;
}

// _kestrune_config_check.<function>(*args), which writes its own line.
void call_report(const char* function, PyObject* config_path, PyObject* password)
{
    auto module = import_launcher_module("_kestrune_config_check");
    auto report = module ? steal(PyObject_GetAttrString(module.get(), function)) : Owned<>();
    if (report) {
        auto result = steal(password ? PyObject_CallFunctionObjArgs(report.get(), config_path, password, nullptr)
                                     : PyObject_CallOneArg(report.get(), config_path));
    }
}

} // namespace

Followup::Followup(int argc, char** argv)
{
    const std::string_view word = argc > 1 && argv[1] ? argv[1] : "get";
    action_ = word == "get" ? Action::get : word == "erase" ? Action::erase : Action::other;
    if (action_ == Action::get) {
        watch_.emplace();
    }
}

void Followup::after_run(int exit_status)
{
    bool due = exit_status == 0 && action_ != Action::other;
    if (action_ == Action::get) {
        due = due && !watch_->answered() && watch_->lines();
    } else if (action_ == Action::erase) {
        // The module leaves the request unread; read it here, unless a person
        // typed the command at a terminal.
        due = due && !isatty(STDIN_FILENO);
    }
    PyObject* globals = due ? main_globals() : nullptr;
    if (globals) {
        // Held across the parse, which runs the module's code.
        auto config_path = runtime::borrow(PyDict_GetItemString(globals, "CONFIG_PATH"));
        auto data = parse_request(globals, action_ == Action::get ? watch_->lines() : nullptr);
        if (config_path && is_github_request(data.get())) {
            if (action_ == Action::get) {
                call_report("report_no_token", config_path.get(), nullptr);
            } else if (PyObject* password = PyDict_GetItemString(data.get(), "password")) {
                call_report("report_rejected_token", config_path.get(), password);
            }
        }
    }
    PyErr_Clear();
    watch_.reset();
}

} // namespace launcher
