// Garbage collection of function objects: traversal and clearing
// in their field orders, deallocation, weak references and cycles.
#include <Python.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "function_call_slots.hpp"
#include "function_test_support.hpp"

namespace {

using namespace function_test;
using test_support::take_exception;

// The object fields of the record, by label.
enum Field {
    closure, module, dict, name, qualname, doc, globals, code, mm_class, positional, keyword,
    annotations, marker, holder, field_count
};

const char* const field_names[field_count] = {
    "func_closure", "m_module",  "__dict__",           "func_name",       "func_qualname",
    "func_doc",     "func_globals", "func_code",        "mm_class",        "positional_defaults",
    "keyword_defaults", "func_annotations", "coroutine_marker", "defaults_holder"};

PyObject** field_slot(NativeFunction* op, int field)
{
    switch (field) {
    case closure: return &op->func_closure;
    case module: return &op->base.func.m_module;
    case name: return &op->func_name;
    case qualname: return &op->func_qualname;
    case doc: return &op->func_doc;
    case globals: return &op->func_globals;
    case code: return &op->func_code;
    case mm_class: return reinterpret_cast<PyObject**>(&op->base.mm_class);
    case positional: return &op->positional_defaults;
    case keyword: return &op->keyword_defaults;
    case annotations: return &op->func_annotations;
    case marker: return &op->coroutine_marker;
    case holder: return &op->defaults_holder;
    default: return nullptr;  // the managed dictionary has no field
    }
}

class FunctionGc : public FunctionTest {
protected:
    void SetUp() override
    {
        FunctionTest::SetUp();
        ns = run_python(
            "import gc, weakref\n"
            "class Obj:\n"
            "    pass\n",
            {});
        ASSERT_TRUE(ns);
    }

    Owned<> new_obj() { return Owned<>::steal(PyObject_CallNoArgs(get(ns, "Obj"))); }

    void collect()
    {
        Owned<> r = Owned<>::steal(PyObject_CallMethod(get(ns, "gc"), "collect", nullptr));
        ASSERT_TRUE(r);
    }

    // Fills every object field of `f` (and its dictionary) with an object of
    // its own; returns them by label. The field's reference is the only one.
    std::vector<PyObject*> fill_every_field(PyObject* f)
    {
        NativeFunction* op = as_native_function(f);
        std::vector<PyObject*> objects(field_count, nullptr);
        for (int i = 0; i < field_count; ++i) {
            Owned<> o = new_obj();
            objects[i] = o.get();
            if (i == dict) {
                EXPECT_EQ(PyObject_SetAttrString(f, "attribute", o.get()), 0);
            } else {
                Py_XSETREF(*field_slot(op, i), o.release());
            }
        }
        return objects;
    }

