/* A frozen module whose code objects are laid out in the launcher's data,
   written by launcher/freeze/deep_freeze.py and made ready on its first
   import by launcher/freeze/deep_frozen_code.cpp. C, as the generated table
   is. */
#pragma once

#include <Python.h>

#ifdef __cplusplus
extern "C" {
#endif

struct kestrune_deep_frozen_module {
    /* Every code object of the module, its own last. */
    PyCodeObject* const* code;
    int code_count;
    /* The frozenset constants: the tuple slot that holds each, and its
       items as a static tuple, which stands in the slot until the set is
       made (a set's table depends on the hashes of its items, which are
       made anew in every process). */
    PyObject** const* set_slots;
    PyObject* const* set_items;
    int set_count;
    /* Run-time state, zero in the table: whether the module's objects are
       ready in the running interpreter; whether they are on the list of
       what the interpreter's finalisation gives back (from the first
       attempt to make them ready, so that what an attempt that failed half
       way made is given back too), and the next module on it; whether they
       were ever given back (a later start quickens them again, see
       deep_frozen_code.cpp). */
    int ready;
    int listed;
    struct kestrune_deep_frozen_module* next_listed;
    int finalised;
};

/* The module's code object, made ready on the first call: a new reference,
   or NULL with an exception set. */
PyObject* kestrune_deep_frozen_code(struct kestrune_deep_frozen_module* module);

/* Gives back what the modules made ready gained in the interpreter that is
   being finalised (done once, at the point CPython does it for its own
   static code). */
void kestrune_release_deep_frozen_modules(void);

#ifdef __cplusplus
}
#endif
