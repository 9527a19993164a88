// cmd_get (script lines 43-56):
//
//     def cmd_get():
//         data = _parse_input()
//         host = data.get("host", "")
//         # Only answer for GitHub over HTTPS
//         if "github.com" not in host:
//             return
//         token = _read_token()
//         if not token:
//             return
//         # GitHub accepts any username with a token as the password;
//         # x-access-token is the conventional one.
//         print("username=x-access-token")
//         print(f"password={token}")
//         print()
//
// The host test of line 47 answers only GitHub itself and its subdomains
// (host_rules.hpp), and never a request for another protocol than HTTPS. After
// line 50's truth test, only a str token that meets the token rule
// (token_rules.hpp) is answered; its text is its own characters.
#include "credential_commands.hpp"
#include "fast_calls.hpp"
#include "lookup_attr.hpp"
#include "lookup_global.hpp"
#include "request_rules.hpp"
#include "script_support.hpp"
#include "truth_value.hpp"

namespace kestrune {

namespace {

// print(*args) through the cached builtin; args[-1] is ours to lend.
bool print_line(PyObject** slot_and_args, std::size_t nargs)
{
    auto result = runtime::call_fast(module_state.builtin_print, slot_and_args + 1,
                                     nargs | PY_VECTORCALL_ARGUMENTS_OFFSET);
    return static_cast<bool>(result);
}

// The token's characters as an exact str: a str subclass is copied from its
// characters, so none of its methods runs. `token` has passed
// token_fits_answer, so it is ASCII.
Owned<> token_text(PyObject* token)
{
    if (PyUnicode_CheckExact(token)) {
        return runtime::borrow(token);
    }
    return steal(PyUnicode_FromStringAndSize(static_cast<const char*>(PyUnicode_DATA(token)),
                                             PyUnicode_GET_LENGTH(token)));
}

// A module global called with no arguments.
Owned<> call_global(PyObject* name)
{
    auto callee = runtime::lookup_global(name);
    if (!callee) {
        return {};
    }
    PyObject* args[] = {nullptr};
    return runtime::call_unbinding(callee.get(), args, 0);
}

} // namespace

PyObject* cmd_get(PyObject*, PyObject*)
{
    const auto& K = module_state.constants;

    auto data = call_global(K[n__parse_input]);  // line 44
    if (!data) {
        return fail_at(entry_cmd_get, 44);
    }

    Owned<> host;  // line 45
    {
        auto get = runtime::lookup_attr(data.get(), K[n_get]);
        if (get) {
            host = runtime::call_object(get.get(), module_state.host_get_args, nullptr);
        }
        if (!host) {
            return fail_at(entry_cmd_get, 45);
        }
    }

    {  // line 47
        PyObject* github = K[str_github_host];
        if (!PyUnicode_Check(host.get())) {
            // Not a host name; the containment test still reports what it
            // reports for such an object, but never admits it.
            if (PySequence_Contains(host.get(), github) < 0) {
                return fail_at(entry_cmd_get, 47);
            }
            Py_RETURN_NONE;  // line 48
        }
        if (!host_is_github(host.get(), github)) {
            Py_RETURN_NONE;  // line 48
        }
        const int allowed = protocol_allows_token(data.get());
        if (allowed < 0) {
            return fail_at(entry_cmd_get, 47);
        }
        if (!allowed) {
            Py_RETURN_NONE;  // line 48
        }
    }

    auto token = call_global(K[n__read_token]);  // line 49
    if (!token) {
        return fail_at(entry_cmd_get, 49);
    }

    {  // line 50
        const int truth = runtime::truth_value(token.get());
        if (truth < 0) {
            return fail_at(entry_cmd_get, 50);
        }
        if (!truth || !token_fits_answer(token.get())) {
            Py_RETURN_NONE;  // line 51
        }
    }

    {  // line 54
        PyObject* args[] = {nullptr, K[str_username_line]};
        if (!print_line(args, 1)) {
            return fail_at(entry_cmd_get, 54);
        }
    }
    {  // line 55
        auto text = token_text(token.get());
        if (!text) {
            return fail_at(entry_cmd_get, 55);
        }
        auto password = steal(PyUnicode_Concat(K[str_password_prefix], text.get()));
        if (!password) {
            return fail_at(entry_cmd_get, 55);
        }
        PyObject* args[] = {nullptr, password.get()};
        if (!print_line(args, 1)) {
            return fail_at(entry_cmd_get, 55);
        }
    }
    {  // line 56
        PyObject* args[] = {nullptr};
        if (!print_line(args, 0)) {
            return fail_at(entry_cmd_get, 56);
        }
    }
    Py_RETURN_NONE;
}

} // namespace kestrune
