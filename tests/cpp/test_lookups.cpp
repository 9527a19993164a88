// Name, special-method, import and item lookups as the function bodies and
// the module body use them.
#include <Python.h>
#include <gtest/gtest.h>

#include "import_by_name.hpp"
#include "item_at_one.hpp"
#include "lookup_attr.hpp"
#include "lookup_global.hpp"
#include "lookup_on_type.hpp"
#include "python_test_support.hpp"
#include "runtime_state_fixture.hpp"

namespace {

using runtime::Owned;
using runtime::state;
using test_support::take_exception;
using test_support::utf8;

class Lookups : public test_support::RuntimeStateTest {
protected:
    // The name as the constant table makes it: interned, hash cached.
    static Owned<> name(const char* text)
    {
        auto n = Owned<>::steal(PyUnicode_InternFromString(text));
        EXPECT_NE(PyObject_Hash(n.get()), -1);
        return n;
    }
};

TEST_F(Lookups, GlobalHidesTheBuiltinOfTheSameName)
{
    ASSERT_TRUE(exec("len = 'the global'"));
    auto value = runtime::lookup_global(name("len").get());
    ASSERT_TRUE(value);
    EXPECT_EQ(value.get(), global("len"));

    auto builtin = runtime::lookup_global(name("print").get());
    ASSERT_TRUE(builtin);
    EXPECT_EQ(builtin.get(), PyDict_GetItemString(PyModule_GetDict(state.builtins_module), "print"));
}

TEST_F(Lookups, NameBoundNowhereRaisesNameError)
{
    EXPECT_EQ(runtime::lookup_global(name("no_such_name").get()), nullptr);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "NameError");
    EXPECT_EQ(raised.message, "name 'no_such_name' is not defined");

    EXPECT_EQ(runtime::lookup_builtin(name("no_such_builtin").get()), nullptr);
    raised = take_exception();
    EXPECT_EQ(raised.type, "NameError");
    EXPECT_EQ(raised.message, "name 'no_such_builtin' is not defined");
}

TEST_F(Lookups, GlobalNameWithoutACachedHashIsStillFound)
{
    ASSERT_TRUE(exec("answer = 42"));
    auto fresh = str("answer");
    ASSERT_EQ(reinterpret_cast<PyASCIIObject*>(fresh.get())->hash, -1);
    auto value = runtime::lookup_global(fresh.get());
    ASSERT_TRUE(value);
    EXPECT_EQ(value.get(), global("answer"));
}

TEST_F(Lookups, FailingKeyComparisonInTheGlobalsPropagates)
{
    // A key that collides with the name and whose __eq__ raises: the
    // interpreter reports that error rather than falling back to builtins.
    ASSERT_TRUE(exec("class Clash:\n"
                     "    def __hash__(self): return hash('len')\n"
                     "    def __eq__(self, other): raise ValueError('clash')\n"
                     "globals()[Clash()] = 1\n"));
    EXPECT_EQ(runtime::lookup_global(name("len").get()), nullptr);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "ValueError");
    EXPECT_EQ(raised.message, "clash");
}

TEST_F(Lookups, BuiltinsReadThroughTheGetterOfTheirType)
{
    // A module whose __getattr__ raises something other than AttributeError
    // passes it through; AttributeError becomes NameError.
    ASSERT_TRUE(exec("import types\n"
                     "class Strict(types.ModuleType):\n"
                     "    def __getattr__(self, n):\n"
                     "        if n == 'bad': raise KeyError(n)\n"
                     "        raise AttributeError(n)\n"
                     "strict = Strict('strict')\n"
                     "strict.present = 'here'\n"
                     "class Plain: pass\n"
                     "plain = Plain()\n"
                     "plain.present = 'plain'\n"));
    Py_SETREF(state.builtins_module, Py_NewRef(global("strict")));
    auto found = runtime::lookup_builtin(name("present").get());
    ASSERT_TRUE(found);
    EXPECT_EQ(utf8(found.get()), "here");
    EXPECT_EQ(runtime::lookup_builtin(name("bad").get()), nullptr);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "KeyError");
    EXPECT_EQ(runtime::lookup_builtin(name("absent").get()), nullptr);
    raised = take_exception();
    EXPECT_EQ(raised.type, "NameError");
    EXPECT_EQ(raised.message, "name 'absent' is not defined");

    // An object with the generic getter: a missing name raises no
    // AttributeError on the way to the NameError.
    Py_SETREF(state.builtins_module, Py_NewRef(global("plain")));
    ASSERT_EQ(Py_TYPE(state.builtins_module)->tp_getattro, PyObject_GenericGetAttr);
    found = runtime::lookup_builtin(name("present").get());
    ASSERT_TRUE(found);
    EXPECT_EQ(utf8(found.get()), "plain");
    EXPECT_EQ(runtime::lookup_builtin(name("absent").get()), nullptr);
    raised = take_exception();
    EXPECT_EQ(raised.type, "NameError");
    EXPECT_EQ(raised.message, "name 'absent' is not defined");
}

