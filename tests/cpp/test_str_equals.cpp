// String equality as the function bodies use it: exact str operands on the
// fast path, everything else as `==` would decide.
#include <Python.h>
#include <gtest/gtest.h>

#include "owned.hpp"
#include "python_test_support.hpp"
#include "str_equals.hpp"

namespace {

using runtime::Owned;
using test_support::run_python;
using test_support::take_exception;

Owned<> str(const char* text) { return Owned<>::steal(PyUnicode_FromString(text)); }

TEST(StrEquals, ExactStrCompareByContent)
{
    auto a = str("github.com");
    auto b = str("github.com");
    ASSERT_NE(a.get(), b.get());
    EXPECT_EQ(runtime::str_equals(a.get(), a.get()), 1);
    // Only one of the two has its hash cached yet.
    ASSERT_NE(PyObject_Hash(a.get()), -1);
    ASSERT_EQ(reinterpret_cast<PyASCIIObject*>(b.get())->hash, -1);
    EXPECT_EQ(runtime::str_equals(a.get(), b.get()), 1);
    ASSERT_NE(PyObject_Hash(b.get()), -1);
    EXPECT_EQ(runtime::str_equals(a.get(), b.get()), 1);

    EXPECT_EQ(runtime::str_equals(a.get(), str("github.con").get()), 0);  // last character
    EXPECT_EQ(runtime::str_equals(a.get(), str("gitlab.com").get()), 0);
    EXPECT_EQ(runtime::str_equals(a.get(), str("github.co").get()), 0);
    EXPECT_EQ(runtime::str_equals(str("g").get(), str("h").get()), 0);
    EXPECT_EQ(runtime::str_equals(str("g").get(), str("g").get()), 1);
    EXPECT_FALSE(PyErr_Occurred());
}

TEST(StrEquals, DifferentCharacterWidthsAreUnequal)
{
    // One-, two- and four-byte strings of the same length.
    auto narrow = str("caf\xC3\xA9");       // e with acute, U+00E9
    auto wide = str("caf\xC4\x95");         // e with breve, U+0115
    auto widest = str("caf\xF0\x9F\x98\x80");  // U+1F600
    ASSERT_EQ(PyUnicode_KIND(narrow.get()), PyUnicode_1BYTE_KIND);
    ASSERT_EQ(PyUnicode_KIND(wide.get()), PyUnicode_2BYTE_KIND);
    ASSERT_EQ(PyUnicode_KIND(widest.get()), PyUnicode_4BYTE_KIND);
    EXPECT_EQ(runtime::str_equals(narrow.get(), wide.get()), 0);
    EXPECT_EQ(runtime::str_equals(wide.get(), widest.get()), 0);
    EXPECT_EQ(runtime::str_equals(widest.get(), str("caf\xF0\x9F\x98\x80").get()), 1);
    EXPECT_EQ(runtime::str_equals(wide.get(), str("caf\xC4\x95").get()), 1);
}

TEST(StrEquals, NoneAgainstStrIsFalseWithoutAComparison)
{
    auto text = str("get");
    EXPECT_EQ(runtime::str_equals(Py_None, text.get()), 0);
    EXPECT_EQ(runtime::str_equals(text.get(), Py_None), 0);
    EXPECT_EQ(runtime::str_equals(Py_None, Py_None), 1);
    EXPECT_FALSE(PyErr_Occurred());
}

TEST(StrEquals, StrSubclassDecidesWithItsOwnEq)
{
    auto ns = run_python("class Always(str):\n"
                         "    def __eq__(self, other): return True\n"
                         "    __hash__ = str.__hash__\n"
                         "class Broken(str):\n"
                         "    def __eq__(self, other): raise ValueError('no compare')\n"
                         "class Falsy:\n"
                         "    def __bool__(self): raise RuntimeError('no truth')\n"
                         "class Odd(str):\n"
                         "    def __eq__(self, other): return Falsy()\n"
                         "always = Always('x')\n"
                         "broken = Broken('get')\n"
                         "odd = Odd('get')\n");
    ASSERT_TRUE(ns);
    PyObject* dict = ns.get();
    auto other = str("y");
    EXPECT_EQ(runtime::str_equals(PyDict_GetItemString(dict, "always"), other.get()), 1);
    EXPECT_EQ(runtime::str_equals(other.get(), PyDict_GetItemString(dict, "always")), 1);
    // None against a subclass instance is not an exact str: its __eq__ runs.
    EXPECT_EQ(runtime::str_equals(Py_None, PyDict_GetItemString(dict, "always")), 1);

    auto get = str("get");
    EXPECT_EQ(runtime::str_equals(PyDict_GetItemString(dict, "broken"), get.get()), -1);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "ValueError");
    EXPECT_EQ(raised.message, "no compare");
    EXPECT_EQ(runtime::str_equals(PyDict_GetItemString(dict, "odd"), get.get()), -1);
    raised = take_exception();
    EXPECT_EQ(raised.type, "RuntimeError");
    EXPECT_EQ(raised.message, "no truth");
}

TEST(StrEquals, OtherObjectsCompareWithEq)
{
    auto one = Owned<>::steal(PyLong_FromLong(1));
    auto one_float = Owned<>::steal(PyFloat_FromDouble(1.0));
    auto text = str("1");
    EXPECT_EQ(runtime::str_equals(one.get(), one_float.get()), 1);
    EXPECT_EQ(runtime::str_equals(one.get(), text.get()), 0);
    EXPECT_FALSE(PyErr_Occurred());
}

} // namespace
