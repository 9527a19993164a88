// The interpreter's configuration.
//
// A credential helper must not run code that its environment supplies, so
// nothing outside the launcher and its runtime decides what runs: no PYTHON*
// variables, no site or user site-packages, no current directory on sys.path,
// and the standard library taken from the runtime that set_runtime_location
// names rather than searched for.
#include "process/interpreter.hpp"

#include <unistd.h>

#include <cstddef>

#if defined(KESTRUNE_HAVE_INTERPRETER_FROZEN)
#include "freeze/interpreter_frozen.hpp"
#endif
#include "process/extension_preload.hpp"
#include "process/path_buffer.hpp"
#include "process/pattern_cache.hpp"
#include "process/prefault.hpp"
#include "process/runtime_location.hpp"

#if defined(KESTRUNE_FROZEN_MODULES)
// The pure-Python standard-library modules that a run imports, compiled into
// the launcher at build time (launcher/freeze/freeze_modules.py). The frozen importer
// comes before the path finder, so they are never read from disk; the
// standard library's own files are still the source that tracebacks show.
extern "C" const _frozen kestrune_frozen_modules[];
#endif

namespace launcher {

namespace {

PyStatus preinitialize()
{
    PyPreConfig preconfig;
    PyPreConfig_InitIsolatedConfig(&preconfig);
    // Git speaks bytes. UTF-8 mode decodes the command line, the home
    // directory and the standard streams the same way under every locale, and
    // with surrogate escapes so that any byte sequence round-trips.
    preconfig.utf8_mode = 1;
#if defined(__SANITIZE_ADDRESS__)
    // Objects come from malloc in sanitizer builds, so that AddressSanitizer
    // sees overruns of them in our own code.
    preconfig.allocator = PYMEM_ALLOCATOR_MALLOC;
#endif
    return Py_PreInitialize(&preconfig);
}

// The launcher's own file, or an empty string without /proc.
PathBuffer own_path()
{
    PathBuffer path{};
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
        path[0] = '\0';
    } else {
        path[static_cast<std::size_t>(length)] = '\0';
    }
    return path;
}

// Sets config.executable to the launcher's own file, so that the path
// computation does not search PATH for argv[0], and the runtime from it.
// Without /proc the interpreter computes the executable as usual.
PyStatus set_executable_and_runtime(PyConfig& config, PathBuffer& extension_folder)
{
    const PathBuffer path = own_path();
    if (path[0] != '\0') {
        const PyStatus status = PyConfig_SetBytesString(&config, &config.executable, path.data());
        if (PyStatus_Exception(status)) {
            return status;
        }
    }
    return set_runtime_location(config, path.data(), extension_folder);
}

PyStatus configure(PyConfig& config, int argc, char** argv, PathBuffer& extension_folder)
{
    PyConfig_InitIsolatedConfig(&config);
    config.isolated = 1;
    config.use_environment = 0;
    config.user_site_directory = 0;
    config.site_import = 0;
    config.safe_path = 1;
    config.parse_argv = 0;
    // As `python` does: SIGPIPE ignored, so a reader that goes away gives
    // BrokenPipeError rather than a silent kill, and SIGINT raises
    // KeyboardInterrupt.
    config.install_signal_handlers = 1;
#if defined(KESTRUNE_TRACE_IMPORTS)
    // The build's import tracer: every import reported on stderr, which is
    // how the bundle learns what a run loads.
    config.verbose = 1;
#endif

    PyStatus status = PyConfig_SetBytesArgv(&config, argc, argv);
    if (PyStatus_Exception(status)) {
        return status;
    }
    status = PyConfig_SetString(&config, &config.stdio_encoding, L"utf-8");
    if (PyStatus_Exception(status)) {
        return status;
    }
    status = PyConfig_SetString(&config, &config.stdio_errors, L"surrogateescape");
    if (PyStatus_Exception(status)) {
        return status;
    }
    return set_executable_and_runtime(config, extension_folder);
}

// Runs the main phase of the initialisation (sys.path, the codecs, the
// standard streams, the signal handlers) with the collector already off.
// Initialised with `_init_main` cleared, the interpreter stops after its core
// phase: it exists, with its builtins, sys and the import system's frozen
// bootstrap, but has run none of the main phase, where most of the
// start-up's collections happen. The bootstrap's own code runs one more,
// which only the stand-in for CPython's deep-frozen modules can prevent
// (collector_off_from_creation). Both names are CPython's provisional
// multi-phase initialisation (PEP 587), which the build checks for
// (KESTRUNE_HAVE_CORE_INIT); a CPython that ran the main phase anyway only
// gets the collector disabled after it, as without the check.
PyStatus finish_initialisation_without_collector()
{
    PyGC_Disable();
#if defined(KESTRUNE_HAVE_CORE_INIT)
    if (!Py_IsInitialized()) {
        return _Py_InitializeMain();
    }
#endif
    return PyStatus_Ok();
}

} // namespace

PyStatus start_interpreter(int argc, char** argv, StartFor start_for)
{
#if defined(KESTRUNE_FROZEN_MODULES)
    PyImport_FrozenModules = kestrune_frozen_modules;
#endif
    PyStatus status = preinitialize();
    if (PyStatus_Exception(status)) {
        return status;
    }
    prefault_object_arenas();
    PyConfig config;
    PathBuffer extension_folder{};
    status = configure(config, argc, argv, extension_folder);
    const bool credential_action = start_for == StartFor::credential_action;
#if defined(KESTRUNE_HAVE_INTERPRETER_FROZEN)
    collector_off_from_creation = credential_action;
#endif
#if defined(KESTRUNE_HAVE_CORE_INIT)
    if (credential_action) {
        config._init_main = 0;
    }
#endif
    if (!PyStatus_Exception(status)) {
        preload_extension_modules(extension_folder.data());
        status = Py_InitializeFromConfig(&config);
    }
    PyConfig_Clear(&config);
    if (!PyStatus_Exception(status) && credential_action) {
        status = finish_initialisation_without_collector();
        if (!PyStatus_Exception(status)) {
            seed_pattern_cache();
        }
    }
    return status;
}

} // namespace launcher
