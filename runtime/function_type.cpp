// The shared function type `native_function_or_method`: the layout
// promises of the NativeFunction record, the type specs of the type and
// its metatype, creation of function objects, binding, and the
// garbage-collection operations.
#include <Python.h>
#include <structmember.h>  // T_OBJECT

#include <cstddef>
#include <string_view>
#include <type_traits>

#include "function_type.hpp"

#include "function_attributes.hpp"
#include "function_call_slots.hpp"
#include "owned.hpp"
#include "runtime_state.hpp"

namespace runtime {

// ---------------------------------------------------------------------------
// Layout of the record.
//
// NativeFunction begins with the interpreter's PyCMethodObject, so code that
// knows built-in functions (the lookup and call helpers among
// them) finds m_ml and m_self where a built-in function has them.

static_assert(std::is_standard_layout_v<NativeFunction>);
static_assert(std::is_same_v<decltype(NativeFunction::base), PyCMethodObject>);
static_assert(offsetof(NativeFunction, base) == 0);
static_assert(offsetof(NativeFunction, base.func) == 0);
static_assert(offsetof(NativeFunction, base.func.ob_base) == 0);
static_assert(offsetof(NativeFunction, base.func.m_ml) == offsetof(PyCFunctionObject, m_ml));
static_assert(offsetof(NativeFunction, base.func.m_self) == offsetof(PyCFunctionObject, m_self));
static_assert(offsetof(NativeFunction, base.func.m_module) ==
              offsetof(PyCFunctionObject, m_module));
static_assert(offsetof(NativeFunction, base.func.m_weakreflist) ==
              offsetof(PyCFunctionObject, m_weakreflist));
static_assert(offsetof(NativeFunction, base.func.vectorcall) ==
              offsetof(PyCFunctionObject, vectorcall));
static_assert(offsetof(NativeFunction, base.mm_class) == offsetof(PyCMethodObject, mm_class));

// Our own fields follow the interpreter's record, in their declared order.
static_assert(offsetof(NativeFunction, func_name) >= sizeof(PyCMethodObject));
static_assert(offsetof(NativeFunction, func_name) < offsetof(NativeFunction, func_qualname));
static_assert(offsetof(NativeFunction, func_qualname) < offsetof(NativeFunction, func_doc));
static_assert(offsetof(NativeFunction, func_doc) < offsetof(NativeFunction, func_globals));
static_assert(offsetof(NativeFunction, func_globals) < offsetof(NativeFunction, func_code));
static_assert(offsetof(NativeFunction, func_code) < offsetof(NativeFunction, func_closure));
static_assert(offsetof(NativeFunction, func_closure) < offsetof(NativeFunction, defaults_holder));
static_assert(offsetof(NativeFunction, defaults_holder) < offsetof(NativeFunction, func_flags));
static_assert(offsetof(NativeFunction, func_flags) <
              offsetof(NativeFunction, positional_defaults));
static_assert(offsetof(NativeFunction, positional_defaults) <
              offsetof(NativeFunction, keyword_defaults));
static_assert(offsetof(NativeFunction, keyword_defaults) <
              offsetof(NativeFunction, defaults_builder));
static_assert(offsetof(NativeFunction, defaults_builder) <
              offsetof(NativeFunction, func_annotations));
static_assert(offsetof(NativeFunction, func_annotations) <
              offsetof(NativeFunction, coroutine_marker));
static_assert(offsetof(NativeFunction, coroutine_marker) + sizeof(PyObject*) <=
              sizeof(NativeFunction));
static_assert(sizeof(NativeFunction::func_flags) == 4 &&
              std::is_signed_v<decltype(NativeFunction::func_flags)>);

namespace {

// The masked method flags that choose an object's vectorcall entry.
constexpr int call_flag_mask =
    METH_VARARGS | METH_KEYWORDS | METH_NOARGS | METH_O | METH_FASTCALL | METH_METHOD;
static_assert(call_flag_mask == 0x28f);

} // namespace

// ---------------------------------------------------------------------------
// Creation.

Owned<> native_function_new(PyMethodDef* ml, PyObject* qualname, PyObject* module,
                            PyObject* globals, PyObject* code)
{
    auto owned = steal(PyObject_GC_New(NativeFunction, state.function_type));
    if (!owned) {
        return {};
    }
    NativeFunction* op = owned.get();
    PyCFunctionObject& cf = op->base.func;
    op->func_flags = 0;
    cf.m_weakreflist = nullptr;
    cf.m_ml = ml;
    cf.m_self = owned.obj();  // not a counted reference
    op->func_closure = nullptr;
    cf.m_module = Py_XNewRef(module);
    op->func_name = nullptr;
    op->func_qualname = Py_NewRef(qualname);
    op->func_doc = nullptr;
    op->base.mm_class = nullptr;
    op->func_globals = Py_NewRef(globals);
    op->func_code = Py_XNewRef(code);
    op->defaults_holder = nullptr;
    op->positional_defaults = nullptr;
    op->keyword_defaults = nullptr;
    op->defaults_builder = nullptr;
    op->func_annotations = nullptr;
    op->coroutine_marker = nullptr;

    switch (ml->ml_flags & call_flag_mask) {
    case METH_VARARGS | METH_KEYWORDS:
        cf.vectorcall = nullptr;  // calls go through native_function_call
        break;
    case METH_NOARGS:
        cf.vectorcall = vectorcall_noargs;
        break;
    case METH_O:
        cf.vectorcall = vectorcall_o;
        break;
    case METH_FASTCALL | METH_KEYWORDS:
        cf.vectorcall = vectorcall_fastcall_keywords;
        break;
    case METH_METHOD | METH_FASTCALL | METH_KEYWORDS:
        cf.vectorcall = vectorcall_fastcall_keywords_method;
        break;
    default:
        cf.vectorcall = nullptr;
        PyErr_SetString(PyExc_SystemError, "Bad call flags for NativeFunction");
        return {};  // deallocation copes with the untracked object
    }
    // Tracked only now: the collector never sees a half-filled record.
    PyObject_GC_Track(op);
    return steal(reinterpret_cast<PyObject*>(owned.release()));
}

// ---------------------------------------------------------------------------
// Binding.

PyObject* native_function_descr_get(PyObject* func, PyObject* obj, PyObject* /*type*/)
{
    if (!obj) {
        return Py_NewRef(func);
    }
    return PyMethod_New(func, obj);
}

// ---------------------------------------------------------------------------
// Garbage collection.

int native_function_clear(PyObject* func)
{
    NativeFunction* op = as_native_function(func);
    Py_CLEAR(op->func_closure);
    Py_CLEAR(op->base.func.m_module);
    _PyObject_ClearManagedDict(func);
    // The name fields stay str, as the interpreter's own functions keep them:
    // code that still holds a cleared function (a finaliser of the cycle it
    // was part of) may read __name__, __qualname__ or its repr. The empty str
    // is the interpreter's immortal singleton, so this never fails.
    Py_XSETREF(op->func_name, PyUnicode_New(0, 0));
    Py_XSETREF(op->func_qualname, PyUnicode_New(0, 0));
    Py_CLEAR(op->func_doc);
    Py_CLEAR(op->func_globals);
    Py_CLEAR(op->func_code);
    Py_CLEAR(op->base.mm_class);
    Py_CLEAR(op->positional_defaults);
    Py_CLEAR(op->keyword_defaults);
    Py_CLEAR(op->func_annotations);
    Py_CLEAR(op->coroutine_marker);
    Py_CLEAR(op->defaults_holder);
    // The builder reads the holder just cleared: __defaults__ reads None now.
    op->defaults_builder = nullptr;
    return 0;
}

int native_function_traverse(PyObject* func, visitproc visit, void* arg)
{
    NativeFunction* op = as_native_function(func);
    Py_VISIT(op->func_closure);
    Py_VISIT(op->base.func.m_module);
    if (int r = _PyObject_VisitManagedDict(func, visit, arg)) {
        return r;
    }
    Py_VISIT(op->func_doc);
    Py_VISIT(op->func_globals);
    Py_VISIT(op->base.mm_class);
    Py_VISIT(op->positional_defaults);
    Py_VISIT(op->keyword_defaults);
    Py_VISIT(op->func_annotations);
    Py_VISIT(op->coroutine_marker);
    Py_VISIT(op->defaults_holder);
    return 0;
}

void native_function_dealloc(PyObject* func)
{
    PyObject_GC_UnTrack(func);
    if (as_native_function(func)->base.func.m_weakreflist) {
        PyObject_ClearWeakRefs(func);
    }
    native_function_clear(func);
    // The two empty names that clear left behind.
    Py_CLEAR(as_native_function(func)->func_name);
    Py_CLEAR(as_native_function(func)->func_qualname);
    // The allocator took a reference to the (heap) type; the type may go only
    // once the memory is freed.
    PyTypeObject* type = Py_TYPE(func);
    PyObject_GC_Del(func);
    Py_DECREF(type);
}

// ---------------------------------------------------------------------------
// Tables and type specs.

namespace {

// The members table. It is constexpr so that the compiler can check that the
// two offset members name the fields the interpreter will use as each object's
// vectorcall entry and weak-reference list. PyType_FromMetaclass only reads it
// (it copies the entries into the new type).

constexpr PyMemberDef member_table[] = {
    {"__module__", T_OBJECT, offsetof(NativeFunction, base.func.m_module), 0, nullptr},
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(NativeFunction, base.func.vectorcall),
     Py_READONLY, nullptr},
    {"__weaklistoffset__", Py_T_PYSSIZET, offsetof(NativeFunction, base.func.m_weakreflist),
     Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

static_assert(std::string_view(member_table[0].name) == "__module__");
static_assert(member_table[0].type == T_OBJECT && member_table[0].flags == 0);
static_assert(member_table[0].offset == offsetof(NativeFunction, base.func.m_module));

static_assert(std::string_view(member_table[1].name) == "__vectorcalloffset__");
static_assert(member_table[1].type == Py_T_PYSSIZET && member_table[1].flags == Py_READONLY);
static_assert(member_table[1].offset == offsetof(NativeFunction, base.func.vectorcall));
static_assert(member_table[1].offset == offsetof(PyCFunctionObject, vectorcall));

static_assert(std::string_view(member_table[2].name) == "__weaklistoffset__");
static_assert(member_table[2].type == Py_T_PYSSIZET && member_table[2].flags == Py_READONLY);
static_assert(member_table[2].offset == offsetof(NativeFunction, base.func.m_weakreflist));
static_assert(member_table[2].offset == offsetof(PyCFunctionObject, m_weakreflist));

static_assert(member_table[3].name == nullptr);

constexpr unsigned int function_type_flags =
    Py_TPFLAGS_MANAGED_DICT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE |
    Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_HAVE_GC |
    Py_TPFLAGS_METHOD_DESCRIPTOR;
static_assert(function_type_flags == 0x24d90);

constexpr unsigned int metatype_flags = Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE;
static_assert(metatype_flags == 0x180);

PyType_Slot common_metatype_slots[] = {
    {Py_tp_getset, common_metatype_getset},
    {0, nullptr},
};

PyType_Slot function_type_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(native_function_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(native_function_repr)},
    {Py_tp_call, reinterpret_cast<void*>(native_function_call)},
    {Py_tp_traverse, reinterpret_cast<void*>(native_function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(native_function_clear)},
    {Py_tp_methods, native_function_methods},
    {Py_tp_members, const_cast<PyMemberDef*>(member_table)},
    {Py_tp_getset, native_function_getset},
    {Py_tp_descr_get, reinterpret_cast<void*>(native_function_descr_get)},
    {0, nullptr},
};

} // namespace

PyType_Spec common_metatype_spec = {
    "_native_abi_1._common_types_metatype",
    0,
    0,
    metatype_flags,
    common_metatype_slots,
};

PyType_Spec function_type_spec = {
    "_native_abi_1.native_function_or_method",
    static_cast<int>(sizeof(NativeFunction)),
    0,
    function_type_flags,
    function_type_slots,
};

} // namespace runtime
