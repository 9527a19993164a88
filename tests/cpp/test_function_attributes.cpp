// Attributes of function objects: the attribute table and its
// getters and setters, values made on first read, the two warnings, the
// coroutine marker, __reduce__, the representation and the metatype's
// __module__.
#include <Python.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "function_attributes.hpp"
#include "function_test_support.hpp"

namespace {

using namespace function_test;
using runtime::FUNC_COROUTINE;
using test_support::take_exception;
using test_support::utf8;

class FunctionAttributes : public FunctionTest {
protected:
    // Runs `source` with `f` bound; fails the test when it raises.
    static Owned<> run(const char* source, PyObject* f)
    {
        Owned<> ns = run_python(source, {{"f", f}});
        EXPECT_TRUE(ns) << source;
        return ns;
    }

    // The message of the exception that `expression` raises (type checked).
    static std::string raised_by(const char* statement, PyObject* f,
                                 const char* type = "TypeError")
    {
        const std::string source = std::string("try:\n    ") + statement +
                                   "\n    got = None\n"
                                   "except BaseException as e:\n"
                                   "    got = (type(e).__name__, str(e))\n";
        Owned<> ns = run_python(source.c_str(), {{"f", f}});
        if (!ns) {
            return "<raised outside>";
        }
        PyObject* got = get(ns, "got");
        if (got == Py_None) {
            return "<nothing raised>";
        }
        EXPECT_EQ(utf8(PyTuple_GET_ITEM(got, 0)), type) << statement;
        return utf8(PyTuple_GET_ITEM(got, 1));
    }