TEST_F(Lookups, AttributeGoesThroughTheTypeGetter)
{
    ASSERT_TRUE(exec("import os\n"
                     "class Dynamic:\n"
                     "    def __getattr__(self, n): return 'made ' + n\n"
                     "dynamic = Dynamic()\n"));
    auto path = runtime::lookup_attr(global("os"), name("path").get());
    ASSERT_TRUE(path);
    EXPECT_EQ(path.get(), eval("os.path").get());
    auto made = runtime::lookup_attr(global("dynamic"), name("token").get());
    ASSERT_TRUE(made);
    EXPECT_EQ(utf8(made.get()), "made token");
    EXPECT_EQ(runtime::lookup_attr(global("os"), name("no_such_attr").get()), nullptr);
    EXPECT_EQ(take_exception().message, "module 'os' has no attribute 'no_such_attr'");
}

TEST_F(Lookups, SpecialMethodComesFromTheTypeNotTheInstance)
{
    ASSERT_TRUE(exec("class Manager:\n"
                     "    def __enter__(self): return ('type', self)\n"
                     "    __exit__ = 'plain class attribute'\n"
                     "m = Manager()\n"
                     "m.__enter__ = lambda: 'instance'\n"));
    auto enter = runtime::lookup_on_type(global("m"), name("__enter__").get());
    ASSERT_TRUE(enter);
    ASSERT_TRUE(PyMethod_Check(enter.get()));
    auto result = Owned<>::steal(PyObject_CallNoArgs(enter.get()));
    ASSERT_TRUE(result);
    EXPECT_EQ(utf8(PyTuple_GET_ITEM(result.get(), 0)), "type");
    EXPECT_EQ(PyTuple_GET_ITEM(result.get(), 1), global("m"));

    // An attribute without __get__ comes back as it is.
    auto exit = runtime::lookup_on_type(global("m"), name("__exit__").get());
    ASSERT_TRUE(exit);
    EXPECT_EQ(utf8(exit.get()), "plain class attribute");
}

TEST_F(Lookups, MissingSpecialMethodRaisesAttributeErrorWithTheBareName)
{
    auto exit_name = name("__exit__");
    EXPECT_EQ(runtime::lookup_on_type(Py_None, exit_name.get()), nullptr);
    PyObject* exc = PyErr_GetRaisedException();
    ASSERT_NE(exc, nullptr);
    EXPECT_TRUE(PyErr_GivenExceptionMatches(exc, PyExc_AttributeError));
    auto args = Owned<>::steal(PyObject_GetAttrString(exc, "args"));
    ASSERT_TRUE(args && PyTuple_GET_SIZE(args.get()) == 1);
    EXPECT_EQ(PyTuple_GET_ITEM(args.get(), 0), exit_name.get());
    Py_DECREF(exc);
}

TEST_F(Lookups, DottedImportIsAnsweredFromTheModuleRegistry)
{
    // Neither module can be imported for real, so only the registry can
    // answer; the result is the top-level package, as `import a.b` binds it.
    ASSERT_TRUE(exec("import sys, types\n"
                     "pkg = types.ModuleType('kestrune_fake_pkg')\n"
                     "sys.modules['kestrune_fake_pkg'] = pkg\n"
                     "sys.modules['kestrune_fake_pkg.sub'] = types.ModuleType('kestrune_fake_pkg.sub')\n"));
    auto top = runtime::import_by_name(name("kestrune_fake_pkg.sub").get());
    ASSERT_TRUE(top);
    EXPECT_EQ(top.get(), global("pkg"));

    auto os = runtime::import_by_name(name("os.path").get());
    ASSERT_TRUE(os);
    EXPECT_EQ(os.get(), eval("sys.modules['os']").get());
    ASSERT_TRUE(exec("del sys.modules['kestrune_fake_pkg'], sys.modules['kestrune_fake_pkg.sub']"));
}

