// libFuzzer harness: one credential request and one configuration file per
// input, answered by cmd_get in an embedded CPython 3.12.
//
// Input layout: the request comes first; the first "\n--\n" ends it (its line
// feed stays with the request) and whatever follows is the configuration
// file. An input without the separator is a request with no configuration
// file at all. The request can thus hold any bytes except that one sequence,
// which only shapes lines that the helper skips anyway.
//
// The checks live in cmd_get_driver.py, next to this file: it swaps the
// interpreter's standard streams for in-memory ones that encode and decode as
// the launcher's do, calls cmd_get, and raises AssertionError when the answer
// is anything but nothing or exactly the answer the rules allow. Any
// exception from the driver aborts, so libFuzzer keeps the input.
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "embedded_interpreter.hpp"
#include "owned.hpp"

PyMODINIT_FUNC PyInit_git_credential_kestrune();

namespace {

using runtime::Owned;
using runtime::steal;

constexpr std::string_view config_separator = "\n--\n";

// The driver's check(request, config) function; lives as long as the process.
PyObject* check_one = nullptr;

// The directory that holds the configuration file of the current input.
std::filesystem::path scratch_dir;

[[noreturn]] void fail(const char* what)
{
    if (PyErr_Occurred()) {
        PyErr_Print();
    }
    std::fprintf(stderr, "fuzz_cmd_get: %s\n", what);
    std::abort();
}

void start_interpreter()
{
    // Objects come from malloc, so that AddressSanitizer sees every object
    // our code touches and LeakSanitizer sees an object whose last reference
    // was lost.
    PyPreConfig preconfig;
    PyPreConfig_InitIsolatedConfig(&preconfig);
    preconfig.utf8_mode = 1;
    preconfig.allocator = PYMEM_ALLOCATOR_MALLOC;
    PyStatus status = Py_PreInitialize(&preconfig);
    if (PyStatus_Exception(status)) {
        Py_ExitStatusException(status);
    }

    // The module is linked in, as it is in the launcher.
    if (PyImport_AppendInittab("git_credential_kestrune", PyInit_git_credential_kestrune) < 0) {
        fail("cannot register the module");
    }

    start_embedded_interpreter(false);  // libFuzzer owns the signals
}

// Runs the driver file and returns its check function after setup(directory).
PyObject* load_driver()
{
    auto io = steal(PyImport_ImportModule("io"));
    if (!io) {
        return nullptr;
    }
    auto source = steal(PyObject_CallMethod(io.get(), "open_code", "s", KESTRUNE_FUZZ_DRIVER));
    if (!source) {
        return nullptr;
    }
    auto text = steal(PyObject_CallMethod(source.get(), "read", nullptr));
    auto closed = steal(PyObject_CallMethod(source.get(), "close", nullptr));
    if (!text || !closed) {
        return nullptr;
    }
    auto code = steal(Py_CompileString(PyBytes_AsString(text.get()), KESTRUNE_FUZZ_DRIVER, Py_file_input));
    if (!code) {
        return nullptr;
    }
    auto globals = steal(PyDict_New());
    auto name = steal(PyUnicode_FromString("cmd_get_driver"));
    if (!globals || !name || PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins()) < 0 ||
        PyDict_SetItemString(globals.get(), "__name__", name.get()) < 0) {
        return nullptr;
    }
    auto ran = steal(PyEval_EvalCode(code.get(), globals.get(), globals.get()));
    if (!ran) {
        return nullptr;
    }
    auto setup = runtime::borrow(PyDict_GetItemString(globals.get(), "setup"));
    auto check = runtime::borrow(PyDict_GetItemString(globals.get(), "check"));
    if (!setup || !check) {
        PyErr_SetString(PyExc_RuntimeError, "the driver defines no setup() or check()");
        return nullptr;
    }
    auto done = steal(PyObject_CallFunction(setup.get(), "s", scratch_dir.c_str()));
    return done ? check.release() : nullptr;
}

void remove_scratch_dir()
{
    std::error_code ignored;
    std::filesystem::remove_all(scratch_dir, ignored);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrune-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        fail("cannot make a scratch directory");
    }
    scratch_dir = pattern;
    std::atexit(remove_scratch_dir);

    start_interpreter();
    check_one = load_driver();
    if (!check_one) {
        fail("cannot load the driver");
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find(config_separator);
    const std::string_view request = input.substr(0, split == input.npos ? size : split + 1);

    auto request_bytes = steal(PyBytes_FromStringAndSize(request.data(), static_cast<Py_ssize_t>(request.size())));
    Owned<> config_bytes;
    if (split == input.npos) {
        config_bytes = runtime::borrow(Py_None);
    } else {
        const std::string_view config = input.substr(split + config_separator.size());
        config_bytes = steal(PyBytes_FromStringAndSize(config.data(), static_cast<Py_ssize_t>(config.size())));
    }
    if (!request_bytes || !config_bytes) {
        fail("cannot make the input objects");
    }
    auto checked = steal(PyObject_CallFunctionObjArgs(check_one, request_bytes.get(), config_bytes.get(), nullptr));
    if (!checked) {
        fail("check failed");
    }
    return 0;
}
