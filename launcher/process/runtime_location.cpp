// The one place that decides where the standard library comes from.
//
// A bundled launcher (the build option KESTRUNE_BUNDLE) has libpython linked
// in and carries its runtime in lib/git-credential-kestrune under its install
// prefix, laid out as a CPython prefix that holds only what a run reads from
// disk: the pure-Python modules that are not frozen into the launcher, as
// source in lib/python3.12, and the extension modules in its lib-dynload. The
// runtime is the interpreter's home, so the interpreter computes sys.path and
// its standard-library folder from it as for any prefix: every entry lies
// inside the runtime, so a run can neither miss a module silently nor pick
// one up from elsewhere on the machine, and a package frozen into the
// launcher finds its other submodules there. A development build keeps the
// CPython prefix recorded at build time as its fallback, so that it runs from
// the build tree.
#include "process/runtime_location.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <string_view>

namespace launcher {

namespace {

// Relative to the folder that holds the launcher (bin/ when installed).
constexpr std::string_view runtime_dir = "../lib/git-credential-kestrune";
constexpr std::string_view extension_dir = "lib/python3.12/lib-dynload";

#if defined(KESTRUNE_DEVELOPMENT_PREFIX)
constexpr const char development_prefix[] = KESTRUNE_DEVELOPMENT_PREFIX;
#endif

// The folder that holds the launcher at `executable`; empty when the
// launcher's own path is unknown.
std::string_view launcher_folder(std::string_view executable)
{
    const auto slash = executable.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : std::string_view(executable.data(), slash);
}

bool is_directory(const char* path)
{
    struct stat info {};
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

#if defined(KESTRUNE_DEVELOPMENT_PREFIX)
const char runtime_kind[] = "the build machine's runtime (" KESTRUNE_DEVELOPMENT_PREFIX ")";
#else
const char runtime_kind[] = "bundled runtime";
#endif

PyStatus set_runtime_location(PyConfig& config, const char* executable, PathBuffer& extension_folder)
{
    extension_folder[0] = '\0';
    // The bundled runtime has none of the standard library's landmarks (os.py
    // is frozen), which the interpreter would warn about.
    config.pathconfig_warnings = 0;
    const std::string_view folder = launcher_folder(executable);
    PathBuffer runtime{};
    PathBuffer extensions{};
    const bool located = !folder.empty() && join(runtime, {folder, runtime_dir}) &&
                         join(extensions, {folder, runtime_dir, extension_dir});
    if (located && is_directory(extensions.data())) {
        // The runtime belongs to the package manager: no bytecode cache is
        // written beside its sources.
        config.write_bytecode = 0;
        extension_folder = extensions;
        return PyConfig_SetBytesString(&config, &config.home, runtime.data());
    }
#if defined(KESTRUNE_DEVELOPMENT_PREFIX)
    config.pathconfig_warnings = 1;
    join(extension_folder, {development_prefix, extension_dir});
    return PyConfig_SetBytesString(&config, &config.home, development_prefix);
#else
    std::fprintf(stderr, "git-credential-kestrune: its runtime is missing: %s\n",
                 located ? extensions.data() : runtime_dir.data());
    return PyStatus_Exit(1);
#endif
}

} // namespace launcher
