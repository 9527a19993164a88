#include "process/process_hardening.hpp"

#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace launcher {

namespace {

bool report(const char* what)
{
    std::fprintf(stderr, "git-credential-kestrune: %s: %s\n", what, std::strerror(errno));
    return false;
}

} // namespace

bool make_non_dumpable()
{
    return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 || report("cannot make the process non-dumpable");
}

bool harden_process()
{
    if (!make_non_dumpable()) {
        return false;
    }
    if (chdir("/") != 0) {
        return report("cannot change to /");
    }
    return true;
}

} // namespace launcher
