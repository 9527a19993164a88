// Making a deep-frozen module's code objects ready on its first import, and
// giving back what they gained when the interpreter is finalised.
//
// The build lays out each frozen module's code objects in the launcher's
// data (launcher/freeze/deep_freeze.py), with their bytecode quickened as the
// compiler's is. What cannot be laid out rests on the hashes of strings,
// which each process makes anew: interned strings and frozensets. The first
// import of a module does both, as unmarshalling its code would: it interns
// the strings that the compiler interns (names, local names, constants made
// of name characters only, the code's name) and makes its frozenset
// constants. It also gives each code object a version from the
// interpreter's counter, as every new code object gets one: the interpreter
// tells functions apart by it when it specialises calls.
//
// At finalisation the objects give back what the run left in them:
// CPython's _PyStaticCode_Fini, which it runs on its own static code objects
// at the same point, undoes their specialisations (they name types and
// functions of the interpreter that is ending) and frees their caches, and
// the frozensets are released. A later interpreter of the same process
// quickens them again (_PyStaticCode_Init) at their first import. The
// launcher ends the process after a finalisation; what matters there is that
// nothing of a finished interpreter stays reachable from the launcher's data.
//
// The point in the finalisation is the one where CPython releases its own
// static code: after the interpreter's modules and objects are cleared, when
// it clears the audit hooks and tells them so with the audit event
// "cpython._PySys_ClearAuditHooks". A hook of ours, added at the first
// import of a deep-frozen module, hears it.

// _PyStaticCode_Init, _PyStaticCode_Fini and the code-object version
// counter are internal to CPython; the build checks for them
// (KESTRUNE_DEEP_FROZEN in launcher/freeze/CMakeLists.txt).
#define Py_BUILD_CORE 1
#include "freeze/deep_frozen_module.h"

#include "internal/pycore_code.h"

#include <cstring>

#include "owned.hpp"

namespace {

using runtime::steal;

// The modules that hold objects of the running interpreter, last first.
kestrune_deep_frozen_module* listed_modules = nullptr;
bool finalisation_hook_added = false;

// Whether `text` is made of ASCII letters, digits and underscores only: the
// string constants that the compiler interns.
bool name_characters_only(PyObject* text)
{
    if (!PyUnicode_IS_ASCII(text)) {
        return false;
    }
    const Py_UCS1* characters = PyUnicode_1BYTE_DATA(text);
    for (Py_ssize_t i = 0; i < PyUnicode_GET_LENGTH(text); i++) {
        if (!Py_ISALNUM(characters[i]) && characters[i] != '_') {
            return false;
        }
    }
    return true;
}

// Interns the string in `slot`, which then holds the interpreter's one
// string of that text (an earlier interned one, or this one). Most are
// interned already: the interpreter's own identifiers, and strings that
// another tuple of the table holds too.
void intern(PyObject** slot)
{
    if (!PyUnicode_CHECK_INTERNED(*slot)) {
        PyUnicode_InternInPlace(slot);
    }
}

void intern_names(PyObject* names)
{
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(names); i++) {
        intern(&PyTuple_GET_ITEM(names, i));
    }
}

// The string constants made of name characters, in the tuples of
// `constants` too, and in the items of its frozensets, which are tuples
// until the sets are made.
void intern_constants(PyObject* constants)
{
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(constants); i++) {
        PyObject* item = PyTuple_GET_ITEM(constants, i);
        if (PyUnicode_CheckExact(item) && name_characters_only(item)) {
            intern(&PyTuple_GET_ITEM(constants, i));
        } else if (PyTuple_CheckExact(item)) {
            intern_constants(item);
        }
    }
}

void intern_strings(PyCodeObject* code)
{
    intern_names(code->co_names);
    intern_names(code->co_localsplusnames);
    intern_constants(code->co_consts);
    // The compiler's name of a code object is the interned identifier, and a
    // function's qualified name, when it is the bare name, the same object.
    PyObject* name = code->co_name;
    intern(&code->co_name);
    if (code->co_qualname == name) {
        code->co_qualname = code->co_name;
    }
}

// Replaces the items standing in each frozenset constant's slot by the set.
// A slot that already holds its set (a module that failed half way, or a
// constant shared with a module made ready before) is left as it is.
int make_sets(const kestrune_deep_frozen_module* module)
{
    for (int i = 0; i < module->set_count; i++) {
        PyObject** slot = module->set_slots[i];
        if (PyFrozenSet_CheckExact(*slot)) {
            continue;
        }
        auto set = steal(PyFrozenSet_New(module->set_items[i]));
        if (!set) {
            return -1;
        }
        PyObject* items = *slot;
        *slot = set.release();
        Py_DECREF(items);
    }
    return 0;
}

// Puts the items back in place of each set, and releases the set.
void release_sets(const kestrune_deep_frozen_module* module)
{
    for (int i = 0; i < module->set_count; i++) {
        PyObject** slot = module->set_slots[i];
        if (PyFrozenSet_CheckExact(*slot)) {
            PyObject* set = *slot;
            *slot = Py_NewRef(module->set_items[i]);
            Py_DECREF(set);
        }
    }
}

void release_module(kestrune_deep_frozen_module* module)
{
    release_sets(module);
    for (int i = 0; i < module->code_count; i++) {
        _PyStaticCode_Fini(module->code[i]);
    }
    module->ready = 0;
    module->listed = 0;
    module->finalised = 1;
}

int on_audit_event(const char* event, PyObject*, void*)
{
    if (std::strcmp(event, "cpython._PySys_ClearAuditHooks") == 0) {
        kestrune_release_deep_frozen_modules();
        // The interpreter drops every hook after this event.
        finalisation_hook_added = false;
    }
    return 0;
}

int make_ready(kestrune_deep_frozen_module* module)
{
    // Listed before it gains anything, so that the sets an attempt made
    // before it failed are given back at finalisation, retried or not.
    if (!module->listed) {
        module->listed = 1;
        module->next_listed = listed_modules;
        listed_modules = module;
    }
    // Without the hook (another hook refused it), the objects keep what the
    // run left in them when the interpreter is finalised: harmless to a
    // process that ends then, as the launcher does.
    if (!finalisation_hook_added) {
        finalisation_hook_added = PySys_AddAuditHook(on_audit_event, nullptr) == 0;
        PyErr_Clear();
    }
    for (int i = 0; i < module->code_count; i++) {
        intern_strings(module->code[i]);
    }
    if (make_sets(module) < 0) {
        return -1;
    }
    for (int i = 0; i < module->code_count; i++) {
        PyCodeObject* code = module->code[i];
        // The bytecode was laid out quickened; finalisation undid that.
        if (module->finalised && _PyStaticCode_Init(code) < 0) {
            return -1;
        }
        if (code->co_version == 0) {
            code->co_version = _Py_next_func_version;
            if (_Py_next_func_version != 0) {
                _Py_next_func_version++;
            }
        }
    }
    module->ready = 1;
    return 0;
}

} // namespace

extern "C" void kestrune_release_deep_frozen_modules()
{
    for (auto* module = listed_modules; module; module = module->next_listed) {
        release_module(module);
    }
    listed_modules = nullptr;
}

extern "C" PyObject* kestrune_deep_frozen_code(kestrune_deep_frozen_module* module)
{
    if (!module->ready && make_ready(module) < 0) {
        return nullptr;
    }
    return Py_NewRef(reinterpret_cast<PyObject*>(module->code[module->code_count - 1]));
}