    Owned<> ns;
};

// ---- Traversal --------------------------------------------------------------

struct Visits {
    std::vector<PyObject*> seen;
    int stop_at = -1;  // 1-based call that returns non-zero
};

int record_visit(PyObject* o, void* arg)
{
    auto* v = static_cast<Visits*>(arg);
    v->seen.push_back(o);
    return static_cast<int>(v->seen.size()) == v->stop_at ? 7 : 0;
}

TEST_F(FunctionGc, TraverseVisitsTheFieldsInOrder)
{
    Owned<> f = make(&def_noargs);
    std::vector<PyObject*> objects = fill_every_field(f.get());
    PyObject* instance_dict = PyObject_GenericGetDict(f.get(), nullptr);
    ASSERT_NE(instance_dict, nullptr);
    Py_DECREF(instance_dict);

    Visits v;
    EXPECT_EQ(runtime::native_function_traverse(f.get(), record_visit, &v), 0);
    const std::vector<PyObject*> expected = {
        objects[closure],    objects[module],  instance_dict,        objects[doc],
        objects[globals],    objects[mm_class], objects[positional], objects[keyword],
        objects[annotations], objects[marker], objects[holder]};
    EXPECT_EQ(v.seen, expected);
    // func_name, func_qualname and func_code are not visited.
    for (int skipped : {name, qualname, code}) {
        for (PyObject* seen : v.seen) {
            EXPECT_NE(seen, objects[skipped]) << field_names[skipped];
        }
    }
}

TEST_F(FunctionGc, TraverseStopsAtTheFirstNonZeroResult)
{
    Owned<> f = make(&def_noargs);
    fill_every_field(f.get());
    for (int stop = 1; stop <= 11; ++stop) {
        Visits v;
        v.stop_at = stop;
        EXPECT_EQ(runtime::native_function_traverse(f.get(), record_visit, &v), 7) << stop;
        EXPECT_EQ(static_cast<int>(v.seen.size()), stop);
    }
}

TEST_F(FunctionGc, TraverseSkipsEmptyFields)
{
    Owned<> f = make(&def_noargs);
    Visits v;
    EXPECT_EQ(runtime::native_function_traverse(f.get(), record_visit, &v), 0);
    NativeFunction* op = as_native_function(f.get());
    const std::vector<PyObject*> expected = {op->base.func.m_module, op->func_globals};
    EXPECT_EQ(v.seen, expected);
}

// ---- Clearing -----------------------------------------------------------------

struct Released {
    int field;
    bool field_was_empty;
};
std::vector<Released> released;
NativeFunction* clearing = nullptr;

PyObject* on_release(PyObject* label, PyObject* /*ref*/)
{
    const int field = static_cast<int>(PyLong_AsLong(label));
    PyObject** slot = field_slot(clearing, field);
    // The name fields hold the empty str instead of NULL.
    const bool empty =
        !slot || !*slot || (PyUnicode_Check(*slot) && PyUnicode_GET_LENGTH(*slot) == 0);
    released.push_back({field, empty});
    Py_RETURN_NONE;
}

PyMethodDef on_release_def{"on_release", on_release, METH_O, nullptr};

TEST_F(FunctionGc, ClearEmptiesEachFieldBeforeReleasingItInOrder)
{
    Owned<> f = make(&def_noargs);
    std::vector<PyObject*> objects = fill_every_field(f.get());
    std::vector<Owned<>> refs;
    for (int i = 0; i < field_count; ++i) {
        Owned<> label = Owned<>::steal(PyLong_FromLong(i));
        Owned<> callback = Owned<>::steal(PyCFunction_New(&on_release_def, label.get()));
        refs.push_back(Owned<>::steal(PyWeakref_NewRef(objects[i], callback.get())));
        ASSERT_TRUE(refs.back());
    }
    Owned<> self_ref = Owned<>::steal(PyWeakref_NewRef(f.get(), nullptr));
    NativeFunction* op = as_native_function(f.get());
    PyObject* weakreflist = op->base.func.m_weakreflist;
    ASSERT_NE(weakreflist, nullptr);
    op->func_flags = 12;
    runtime::DefaultsBuilder builder = [](PyObject*) -> PyObject* { return nullptr; };
    op->defaults_builder = builder;

    released.clear();
    clearing = op;
    EXPECT_EQ(runtime::native_function_clear(f.get()), 0);
    clearing = nullptr;

    const int expected[] = {closure, module,   dict,       name,     qualname,    doc,    globals,
                            code,    mm_class, positional, keyword,  annotations, marker, holder};
    ASSERT_EQ(released.size(), std::size(expected));
    for (std::size_t i = 0; i < released.size(); ++i) {
        EXPECT_EQ(released[i].field, expected[i]) << i;
        EXPECT_TRUE(released[i].field_was_empty) << field_names[released[i].field];
    }
    // Every object field is empty but the two names, which hold the empty
    // str; the builder, which would read the cleared holder, is gone; the
    // other pointer and integer fields are untouched.
    for (int i = 0; i < field_count; ++i) {
        if (PyObject** slot = field_slot(op, i); slot && i != name && i != qualname) {
            EXPECT_EQ(*slot, nullptr) << field_names[i];
        }
    }
    EXPECT_EQ(str_of(op->func_name), "");
    EXPECT_EQ(str_of(op->func_qualname), "");
    EXPECT_EQ(op->base.func.m_ml, &def_noargs);
    EXPECT_EQ(op->base.func.m_self, f.get());
    EXPECT_EQ(op->base.func.m_weakreflist, weakreflist);
    EXPECT_EQ(op->base.func.vectorcall, runtime::vectorcall_noargs);
    EXPECT_EQ(op->func_flags, 12);
    EXPECT_EQ(op->defaults_builder, nullptr);
    // The managed dictionary is gone too: a new, empty one is made on demand.
    Owned<> d = Owned<>::steal(PyObject_GenericGetDict(f.get(), nullptr));
    ASSERT_TRUE(d);
    EXPECT_EQ(PyDict_GET_SIZE(d.get()), 0);
}

TEST_F(FunctionGc, EveryReaderWorksOnAClearedFunction)
{
    // A finaliser of the cycle that held the function may still reach it.
    Owned<> f = make(&def_varargs_keywords);
    as_native_function(f.get())->func_flags = runtime::FUNC_METHOD;
    EXPECT_EQ(runtime::native_function_clear(f.get()), 0);
    Owned<> ns = run_python(
        "seen = (f.__name__, f.__qualname__, f.__globals__, f.__code__, f.__defaults__,\n"
        "        f.__kwdefaults__, f.__module__, f.__reduce__(), repr(f)[:18])\n"
        "try:\n"
        "    f()\n"
        "except TypeError as e:\n"
        "    message = str(e)\n",
        {{"f", f.get()}});
    ASSERT_TRUE(ns);
    EXPECT_EQ(str_of(get(ns, "seen")),
              "('', '', None, None, None, None, None, '', '<native function  ')");
    EXPECT_EQ(str_of(get(ns, "message")), "unbound method () needs an argument");
}

// ---- Deallocation ----------------------------------------------------------------

TEST_F(FunctionGc, DeallocClearsWeakReferencesAndReleasesTheType)
{
    const Py_ssize_t type_refs = Py_REFCNT(runtime::state.function_type);
    const Py_ssize_t globals_refs = Py_REFCNT(runtime::state.module_dict);
    Owned<> f = make(&def_noargs);
    EXPECT_EQ(Py_REFCNT(runtime::state.function_type), type_refs + 1);
    Owned<> r = run_python(
        "called = []\n"
        "ref = weakref.ref(f, called.append)\n"
        "ref2 = weakref.ref(f)\n"
        "del f\n",
        {{"weakref", get(ns, "weakref")}, {"f", f.get()}});
    ASSERT_TRUE(r);
    f.reset();
    Owned<> dead = Owned<>::steal(PyObject_CallNoArgs(get(r, "ref")));
    EXPECT_EQ(dead.get(), Py_None);
    EXPECT_EQ(PyList_GET_SIZE(get(r, "called")), 1);
    EXPECT_EQ(Py_REFCNT(runtime::state.function_type), type_refs);
    EXPECT_EQ(Py_REFCNT(runtime::state.module_dict), globals_refs);
}

TEST_F(FunctionGc, DeallocOfAnObjectWithEveryFieldFilled)
{
    Owned<> f = make(&def_noargs);
    std::vector<PyObject*> objects = fill_every_field(f.get());
    std::vector<Owned<>> refs;
    for (PyObject* o : objects) {
        refs.push_back(Owned<>::steal(PyWeakref_NewRef(o, nullptr)));
    }
    f.reset();
    for (const Owned<>& ref : refs) {
        EXPECT_EQ(PyWeakref_GetObject(ref.get()), Py_None);
    }
}

// ---- Cycles ------------------------------------------------------------------------

TEST_F(FunctionGc, IsTrackedFromCreation)
{
    Owned<> f = make(&def_noargs);
    EXPECT_TRUE(PyObject_GC_IsTracked(f.get()));
}

TEST_F(FunctionGc, CycleThroughItsOwnDictIsCollected)
{
    Owned<> f = make(&def_noargs);
    Owned<> r = run_python(
        "f.me = f\n"
        "called = []\n"
        "ref = weakref.ref(f, called.append)\n"
        "del f\n",
        {{"weakref", get(ns, "weakref")}, {"f", f.get()}});
    ASSERT_TRUE(r);
    f.reset();
    Owned<> alive = Owned<>::steal(PyObject_CallNoArgs(get(r, "ref")));
    EXPECT_NE(alive.get(), Py_None);  // the cycle keeps it
    alive.reset();
    collect();
    Owned<> dead = Owned<>::steal(PyObject_CallNoArgs(get(r, "ref")));
    EXPECT_EQ(dead.get(), Py_None);
    EXPECT_EQ(PyList_GET_SIZE(get(r, "called")), 1);
}

TEST_F(FunctionGc, CyclesThroughEveryVisitedAttributeAreCollected)
{
    const char* const cycles[] = {
        "f.__module__ = [f]",
        "f.__doc__ = [f]",
        "f.__defaults__ = (f,)",
        "f.__kwdefaults__ = {'a': f}",
        "f.__annotations__ = {'a': f}",
        "f.__dict__ = {'a': f}",
        "f.func_dict['b'] = [f]",
    };
    for (const char* cycle : cycles) {
        Owned<> f = make(&def_noargs);
        const std::string source =
            std::string("import warnings\n"
                        "with warnings.catch_warnings():\n"
                        "    warnings.simplefilter('ignore')\n"
                        "    ") +
            cycle +
            "\n"
            "ref = weakref.ref(f)\n"
            "del f\n";
        Owned<> r = run_python(source.c_str(), {{"weakref", get(ns, "weakref")}, {"f", f.get()}});
        ASSERT_TRUE(r) << cycle;
        f.reset();
        collect();
        Owned<> dead = Owned<>::steal(PyObject_CallNoArgs(get(r, "ref")));
        EXPECT_EQ(dead.get(), Py_None) << cycle;
    }
}

TEST_F(FunctionGc, CycleThroughTheDefiningClassIsCollected)
{
    Owned<> f = make(&def_method);
    Owned<> r = run_python(
        "class Owner:\n"
        "    pass\n"
        "Owner.method = f\n"
        "ref = weakref.ref(f)\n"
        "del f\n",
        {{"weakref", get(ns, "weakref")}, {"f", f.get()}});
    ASSERT_TRUE(r);
    as_native_function(f.get())->base.mm_class =
        reinterpret_cast<PyTypeObject*>(Py_NewRef(get(r, "Owner")));
    ASSERT_EQ(PyDict_DelItemString(r.get(), "Owner"), 0);
    f.reset();
    collect();
    Owned<> dead = Owned<>::steal(PyObject_CallNoArgs(get(r, "ref")));
    EXPECT_EQ(dead.get(), Py_None);
}

} // namespace