TEST_F(Lookups, UnregisteredModulesGoThroughTheImportMachinery)
{
    ASSERT_TRUE(exec("import sys\nsys.modules.pop('colorsys', None)"));
    auto colorsys = runtime::import_by_name(name("colorsys").get());
    ASSERT_TRUE(colorsys);
    EXPECT_EQ(colorsys.get(), eval("sys.modules['colorsys']").get());

    EXPECT_EQ(runtime::import_by_name(name("kestrune_no_such_module").get()), nullptr);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "ModuleNotFoundError");
    EXPECT_EQ(raised.message, "No module named 'kestrune_no_such_module'");

    // The submodule is registered but its package is not: the machinery
    // decides, and cannot find the package.
    ASSERT_TRUE(exec("import types\n"
                     "sys.modules['kestrune_orphan.sub'] = types.ModuleType('kestrune_orphan.sub')\n"));
    EXPECT_EQ(runtime::import_by_name(name("kestrune_orphan.sub").get()), nullptr);
    raised = take_exception();
    EXPECT_EQ(raised.type, "ModuleNotFoundError");
    EXPECT_EQ(raised.message, "No module named 'kestrune_orphan'");
    ASSERT_TRUE(exec("del sys.modules['kestrune_orphan.sub']"));
}

TEST_F(Lookups, ItemAtOneOfListsAndTuples)
{
    ASSERT_TRUE(exec("argv = ['helper', 'get']\n"
                     "pair = ('a', 'b')\n"
                     "class Args(list): pass\n"
                     "sub = Args(['x', 'y'])\n"));
    auto item = runtime::item_at_one(global("argv"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item.get(), PyList_GET_ITEM(global("argv"), 1));
    item = runtime::item_at_one(global("pair"));
    ASSERT_TRUE(item);
    EXPECT_EQ(utf8(item.get()), "b");
    item = runtime::item_at_one(global("sub"));
    ASSERT_TRUE(item);
    EXPECT_EQ(utf8(item.get()), "y");
}

TEST_F(Lookups, ItemAtOneOfShortSequencesRaisesTheirIndexError)
{
    ASSERT_TRUE(exec("short = ['helper']\none = ('a',)\n"));
    EXPECT_EQ(runtime::item_at_one(global("short")), nullptr);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "IndexError");
    EXPECT_EQ(raised.message, "list index out of range");
    EXPECT_EQ(runtime::item_at_one(global("one")), nullptr);
    raised = take_exception();
    EXPECT_EQ(raised.type, "IndexError");
    EXPECT_EQ(raised.message, "tuple index out of range");
}

TEST_F(Lookups, ItemAtOneOfMappingsAndOtherObjects)
{
    ASSERT_TRUE(exec("d = {1: 'one', '1': 'text'}\n"
                     "empty = {}\n"
                     "class Seq:\n"
                     "    def __getitem__(self, i): return i * 10\n"
                     "seq = Seq()\n"));
    auto item = runtime::item_at_one(global("d"));
    ASSERT_TRUE(item);
    EXPECT_EQ(utf8(item.get()), "one");
    item = runtime::item_at_one(global("seq"));
    ASSERT_TRUE(item);
    EXPECT_EQ(PyLong_AsLong(item.get()), 10);

    EXPECT_EQ(runtime::item_at_one(global("empty")), nullptr);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "KeyError");
    EXPECT_EQ(raised.message, "1");
    auto number = Owned<>::steal(PyLong_FromLong(5));
    EXPECT_EQ(runtime::item_at_one(number.get()), nullptr);
    raised = take_exception();
    EXPECT_EQ(raised.type, "TypeError");
    EXPECT_EQ(raised.message, "'int' object is not subscriptable");
}

} // namespace
