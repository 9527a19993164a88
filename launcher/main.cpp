// git-credential-kestrune: the executable that git runs as a credential
// helper. It embeds CPython 3.12 and runs the helper module as the main
// module with this process's command line.
#include <Python.h>

#include "finish_run.hpp"
#include "followup.hpp"
#include "interpreter.hpp"
#include "main_module.hpp"
#include "options.hpp"

int main(int argc, char** argv)
{
    if (argc > 1 && argv[1]) {
        if (auto status = launcher::answer_option(argc, argv)) {
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

    launcher::Followup followup(argc, argv);
    const int exit_status = launcher::run_main_module();
    followup.after_run(exit_status);
    return launcher::finish_run(exit_status);
}
