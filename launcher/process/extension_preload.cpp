// Loading the standard library's extension modules that every run imports
// before the interpreter starts.
//
// A run imports zlib and _json. Found by the path finder, each costs a
// search of sys.path's folders and a look at their listings before the file
// in lib-dynload is loaded. The build's run lists them with their files
// (launcher/freeze/freeze_modules.py); the launcher loads each file from the
// lib-dynload folder that the path finder would take it from, the runtime's,
// and registers its entry point as a built-in module, so that its import
// takes the built-in importer instead of a search. What differs for such a
// module: its __spec__.origin is "built-in", its loader the built-in
// importer, it has no __file__, and sys.builtin_module_names names it. A file
// that cannot be loaded, or has no entry point, is left to the path finder,
// as before.
//
// The build's import tracer (KESTRUNE_TRACE_IMPORTS) registers nothing: it
// must see these modules loaded from their files, or the bundle would leave
// them out.
#include "process/extension_preload.hpp"

#include <Python.h>

#if defined(KESTRUNE_FROZEN_MODULES) && !defined(KESTRUNE_TRACE_IMPORTS)
#include <dlfcn.h>

#include "freeze/extension_table.h"
#endif

namespace launcher {

void preload_extension_modules(const char* extension_folder)
{
#if defined(KESTRUNE_FROZEN_MODULES) && !defined(KESTRUNE_TRACE_IMPORTS)
    if (extension_folder[0] == '\0') {
        return;
    }
    for (const auto* entry = kestrune_preloaded_extensions; entry->name; entry++) {
        PathBuffer path{};
        if (!join(path, {extension_folder, entry->file_name})) {
            continue;
        }
        // The interpreter's own flags for extension modules
        // (sys.getdlopenflags()).
        void* library = dlopen(path.data(), RTLD_NOW);
        if (!library) {
            dlerror();
            continue;
        }
        auto* init = reinterpret_cast<PyObject* (*)()>(dlsym(library, entry->init_function));
        if (!init) {
            dlerror();
            dlclose(library);
            continue;
        }
        // Fails only when out of memory; the module is then found on disk.
        PyImport_AppendInittab(entry->name, init);
    }
#else
    (void)extension_folder;
#endif
}

} // namespace launcher
