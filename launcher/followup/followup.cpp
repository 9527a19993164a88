#include "followup/followup.hpp"

#include <unistd.h>

#include <string_view>

#include "followup/request_limit.hpp"
#include "module_state.hpp"
#include "owned.hpp"
#include "process/finish_run.hpp"
#include "request_rules.hpp"
#include "tools/embedded_modules.hpp"

namespace launcher {

using runtime::Owned;
using runtime::steal;

namespace {

// The module run as __main__: its globals, or NULL with no exception set.
Owned<> main_globals()
{
    PyObject* main = PyDict_GetItemString(PyImport_GetModuleDict(), "__main__");
    return runtime::borrow(main && PyModule_Check(main) ? PyModule_GetDict(main) : nullptr);
}

// The request on `stream`, read a line at a time as the module's _parse_input
// would meet it, up to the empty line that ends it or the end of input: a list
// of its lines. None when it runs past request_max_length characters or
// hands out something other than str, so that nothing past the limit is ever
// read or kept; NULL with an exception set when reading failed.
Owned<> read_request(PyObject* stream)
{
    auto lines = steal(PyList_New(0));
    if (!lines) {
        return {};
    }
    Py_ssize_t kept = 0;
    for (;;) {
        // One character past what is left, so that a request longer than the
        // limit shows as such.
        auto line = steal(PyObject_CallMethod(stream, "readline", "n", request_max_length - kept + 1));
        if (!line) {
            return {};
        }
        if (!PyUnicode_Check(line.get()) || PyUnicode_GET_LENGTH(line.get()) > request_max_length - kept) {
            return runtime::borrow(Py_None);
        }
        if (PyUnicode_GET_LENGTH(line.get()) == 0) {
            return lines;
        }
        kept += PyUnicode_GET_LENGTH(line.get());
        if (PyList_Append(lines.get(), line.get()) < 0) {
            return {};
        }
        if (PyUnicode_CompareWithASCIIString(line.get(), "\n") == 0) {
            return lines;
        }
    }
}

// The request parsed by the module's own _parse_input from `lines` (a list),
// put in sys.stdin for the call. sys.stdin is put back whether or not the
// parse failed; its failure, a KeyboardInterrupt included, stays raised.
Owned<> parse_request(PyObject* globals, PyObject* lines)
{
    // Held for the call, which runs code that could rebind the global.
    auto parse_input = runtime::borrow(PyDict_GetItemString(globals, "_parse_input"));
    if (!parse_input) {
        return {};
    }
    auto saved = runtime::borrow(PySys_GetObject("stdin"));
    if (PySys_SetObject("stdin", lines) < 0) {
        return {};
    }
    auto data = steal(PyObject_CallNoArgs(parse_input.get()));
    auto raised = steal(PyErr_GetRaisedException());
    const int restored = PySys_SetObject("stdin", saved.get());
    if (raised) {
        PyErr_SetRaisedException(raised.release());
        return {};
    }
    return restored < 0 ? Owned<>() : std::move(data);
}

// Whether `data` is a request the helper answers: GitHub over HTTPS, judged
// with the module's own GitHub host name. The module has run, so its
// constants are there. Runs no Python code.
bool is_github_request(PyObject* data)
{
    if (!PyDict_Check(data)) {
        return false;
    }
    PyObject* github = kestrune::constant(kestrune::str_github_host);
    PyObject* host = PyDict_GetItemString(data, "host");
    return github && host && kestrune::host_is_github(host, github) &&
           kestrune::protocol_allows_token(data) == 1;
}

// _kestrune_config_check.<function>(config_path[, password]), which writes
// its own line.
void call_report(const char* function, PyObject* config_path, PyObject* password)
{
    auto module = import_launcher_module("_kestrune_config_check");
    auto report = module ? steal(PyObject_GetAttrString(module.get(), function)) : Owned<>();
    if (!report) {
        return;
    }
    auto result = steal(password ? PyObject_CallFunctionObjArgs(report.get(), config_path, password, nullptr)
                                 : PyObject_CallOneArg(report.get(), config_path));
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

int Followup::after_run(int exit_status)
{
    // A Ctrl-C that came while the module's last native code ran is handled
    // before anything more is read.
    if (exit_status == 0 && action_ != Action::other && PyErr_CheckSignals() == 0) {
        explain();
    }
    const bool interrupted = PyErr_Occurred() && PyErr_ExceptionMatches(PyExc_KeyboardInterrupt);
    PyErr_Clear();
    watch_.reset();
    return interrupted ? interrupted_status : exit_status;
}

void Followup::explain()
{
    Owned<> lines;
    if (action_ == Action::get) {
        if (watch_->answered()) {
            return;
        }
        lines = runtime::borrow(watch_->lines());
    } else if (!isatty(STDIN_FILENO)) {
        // The module leaves an `erase` request unread; it is read here,
        // unless a person typed the command at a terminal.
        auto stream = runtime::borrow(PySys_GetObject("stdin"));
        if (stream && stream.get() != Py_None) {
            lines = read_request(stream.get());
        }
    }
    if (!lines || !PyList_Check(lines.get())) {
        return;
    }
    auto globals = main_globals();
    if (!globals) {
        return;
    }
    // Held across the parse, which runs the module's code.
    auto config_path = runtime::borrow(PyDict_GetItemString(globals.get(), "CONFIG_PATH"));
    auto data = parse_request(globals.get(), lines.get());
    if (!config_path || !data || !is_github_request(data.get())) {
        return;
    }
    if (action_ == Action::get) {
        call_report("report_no_token", config_path.get(), nullptr);
    } else if (auto password = runtime::borrow(PyDict_GetItemString(data.get(), "password"))) {
        call_report("report_rejected_token", config_path.get(), password.get());
    }
}

} // namespace launcher
