// The module body (script lines 1-74):
//
//     import sys, os, json                                        # 19
//     CONFIG_PATH = os.path.expanduser("~/.kestrune/config.json")  # 21
//     def _read_token(): ...                                      # 23
//     def _parse_input(): ...                                     # 31
//     def cmd_get(): ...                                          # 43
//     def cmd_store(): ...                                        # 58
//     def cmd_erase(): ...                                        # 62
//     if __name__ == "__main__":                                  # 67
//         action = sys.argv[1] if len(sys.argv) > 1 else "get"    # 68
//         if action == "get":                                     # 69
//             cmd_get()                                           # 70
//         elif action == "store":                                 # 71
//             cmd_store()                                         # 72
//         elif action == "erase":                                 # 73
//             cmd_erase()                                         # 74
//     # __test__ = {} is bound last, at line 1.
#include "fast_calls.hpp"
#include "function_type.hpp"
#include "import_by_name.hpp"
#include "item_at_one.hpp"
#include "lookup_attr.hpp"
#include "lookup_global.hpp"
#include "script_support.hpp"
#include "str_equals.hpp"

namespace kestrune {

namespace {

// Binds a module global; -1 with an exception set on failure.
int bind(Const name, PyObject* value)
{
    return PyDict_SetItem(runtime::state.module_dict, module_state.constants[name], value);
}

// Line 19: import sys, os, json.
bool import_modules()
{
    for (Const name : {n_sys, n_os, n_json}) {
        auto module = runtime::import_by_name(module_state.constants[name]);
        if (!module || bind(name, module.get()) < 0) {
            return false;
        }
    }
    return true;
}

// Line 21: CONFIG_PATH = os.path.expanduser("~/.kestrune/config.json").
bool bind_config_path()
{
    const auto& K = module_state.constants;
    auto os = runtime::lookup_global(K[n_os]);
    if (!os) {
        return false;
    }
    auto path = runtime::lookup_attr(os.get(), K[n_path]);
    if (!path) {
        return false;
    }
    PyObject* args[] = {path.get(), K[str_config_path_template]};
    auto expanded = call_method(K[n_expanduser], args, 2);
    return expanded && bind(n_CONFIG_PATH, expanded.get()) == 0;
}

// Lines 23, 31, 43, 58 and 62: the def statements, one per function of the
// table, each at its function's first line. 0, or the line of the def that
// failed.
int define_functions()
{
    const auto& K = module_state.constants;
    for (int i = 0; i < code_object_count; ++i) {
        ScriptFunction& def = script_functions[i];
        auto function = runtime::native_function_new(
            &def.method, K[def.name], K[n_scripts_git_credential_kestrune],
            runtime::state.module_dict, module_state.code_objects[i]);
        if (!function || bind(def.name, function.get()) < 0) {
            return def.code.first_line();
        }
    }
    return 0;
}

// Line 68: action = sys.argv[1] if len(sys.argv) > 1 else "get".
bool bind_action()
{
    const auto& K = module_state.constants;
    auto argv = [&]() -> Owned<> {
        auto sys = runtime::lookup_global(K[n_sys]);
        return sys ? runtime::lookup_attr(sys.get(), K[n_argv]) : Owned<>();
    };
    Owned<> action;
    {
        auto args = argv();
        if (!args) {
            return false;
        }
        const Py_ssize_t n = PyObject_Size(args.get());
        if (n < 0) {
            return false;
        }
        if (n <= 1) {
            action = runtime::borrow(K[n_get]);
        }
    }
    if (!action) {
        auto args = argv();
        if (!args) {
            return false;
        }
        action = runtime::item_at_one(args.get());
        if (!action) {
            return false;
        }
    }
    return bind(n_action, action.get()) == 0;
}

struct Dispatch {
    Const word;
    Const command;
    int test_line;
};

constexpr Dispatch dispatch_table[] = {
    {n_get, n_cmd_get, 69},
    {n_store, n_cmd_store, 71},
    {n_erase, n_cmd_erase, 73},
};

// Lines 69 to 74. 0, or the failing line.
int dispatch()
{
    const auto& K = module_state.constants;
    for (const auto& d : dispatch_table) {
        auto action = runtime::lookup_global(K[n_action]);
        if (!action) {
            return d.test_line;
        }
        const int equal = runtime::str_equals(action.get(), K[d.word]);
        if (equal < 0) {
            return d.test_line;
        }
        if (!equal) {
            continue;
        }
        const int call_line = d.test_line + 1;
        auto command = runtime::lookup_global(K[d.command]);
        if (!command) {
            return call_line;
        }
        PyObject* args[] = {nullptr};
        auto result = runtime::call_fast(command.get(), args + 1, PY_VECTORCALL_ARGUMENTS_OFFSET);
        return result ? 0 : call_line;
    }
    return 0;
}

} // namespace

int run_module_body()
{
    const auto& K = module_state.constants;
    if (!import_modules()) {
        return 19;
    }
    if (!bind_config_path()) {
        return 21;
    }
    if (int line = define_functions()) {
        return line;
    }

    {  // line 67
        auto name = runtime::lookup_global(K[n___name__]);
        if (!name) {
            return 67;
        }
        const int is_main = runtime::str_equals(name.get(), K[n___main__]);
        if (is_main < 0) {
            return 67;
        }
        if (is_main) {
            if (!bind_action()) {
                return 68;
            }
            if (int line = dispatch()) {
                return line;
            }
        }
    }

    auto test = steal(PyDict_New());  // line 1
    if (!test || bind(n___test__, test.get()) < 0) {
        return 1;
    }
    return 0;
}

} // namespace kestrune
