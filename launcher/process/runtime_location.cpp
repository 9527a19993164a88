// The one place that decides where the standard library comes from.
//
// A bundled launcher (the build option KESTRUNE_BUNDLE) has libpython linked
// in and carries its runtime in lib/git-credential-kestrune under its install
// prefix, laid out as a CPython prefix that holds only what a run reads from
// disk: the pure-Python modules that are not frozen into the launcher, as
// source in lib/python3.12, and the extension modules in its lib-dynload. The runtime is the interpreter's home, so the interpreter
// computes sys.path and its standard-library folder from it as for any
// prefix: every entry lies inside the runtime, so a run can neither miss a
// module silently nor pick one up from elsewhere on the machine, and a package
// frozen into the launcher finds its other submodules there. A development
// build keeps the CPython prefix recorded at build time as its fallback, so
// that it runs from the build tree.
#include "runtime_location.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace launcher {

namespace {

// Relative to the folder that holds the launcher (bin/ when installed).
constexpr std::string_view runtime_dir = "../lib/git-credential-kestrune";
constexpr std::string_view extension_dir = "lib/python3.12/lib-dynload";

#if defined(KESTRUNE_DEVELOPMENT_PREFIX)
constexpr const char development_prefix[] = KESTRUNE_DEVELOPMENT_PREFIX;
#endif

std::string join(std::string_view folder, std::string_view name)
{
    std::string path(folder);
    path += '/';
    path += name;
    return path;
}

// The runtime folder of the launcher at `executable`; empty when the launcher's
// own path is unknown.
std::string bundled_runtime(std::string_view executable)
{
    const auto slash = executable.rfind('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    return join(executable.substr(0, slash), runtime_dir);
}

bool is_directory(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

PyStatus set_runtime_location(PyConfig& config, const char* executable)
{
    // The bundled runtime has none of the standard library's landmarks (os.py
    // is frozen), which the interpreter would warn about.
    config.pathconfig_warnings = 0;
    const std::string runtime = bundled_runtime(executable);
    if (!runtime.empty() && is_directory(join(runtime, extension_dir))) {
        // The runtime belongs to the package manager: no bytecode cache is
        // written beside its sources.
        config.write_bytecode = 0;
        return PyConfig_SetBytesString(&config, &config.home, runtime.c_str());
    }
#if defined(KESTRUNE_DEVELOPMENT_PREFIX)
    config.pathconfig_warnings = 1;
    return PyConfig_SetBytesString(&config, &config.home, development_prefix);
#else
    std::fprintf(stderr, "git-credential-kestrune: its runtime is missing: %s\n",
                 runtime.empty() ? runtime_dir.data() : join(runtime, extension_dir).c_str());
    return PyStatus_Exit(1);
#endif
}

} // namespace launcher
