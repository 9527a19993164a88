// The interpreter's C recursion guard around a call into native code, with
// its common case inline.
//
// Py_EnterRecursiveCall and Py_LeaveRecursiveCall are out-of-line functions
// that each look the thread state up again. The interpreter's own built-in
// functions read the thread state once and only count down its C recursion
// budget; they go into the full check only when the budget is spent. The
// guard below does the same: one thread-state read and one decrement per
// call, and Py_EnterRecursiveCall, which raises RecursionError, at the limit.
#pragma once

#include <Python.h>

namespace runtime {

// The text the interpreter appends to "maximum recursion depth exceeded".
inline constexpr const char recursion_context[] = " while calling a Python object";

class RecursionGuard {
public:
    RecursionGuard() noexcept : tstate_(_PyThreadState_UncheckedGet()) {}
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;

    // Takes one level of the budget; false with RecursionError set when the
    // limit is reached, and then nothing is taken.
    [[nodiscard]] bool enter() noexcept
    {
        if (tstate_->c_recursion_remaining > 0) {
            --tstate_->c_recursion_remaining;
            return true;
        }
        // At the limit: the interpreter's check decides, raises and keeps the
        // budget as it was when it refuses.
        return Py_EnterRecursiveCall(recursion_context) == 0;
    }

    // Gives back the level that a successful enter() took.
    void leave() noexcept { ++tstate_->c_recursion_remaining; }

private:
    PyThreadState* tstate_;
};

// Runs `call`, which returns a new reference or NULL, under the guard. NULL
// with RecursionError set, and `call` not run, at the limit.
template <class Call>
inline PyObject* call_guarded(Call&& call)
{
    RecursionGuard guard;
    if (!guard.enter()) {
        return nullptr;
    }
    PyObject* result = call();
    guard.leave();
    return result;
}

} // namespace runtime