    static PyObject* attr(const Owned<>& ns, const char* name) { return get(ns, name); }
};

// ---- The tables ---------------------------------------------------------------

TEST_F(FunctionAttributes, AttributeTableInOrder)
{
    const char* const names[] = {
        "func_doc",      "__doc__",      "func_name",    "__name__",    "__qualname__",
        "func_dict",     "__dict__",     "func_globals", "__globals__", "func_closure",
        "__closure__",   "func_code",    "__code__",     "func_defaults", "__defaults__",
        "__kwdefaults__", "__annotations__", "_is_coroutine"};
    const bool writable[] = {true,  true,  true,  true,  true,  true, true, false, false,
                             false, false, false, false, true,  true, true, true,  false};
    PyGetSetDef* table = runtime::native_function_getset;
    std::size_t i = 0;
    for (; table[i].name; ++i) {
        ASSERT_LT(i, std::size(names));
        EXPECT_STREQ(table[i].name, names[i]);
        EXPECT_NE(table[i].get, nullptr) << names[i];
        EXPECT_EQ(table[i].set != nullptr, writable[i]) << names[i];
        EXPECT_EQ(table[i].doc, nullptr) << names[i];
        EXPECT_EQ(table[i].closure, nullptr) << names[i];
    }
    EXPECT_EQ(i, std::size(names));
    // An alias and its double-underscore name share getter and setter.
    for (std::size_t alias : {0, 2, 5, 7, 9, 11, 13}) {
        EXPECT_EQ(table[alias].get, table[alias + 1].get) << table[alias].name;
        EXPECT_EQ(table[alias].set, table[alias + 1].set) << table[alias].name;
    }
    EXPECT_EQ(table[5].get, PyObject_GenericGetDict);
    EXPECT_EQ(table[5].set, PyObject_GenericSetDict);

    PyMethodDef* methods = runtime::native_function_methods;
    EXPECT_STREQ(methods[0].ml_name, "__reduce__");
    EXPECT_EQ(methods[0].ml_flags, METH_VARARGS);
    EXPECT_EQ(methods[0].ml_doc, nullptr);
    EXPECT_EQ(methods[1].ml_name, nullptr);
}

// ---- Name and qualified name ----------------------------------------------------

TEST_F(FunctionAttributes, NameIsMadeOnFirstReadInternedAndKept)
{
    Owned<> f = make(&def_noargs, "Outer.t_noargs");
    NativeFunction* op = as_native_function(f.get());
    EXPECT_EQ(op->func_name, nullptr);
    Owned<> n1 = Owned<>::steal(PyObject_GetAttrString(f.get(), "__name__"));
    ASSERT_TRUE(n1);
    EXPECT_EQ(utf8(n1.get()), "t_noargs");
    EXPECT_TRUE(PyUnicode_CHECK_INTERNED(n1.get()));
    EXPECT_EQ(op->func_name, n1.get());
    Owned<> n2 = Owned<>::steal(PyObject_GetAttrString(f.get(), "func_name"));
    EXPECT_EQ(n2.get(), n1.get());
}

TEST_F(FunctionAttributes, NameFailsWhenTheDefinitionsNameIsNotUtf8)
{
    PyMethodDef def{"bad\xff", as_entry(entry_noargs), METH_NOARGS, nullptr};
    Owned<> f = make(&def, "bad");
    EXPECT_FALSE(Owned<>::steal(PyObject_GetAttrString(f.get(), "__name__")));
    EXPECT_EQ(take_exception().type, "UnicodeDecodeError");
    EXPECT_EQ(as_native_function(f.get())->func_name, nullptr);
}

TEST_F(FunctionAttributes, SettingTheName)
{
    Owned<> f = make(&def_noargs, "Outer.t_noargs");
    Owned<> ns = run(
        "f.__name__ = 'renamed'\n"
        "a = (f.__name__, f.func_name, f.__qualname__)\n"
        "class S(str): pass\n"
        "f.func_name = S('sub')\n"
        "b = (type(f.__name__) is S, f.__name__)\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(str_of(attr(ns, "a")), "('renamed', 'renamed', 'Outer.t_noargs')");
    EXPECT_EQ(str_of(attr(ns, "b")), "(True, 'sub')");
    EXPECT_EQ(raised_by("f.__name__ = 5", f.get()), "__name__ must be set to a string object");
    EXPECT_EQ(raised_by("del f.__name__", f.get()), "__name__ must be set to a string object");
    EXPECT_EQ(raised_by("f.func_name = b'x'", f.get()), "__name__ must be set to a string object");
    Owned<> n = Owned<>::steal(PyObject_GetAttrString(f.get(), "__name__"));
    EXPECT_EQ(utf8(n.get()), "sub");
}

TEST_F(FunctionAttributes, QualifiedName)
{
    Owned<> qualname = Owned<>::steal(PyUnicode_FromString("Outer.inner"));
    Owned<> f = runtime::native_function_new(
        &def_noargs, qualname.get(), nullptr, runtime::state.module_dict, nullptr);
    Owned<> q = Owned<>::steal(PyObject_GetAttrString(f.get(), "__qualname__"));
    EXPECT_EQ(q.get(), qualname.get());
    Owned<> ns = run("f.__qualname__ = 'Other.name'\nq = f.__qualname__\nn = f.__name__\n", f.get());
    EXPECT_EQ(utf8(attr(ns, "q")), "Other.name");
    EXPECT_EQ(utf8(attr(ns, "n")), "t_noargs");
    EXPECT_EQ(raised_by("f.__qualname__ = 5", f.get()),
              "__qualname__ must be set to a string object");
    EXPECT_EQ(raised_by("del f.__qualname__", f.get()),
              "__qualname__ must be set to a string object");
    Owned<> q2 = Owned<>::steal(PyObject_GetAttrString(f.get(), "__qualname__"));
    EXPECT_EQ(utf8(q2.get()), "Other.name");
}

// ---- Documentation -----------------------------------------------------------------

TEST_F(FunctionAttributes, DocIsTheDefinitionsTextMadeOnFirstRead)
{
    static PyMethodDef def{"t_doc", as_entry(entry_noargs), METH_NOARGS,
                           "t_doc()\n\nSays \xE2\x80\x94 this."};
    Owned<> f = make(&def);
    EXPECT_EQ(as_native_function(f.get())->func_doc, nullptr);
    Owned<> ns = run("a = f.__doc__\nb = f.func_doc\n", f.get());
    EXPECT_EQ(utf8(attr(ns, "a")), "t_doc()\n\nSays \xE2\x80\x94 this.");
    EXPECT_EQ(attr(ns, "a"), attr(ns, "b"));
    EXPECT_EQ(as_native_function(f.get())->func_doc, attr(ns, "a"));
}

TEST_F(FunctionAttributes, DocWithoutTextReadsNoneAndStaysEmpty)
{
    Owned<> f = make(&def_o);
    Owned<> ns = run("a = f.__doc__\n", f.get());
    EXPECT_EQ(attr(ns, "a"), Py_None);
    EXPECT_EQ(as_native_function(f.get())->func_doc, nullptr);
}

TEST_F(FunctionAttributes, DocFailsWhenTheTextIsNotUtf8)
{
    static PyMethodDef def{"t_bad_doc", as_entry(entry_noargs), METH_NOARGS, "bad \xff"};
    Owned<> f = make(&def);
    EXPECT_FALSE(Owned<>::steal(PyObject_GetAttrString(f.get(), "__doc__")));
    EXPECT_EQ(take_exception().type, "UnicodeDecodeError");
    EXPECT_EQ(as_native_function(f.get())->func_doc, nullptr);
}

TEST_F(FunctionAttributes, SettingAndDeletingTheDoc)
{
    Owned<> f = make(&def_noargs);
    Owned<> ns = run(
        "del f.__doc__\n"
        "a = f.__doc__\n"
        "f.__doc__ = 5\n"
        "b = (f.__doc__, f.func_doc)\n"
        "f.func_doc = 'text'\n"
        "c = f.__doc__\n"
        "del f.func_doc\n"
        "d = f.__doc__\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(attr(ns, "a"), Py_None);
    EXPECT_EQ(str_of(attr(ns, "b")), "(5, 5)");
    EXPECT_EQ(utf8(attr(ns, "c")), "text");
    EXPECT_EQ(attr(ns, "d"), Py_None);
}

// ---- Globals, closure and code -----------------------------------------------------

TEST_F(FunctionAttributes, GlobalsClosureAndCode)
{
    Owned<> f = make(&def_noargs);
    as_native_function(f.get())->func_closure = PyTuple_New(0);
    Owned<> ns = run(
        "g = (f.__globals__, f.func_globals)\n"
        "c = (f.__closure__, f.func_closure)\n"
        "k = (f.__code__, f.func_code)\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(PyTuple_GET_ITEM(attr(ns, "g"), 0), runtime::state.module_dict);
    EXPECT_EQ(PyTuple_GET_ITEM(attr(ns, "g"), 1), runtime::state.module_dict);
    EXPECT_EQ(str_of(attr(ns, "c")), "(None, None)");
    EXPECT_EQ(str_of(attr(ns, "k")), "(None, None)");

    Owned<> code = Owned<>::steal(Py_CompileString("pass", "<test>", Py_file_input));
    Owned<> qualname = Owned<>::steal(PyUnicode_FromString("with_code"));
    Owned<> g = runtime::native_function_new(
        &def_noargs, qualname.get(), nullptr, runtime::state.module_dict, code.get());
    Owned<> c = Owned<>::steal(PyObject_GetAttrString(g.get(), "__code__"));
    EXPECT_EQ(c.get(), code.get());
}

TEST_F(FunctionAttributes, ReadOnlyAttributesAreRefusedByTheInterpreter)
{
    Owned<> f = make(&def_noargs);
    for (const char* name : {"__globals__", "func_globals", "__closure__", "func_closure",
                             "__code__", "func_code", "_is_coroutine"}) {
        const std::string assign = std::string("f.") + name + " = None";
        const std::string expected = std::string("attribute '") + name +
                                     "' of '_native_abi_1.native_function_or_method' objects is "
                                     "not writable";
        EXPECT_EQ(raised_by(assign.c_str(), f.get(), "AttributeError"), expected);
        const std::string del = std::string("del f.") + name;
        EXPECT_EQ(raised_by(del.c_str(), f.get(), "AttributeError"), expected);
    }
}

// ---- Defaults ---------------------------------------------------------------------

TEST_F(FunctionAttributes, DefaultsReadNoneWithoutABuilderAndStayEmpty)
{
    Owned<> f = make(&def_noargs);
    Owned<> ns = run("d = (f.__defaults__, f.func_defaults, f.__kwdefaults__)\n", f.get());
    EXPECT_EQ(str_of(attr(ns, "d")), "(None, None, None)");
    EXPECT_EQ(as_native_function(f.get())->positional_defaults, nullptr);
    EXPECT_EQ(as_native_function(f.get())->keyword_defaults, nullptr);
}

TEST_F(FunctionAttributes, SettingDefaultsWarnsAtTheAssigningLine)
{
    Owned<> f = make(&def_noargs);
    Owned<> ns = run(
        "import warnings\n"
        "with warnings.catch_warnings(record=True) as w:\n"
        "    warnings.simplefilter('always')\n"
        "    f.__defaults__ = (1,)\n"
        "    f.__kwdefaults__ = {'a': 1}\n"
        "warned = [(x.category.__name__, str(x.message), x.filename, x.lineno) for x in w]\n"
        "d = (f.__defaults__, f.func_defaults, f.__kwdefaults__)\n"
        "r = f()\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(str_of(attr(ns, "warned")),
              "[('RuntimeWarning', 'changes to native_function.__defaults__ will not currently "
              "affect the values used in function calls', '<string>', 4), ('RuntimeWarning', "
              "'changes to native_function.__kwdefaults__ will not currently affect the values "
              "used in function calls', '<string>', 5)]");
    EXPECT_EQ(str_of(attr(ns, "d")), "((1,), (1,), {'a': 1})");
    // Calls are not affected.
    EXPECT_EQ(attr(ns, "r"), Py_None);
}

TEST_F(FunctionAttributes, DefaultsAcceptNoneSubclassesAndDeletion)
{
    Owned<> f = make(&def_noargs);
    Owned<> ns = run(
        "import warnings\n"
        "class T(tuple): pass\n"
        "class D(dict): pass\n"
        "with warnings.catch_warnings(record=True) as w:\n"
        "    warnings.simplefilter('always')\n"
        "    f.__defaults__ = T((2,))\n"
        "    f.__kwdefaults__ = D(b=2)\n"
        "    a = (type(f.__defaults__).__name__, type(f.__kwdefaults__).__name__)\n"
        "    f.func_defaults = None\n"
        "    del f.__kwdefaults__\n"
        "    b = (f.__defaults__, f.__kwdefaults__)\n"
        "    f.__defaults__ = (3,)\n"
        "    del f.__defaults__\n"
        "    c = f.__defaults__\n"
        "count = len(w)\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(str_of(attr(ns, "a")), "('T', 'D')");
    EXPECT_EQ(str_of(attr(ns, "b")), "(None, None)");
    EXPECT_EQ(attr(ns, "c"), Py_None);
    EXPECT_EQ(PyLong_AsLong(attr(ns, "count")), 6);
    // Deletion stores None itself.
    EXPECT_EQ(as_native_function(f.get())->positional_defaults, Py_None);
    EXPECT_EQ(as_native_function(f.get())->keyword_defaults, Py_None);
}

TEST_F(FunctionAttributes, DefaultsOfTheWrongTypeAreRefusedWithoutAWarning)
{
    Owned<> f = make(&def_noargs);
    Owned<> ns = run(
        "import warnings\n"
        "errors = []\n"
        "with warnings.catch_warnings(record=True) as w:\n"
        "    warnings.simplefilter('always')\n"
        "    for name, value in (('__defaults__', [1]), ('func_defaults', {}),\n"
        "                        ('__kwdefaults__', [1]), ('__kwdefaults__', (1,))):\n"
        "        try:\n"
        "            setattr(f, name, value)\n"
        "        except TypeError as e:\n"
        "            errors.append(str(e))\n"
        "count = len(w)\n"
        "d = (f.__defaults__, f.__kwdefaults__)\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(str_of(attr(ns, "errors")),
              "['__defaults__ must be set to a tuple object', '__defaults__ must be set to a "
              "tuple object', '__kwdefaults__ must be set to a dict object', '__kwdefaults__ "
              "must be set to a dict object']");
    EXPECT_EQ(PyLong_AsLong(attr(ns, "count")), 0);
    EXPECT_EQ(str_of(attr(ns, "d")), "(None, None)");
}

TEST_F(FunctionAttributes, DefaultsWarningTurnedIntoAnErrorLeavesTheFieldUnchanged)
{
    Owned<> f = make(&def_noargs);
    Owned<> ns = run(
        "import warnings\n"
        "with warnings.catch_warnings():\n"
        "    warnings.simplefilter('error', RuntimeWarning)\n"
        "    try:\n"
        "        f.__defaults__ = (1,)\n"
        "    except RuntimeWarning as e:\n"
        "        a = str(e)\n"
        "    try:\n"
        "        f.__kwdefaults__ = {}\n"
        "    except RuntimeWarning as e:\n"
        "        b = str(e)\n"
        "d = (f.__defaults__, f.__kwdefaults__)\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(utf8(attr(ns, "a")),
              "changes to native_function.__defaults__ will not currently affect the values "
              "used in function calls");
    EXPECT_EQ(utf8(attr(ns, "b")),
              "changes to native_function.__kwdefaults__ will not currently affect the values "
              "used in function calls");
    EXPECT_EQ(str_of(attr(ns, "d")), "(None, None)");
    EXPECT_EQ(as_native_function(f.get())->positional_defaults, nullptr);
}

int builder_calls = 0;

PyObject* pair_builder(PyObject* func)
{
    ++builder_calls;
    PyObject* holder = as_native_function(func)->defaults_holder;
    return Py_BuildValue("(OO)", PyTuple_GET_ITEM(holder, 0), PyTuple_GET_ITEM(holder, 1));
}

PyObject* failing_builder(PyObject*)
{
    ++builder_calls;
    PyErr_SetString(PyExc_ValueError, "no defaults today");
    return nullptr;
}

TEST_F(FunctionAttributes, DefaultsBuilderRunsOnFirstReadAndFillsBothFields)
{
    Owned<> f = make(&def_noargs);
    NativeFunction* op = as_native_function(f.get());
    op->defaults_holder = Py_BuildValue("((i)N)", 1, Py_BuildValue("{s:i}", "k", 2));
    op->defaults_builder = pair_builder;
    builder_calls = 0;
    Owned<> ns = run("a = f.__defaults__\nb = f.__kwdefaults__\nc = f.__defaults__\n", f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(str_of(attr(ns, "a")), "(1,)");
    EXPECT_EQ(str_of(attr(ns, "b")), "{'k': 2}");
    EXPECT_EQ(attr(ns, "a"), attr(ns, "c"));
    EXPECT_EQ(builder_calls, 1);

    // Reading the empty one of the two fields replaces both.
    Owned<> g = make(&def_noargs);
    NativeFunction* gp = as_native_function(g.get());
    gp->defaults_holder = Py_BuildValue("((i)N)", 3, PyDict_New());
    gp->defaults_builder = pair_builder;
    gp->positional_defaults = Py_BuildValue("(s)", "old");
    builder_calls = 0;
    Owned<> kw = Owned<>::steal(PyObject_GetAttrString(g.get(), "__kwdefaults__"));
    ASSERT_TRUE(kw);
    EXPECT_EQ(builder_calls, 1);
    EXPECT_EQ(str_of(gp->positional_defaults), "(3,)");
}

TEST_F(FunctionAttributes, DefaultsBuilderFailurePassesUp)
{
    Owned<> f = make(&def_noargs);
    as_native_function(f.get())->defaults_builder = failing_builder;
    builder_calls = 0;
    EXPECT_FALSE(Owned<>::steal(PyObject_GetAttrString(f.get(), "__defaults__")));
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "ValueError");
    EXPECT_EQ(raised.message, "no defaults today");
    EXPECT_FALSE(Owned<>::steal(PyObject_GetAttrString(f.get(), "__kwdefaults__")));
    EXPECT_EQ(take_exception().message, "no defaults today");
    EXPECT_EQ(builder_calls, 2);
    EXPECT_EQ(runtime::init_defaults(f.get()), -1);
    take_exception();
}

TEST_F(FunctionAttributes, DefaultsBuilderResultOtherThanAPairIsATypeError)
{
    Owned<> f = make(&def_noargs);
    NativeFunction* op = as_native_function(f.get());
    op->defaults_builder = [](PyObject* func) -> PyObject* {
        return Py_NewRef(as_native_function(func)->defaults_holder);
    };
    for (const char* holder : {"((),)", "((), {}, None)", "[(), {}]", "None"}) {
        Py_XSETREF(op->defaults_holder, PyRun_String(holder, Py_eval_input, PyEval_GetBuiltins(),
                                                     PyEval_GetBuiltins()));
        ASSERT_TRUE(op->defaults_holder) << holder;
        EXPECT_FALSE(Owned<>::steal(PyObject_GetAttrString(f.get(), "__defaults__"))) << holder;
        auto raised = take_exception();
        EXPECT_EQ(raised.type, "TypeError") << holder;
        EXPECT_EQ(raised.message.rfind("defaults of t_noargs must be a pair (positional, keyword), "
                                       "not ",
                                       0),
                  0u)
            << raised.message;
        EXPECT_EQ(op->positional_defaults, nullptr);
    }
}

// ---- Annotations --------------------------------------------------------------------

TEST_F(FunctionAttributes, AnnotationsAreAnEmptyDictMadeOnFirstReadAndKept)
{
    Owned<> f = make(&def_noargs);
    EXPECT_EQ(as_native_function(f.get())->func_annotations, nullptr);
    Owned<> ns = run(
        "import warnings\n"
        "with warnings.catch_warnings(record=True) as w:\n"
        "    warnings.simplefilter('always')\n"
        "    a = f.__annotations__\n"
        "    same = a is f.__annotations__\n"
        "    f.__annotations__ = None\n"
        "    b = f.__annotations__\n"
        "    del f.__annotations__\n"
        "    c = f.__annotations__\n"
        "    class D(dict): pass\n"
        "    f.__annotations__ = D(x=int)\n"
        "    d = f.__annotations__\n"
        "count = len(w)\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(str_of(attr(ns, "a")), "{}");
    EXPECT_EQ(attr(ns, "same"), Py_True);
    EXPECT_EQ(str_of(attr(ns, "b")), "{}");
    EXPECT_NE(attr(ns, "a"), attr(ns, "b"));
    EXPECT_EQ(str_of(attr(ns, "c")), "{}");
    EXPECT_NE(attr(ns, "b"), attr(ns, "c"));
    EXPECT_EQ(str_of(attr(ns, "d")), "{'x': <class 'int'>}");
    EXPECT_EQ(PyLong_AsLong(attr(ns, "count")), 0);
    EXPECT_EQ(raised_by("f.__annotations__ = [1]", f.get()),
              "__annotations__ must be set to a dict object");
    Owned<> d = Owned<>::steal(PyObject_GetAttrString(f.get(), "__annotations__"));
    EXPECT_EQ(d.get(), attr(ns, "d"));
}

// ---- Coroutine marker ----------------------------------------------------------------

// Removes asyncio.coroutines from sys.modules for the test and puts it back.
class CoroutineMarker : public FunctionAttributes {
protected:
    void SetUp() override
    {
        FunctionAttributes::SetUp();
        saved = run_python(
            "import sys\n"
            "saved = sys.modules.pop('asyncio.coroutines', None)\n",
            {});
        ASSERT_TRUE(saved);
    }
    void TearDown() override
    {
        Owned<> ns = run_python(
            "import sys\n"
            "sys.modules.pop('asyncio.coroutines', None)\n"
            "if saved is not None:\n"
            "    sys.modules['asyncio.coroutines'] = saved\n",
            {{"saved", get(saved, "saved")}});
        EXPECT_TRUE(ns);
        FunctionAttributes::TearDown();
    }
    Owned<> saved;
};

TEST_F(CoroutineMarker, WithoutTheBitIsFalseAndImportsNothing)
{
    Owned<> f = make(&def_noargs);
    Owned<> ns = run(
        "import sys\n"
        "before = 'asyncio.coroutines' in sys.modules\n"
        "a = f._is_coroutine\n"
        "after = 'asyncio.coroutines' in sys.modules\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(attr(ns, "before"), Py_False);
    EXPECT_EQ(attr(ns, "a"), Py_False);
    EXPECT_EQ(attr(ns, "after"), Py_False);
    EXPECT_EQ(as_native_function(f.get())->coroutine_marker, Py_False);
}

TEST_F(CoroutineMarker, WithTheBitIsTheMarkerOfAsyncioCoroutines)
{
    Owned<> f = make(&def_noargs);
    as_native_function(f.get())->func_flags = FUNC_COROUTINE;
    Owned<> ns = run(
        "import sys\n"
        "before = 'asyncio.coroutines' in sys.modules\n"
        "a = f._is_coroutine\n"
        "after = 'asyncio.coroutines' in sys.modules\n"
        "import asyncio.coroutines\n"
        "same = a is asyncio.coroutines._is_coroutine and a is f._is_coroutine\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(attr(ns, "before"), Py_False);
    EXPECT_EQ(attr(ns, "after"), Py_True);
    EXPECT_EQ(attr(ns, "same"), Py_True);
    // Kept: a later change of the bit does not matter.
    as_native_function(f.get())->func_flags = 0;
    Owned<> again = Owned<>::steal(PyObject_GetAttrString(f.get(), "_is_coroutine"));
    EXPECT_EQ(again.get(), attr(ns, "a"));
}

TEST_F(CoroutineMarker, FailedImportOrMissingAttributeGivesTrue)
{
    Owned<> f = make(&def_noargs);
    as_native_function(f.get())->func_flags = FUNC_COROUTINE;
    Owned<> ns = run(
        "import sys, types\n"
        "sys.modules['asyncio.coroutines'] = None\n"
        "a = f._is_coroutine\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(attr(ns, "a"), Py_True);

    Owned<> g = make(&def_noargs);
    as_native_function(g.get())->func_flags = FUNC_COROUTINE;
    Owned<> ns2 = run(
        "import sys, types\n"
        "sys.modules['asyncio.coroutines'] = types.ModuleType('asyncio.coroutines')\n"
        "a = f._is_coroutine\n",
        g.get());
    ASSERT_TRUE(ns2);
    EXPECT_EQ(attr(ns2, "a"), Py_True);
}

TEST_F(CoroutineMarker, AMarkerStoredDuringTheImportWins)
{
    Owned<> f = make(&def_noargs);
    as_native_function(f.get())->func_flags = FUNC_COROUTINE;
    Owned<> ns = run(
        "import sys, types\n"
        "inner_marker = object()\n"
        "outer_marker = object()\n"
        "class Reentrant(types.ModuleType):\n"
        "    depth = 0\n"
        "    @property\n"
        "    def _is_coroutine(self):\n"
        "        Reentrant.depth += 1\n"
        "        if Reentrant.depth == 1:\n"
        "            global inner_read\n"
        "            inner_read = f._is_coroutine\n"
        "            return outer_marker\n"
        "        return inner_marker\n"
        "sys.modules['asyncio.coroutines'] = Reentrant('asyncio.coroutines')\n"
        "outer_read = f._is_coroutine\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(attr(ns, "inner_read"), attr(ns, "inner_marker"));
    EXPECT_EQ(attr(ns, "outer_read"), attr(ns, "inner_marker"));
    EXPECT_EQ(as_native_function(f.get())->coroutine_marker, attr(ns, "inner_marker"));
}

// ---- __module__, __dict__ ----------------------------------------------------------

TEST_F(FunctionAttributes, ModuleMember)
{
    Owned<> f = make(&def_noargs);
    Owned<> ns = run(
        "a = f.__module__\n"
        "f.__module__ = 5\n"
        "b = f.__module__\n"
        "del f.__module__\n"
        "c = f.__module__\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(utf8(attr(ns, "a")), "tests.module");
    EXPECT_EQ(PyLong_AsLong(attr(ns, "b")), 5);
    EXPECT_EQ(attr(ns, "c"), Py_None);
    EXPECT_EQ(as_native_function(f.get())->base.func.m_module, nullptr);

    Owned<> qualname = Owned<>::steal(PyUnicode_FromString("q"));
    Owned<> g = runtime::native_function_new(&def_noargs, qualname.get(), nullptr,
                                             runtime::state.module_dict, nullptr);
    Owned<> m = Owned<>::steal(PyObject_GetAttrString(g.get(), "__module__"));
    EXPECT_EQ(m.get(), Py_None);
}

TEST_F(FunctionAttributes, ArbitraryAttributesLiveInTheInstanceDictionary)
{
    Owned<> f = make(&def_noargs);
    Owned<> ns = run(
        "empty = dict(f.__dict__)\n"
        "f.colour = 'blue'\n"
        "a = (f.colour, f.__dict__, f.func_dict is f.__dict__)\n"
        "f.__dict__ = {'x': 1}\n"
        "b = (f.x, hasattr(f, 'colour'))\n"
        "f.func_dict = {'y': 2}\n"
        "c = f.__dict__\n"
        "try:\n"
        "    f.__dict__ = 5\n"
        "except TypeError as e:\n"
        "    d = str(e)\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(str_of(attr(ns, "empty")), "{}");
    EXPECT_EQ(str_of(attr(ns, "a")), "('blue', {'colour': 'blue'}, True)");
    EXPECT_EQ(str_of(attr(ns, "b")), "(1, False)");
    EXPECT_EQ(str_of(attr(ns, "c")), "{'y': 2}");
    EXPECT_EQ(utf8(attr(ns, "d")), "__dict__ must be set to a dictionary, not a 'int'");
}

// ---- __reduce__, repr, metatype --------------------------------------------------------

TEST_F(FunctionAttributes, ReduceReturnsTheQualifiedName)
{
    Owned<> f = make(&def_noargs, "Outer.t_noargs");
    Owned<> ns = run("a = f.__reduce__()\nb = f.__reduce__(1, 2)\nq = f.__qualname__\n", f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(utf8(attr(ns, "a")), "Outer.t_noargs");
    EXPECT_EQ(attr(ns, "a"), attr(ns, "q"));
    EXPECT_EQ(attr(ns, "b"), attr(ns, "q"));
}

TEST_F(FunctionAttributes, ReprNamesTheQualifiedNameAndAddress)
{
    Owned<> f = make(&def_noargs, "Outer.t_noargs");
    Owned<> r = Owned<>::steal(PyObject_Repr(f.get()));
    char expected[128];
    std::snprintf(expected, sizeof expected, "<native function Outer.t_noargs at %p>",
                  static_cast<void*>(f.get()));
    EXPECT_EQ(utf8(r.get()), expected);
    Owned<> ns = run("ok = repr(f) == '<native function Outer.t_noargs at %#x>' % id(f)\n", f.get());
    EXPECT_EQ(attr(ns, "ok"), Py_True);
}

TEST_F(FunctionAttributes, MetatypeModuleIsTheSharedModuleName)
{
    Owned<> f = make(&def_noargs);
    Owned<> ns = run(
        "T = type(f)\n"
        "a = T.__module__\n"
        "b = type(T).__dict__['__module__'].__get__(T)\n"
        "try:\n"
        "    T.__module__ = 'x'\n"
        "except (TypeError, AttributeError) as e:\n"
        "    c = type(e).__name__\n",
        f.get());
    ASSERT_TRUE(ns);
    EXPECT_EQ(utf8(attr(ns, "a")), "_native_abi_1");
    EXPECT_EQ(utf8(attr(ns, "b")), "_native_abi_1");
    EXPECT_NE(attr(ns, "c"), nullptr);
}

} // namespace
