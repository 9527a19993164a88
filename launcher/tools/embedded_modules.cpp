#include "tools/embedded_modules.hpp"

#include <cstring>
#include <iterator>
#include <string_view>

#include "config_file_rules.hpp"
#include "host_rules.hpp"
#include "token_rules.hpp"

namespace launcher {

using runtime::Owned;
using runtime::steal;

namespace {

struct LauncherSource {
    const char* module;  // the name in sys.modules
    const char* file;    // the file name in tracebacks, "<launcher/tools/...>"
    const char* text;
};

constexpr LauncherSource launcher_sources[] = {
#include "embedded_sources.inc"
};

// ---- _kestrune_rules ----------------------------------------------------------

constexpr const char rules_module_name[] = "_kestrune_rules";

// The characters of `text` (a str) as UTF-8 in `utf8`: 1, or 0 with no
// exception set for a str that has no UTF-8 form (a lone surrogate), which no
// rule accepts; -1 with a TypeError when `text` is no str, or with the error
// of a conversion that failed otherwise (no memory).
int utf8_of(PyObject* text, const char* what, std::string_view& utf8)
{
    if (!PyUnicode_Check(text)) {
        PyErr_Format(PyExc_TypeError, "%s must be str, not %.100s", what, Py_TYPE(text)->tp_name);
        return -1;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (!data) {
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) {
            return -1;
        }
        PyErr_Clear();
        return 0;
    }
    utf8 = std::string_view(data, static_cast<std::size_t>(size));
    return 1;
}

// None for an accepted refusal enumerator, else (name, reason).
template <class Refusal>
PyObject* refusal_or_none(Refusal refusal)
{
    if (refusal == Refusal::none) {
        Py_RETURN_NONE;
    }
    return Py_BuildValue("(ss)", kestrune::refusal_name(refusal), kestrune::describe(refusal));
}

PyObject* check_config_file(PyObject*, PyObject* path)
{
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(path, &encoded)) {
        return nullptr;
    }
    auto bytes = steal(encoded);
    return refusal_or_none(kestrune::check_config_file(PyBytes_AS_STRING(bytes.get())));
}

PyObject* check_token(PyObject*, PyObject* token)
{
    std::string_view text;
    const int found = utf8_of(token, "token", text);
    if (found < 0) {
        return nullptr;
    }
    return refusal_or_none(found ? kestrune::check_token(text) : kestrune::TokenRefusal::not_printable);
}

PyObject* token_is_acceptable(PyObject*, PyObject* token)
{
    std::string_view text;
    const int found = utf8_of(token, "token", text);
    if (found < 0) {
        return nullptr;
    }
    return PyBool_FromLong(found && kestrune::token_is_acceptable(text));
}

PyObject* host_is_github(PyObject*, PyObject* host)
{
    std::string_view text;
    const int found = utf8_of(host, "host", text);
    if (found < 0) {
        return nullptr;
    }
    return PyBool_FromLong(found && kestrune::host_is_github(text, kestrune::github_host));
}

PyMethodDef rules_methods[] = {
    {"check_config_file", check_config_file, METH_O,
     "check_config_file(path)\n\nNone when the config file at `path` may be read, else (name, reason)."},
    {"check_token", check_token, METH_O,
     "check_token(token)\n\nNone when the helper hands out `token`, else (name, reason)."},
    {"token_is_acceptable", token_is_acceptable, METH_O,
     "token_is_acceptable(token)\n\nWhether the helper hands out `token`."},
    {"host_is_github", host_is_github, METH_O,
     "host_is_github(host)\n\nWhether a request for `host` gets the token (over HTTPS)."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef rules_definition = {
    PyModuleDef_HEAD_INIT, rules_module_name,
    "The helper's rules for the config file, the token and the host, and the facts they rest on.", -1,
    rules_methods,
};

// {name: reason} for every way a config file can be refused, as
// check_config_file words them.
Owned<> config_refusals()
{
    auto refusals = steal(PyDict_New());
    if (!refusals) {
        return {};
    }
    constexpr auto first = static_cast<int>(kestrune::ConfigRefusal::none) + 1;
    constexpr auto last = static_cast<int>(kestrune::ConfigRefusal::unsafe_folder_mode);
    for (int i = first; i <= last; i++) {
        const auto refusal = static_cast<kestrune::ConfigRefusal>(i);
        auto reason = steal(PyUnicode_FromString(kestrune::describe(refusal)));
        if (!reason || PyDict_SetItemString(refusals.get(), kestrune::refusal_name(refusal), reason.get()) < 0) {
            return {};
        }
    }
    return refusals;
}

// A new _kestrune_rules module with its facts; empty with an exception set.
Owned<> make_rules_module()
{
    auto module = steal(PyModule_Create(&rules_definition));
    if (!module) {
        return {};
    }
    const std::string_view github = kestrune::github_host;
    auto github_host = steal(PyUnicode_FromStringAndSize(github.data(), static_cast<Py_ssize_t>(github.size())));
    if (!github_host) {
        return {};
    }
    auto refusals = config_refusals();
    if (!refusals ||
        PyModule_AddStringConstant(module.get(), "CONFIG_PATH_TEMPLATE", kestrune::config_path_template) < 0 ||
        PyModule_AddIntConstant(module.get(), "CONFIG_FILE_MAX_SIZE",
                                static_cast<long>(kestrune::config_file_max_size)) < 0 ||
        PyModule_AddIntConstant(module.get(), "TOKEN_MAX_LENGTH",
                                static_cast<long>(kestrune::token_max_length)) < 0 ||
        PyModule_AddObjectRef(module.get(), "GITHUB_HOST", github_host.get()) < 0 ||
        PyModule_AddObjectRef(module.get(), "CONFIG_REFUSALS", refusals.get()) < 0) {
        return {};
    }
    return module;
}

// ---- importing ----------------------------------------------------------------

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

// The module of one source: executed and registered in sys.modules unless it
// is there. On failure the import system takes the module out again.
Owned<> module_of(const LauncherSource& source)
{
    if (PyObject* existing = PyDict_GetItemString(PyImport_GetModuleDict(), source.module)) {
        return runtime::borrow(existing);
    }
    auto code = steal(Py_CompileString(source.text, source.file, Py_file_input));
    if (!code) {
        return {};
    }
    return steal(PyImport_ExecCodeModuleEx(source.module, code.get(), source.file));
}

} // namespace

Owned<> import_launcher_module(const char* name)
{
    if (!register_rules_module()) {
        return {};
    }
    for (const LauncherSource& source : launcher_sources) {
        auto module = module_of(source);
        if (!module || std::strcmp(source.module, name) == 0) {
            return module;
        }
    }
    PyErr_Format(PyExc_ImportError, "no launcher module named %s", name);
    return {};
}

} // namespace launcher
