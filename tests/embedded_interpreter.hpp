// Starts the interpreter that a test, benchmark or fuzz program embeds:
// isolated from the environment, with the standard library of the CPython
// prefix recorded at build time (the CPYTHON_PREFIX definition), so the
// program runs the same from any directory. Exits the process on failure.
#pragma once

#include <Python.h>

inline void start_embedded_interpreter(bool install_signal_handlers = true)
{
    PyConfig config;
    PyConfig_InitIsolatedConfig(&config);
    config.install_signal_handlers = install_signal_handlers ? 1 : 0;
    PyStatus status = PyConfig_SetBytesString(&config, &config.home, CPYTHON_PREFIX);
    if (!PyStatus_Exception(status)) {
        status = Py_InitializeFromConfig(&config);
    }
    PyConfig_Clear(&config);
    if (PyStatus_Exception(status)) {
        Py_ExitStatusException(status);
    }
}
