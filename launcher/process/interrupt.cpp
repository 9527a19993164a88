#include "process/interrupt.hpp"

#include <Python.h>

namespace launcher {

namespace {

// Set by note_sigint; read once the run is over.
volatile sig_atomic_t sigint_noted = 0;
// The interpreter's SIGINT handler, which note_sigint hands the signal on to.
void (*interpreter_handler)(int) = nullptr;

// Runs in signal context: only a flag and the interpreter's own handler,
// which is written to run there.
void note_sigint(int signal_number)
{
    sigint_noted = 1;
    interpreter_handler(signal_number);
}

bool is_function(void (*handler)(int))
{
    return handler != SIG_DFL && handler != SIG_IGN && handler != SIG_ERR;
}

} // namespace

HeldInterrupt::HeldInterrupt()
{
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigprocmask(SIG_BLOCK, &held, &previous_);
}

HeldInterrupt::~HeldInterrupt()
{
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

void note_interrupts()
{
    const PyOS_sighandler_t handler = PyOS_getsig(SIGINT);
    if (is_function(handler) && handler != note_sigint) {
        interpreter_handler = handler;
        PyOS_setsig(SIGINT, note_sigint);
    }
}

bool interrupted_until_now()
{
    if (is_function(PyOS_getsig(SIGINT))) {
        PyOS_setsig(SIGINT, SIG_DFL);
    }
    return sigint_noted != 0;
}

} // namespace launcher
