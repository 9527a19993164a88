// The source text of the launcher's Python modules, generated at build time
// from the .py files in this folder (launcher_sources.cpp.in).
#pragma once

#include <cstddef>

namespace launcher {

struct LauncherSource {
    const char* module;  // the name in sys.modules
    const char* file;    // the file name in tracebacks, "<launcher/...>"
    const char* text;
};

// In dependency order: a module imports only modules listed before it.
extern const LauncherSource launcher_sources[];
extern const std::size_t launcher_source_count;

} // namespace launcher
