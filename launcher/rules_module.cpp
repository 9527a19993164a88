#include "rules_module.hpp"

#include <string_view>

#include "config_file_rules.hpp"
#include "token_rules.hpp"

namespace launcher {

using runtime::Owned;
using runtime::steal;

namespace {

PyObject* check_config_file(PyObject*, PyObject* path)
{
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(path, &encoded)) {
        return nullptr;
    }
    auto bytes = steal(encoded);
    const auto refusal = kestrune::check_config_file(PyBytes_AS_STRING(bytes.get()));
    if (refusal == kestrune::ConfigRefusal::none) {
        Py_RETURN_NONE;
    }
    return Py_BuildValue("(ss)", kestrune::refusal_name(refusal), kestrune::describe(refusal));
}

PyObject* token_is_acceptable(PyObject*, PyObject* token)
{
    if (!PyUnicode_Check(token)) {
        PyErr_Format(PyExc_TypeError, "token must be str, not %.100s", Py_TYPE(token)->tp_name);
        return nullptr;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(token, &size);
    if (!text) {
        // A lone surrogate has no UTF-8 form; no acceptable token holds one.
        PyErr_Clear();
        Py_RETURN_FALSE;
    }
    return PyBool_FromLong(kestrune::token_is_acceptable(std::string_view(text, static_cast<std::size_t>(size))));
}

PyMethodDef rules_methods[] = {
    {"check_config_file", check_config_file, METH_O,
     "check_config_file(path)\n\nNone when the config file at `path` may be read, else (name, reason)."},
    {"token_is_acceptable", token_is_acceptable, METH_O,
     "token_is_acceptable(token)\n\nWhether the helper hands out `token`."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef rules_definition = {
    PyModuleDef_HEAD_INIT, rules_module_name,
    "The helper's rules for the config file and the token.", -1, rules_methods,
};

} // namespace

Owned<> make_rules_module()
{
    return steal(PyModule_Create(&rules_definition));
}

} // namespace launcher
