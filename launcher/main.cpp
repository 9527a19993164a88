// git-credential-kestrune: the executable that git runs as a credential
// helper. It embeds CPython 3.12 and runs the helper module as the main
// module with this process's command line.
#include <Python.h>

#include "interpreter.hpp"
#include "main_module.hpp"
#include "options.hpp"

int main(int argc, char** argv)
{
    if (argc > 1 && argv[1]) {
        if (auto status = launcher::answer_option(argv[1])) {
            return *status;
        }
    }

    const PyStatus status = launcher::start_interpreter(argc, argv);
    if (PyStatus_Exception(status)) {
        Py_ExitStatusException(status);
    }

    int exit_status = launcher::run_main_module();
    // As `python`: output that cannot be flushed at shutdown, or any other
    // failure to finalise, gives 120.
    if (Py_FinalizeEx() < 0) {
        exit_status = 120;
    }
    return exit_status;
}
