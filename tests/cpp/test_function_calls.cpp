// Creation of function objects and every call path: the choice of
// the vectorcall entry, the four entries with their checks in order, the call
// slot, the keyword-dictionary conversion, the tuple call and binding.
#include <Python.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "function_call_slots.hpp"
#include "function_test_support.hpp"

namespace {

using namespace function_test;
using runtime::FUNC_COROUTINE;
using runtime::FUNC_METHOD;
using runtime::FUNC_STATIC;
using test_support::take_exception;
using test_support::utf8;

class FunctionCall : public FunctionTest {
protected:
    static Owned<> steal(PyObject* p) { return Owned<>::steal(p); }
    static Owned<> tuple(std::initializer_list<PyObject*> items)
    {
        Owned<> t = steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
        Py_ssize_t i = 0;
        for (PyObject* item : items) {
            PyTuple_SET_ITEM(t.get(), i++, Py_NewRef(item));
        }
        return t;
    }
    static Owned<> str(const char* s) { return steal(PyUnicode_FromString(s)); }
    static Owned<> integer(long v) { return steal(PyLong_FromLong(v)); }

    // Vectorcall through the object's own entry (as the interpreter does).
    static Owned<> vcall(PyObject* f, std::vector<PyObject*> args, PyObject* kwnames = nullptr,
                         bool offset = false)
    {
        Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
        Py_ssize_t nargs = static_cast<Py_ssize_t>(args.size()) - nkw;
        // A slot in front of the array, as callers that set the offset bit give.
        args.insert(args.begin(), nullptr);
        std::size_t nargsf = static_cast<std::size_t>(nargs);
        if (offset) {
            nargsf |= PY_VECTORCALL_ARGUMENTS_OFFSET;
        }
        vectorcallfunc entry = PyVectorcall_Function(f);
        EXPECT_NE(entry, nullptr);
        return steal(entry(f, args.data() + 1, nargsf, kwnames));
    }

    static std::string error_message(const char* expected_type = "TypeError")
    {
        auto raised = take_exception();
        EXPECT_EQ(raised.type, expected_type);
        return raised.message;
    }

