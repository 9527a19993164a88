// The script's five functions: name, def line, locals, location table and
// native entry of each, read by the exec step (code objects) and the module
// body (function objects).
#include "credential_commands.hpp"
#include "module_script.hpp"

namespace kestrune {

constinit ScriptFunction script_functions[code_object_count] = {
    script_function(n__read_token, 23, {n_f, n_cfg}, linetable__read_token,
                    {"_read_token", _read_token, METH_NOARGS, "_read_token()"}),
    script_function(n__parse_input, 31, {n_data, n_line, n_k, n__, n_v}, linetable__parse_input,
                    {"_parse_input", _parse_input, METH_NOARGS,
                     "_parse_input()\n\nParse the key=value lines git sends on stdin."}),
    script_function(n_cmd_get, 43, {n_data, n_host, n_token}, linetable_cmd_get,
                    {"cmd_get", cmd_get, METH_NOARGS, "cmd_get()"}),
    script_function(n_cmd_store, 58, {}, linetable_cmd_store_erase,
                    {"cmd_store", cmd_store_erase, METH_NOARGS, "cmd_store()"}),
    script_function(n_cmd_erase, 62, {}, linetable_cmd_store_erase,
                    {"cmd_erase", cmd_store_erase, METH_NOARGS, "cmd_erase()"}),
};

} // namespace kestrune
