// Traceback entries for failures inside the module's native functions: a
// frame that names the script file, the function and the failing line.
#include "code_object.hpp"

#include <frameobject.h>

#include <cstddef>

#include "code_cache.hpp"
#include "owned.hpp"
#include "runtime_state.hpp"

namespace runtime {

namespace {

static_assert(PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030D0000,
              "the frame record below is CPython 3.12's");

// CPython 3.12's frame object. Its line field is the only way to give a frame
// that never runs a line of its own, but the record is declared only in the
// interpreter's internal headers, which cannot be included without building
// as part of the core. The layout is copied here; the fields we never touch
// are kept only so that `f_lineno` lands where the interpreter reads it.
struct FrameRecord {
    PyObject_HEAD
    PyFrameObject* f_back;
    void* f_frame;     // struct _PyInterpreterFrame*
    PyObject* f_trace;
    int f_lineno;      // the line PyFrame_GetLineNumber reports when non-zero
    char f_trace_lines;
    char f_trace_opcodes;
    char f_fast_as_locals;
    PyObject* _f_frame_data[1];
};
static_assert(sizeof(void*) != 8 || (offsetof(FrameRecord, f_lineno) == 40 &&
                                     sizeof(FrameRecord) == 56),
              "3.12 frame layout on a 64-bit platform");

void set_frame_line(PyFrameObject* frame, int line)
{
    reinterpret_cast<FrameRecord*>(frame)->f_lineno = line;
}

// The code object of an entry at `line`: the cached one, or a new one that
// is then cached. NULL when it cannot be made; the exception being raised is
// then the failure to make it.
Owned<> entry_code(const char* funcname, int line, const char* filename)
{
    if (PyObject* cached = code_cache_find(line)) {
        return steal(cached);
    }
    // The code constructor must not run with an exception pending, so the
    // one being raised is put aside and restored with the traceback it had.
    auto exc = steal(PyErr_GetRaisedException());
    auto traceback = steal(exc ? PyException_GetTraceback(exc.get()) : nullptr);
    auto code = steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(filename, funcname, line)));
    if (!code) {
        return {};
    }
    if (exc) {
        auto now = steal(PyException_GetTraceback(exc.get()));
        if (now.get() != traceback.get()) {
            PyException_SetTraceback(exc.get(), traceback ? traceback.get() : Py_None);
        }
    }
    PyErr_SetRaisedException(exc.release());
    code_cache_insert(line, code.get());
    return code;
}

} // namespace

void add_traceback_entry(const char* funcname, int line, const char* filename)
{
    // Called on failure paths only; without an exception there is nothing to
    // add the entry to, and PyTraceBack_Here would read a NULL exception.
    if (!PyErr_Occurred()) {
        return;
    }
    auto code = entry_code(funcname, line, filename);
    if (!code) {
        return;
    }
    PyThreadState* thread = _PyThreadState_UncheckedGet();
    auto frame = steal(PyFrame_New(thread, reinterpret_cast<PyCodeObject*>(code.get()),
                                   state.module_dict, nullptr));
    if (!frame) {
        return;
    }
    set_frame_line(frame.get(), line);
    PyTraceBack_Here(frame.get());
}

} // namespace runtime
