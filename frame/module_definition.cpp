// The module's entry point and its definition.
#include <Python.h>

#include "module_steps.hpp"

namespace kestrune {

namespace {

constexpr const char module_doc[] =
    "Kestrune git credential helper.\n"
    "\n"
    "Implements the git credential helper protocol:\n"
    "  - On `get`: reads ~/.kestrune/config.json, returns the saved github_token\n"
    "    as the password (with username=x-access-token, which is what GitHub\n"
    "    expects for PAT/OAuth tokens).\n"
    "  - On `store` / `erase`: no-op (we don't store credentials in this helper;\n"
    "    the source of truth is always config.json).\n"
    "\n"
    "This ensures that EVERY git invocation (push, pull, fetch, clone, terminal\n"
    "git, /api/git/* endpoints, CLI git) uses the SAME current token from\n"
    "config.json \xE2\x80\x94 never a stale token from .git/config or ~/.git-credentials.\n"
    "\n"
    "Install with:\n"
    "  git config --global credential.helper \"python3 /path/to/git-credential-kestrune\"\n"
    "  (or use the ! prefix form for absolute path resolution)\n";

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

// The five functions are made by the module body, not from this table.
PyMethodDef module_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

// No per-module state and no teardown: everything lives in ModuleState for
// the life of the process.
PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "git_credential_kestrune",
    module_doc,
    0,
    module_methods,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

} // namespace

} // namespace kestrune

PyMODINIT_FUNC PyInit_git_credential_kestrune()
{
    return PyModuleDef_Init(&kestrune::module_def);
}
