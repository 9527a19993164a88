#include "interrupted_exit.hpp"

#include <unistd.h>

namespace launcher {

int exit_by_sigint()
{
    std::signal(SIGINT, SIG_DFL);
    kill(getpid(), SIGINT);
    return interrupted_status;
}

} // namespace launcher
