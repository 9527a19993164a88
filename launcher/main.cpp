// git-credential-kestrune: the executable that git runs as a credential
// helper. It embeds CPython 3.12 and runs the helper module as the main
// module with this process's command line.
#include <Python.h>

#include "followup/followup.hpp"
#include "process/finish_run.hpp"
#include "process/interrupt.hpp"
#include "process/interpreter.hpp"
#include "process/main_module.hpp"
#include "process/process_hardening.hpp"
#include "tools/command_line.hpp"

int main(int argc, char** argv)
{
    // The launcher's own options run where they were started: --status looks
    // at the repository there and --setup --local edits its config. Every
    // credential action runs hardened.
    if (auto status = launcher::answer_option(argc, argv)) {
        return *status;
    }
    if (!launcher::harden_process()) {
        return 1;
    }

    // The start fails on a KeyboardInterrupt from the imports it runs: Ctrl-C
    // waits until it is over, and is noted from then on. A run answers one
    // request in a few milliseconds and makes no reference cycle that needs
    // collecting before the process ends, so the collections that the
    // start-up and the imports would trigger are work for nothing
    // (process/interpreter.hpp).
    PyStatus status;
    {
        const launcher::HeldInterrupt held;
        status = launcher::start_interpreter(argc, argv, launcher::StartFor::credential_action);
        launcher::note_interrupts();
    }
    if (PyStatus_Exception(status)) {
        Py_ExitStatusException(status);
    }

    launcher::Followup followup(argc, argv);
    const int run_status = followup.after_run(launcher::run_main_module());
    const int exit_status = launcher::finish_run(run_status);
    return exit_status == launcher::interrupted_status ? launcher::exit_by_sigint() : exit_status;
}
