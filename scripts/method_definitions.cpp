#include "credential_commands.hpp"

namespace kestrune {

PyMethodDef script_methods[5] = {
    {"_read_token", _read_token, METH_NOARGS, "_read_token()"},
    {"_parse_input", _parse_input, METH_NOARGS,
     "_parse_input()\n\nParse the key=value lines git sends on stdin."},
    {"cmd_get", cmd_get, METH_NOARGS, "cmd_get()"},
    {"cmd_store", cmd_store_erase, METH_NOARGS, "cmd_store()"},
    {"cmd_erase", cmd_store_erase, METH_NOARGS, "cmd_erase()"},
};

} // namespace kestrune
