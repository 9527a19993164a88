#include "process/finish_run.hpp"

#include <Python.h>
#include <unistd.h>

#include "owned.hpp"
#include "process/interrupt.hpp"

namespace launcher {

using runtime::steal;

namespace {

// Whether the module `name` is in sys.modules; an error counts as loaded, so
// that the interpreter is finalised as usual.
bool module_loaded(const char* name)
{
    PyObject* modules = PyImport_GetModuleDict();
    PyObject* module = modules ? PyDict_GetItemString(modules, name) : nullptr;
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return true;
    }
    return module != nullptr;
}

// Whether `stream` is closed, as the interpreter tests it at shutdown: a
// stream whose `closed` cannot be read counts as open.
bool stream_closed(PyObject* stream)
{
    auto closed = steal(PyObject_GetAttrString(stream, "closed"));
    const int truth = closed ? PyObject_IsTrue(closed.get()) : -1;
    if (truth < 0) {
        PyErr_Clear();
        return false;
    }
    return truth == 1;
}

// Flushes sys.<name> as Py_FinalizeEx does; -1 when that failed, after
// reporting the error as unraisable when `report` is set, else dropping it.
// Ctrl-C during the flush is no failure of the output to report: the run
// ends by SIGINT.
int flush_stream(const char* name, bool report)
{
    // Held across `closed` and `flush`, which may run code that rebinds
    // sys.<name>.
    auto stream = runtime::borrow(PySys_GetObject(name));
    if (!stream || stream.get() == Py_None || stream_closed(stream.get())) {
        return 0;
    }
    if (auto result = steal(PyObject_CallMethod(stream.get(), "flush", nullptr))) {
        return 0;
    }
    if (report && !PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) {
        PyErr_WriteUnraisable(stream.get());
    } else {
        PyErr_Clear();
    }
    return -1;
}

} // namespace

int finish_run(int exit_status)
{
    if (module_loaded("atexit") || module_loaded("threading")) {
        const int status = Py_FinalizeEx() < 0 ? 120 : exit_status;
        return interrupted_until_now() ? interrupted_status : status;
    }
    // Output that cannot be written is reported on stderr, which is flushed
    // second so the report reaches it.
    const int stdout_status = flush_stream("stdout", true);
    const int stderr_status = flush_stream("stderr", false);
    if (exit_status == interrupted_status || interrupted_until_now()) {
        return interrupted_status;
    }
    return stdout_status < 0 || stderr_status < 0 ? 120 : exit_status;
}

int exit_by_sigint()
{
    std::signal(SIGINT, SIG_DFL);
    kill(getpid(), SIGINT);
    return interrupted_status;
}

} // namespace launcher
