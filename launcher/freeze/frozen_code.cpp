// Loading a frozen module's code and giving back the pages it was read from.
//
// The marshalled code of the larger frozen modules (enum, collections,
// re._parser, functools: 40 to 80 KiB each) is read once, when the module is
// imported, and never again. Its pages are file-backed and clean, so after
// the code object is made they are dropped from the process: they no longer
// count towards its resident size, and a second read (an import after the
// module was removed from sys.modules) faults them back in from the file.
#include "freeze/frozen_code.hpp"

#include <marshal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

extern "C" PyObject* kestrune_load_frozen_code(const unsigned char* data, int size)
{
    PyObject* code = PyMarshal_ReadObjectFromString(reinterpret_cast<const char*>(data), size);
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + static_cast<std::uintptr_t>(size)) & ~(page - 1);
    if (begin < end) {
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
    }
    return code;
}
