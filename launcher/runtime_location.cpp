// The one place that decides where the standard library comes from.
//
// A bundled launcher (the build option KESTRUNE_BUNDLE) has libpython linked
// in and carries its runtime in lib/git-credential-kestrune under its install
// prefix: the extension modules a run loads in lib-dynload, and the
// pure-Python modules it imports, as compiled code in a zip (stored, so that
// reading it needs no zlib), when the build found any. sys.path is exactly
// those two entries, so a run can neither miss a module silently nor pick one
// up from elsewhere on the machine. A development build keeps the CPython
// prefix recorded at build time as its fallback, so that it runs from the
// build tree.
#include "runtime_location.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace launcher {

namespace {

// Relative to the folder that holds the launcher (bin/ when installed).
constexpr std::string_view runtime_dir = "../lib/git-credential-kestrune";
constexpr std::string_view stdlib_archive = "python312.zip";
constexpr std::string_view extension_dir = "lib-dynload";

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

PyStatus append_path(PyConfig& config, const std::string& path)
{
    // The launcher pre-initialises in UTF-8 mode, so this decodes UTF-8 with
    // surrogate escapes, as the interpreter decodes every other path.
    wchar_t* wide = Py_DecodeLocale(path.c_str(), nullptr);
    if (!wide) {
        return PyStatus_NoMemory();
    }
    const PyStatus status = PyWideStringList_Append(&config.module_search_paths, wide);
    PyMem_RawFree(wide);
    return status;
}

PyStatus use_bundled_runtime(PyConfig& config, const std::string& runtime)
{
    PyStatus status = PyConfig_SetBytesString(&config, &config.home, runtime.c_str());
    if (PyStatus_Exception(status)) {
        return status;
    }
    config.module_search_paths_set = 1;
    status = append_path(config, join(runtime, stdlib_archive));
    if (PyStatus_Exception(status)) {
        return status;
    }
    return append_path(config, join(runtime, extension_dir));
}

} // namespace

PyStatus set_runtime_location(PyConfig& config, const char* executable)
{
    // The bundled runtime has no lib/python3.12 landmarks to find; its paths
    // are given, so the search for them would only print warnings.
    config.pathconfig_warnings = 0;
    const std::string runtime = bundled_runtime(executable);
    if (!runtime.empty() && is_directory(join(runtime, extension_dir))) {
        return use_bundled_runtime(config, runtime);
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
