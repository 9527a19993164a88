// Where the embedded interpreter takes its standard library from.
#pragma once

#include <Python.h>

#include "process/path_buffer.hpp"

namespace launcher {

// Points `config` at the runtime the launcher runs with, given the launcher's
// own file (empty when it could not be read): the bundled runtime in
// ../lib/git-credential-kestrune beside the launcher's folder when its
// lib/python3.12/lib-dynload folder is there, and otherwise, in a development build only,
// the CPython prefix the launcher was built against. A bundled launcher with
// no runtime beside it returns an exit status after saying so on stderr.
// `extension_folder` receives the runtime's lib/python3.12/lib-dynload, from
// which the interpreter loads extension modules (empty when unknown).
PyStatus set_runtime_location(PyConfig& config, const char* executable, PathBuffer& extension_folder);

// The runtime this launcher was built for, in the words of --version:
// "bundled runtime", or "the build machine's runtime (PREFIX)" with the
// CPython prefix a development build falls back to.
extern const char runtime_kind[];

} // namespace launcher
