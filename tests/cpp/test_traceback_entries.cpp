// Traceback entries that name the script file, the function and the line of
// a failure inside a native function.
#include <Python.h>
#include <gtest/gtest.h>

#include "code_cache.hpp"
#include "code_object.hpp"
#include "python_test_support.hpp"
#include "runtime_state_fixture.hpp"
#include "traceback_entry.hpp"

namespace {

using runtime::Owned;
using runtime::state;
using test_support::utf8;

constexpr const char script[] = "scripts/git-credential-kestrune";
constexpr const char read_token[] = "scripts.git_credential_kestrune._read_token";
constexpr const char cmd_get[] = "scripts.git_credential_kestrune.cmd_get";

class TracebackEntries : public test_support::RuntimeStateTest {
protected:
    // The globals here have no __name__, which the frame constructor reads:
    // entries must be added all the same.
    void SetUp() override
    {
        RuntimeStateTest::SetUp();
        ASSERT_TRUE(exec("import traceback\n"
                         "def entries(exc):\n"
                         "    return [(f.filename, f.name, f.lineno)\n"
                         "            for f in traceback.extract_tb(exc.__traceback__)]\n"));
    }

    // Takes the exception being raised into the global `exc`.
    static void keep_exception()
    {
        auto exc = Owned<>::steal(PyErr_GetRaisedException());
        ASSERT_TRUE(exc);
        ASSERT_EQ(PyDict_SetItemString(state.module_dict, "exc", exc.get()), 0);
    }

    static std::string shown(const char* expression)
    {
        auto value = eval(expression);
        if (!value) {
            PyErr_Print();
            return "<error>";
        }
        auto text = Owned<>::steal(PyObject_Repr(value.get()));
        return text ? utf8(text.get()) : "<error>";
    }
};

TEST_F(TracebackEntries, ExtractTbReadsBackFileNameAndLine)
{
    PyErr_SetString(PyExc_ValueError, "bad config");
    PyObject* raised = PyErr_Occurred() ? _PyThreadState_UncheckedGet()->current_exception : nullptr;
    runtime::add_traceback_entry(read_token, 26, script);
    runtime::add_traceback_entry(cmd_get, 49, script);
    // Still the same exception object, only its traceback grew.
    ASSERT_EQ(_PyThreadState_UncheckedGet()->current_exception, raised);
    keep_exception();
    EXPECT_EQ(shown("entries(exc)"),
              "[('scripts/git-credential-kestrune', 'scripts.git_credential_kestrune.cmd_get', 49), "
              "('scripts/git-credential-kestrune', 'scripts.git_credential_kestrune._read_token', "
              "26)]");
    EXPECT_EQ(shown("str(exc)"), "'bad config'");
    EXPECT_EQ(shown("exc.__traceback__.tb_frame.f_globals is globals()"), "True");
    EXPECT_EQ(shown("exc.__traceback__.tb_frame.f_lineno"), "49");
    // The interpreter formats it like any other traceback.
    EXPECT_EQ(shown("traceback.format_exception(exc)[-2]"),
              "'  File \"scripts/git-credential-kestrune\", line 26, in "
              "scripts.git_credential_kestrune._read_token\\n'");
}

TEST_F(TracebackEntries, EntriesFollowTheTracebackItAlreadyHas)
{
    // An exception raised by Python code carries the entry of that code; ours
    // goes in front of it, as a caller's entry does.
    ASSERT_TRUE(exec("try:\n"
                     "    raise KeyError('host')\n"
                     "except KeyError as e:\n"
                     "    pending = e\n"));
    PyErr_SetRaisedException(Py_NewRef(global("pending")));
    runtime::add_traceback_entry(cmd_get, 45, script);
    keep_exception();
    EXPECT_EQ(shown("exc is pending"), "True");
    EXPECT_EQ(shown("[(name, line) for _, name, line in entries(exc)]"),
              "[('scripts.git_credential_kestrune.cmd_get', 45), ('<module>', 2)]");
}

TEST_F(TracebackEntries, EntriesOfOneFunctionAtOneLineShareOneCodeObject)
{
    PyErr_SetNone(PyExc_OSError);
    runtime::add_traceback_entry(read_token, 27, script);
    keep_exception();
    ASSERT_TRUE(exec("first = exc"));
    PyErr_SetNone(PyExc_OSError);
    runtime::add_traceback_entry(read_token, 27, script);
    keep_exception();
    EXPECT_EQ(shown("exc.__traceback__.tb_frame.f_code is first.__traceback__.tb_frame.f_code"),
              "True");
    EXPECT_EQ(state.code_cache.count, 1);
}

TEST_F(TracebackEntries, AnotherFunctionAtACachedLineShowsItsOwnName)
{
    PyErr_SetNone(PyExc_OSError);
    runtime::add_traceback_entry(read_token, 27, script);
    keep_exception();
    ASSERT_TRUE(exec("first = exc"));
    PyErr_SetNone(PyExc_OSError);
    runtime::add_traceback_entry(cmd_get, 27, script);
    keep_exception();
    EXPECT_EQ(shown("exc.__traceback__.tb_frame.f_code.co_name"),
              "'scripts.git_credential_kestrune.cmd_get'");
    EXPECT_EQ(shown("first.__traceback__.tb_frame.f_code.co_name"),
              "'scripts.git_credential_kestrune._read_token'");
    EXPECT_EQ(state.code_cache.count, 2);
}

TEST_F(TracebackEntries, LineZeroMakesANewCodeObjectEachTime)
{
    PyErr_SetNone(PyExc_OSError);
    runtime::add_traceback_entry(read_token, 0, script);
    runtime::add_traceback_entry(read_token, 0, script);
    keep_exception();
    EXPECT_EQ(shown("entries(exc)"),
              "[('scripts/git-credential-kestrune', 'scripts.git_credential_kestrune._read_token', 0), "
              "('scripts/git-credential-kestrune', 'scripts.git_credential_kestrune._read_token', "
              "0)]");
    EXPECT_EQ(shown("exc.__traceback__.tb_frame.f_code is exc.__traceback__.tb_next.tb_frame.f_code"),
              "False");
    EXPECT_EQ(state.code_cache.count, 0);
}

TEST_F(TracebackEntries, TheFrameCarriesTheEntryLine)
{
    // A cached code object whose first line differs from the entry's line:
    // only the frame's own line field can make the frame report 77. (The
    // interpreter derives the entry's tb_lineno from the code object, which
    // is why the cache is keyed by line and each code object starts there.)
    auto code = Owned<>::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(script, read_token, 3)));
    ASSERT_TRUE(code);
    runtime::code_cache_insert(77, code.get());
    PyErr_SetNone(PyExc_OSError);
    runtime::add_traceback_entry(read_token, 77, script);
    keep_exception();
    EXPECT_EQ(shown("exc.__traceback__.tb_frame.f_lineno"), "77");
    EXPECT_EQ(shown("exc.__traceback__.tb_frame.f_code.co_firstlineno"), "3");
}

TEST_F(TracebackEntries, WithoutAnExceptionNothingIsAdded)
{
    runtime::add_traceback_entry(read_token, 26, script);
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    EXPECT_EQ(state.code_cache.count, 0);
}

} // namespace
