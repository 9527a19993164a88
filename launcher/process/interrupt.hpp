// Ctrl-C during a credential run. Whenever it comes, the run ends by SIGINT
// (finish_run.hpp), as `python` ends after an unhandled KeyboardInterrupt, so
// that git and the shell see that the helper was interrupted.
#pragma once

#include <signal.h>

namespace launcher {

// Blocks SIGINT for its lifetime, over a step that a KeyboardInterrupt must
// not break halfway. A Ctrl-C meanwhile stays pending and is delivered when
// it ends, to whatever handler is set by then.
class HeldInterrupt {
public:
    HeldInterrupt();
    ~HeldInterrupt();
    HeldInterrupt(const HeldInterrupt&) = delete;
    HeldInterrupt& operator=(const HeldInterrupt&) = delete;

private:
    sigset_t previous_;
};

// Once the interpreter has set its SIGINT handler: every SIGINT is noted
// here as well before it goes on to that handler, which makes it a
// KeyboardInterrupt at the next point where Python code runs. Python code
// does not always let one through (one raised in a weak reference callback
// or a destructor is only printed), and native code may never look; the note
// stays. Call it with SIGINT held.
void note_interrupts();

// Whether a SIGINT was noted. From this call on SIGINT takes its default
// action, which ends the process by SIGINT as the run would end, so none is
// lost between this answer and the end of the process. A handler set to
// ignore SIGINT is kept.
bool interrupted_until_now();

} // namespace launcher
