// Exception matching as an `except` clause sees it.
#include <Python.h>
#include <gtest/gtest.h>

#include "exception_match.hpp"
#include "owned.hpp"

namespace {

using runtime::Owned;

PyTypeObject* as_type(PyObject* o) { return reinterpret_cast<PyTypeObject*>(o); }

Owned<> tuple(std::initializer_list<PyObject*> items)
{
    auto t = Owned<>::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    Py_ssize_t i = 0;
    for (PyObject* item : items) {
        PyTuple_SET_ITEM(t.get(), i++, Py_NewRef(item));
    }
    return t;
}

TEST(ExceptionMatching, ClassAgainstAClass)
{
    EXPECT_EQ(runtime::class_matches(PyExc_ValueError, PyExc_ValueError), 1);
    EXPECT_EQ(runtime::class_matches(PyExc_UnicodeDecodeError, PyExc_Exception), 1);
    EXPECT_EQ(runtime::class_matches(PyExc_FileNotFoundError, PyExc_OSError), 1);
    // Derives from BaseException only, so `except Exception` lets it through.
    EXPECT_EQ(runtime::class_matches(PyExc_KeyboardInterrupt, PyExc_Exception), 0);
    EXPECT_EQ(runtime::class_matches(PyExc_KeyboardInterrupt, PyExc_BaseException), 1);
    EXPECT_EQ(runtime::class_matches(PyExc_Exception, PyExc_ValueError), 0);
    // Classes that are not exceptions match only themselves.
    auto int_type = reinterpret_cast<PyObject*>(&PyLong_Type);
    auto bool_type = reinterpret_cast<PyObject*>(&PyBool_Type);
    EXPECT_EQ(runtime::class_matches(bool_type, int_type), 0);
    EXPECT_EQ(runtime::class_matches(PyExc_ValueError, int_type), 0);
}

TEST(ExceptionMatching, ClassAgainstATuple)
{
    auto int_type = reinterpret_cast<PyObject*>(&PyLong_Type);
    auto text = Owned<>::steal(PyUnicode_FromString("not a class"));
    auto lookup = tuple({int_type, text.get(), PyExc_LookupError});
    auto unrelated = tuple({int_type, text.get(), PyExc_ValueError});
    EXPECT_EQ(runtime::class_matches(PyExc_KeyError, lookup.get()), 1);
    EXPECT_EQ(runtime::class_matches(PyExc_KeyError, unrelated.get()), 0);
    EXPECT_EQ(runtime::class_matches_tuple(PyExc_KeyError, lookup.get()), 1);
    EXPECT_EQ(runtime::class_matches_tuple(PyExc_KeyError, unrelated.get()), 0);
    // Identity with an element counts even for a class that is no exception.
    EXPECT_EQ(runtime::class_matches(int_type, unrelated.get()), 1);
    EXPECT_EQ(runtime::class_matches_tuple(int_type, unrelated.get()), 1);
    auto empty = tuple({});
    EXPECT_EQ(runtime::class_matches(PyExc_KeyError, empty.get()), 0);
    EXPECT_EQ(runtime::class_matches_tuple(PyExc_KeyError, empty.get()), 0);
    EXPECT_FALSE(PyErr_Occurred());
}

TEST(ExceptionMatching, CurrentExceptionAgainstClassesAndTuples)
{
    EXPECT_EQ(runtime::current_exception_matches(PyExc_BaseException), 0);

    PyErr_SetString(PyExc_KeyError, "host");
    EXPECT_EQ(runtime::current_exception_matches(PyExc_KeyError), 1);
    EXPECT_EQ(runtime::current_exception_matches(PyExc_LookupError), 1);
    EXPECT_EQ(runtime::current_exception_matches(PyExc_Exception), 1);
    EXPECT_EQ(runtime::current_exception_matches(PyExc_ValueError), 0);
    auto either = tuple({PyExc_ValueError, PyExc_LookupError});
    auto neither = tuple({PyExc_ValueError, PyExc_TypeError});
    EXPECT_EQ(runtime::current_exception_matches(either.get()), 1);
    EXPECT_EQ(runtime::current_exception_matches(neither.get()), 0);
    // Matching leaves the exception as it was.
    ASSERT_TRUE(PyErr_ExceptionMatches(PyExc_KeyError));
    PyErr_Clear();

    PyErr_SetNone(PyExc_SystemExit);
    EXPECT_EQ(runtime::current_exception_matches(PyExc_Exception), 0);
    PyErr_Clear();
}

TEST(ExceptionMatching, InheritanceWithAndWithoutAnMro)
{
    EXPECT_EQ(runtime::type_inherits(&PyBool_Type, &PyLong_Type), 1);
    EXPECT_EQ(runtime::type_inherits(&PyLong_Type, &PyBool_Type), 0);
    EXPECT_EQ(runtime::type_inherits(&PyLong_Type, &PyBaseObject_Type), 1);

    // A type still being readied has only its base chain.
    PyTypeObject unready{};
    unready.tp_base = as_type(PyExc_KeyError);
    EXPECT_EQ(runtime::type_inherits(&unready, as_type(PyExc_LookupError)), 1);
    EXPECT_EQ(runtime::type_inherits(&unready, &PyBaseObject_Type), 1);
    EXPECT_EQ(runtime::type_inherits(&unready, as_type(PyExc_ValueError)), 0);
    EXPECT_EQ(runtime::type_inherits_either(&unready, as_type(PyExc_ValueError),
                                            as_type(PyExc_Exception)), 1);
    EXPECT_EQ(runtime::type_inherits_either(&unready, as_type(PyExc_ValueError),
                                            as_type(PyExc_TypeError)), 0);

    EXPECT_EQ(runtime::type_inherits_either(&PyBool_Type, &PyUnicode_Type, &PyLong_Type), 1);
    EXPECT_EQ(runtime::type_inherits_either(&PyLong_Type, &PyUnicode_Type, &PyBool_Type), 0);
    // A type argument that is not there yet never matches.
    EXPECT_EQ(runtime::type_inherits_either(&PyLong_Type, nullptr, &PyBool_Type), 0);
    EXPECT_EQ(runtime::type_inherits_either(&unready, nullptr, as_type(PyExc_TypeError)), 0);
    EXPECT_EQ(runtime::type_inherits_either(&PyCFunction_Type, nullptr, &PyCFunction_Type), 1);
}

} // namespace
