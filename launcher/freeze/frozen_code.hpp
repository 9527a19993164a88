// The loader of the launcher's larger frozen modules, named by the generated
// table (launcher/freeze/freeze_modules.py) as their `get_code` entry.
#pragma once

#include <Python.h>

// Unmarshals the code object held in `data` (`size` bytes, laid out on whole
// pages) and drops the pages that it fills from the process's memory. Returns
// a new reference, or NULL with an exception set.
extern "C" PyObject* kestrune_load_frozen_code(const unsigned char* data, int size);
