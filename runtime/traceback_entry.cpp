// Traceback entries for failures inside the module's native functions: a
// frame that names the script file, the function and the failing line.
#include "traceback_entry.hpp"

#include <frameobject.h>

#include <cstddef>

#include "code_cache.hpp"
#include "owned.hpp"
#include "runtime_state.hpp"

namespace runtime {

namespace {

static_assert(PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030D0000,
              "the frame record below is CPython 3.12's");

// CPython 3.12's frame object. A frame made here never executes, so the line
// it reports has to be written into its record, and the interpreter offers no
// call for that: the record is declared only in its internal headers, which
// cannot be included outside the interpreter's own build. The layout is
// copied from there; the fields we never touch keep `f_lineno` where the
// interpreter reads it. The assertion pins the 64-bit layout of 3.12, so a
// change of record shows up at compile time rather than as a stray write.
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
              "CPython 3.12 frame record on a 64-bit platform");

void set_frame_line(PyFrameObject* frame, int line)
{
    reinterpret_cast<FrameRecord*>(frame)->f_lineno = line;
}

// The code object of an entry at `line`: the cached one, or a new one that
// is then cached. NULL with an exception set when it cannot be made.
Owned<> entry_code(const char* funcname, int line, const char* filename)
{
    if (auto cached = code_cache_find(funcname, line)) {
        return cached;
    }
    auto code = steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(filename, funcname, line)));
    if (code) {
        code_cache_insert(line, code.get());
    }
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
    // The code and frame constructors must not run with an exception pending:
    // the frame's reads of the globals take any pending exception for a
    // failure of their own. The one being raised is put aside and restored
    // with the traceback it had. If the code object or the frame cannot be
    // made, that failure is what gets raised, and no entry is added.
    auto exc = steal(PyErr_GetRaisedException());
    auto traceback = steal(PyException_GetTraceback(exc.get()));
    auto code = entry_code(funcname, line, filename);
    if (!code) {
        return;
    }
    auto frame = steal(PyFrame_New(_PyThreadState_UncheckedGet(),
                                   reinterpret_cast<PyCodeObject*>(code.get()), state.module_dict,
                                   nullptr));
    if (!frame) {
        return;
    }
    if (auto now = steal(PyException_GetTraceback(exc.get())); now.get() != traceback.get()) {
        PyException_SetTraceback(exc.get(), traceback ? traceback.get() : Py_None);
    }
    PyErr_SetRaisedException(exc.release());
    set_frame_line(frame.get(), line);
    PyTraceBack_Here(frame.get());
}

} // namespace runtime