    static void set_flags(PyObject* f, int flags) { as_native_function(f)->func_flags = flags; }
};

// ---- Creation ---------------------------------------------------------------

TEST_F(FunctionCall, NewSetsEveryFieldAndTracksTheObject)
{
    Owned<> qualname = str("Outer.t_noargs");
    Owned<> module = str("tests.module");
    Owned<> code = steal(Py_CompileString("pass", "<test>", Py_file_input));
    ASSERT_TRUE(code);
    Owned<> f = runtime::native_function_new(&def_noargs, qualname.get(), module.get(),
                                             runtime::state.module_dict, code.get());
    ASSERT_TRUE(f);
    EXPECT_EQ(Py_TYPE(f.get()), runtime::state.function_type);
    EXPECT_TRUE(PyObject_GC_IsTracked(f.get()));
    NativeFunction* op = as_native_function(f.get());
    EXPECT_EQ(op->base.func.m_ml, &def_noargs);
    EXPECT_EQ(op->base.func.m_self, f.get());
    EXPECT_EQ(op->base.func.m_module, module.get());
    EXPECT_EQ(op->base.func.m_weakreflist, nullptr);
    EXPECT_EQ(op->base.func.vectorcall, runtime::vectorcall_noargs);
    EXPECT_EQ(op->base.mm_class, nullptr);
    EXPECT_EQ(op->func_name, nullptr);
    EXPECT_EQ(op->func_qualname, qualname.get());
    EXPECT_EQ(op->func_doc, nullptr);
    EXPECT_EQ(op->func_globals, runtime::state.module_dict);
    EXPECT_EQ(op->func_code, code.get());
    EXPECT_EQ(op->func_closure, nullptr);
    EXPECT_EQ(op->defaults_holder, nullptr);
    EXPECT_EQ(op->func_flags, 0);
    EXPECT_EQ(op->positional_defaults, nullptr);
    EXPECT_EQ(op->keyword_defaults, nullptr);
    EXPECT_EQ(op->defaults_builder, nullptr);
    EXPECT_EQ(op->func_annotations, nullptr);
    EXPECT_EQ(op->coroutine_marker, nullptr);
    // m_self is not a counted reference: the object holds only ours.
    EXPECT_EQ(Py_REFCNT(f.get()), 1);
}

TEST_F(FunctionCall, NewAcceptsAMissingModuleAndCode)
{
    Owned<> qualname = str("q");
    Owned<> f = runtime::native_function_new(&def_o, qualname.get(), nullptr,
                                             runtime::state.module_dict, nullptr);
    ASSERT_TRUE(f);
    EXPECT_EQ(as_native_function(f.get())->base.func.m_module, nullptr);
    EXPECT_EQ(as_native_function(f.get())->func_code, nullptr);
}

TEST_F(FunctionCall, NewChoosesTheEntryFromTheMaskedFlags)
{
    struct Case {
        int flags;
        vectorcallfunc expected;
    };
    const Case cases[] = {
        {METH_VARARGS | METH_KEYWORDS, nullptr},
        {METH_NOARGS, runtime::vectorcall_noargs},
        {METH_O, runtime::vectorcall_o},
        {METH_FASTCALL | METH_KEYWORDS, runtime::vectorcall_fastcall_keywords},
        {METH_METHOD | METH_FASTCALL | METH_KEYWORDS, runtime::vectorcall_fastcall_keywords_method},
        // Bits outside the mask do not take part.
        {METH_NOARGS | METH_CLASS, runtime::vectorcall_noargs},
        {METH_O | METH_STATIC, runtime::vectorcall_o},
        {METH_FASTCALL | METH_KEYWORDS | METH_COEXIST, runtime::vectorcall_fastcall_keywords},
        {METH_VARARGS | METH_KEYWORDS | METH_CLASS | METH_COEXIST, nullptr},
    };
    for (const Case& c : cases) {
        PyMethodDef def{"t_flags", as_entry(entry_noargs), c.flags, nullptr};
        Owned<> f = make(&def);
        ASSERT_TRUE(f) << c.flags;
        EXPECT_EQ(as_native_function(f.get())->base.func.vectorcall, c.expected) << c.flags;
        EXPECT_EQ(PyVectorcall_Function(f.get()), c.expected) << c.flags;
    }
}

TEST_F(FunctionCall, NewRefusesEveryOtherCombinationAndReleasesTheObject)
{
    const int refused[] = {
        0,
        METH_VARARGS,
        METH_KEYWORDS,
        METH_FASTCALL,
        METH_METHOD,
        METH_NOARGS | METH_O,
        METH_NOARGS | METH_KEYWORDS,
        METH_O | METH_KEYWORDS,
        METH_VARARGS | METH_NOARGS,
        METH_VARARGS | METH_FASTCALL,
        METH_FASTCALL | METH_NOARGS,
        METH_METHOD | METH_NOARGS,
        METH_METHOD | METH_O,
        METH_METHOD | METH_FASTCALL,
        METH_METHOD | METH_VARARGS | METH_KEYWORDS,
        METH_VARARGS | METH_CLASS,
        METH_FASTCALL | METH_STATIC,
    };
    Owned<> qualname = str("refused");
    Owned<> module = str("tests.module");
    const Py_ssize_t qualname_refs = Py_REFCNT(qualname.get());
    const Py_ssize_t module_refs = Py_REFCNT(module.get());
    const Py_ssize_t globals_refs = Py_REFCNT(runtime::state.module_dict);
    const Py_ssize_t type_refs = Py_REFCNT(runtime::state.function_type);
    for (int flags : refused) {
        PyMethodDef def{"t_refused", as_entry(entry_noargs), flags, nullptr};
        EXPECT_EQ(runtime::native_function_new(&def, qualname.get(), module.get(),
                                               runtime::state.module_dict, nullptr),
                  nullptr)
            << flags;
        EXPECT_EQ(error_message("SystemError"), "Bad call flags for NativeFunction") << flags;
    }
    // The refused objects were deallocated with everything they held.
    EXPECT_EQ(Py_REFCNT(qualname.get()), qualname_refs);
    EXPECT_EQ(Py_REFCNT(module.get()), module_refs);
    EXPECT_EQ(Py_REFCNT(runtime::state.module_dict), globals_refs);
    EXPECT_EQ(Py_REFCNT(runtime::state.function_type), type_refs);
}

// ---- METH_NOARGS --------------------------------------------------------------

TEST_F(FunctionCall, NoargsCallsTheEntryWithSelfAndNull)
{
    Owned<> f = make(&def_noargs);
    Owned<> r = vcall(f.get(), {});
    EXPECT_EQ(r.get(), Py_None);
    EXPECT_EQ(received.calls, 1);
    EXPECT_EQ(received.self, f.get());
    EXPECT_EQ(received.arg, nullptr);
}

TEST_F(FunctionCall, NoargsIgnoresTheOffsetBitAndAnEmptyKeywordTuple)
{
    Owned<> f = make(&def_noargs);
    Owned<> r = vcall(f.get(), {}, nullptr, true);
    EXPECT_EQ(r.get(), Py_None);
    Owned<> r2 = vcall(f.get(), {}, runtime::state.empty_tuple);
    EXPECT_EQ(r2.get(), Py_None);
    EXPECT_EQ(received.calls, 2);
}

TEST_F(FunctionCall, NoargsRefusesAPositionalArgument)
{
    Owned<> f = make(&def_noargs);
    Owned<> one = integer(1);
    EXPECT_FALSE(vcall(f.get(), {one.get()}));
    EXPECT_EQ(error_message(), "t_noargs() takes no arguments (1 given)");
    EXPECT_FALSE(vcall(f.get(), {one.get(), one.get()}, nullptr, true));
    EXPECT_EQ(error_message(), "t_noargs() takes no arguments (2 given)");
    EXPECT_EQ(received.calls, 0);
}

TEST_F(FunctionCall, NoargsRefusesKeywordsBeforeLookingAtTheCount)
{
    Owned<> f = make(&def_noargs);
    Owned<> one = integer(1);
    Owned<> names = tuple({str("x").get()});
    EXPECT_FALSE(vcall(f.get(), {one.get()}, names.get()));
    EXPECT_EQ(error_message(), "t_noargs() takes no keyword arguments");
    EXPECT_FALSE(vcall(f.get(), {one.get(), one.get()}, names.get()));
    EXPECT_EQ(error_message(), "t_noargs() takes no keyword arguments");
    EXPECT_EQ(received.calls, 0);
}

TEST_F(FunctionCall, NoargsWithTheMethodBitTakesSelfFromTheArguments)
{
    Owned<> f = make(&def_noargs);
    set_flags(f.get(), FUNC_METHOD);
    Owned<> obj = str("instance");
    Owned<> r = vcall(f.get(), {obj.get()});
    ASSERT_TRUE(r);
    EXPECT_EQ(received.self, obj.get());
    // The count after self has been taken.
    EXPECT_FALSE(vcall(f.get(), {obj.get(), obj.get()}));
    EXPECT_EQ(error_message(), "t_noargs() takes no arguments (1 given)");
    // A missing self is reported first, before keywords.
    Owned<> names = tuple({str("x").get()});
    EXPECT_FALSE(vcall(f.get(), {}));
    EXPECT_EQ(error_message(), "t_noargs() needs an argument");
    EXPECT_FALSE(vcall(f.get(), {obj.get()}, names.get()));
    EXPECT_EQ(error_message(), "t_noargs() needs an argument");
    EXPECT_FALSE(vcall(f.get(), {obj.get(), obj.get()}, names.get()));
    EXPECT_EQ(error_message(), "t_noargs() takes no keyword arguments");
}

TEST_F(FunctionCall, StaticBitCancelsTheMethodBit)
{
    Owned<> f = make(&def_noargs);
    set_flags(f.get(), FUNC_METHOD | FUNC_STATIC);
    Owned<> obj = str("instance");
    EXPECT_FALSE(vcall(f.get(), {obj.get()}));
    EXPECT_EQ(error_message(), "t_noargs() takes no arguments (1 given)");
    Owned<> r = vcall(f.get(), {});
    ASSERT_TRUE(r);
    EXPECT_EQ(received.self, f.get());
    // FUNC_STATIC alone and FUNC_COROUTINE change nothing for calls.
    set_flags(f.get(), FUNC_STATIC | FUNC_COROUTINE);
    Owned<> r2 = vcall(f.get(), {});
    ASSERT_TRUE(r2);
    EXPECT_EQ(received.self, f.get());
}

TEST_F(FunctionCall, MessagesNameTheDefinitionNotTheCurrentName)
{
    Owned<> f = make(&def_noargs, "SomeClass.t_noargs");
    Owned<> other = str("renamed");
    ASSERT_EQ(PyObject_SetAttrString(f.get(), "__name__", other.get()), 0);
    ASSERT_EQ(PyObject_SetAttrString(f.get(), "__qualname__", other.get()), 0);
    Owned<> one = integer(1);
    EXPECT_FALSE(vcall(f.get(), {one.get()}));
    EXPECT_EQ(error_message(), "t_noargs() takes no arguments (1 given)");
}

TEST_F(FunctionCall, MessagesCutTheNameAtTwoHundredBytes)
{
    static const std::string long_name(250, 'n');
    PyMethodDef def{long_name.c_str(), as_entry(entry_noargs), METH_NOARGS, nullptr};
    Owned<> f = make(&def, "long");
    Owned<> one = integer(1);
    EXPECT_FALSE(vcall(f.get(), {one.get()}));
    EXPECT_EQ(error_message(), std::string(200, 'n') + "() takes no arguments (1 given)");
}

// ---- METH_O -------------------------------------------------------------------

TEST_F(FunctionCall, OCallsTheEntryWithTheOneArgument)
{
    Owned<> f = make(&def_o);
    Owned<> one = integer(1);
    Owned<> r = vcall(f.get(), {one.get()}, nullptr, true);
    EXPECT_EQ(r.get(), one.get());
    EXPECT_EQ(received.self, f.get());
    EXPECT_EQ(received.arg, one.get());
}

TEST_F(FunctionCall, OChecksItsCount)
{
    Owned<> f = make(&def_o);
    Owned<> one = integer(1);
    EXPECT_FALSE(vcall(f.get(), {}));
    EXPECT_EQ(error_message(), "t_o() takes exactly one argument (0 given)");
    EXPECT_FALSE(vcall(f.get(), {one.get(), one.get()}));
    EXPECT_EQ(error_message(), "t_o() takes exactly one argument (2 given)");
    Owned<> names = tuple({str("x").get()});
    EXPECT_FALSE(vcall(f.get(), {one.get(), one.get(), one.get()}, names.get()));
    EXPECT_EQ(error_message(), "t_o() takes no keyword arguments");
    EXPECT_EQ(received.calls, 0);
}

TEST_F(FunctionCall, OWithTheMethodBit)
{
    Owned<> f = make(&def_o);
    set_flags(f.get(), FUNC_METHOD);
    Owned<> obj = str("instance");
    Owned<> one = integer(1);
    Owned<> r = vcall(f.get(), {obj.get(), one.get()});
    EXPECT_EQ(r.get(), one.get());
    EXPECT_EQ(received.self, obj.get());
    EXPECT_EQ(received.arg, one.get());
    EXPECT_FALSE(vcall(f.get(), {obj.get()}));
    EXPECT_EQ(error_message(), "t_o() takes exactly one argument (0 given)");
    EXPECT_FALSE(vcall(f.get(), {}));
    EXPECT_EQ(error_message(), "t_o() needs an argument");
}

// ---- METH_FASTCALL | METH_KEYWORDS ---------------------------------------------

TEST_F(FunctionCall, FastcallKeywordsPassesTheArrayAndNamesAsReceived)
{
    Owned<> f = make(&def_fastcall_keywords);
    Owned<> one = integer(1);
    Owned<> two = integer(2);
    Owned<> names = tuple({str("k").get()});
    std::vector<PyObject*> args{nullptr, one.get(), two.get()};
    Owned<> r = steal(runtime::vectorcall_fastcall_keywords(
        f.get(), args.data() + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, names.get()));
    ASSERT_TRUE(r);
    EXPECT_EQ(received.self, f.get());
    EXPECT_EQ(received.args, args.data() + 1);
    EXPECT_EQ(received.nargsf, 1U);  // without the offset bit
    EXPECT_EQ(received.kwnames, names.get());
    EXPECT_EQ(received.kw0, "k");
    EXPECT_EQ(received.kwvalue0, "2");
}

TEST_F(FunctionCall, FastcallKeywordsWithTheMethodBitAdvancesTheArray)
{
    Owned<> f = make(&def_fastcall_keywords);
    set_flags(f.get(), FUNC_METHOD);
    Owned<> obj = str("instance");
    Owned<> one = integer(1);
    std::vector<PyObject*> args{obj.get(), one.get()};
    Owned<> r = steal(runtime::vectorcall_fastcall_keywords(f.get(), args.data(), 2, nullptr));
    ASSERT_TRUE(r);
    EXPECT_EQ(received.self, obj.get());
    EXPECT_EQ(received.args, args.data() + 1);
    EXPECT_EQ(received.nargsf, 1U);
    // Keywords are accepted, but self is still required.
    Owned<> names = tuple({str("k").get()});
    EXPECT_FALSE(vcall(f.get(), {one.get()}, names.get()));
    EXPECT_EQ(error_message(), "t_fastcall_keywords() needs an argument");
}

// ---- METH_METHOD | METH_FASTCALL | METH_KEYWORDS --------------------------------

TEST_F(FunctionCall, MethodEntryReceivesTheDefiningClass)
{
    Owned<> f = make(&def_method);
    Owned<> r0 = vcall(f.get(), {});
    ASSERT_TRUE(r0);
    EXPECT_EQ(received.cls, nullptr);

    as_native_function(f.get())->base.mm_class =
        reinterpret_cast<PyTypeObject*>(Py_NewRef(&PyLong_Type));
    Owned<> one = integer(1);
    Owned<> two = integer(2);
    Owned<> names = tuple({str("k").get()});
    Owned<> r = vcall(f.get(), {one.get(), two.get()}, names.get(), true);
    ASSERT_TRUE(r);
    EXPECT_EQ(received.self, f.get());
    EXPECT_EQ(received.cls, &PyLong_Type);
    EXPECT_EQ(received.nargsf, 1U);  // no offset bit handed on
    EXPECT_EQ(received.kwnames, names.get());
    EXPECT_EQ(received.kwvalue0, "2");

    set_flags(f.get(), FUNC_METHOD);
    Owned<> obj = str("instance");
    Owned<> r2 = vcall(f.get(), {obj.get(), one.get()});
    ASSERT_TRUE(r2);
    EXPECT_EQ(received.self, obj.get());
    EXPECT_EQ(received.nargsf, 1U);
    EXPECT_FALSE(vcall(f.get(), {}));
    EXPECT_EQ(error_message(), "t_method() needs an argument");
}

// ---- The call slot --------------------------------------------------------------

TEST_F(FunctionCall, CallSlotHandsOverTheTuplesOwnItemArray)
{
    Owned<> f = make(&def_fastcall_keywords);
    Owned<> args = tuple({integer(1).get(), integer(2).get()});
    Owned<> r = steal(runtime::native_function_call(f.get(), args.get(), nullptr));
    ASSERT_TRUE(r);
    EXPECT_EQ(received.args, &PyTuple_GET_ITEM(args.get(), 0));
    EXPECT_EQ(received.nargsf, 2U);
    EXPECT_EQ(received.kwnames, nullptr);
}

TEST_F(FunctionCall, CallSlotTreatsAnEmptyKeywordDictionaryAsNone)
{
    Owned<> f = make(&def_noargs);
    Owned<> kwargs = steal(PyDict_New());
    Owned<> r = steal(runtime::native_function_call(f.get(), runtime::state.empty_tuple,
                                                    kwargs.get()));
    EXPECT_EQ(r.get(), Py_None);
    EXPECT_EQ(received.calls, 1);
    Owned<> g = make(&def_fastcall_keywords);
    Owned<> r2 = steal(runtime::native_function_call(g.get(), runtime::state.empty_tuple,
                                                     kwargs.get()));
    ASSERT_TRUE(r2);
    EXPECT_EQ(received.kwnames, nullptr);
}

TEST_F(FunctionCall, CallSlotConvertsKeywordsForTheEntry)
{
    Owned<> f = make(&def_noargs);
    Owned<> kwargs = steal(PyDict_New());
    PyDict_SetItemString(kwargs.get(), "x", integer(1).get());
    EXPECT_FALSE(steal(runtime::native_function_call(f.get(), runtime::state.empty_tuple,
                                                     kwargs.get())));
    EXPECT_EQ(error_message(), "t_noargs() takes no keyword arguments");

    Owned<> g = make(&def_fastcall_keywords);
    Owned<> args = tuple({integer(5).get()});
    Owned<> r = steal(runtime::native_function_call(g.get(), args.get(), kwargs.get()));
    ASSERT_TRUE(r);
    EXPECT_EQ(received.nargsf, 1U);
    EXPECT_EQ(received.nkw, 1);
    EXPECT_EQ(received.kw0, "x");
    EXPECT_EQ(received.kwvalue0, "1");
    // A copy, not the tuple's own array, once keywords are involved.
    EXPECT_NE(received.args, &PyTuple_GET_ITEM(args.get(), 0));
}

TEST_F(FunctionCall, CallSlotRefusesANonStrKeywordBeforeTheEntrysOwnCheck)
{
    Owned<> f = make(&def_noargs);
    Owned<> kwargs = steal(PyDict_New());
    PyDict_SetItem(kwargs.get(), integer(1).get(), integer(2).get());
    EXPECT_FALSE(steal(runtime::native_function_call(f.get(), runtime::state.empty_tuple,
                                                     kwargs.get())));
    EXPECT_EQ(error_message(), "keywords must be strings");
    EXPECT_EQ(received.calls, 0);
}

TEST_F(FunctionCall, CallSlotCallsVarargsKeywordsWithTheTupleAndDictAsReceived)
{
    Owned<> f = make(&def_varargs_keywords);
    Owned<> args = tuple({integer(1).get()});
    Owned<> r = steal(runtime::native_function_call(f.get(), args.get(), nullptr));
    EXPECT_EQ(r.get(), args.get());
    EXPECT_EQ(received.self, f.get());
    EXPECT_EQ(received.args_tuple, args.get());
    EXPECT_EQ(received.kwargs, nullptr);
    Owned<> empty = steal(PyDict_New());
    Owned<> r2 = steal(runtime::native_function_call(f.get(), args.get(), empty.get()));
    ASSERT_TRUE(r2);
    EXPECT_EQ(received.kwargs, empty.get());
    // Non-str keys are the entry's business on this path.
    Owned<> odd = steal(PyDict_New());
    PyDict_SetItem(odd.get(), integer(1).get(), integer(2).get());
    Owned<> r3 = steal(runtime::native_function_call(f.get(), args.get(), odd.get()));
    ASSERT_TRUE(r3);
    EXPECT_EQ(received.kwargs, odd.get());
}

TEST_F(FunctionCall, CallSlotWithTheMethodBitSlicesOffSelf)
{
    Owned<> f = make(&def_varargs_keywords, "Owner.t_varargs_keywords");
    set_flags(f.get(), FUNC_METHOD);
    Owned<> obj = str("instance");
    Owned<> one = integer(1);
    Owned<> args = tuple({obj.get(), one.get()});
    Owned<> kwargs = steal(PyDict_New());
    Owned<> r = steal(runtime::native_function_call(f.get(), args.get(), kwargs.get()));
    ASSERT_TRUE(r);
    EXPECT_EQ(received.self, obj.get());
    ASSERT_EQ(PyTuple_GET_SIZE(r.get()), 1);
    EXPECT_EQ(PyTuple_GET_ITEM(r.get(), 0), one.get());
    EXPECT_EQ(received.kwargs, kwargs.get());

    EXPECT_FALSE(steal(runtime::native_function_call(f.get(), runtime::state.empty_tuple, nullptr)));
    EXPECT_EQ(error_message(), "unbound method Owner.t_varargs_keywords() needs an argument");

    set_flags(f.get(), FUNC_METHOD | FUNC_STATIC);
    Owned<> r2 = steal(runtime::native_function_call(f.get(), args.get(), nullptr));
    EXPECT_EQ(r2.get(), args.get());
    EXPECT_EQ(received.self, f.get());
}

TEST_F(FunctionCall, UnboundMethodMessageCutsTheQualifiedNameAtTwoHundredCharacters)
{
    const std::string qualname(150, 'q');
    const std::string wide = qualname + std::string(100, 'w');
    Owned<> f = make(&def_varargs_keywords, wide.c_str());
    set_flags(f.get(), FUNC_METHOD);
    EXPECT_FALSE(steal(runtime::native_function_call(f.get(), runtime::state.empty_tuple, nullptr)));
    EXPECT_EQ(error_message(),
              "unbound method " + qualname + std::string(50, 'w') + "() needs an argument");
}

TEST_F(FunctionCall, CallWithTupleCallsTheKeywordsForm)
{
    Owned<> f = make(&def_varargs_keywords);
    Owned<> obj = str("self");
    Owned<> args = tuple({integer(1).get()});
    Owned<> kwargs = steal(PyDict_New());
    Owned<> r = steal(runtime::call_with_tuple(f.get(), obj.get(), args.get(), kwargs.get()));
    EXPECT_EQ(r.get(), args.get());
    EXPECT_EQ(received.self, obj.get());
    EXPECT_EQ(received.kwargs, kwargs.get());
}

// ---- vectorcall_from_dict ---------------------------------------------------------

TEST_F(FunctionCall, FromDictKeepsTheDictionaryOrderAndReleasesEverything)
{
    Owned<> f = make(&def_fastcall_keywords);
    Owned<> positional = integer(100000);
    Owned<> kwargs = steal(PyDict_New());
    Owned<> va = steal(PyUnicode_FromString("value a"));
    Owned<> vb = steal(PyUnicode_FromString("value b"));
    PyDict_SetItemString(kwargs.get(), "b", vb.get());
    PyDict_SetItemString(kwargs.get(), "a", va.get());
    const Py_ssize_t va_refs = Py_REFCNT(va.get());
    const Py_ssize_t pos_refs = Py_REFCNT(positional.get());
    PyObject* args[] = {positional.get()};

    static std::vector<PyObject*> seen;
    static PyObject* seen_names = nullptr;
    seen.clear();
    vectorcallfunc probe = [](PyObject*, PyObject* const* a, std::size_t nargsf,
                              PyObject* kwnames) -> PyObject* {
        seen.assign(a, a + nargsf + static_cast<std::size_t>(PyTuple_GET_SIZE(kwnames)));
        seen_names = Py_NewRef(kwnames);
        return PyLong_FromSize_t(nargsf);
    };
    Owned<> r = steal(runtime::vectorcall_from_dict(f.get(), probe, args, 1, kwargs.get()));
    ASSERT_TRUE(r);
    EXPECT_EQ(PyLong_AsLong(r.get()), 1);  // no offset bit
    ASSERT_EQ(seen.size(), 3U);
    EXPECT_EQ(seen[0], positional.get());
    EXPECT_EQ(seen[1], vb.get());
    EXPECT_EQ(seen[2], va.get());
    Owned<> names = Owned<>::steal(seen_names);
    EXPECT_EQ(utf8(PyTuple_GET_ITEM(names.get(), 0)), "b");
    EXPECT_EQ(utf8(PyTuple_GET_ITEM(names.get(), 1)), "a");
    EXPECT_EQ(Py_REFCNT(va.get()), va_refs);
    EXPECT_EQ(Py_REFCNT(positional.get()), pos_refs);
}

TEST_F(FunctionCall, FromDictAcceptsStrSubclassKeysAndRefusesOthers)
{
    Owned<> f = make(&def_fastcall_keywords);
    Owned<> ns = run_python(
        "class S(str): pass\n"
        "good = {S('k'): 1}\n"
        "bad = {'a': 1, b'k': 2}\n",
        {});
    ASSERT_TRUE(ns);
    Owned<> r = steal(runtime::vectorcall_from_dict(f.get(), runtime::vectorcall_fastcall_keywords,
                                                    nullptr, 0, get(ns, "good")));
    ASSERT_TRUE(r);
    EXPECT_EQ(received.kw0, "k");
    received = Received{};
    EXPECT_FALSE(steal(runtime::vectorcall_from_dict(f.get(), runtime::vectorcall_fastcall_keywords,
                                                     nullptr, 0, get(ns, "bad"))));
    EXPECT_EQ(error_message(), "keywords must be strings");
    EXPECT_EQ(received.calls, 0);
}

// ---- Calls from Python ------------------------------------------------------------

TEST_F(FunctionCall, PythonCallsReachTheEntries)
{
    Owned<> f = make(&def_noargs);
    Owned<> g = make(&def_fastcall_keywords);
    Owned<> ns = run_python(
        "r0 = f()\n"
        "r1 = f(*(), **{})\n"
        "r2 = g(1, 2, k=3)\n"
        "r3 = g(*[1], **{'k': 3})\n"
        "def refused(call):\n"
        "    try:\n"
        "        call()\n"
        "    except TypeError as e:\n"
        "        return str(e)\n"
        "e1 = refused(lambda: f(1))\n"
        "e2 = refused(lambda: f(x=1))\n"
        "e3 = refused(lambda: f(1, x=1))\n",
        {{"f", f.get()}, {"g", g.get()}});
    ASSERT_TRUE(ns);
    EXPECT_EQ(get(ns, "r0"), Py_None);
    EXPECT_EQ(get(ns, "r1"), Py_None);
    EXPECT_EQ(PyLong_AsLong(get(ns, "r2")), 2);
    EXPECT_EQ(PyLong_AsLong(get(ns, "r3")), 1);
    EXPECT_EQ(utf8(get(ns, "e1")), "t_noargs() takes no arguments (1 given)");
    EXPECT_EQ(utf8(get(ns, "e2")), "t_noargs() takes no keyword arguments");
    EXPECT_EQ(utf8(get(ns, "e3")), "t_noargs() takes no keyword arguments");
}

TEST_F(FunctionCall, ArgumentErrorsLeaveTheObjectAsItWas)
{
    Owned<> f = make(&def_noargs);
    Owned<> one = integer(1);
    EXPECT_FALSE(vcall(f.get(), {one.get()}));
    take_exception();
    NativeFunction* op = as_native_function(f.get());
    EXPECT_EQ(op->func_name, nullptr);
    EXPECT_EQ(op->func_doc, nullptr);
    EXPECT_EQ(op->func_flags, 0);
    EXPECT_EQ(op->base.func.vectorcall, runtime::vectorcall_noargs);
}

// ---- Binding ------------------------------------------------------------------------

TEST_F(FunctionCall, DescrGetReturnsTheFunctionOrABoundMethod)
{
    Owned<> f = make(&def_noargs);
    Owned<> same = steal(runtime::native_function_descr_get(f.get(), nullptr,
                                                            reinterpret_cast<PyObject*>(&PyLong_Type)));
    EXPECT_EQ(same.get(), f.get());
    Owned<> obj = str("instance");
    Owned<> bound = steal(runtime::native_function_descr_get(f.get(), obj.get(), nullptr));
    ASSERT_TRUE(bound);
    ASSERT_TRUE(PyMethod_Check(bound.get()));
    EXPECT_EQ(PyMethod_GET_FUNCTION(bound.get()), f.get());
    EXPECT_EQ(PyMethod_GET_SELF(bound.get()), obj.get());
}

TEST_F(FunctionCall, AsAClassAttributeAndThroughAnInstance)
{
    Owned<> f = make(&def_noargs);
    Owned<> ns = run_python(
        "import types\n"
        "class C:\n"
        "    pass\n"
        "C.g = f\n"
        "same = C.g is f\n"
        "c = C()\n"
        "bound = c.g\n"
        "is_method = type(bound) is types.MethodType and bound.__func__ is f and bound.__self__ is c\n"
        "def refused(call):\n"
        "    try:\n"
        "        call()\n"
        "    except TypeError as e:\n"
        "        return str(e)\n"
        "e_bound = refused(bound)\n"
        "e_direct = refused(lambda: c.g())\n",
        {{"f", f.get()}});
    ASSERT_TRUE(ns);
    EXPECT_EQ(get(ns, "same"), Py_True);
    EXPECT_EQ(get(ns, "is_method"), Py_True);
    EXPECT_EQ(utf8(get(ns, "e_bound")), "t_noargs() takes no arguments (1 given)");
    EXPECT_EQ(utf8(get(ns, "e_direct")), "t_noargs() takes no arguments (1 given)");
    EXPECT_EQ(received.calls, 0);
}

TEST_F(FunctionCall, WithTheMethodBitAnInstanceIsSelf)
{
    Owned<> f = make(&def_noargs);
    set_flags(f.get(), FUNC_METHOD);
    Owned<> ns = run_python(
        "class C:\n"
        "    pass\n"
        "C.g = f\n"
        "c = C()\n"
        "c.g()\n",
        {{"f", f.get()}});
    ASSERT_TRUE(ns);
    EXPECT_EQ(received.self, get(ns, "c"));
    Owned<> ns2 = run_python(
        "class C:\n"
        "    pass\n"
        "C.g = f\n"
        "c = C()\n"
        "bound = c.g\n"
        "bound()\n",
        {{"f", f.get()}});
    ASSERT_TRUE(ns2);
    EXPECT_EQ(received.self, get(ns2, "c"));
    EXPECT_EQ(received.calls, 2);
}

} // namespace
