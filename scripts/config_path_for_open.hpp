// The path that _read_token hands to open(), once the file it names has
// passed the configuration file rules (config_file_rules.hpp).
#pragma once

#include <Python.h>

#include "owned.hpp"

namespace kestrune {

// Takes CONFIG_PATH as open() would: a str, bytes or os.PathLike, whose
// __fspath__ is called once here. On 1, `path` holds the str or bytes path
// to open, and the file it names meets the rules. 0 when the file is refused
// (no exception set). -1 with an exception set when CONFIG_PATH names no path
// at all, as open() would fail for it: a file descriptor (an int) is refused
// that way, with TypeError, and so is any object that is not a path.
int config_path_for_open(PyObject* config_path, runtime::Owned<>& path);

} // namespace kestrune
