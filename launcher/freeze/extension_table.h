/* The table of the standard library's extension modules that a launcher run
   imports, written by launcher/freeze/freeze_modules.py beside the frozen
   modules and read by launcher/process/extension_preload.cpp. C, as the
   generated table is. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

struct kestrune_extension_module {
    const char* name;          /* the module's import name: "zlib" */
    const char* file_name;     /* its file in lib-dynload */
    const char* init_function; /* its entry point: "PyInit_zlib" */
};

/* Ended by an entry of nulls. */
extern const struct kestrune_extension_module kestrune_preloaded_extensions[];

#ifdef __cplusplus
}
#endif
