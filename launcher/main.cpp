// git-credential-kestrune: the executable that git runs as a credential
// helper. It embeds CPython 3.12 and runs the helper module as the main
// module with this process's command line.
#include <Python.h>

#include "finish_run.hpp"
#include "interpreter.hpp"
#include "interrupted_exit.hpp"
#include "main_module.hpp"
#include "options.hpp"
#include "process_hardening.hpp"

int main(int argc, char** argv)
{
    if (!launcher::harden_process()) {
        return 1;
    }
    if (argc > 1 && argv[1]) {
        if (auto status = launcher::answer_option(argv[1])) {
            return *status;
        }
    }

    const PyStatus status = launcher::start_interpreter(argc, argv);
    if (PyStatus_Exception(status)) {
        Py_ExitStatusException(status);
    }

    // A run answers one request in a few milliseconds and makes no reference
    // cycle that needs collecting before the process ends; the collections
    // that the imports alone would trigger take about 3% of it.
    PyGC_Disable();

    const int exit_status = launcher::finish_run(launcher::run_main_module());
    return exit_status == launcher::interrupted_status ? launcher::exit_by_sigint() : exit_status;
}
