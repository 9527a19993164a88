// The shared module "_native_abi_1", its two types and the fetch and check of
// shared types.
#include <Python.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "function_attributes.hpp"
#include "function_call_slots.hpp"
#include "function_test_support.hpp"
#include "shared_type.hpp"

namespace {

using function_test::FunctionTest;
using function_test::get;
using function_test::NativeFunction;
using function_test::run_python;
using runtime::Owned;
using test_support::take_exception;
using test_support::utf8;

class SharedType : public FunctionTest {
protected:
    static PyObject* shared_dict()
    {
        PyObject* m = PyImport_AddModule("_native_abi_1");
        return m ? PyModule_GetDict(m) : nullptr;
    }

    // Probe tests use keys of their own and start without them, so that they
    // hold in one process as well as in one each.
    static void forget(const char* key)
    {
        if (PyDict_DelItemString(shared_dict(), key) < 0) {
            PyErr_Clear();
        }
    }
};

TEST_F(SharedType, SharedModuleHoldsBothTypesUnderTheirShortNames)
{
    PyObject* modules = PyImport_GetModuleDict();
    PyObject* shared = PyDict_GetItemString(modules, "_native_abi_1");
    ASSERT_NE(shared, nullptr);
    ASSERT_TRUE(PyModule_CheckExact(shared));
    PyObject* dict = PyModule_GetDict(shared);
    EXPECT_EQ(PyDict_GetItemString(dict, "_common_types_metatype"), metatype);
    EXPECT_EQ(PyDict_GetItemString(dict, "native_function_or_method"),
              reinterpret_cast<PyObject*>(runtime::state.function_type));
    // Both types name the shared module as their defining module.
    EXPECT_EQ(PyType_GetModule(runtime::state.function_type), shared);
    EXPECT_EQ(PyType_GetModule(reinterpret_cast<PyTypeObject*>(metatype)), shared);
}

TEST_F(SharedType, FetchingAgainGivesTheSameTypeObjects)
{
    Owned<> bases = Owned<>::steal(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyType_Type)));
    Owned<> meta2 =
        runtime::fetch_shared_type(nullptr, &runtime::common_metatype_spec, bases.get());
    Owned<> type2 = runtime::fetch_shared_type(
        reinterpret_cast<PyTypeObject*>(meta2.get()), &runtime::function_type_spec, nullptr);
    EXPECT_EQ(meta2.get(), metatype);
    EXPECT_EQ(type2.get(), reinterpret_cast<PyObject*>(runtime::state.function_type));
}

TEST_F(SharedType, MetatypeIsASubclassOfTypeThatCannotBeInstantiated)
{
    auto* meta = reinterpret_cast<PyTypeObject*>(metatype);
    EXPECT_STREQ(meta->tp_name, "_native_abi_1._common_types_metatype");
    EXPECT_EQ(meta->tp_base, &PyType_Type);
    EXPECT_EQ(meta->tp_basicsize, PyType_Type.tp_basicsize);
    EXPECT_EQ(meta->tp_itemsize, PyType_Type.tp_itemsize);
    EXPECT_EQ(meta->tp_flags & 0x180UL, 0x180UL);
    EXPECT_EQ(Py_TYPE(runtime::state.function_type), meta);
    // The spec as given.
    EXPECT_STREQ(runtime::common_metatype_spec.name, "_native_abi_1._common_types_metatype");
    EXPECT_EQ(runtime::common_metatype_spec.basicsize, 0);
    EXPECT_EQ(runtime::common_metatype_spec.itemsize, 0);
    EXPECT_EQ(runtime::common_metatype_spec.flags, 0x180U);
    EXPECT_EQ(runtime::common_metatype_spec.slots[0].slot, Py_tp_getset);
    EXPECT_EQ(runtime::common_metatype_spec.slots[1].slot, 0);
    // One read-only entry.
    auto* getset = static_cast<PyGetSetDef*>(runtime::common_metatype_spec.slots[0].pfunc);
    EXPECT_STREQ(getset[0].name, "__module__");
    EXPECT_EQ(getset[0].set, nullptr);
    EXPECT_EQ(getset[1].name, nullptr);

    Owned<> ns = run_python(
        "try:\n"
        "    M('X', (), {})\n"
        "    refused = None\n"
        "except TypeError as e:\n"
        "    refused = str(e)\n",
        {{"M", metatype}});
    ASSERT_TRUE(ns);
    EXPECT_EQ(utf8(get(ns, "refused")),
              "cannot create '_native_abi_1._common_types_metatype' instances");
}

TEST_F(SharedType, FunctionTypeHasTheSpecifiedShape)
{
    PyTypeObject* t = runtime::state.function_type;
    EXPECT_STREQ(t->tp_name, "_native_abi_1.native_function_or_method");
    EXPECT_EQ(t->tp_basicsize, static_cast<Py_ssize_t>(sizeof(NativeFunction)));
    EXPECT_EQ(t->tp_itemsize, 0);
    EXPECT_EQ(t->tp_base, &PyBaseObject_Type);
    EXPECT_EQ(t->tp_flags & 0x24d90UL, 0x24d90UL);
    // The interpreter learned the two offsets from the members table.
    EXPECT_EQ(t->tp_vectorcall_offset,
              static_cast<Py_ssize_t>(offsetof(NativeFunction, base.func.vectorcall)));
    EXPECT_EQ(t->tp_weaklistoffset,
              static_cast<Py_ssize_t>(offsetof(NativeFunction, base.func.m_weakreflist)));
    // A managed dictionary: no dictionary field.
    EXPECT_EQ(t->tp_dictoffset, -1);
    EXPECT_EQ(t->tp_new, nullptr);
    EXPECT_EQ(t->tp_dealloc, runtime::native_function_dealloc);
    EXPECT_EQ(t->tp_repr, runtime::native_function_repr);
    EXPECT_EQ(t->tp_call, runtime::native_function_call);
    EXPECT_EQ(t->tp_traverse, runtime::native_function_traverse);
    EXPECT_EQ(t->tp_clear, runtime::native_function_clear);
    EXPECT_EQ(t->tp_descr_get, runtime::native_function_descr_get);
    // No hash, comparison or attribute-lookup slot of its own.
    EXPECT_EQ(t->tp_hash, PyBaseObject_Type.tp_hash);
    EXPECT_EQ(t->tp_richcompare, PyBaseObject_Type.tp_richcompare);
    EXPECT_EQ(t->tp_getattro, PyBaseObject_Type.tp_getattro);
}

TEST_F(SharedType, FunctionTypeSpecListsItsSlotsInOrder)
{
    const PyType_Spec& spec = runtime::function_type_spec;
    EXPECT_STREQ(spec.name, "_native_abi_1.native_function_or_method");
    EXPECT_EQ(spec.basicsize, static_cast<int>(sizeof(NativeFunction)));
    EXPECT_EQ(spec.itemsize, 0);
    EXPECT_EQ(spec.flags, 0x24d90U);
    const int expected[] = {Py_tp_dealloc, Py_tp_repr,    Py_tp_call,
                            Py_tp_traverse, Py_tp_clear,  Py_tp_methods,
                            Py_tp_members,  Py_tp_getset, Py_tp_descr_get};
    int i = 0;
    for (; spec.slots[i].slot != 0; ++i) {
        ASSERT_LT(i, 9);
        EXPECT_EQ(spec.slots[i].slot, expected[i]) << i;
    }
    EXPECT_EQ(i, 9);

    auto* members = static_cast<PyMemberDef*>(spec.slots[6].pfunc);
    EXPECT_STREQ(members[0].name, "__module__");
    EXPECT_EQ(members[0].type, 6);  // T_OBJECT
    EXPECT_EQ(members[0].flags, 0);
    EXPECT_EQ(members[0].offset,
              static_cast<Py_ssize_t>(offsetof(NativeFunction, base.func.m_module)));
    EXPECT_STREQ(members[1].name, "__vectorcalloffset__");
    EXPECT_EQ(members[1].type, Py_T_PYSSIZET);
    EXPECT_EQ(members[1].flags, Py_READONLY);
    EXPECT_STREQ(members[2].name, "__weaklistoffset__");
    EXPECT_EQ(members[2].type, Py_T_PYSSIZET);
    EXPECT_EQ(members[2].flags, Py_READONLY);
    EXPECT_EQ(members[3].name, nullptr);
}

TEST_F(SharedType, RecordBeginsWithTheBuiltinFunctionRecord)
{
    // The static assertions of function_type.cpp, seen at run time through a
    // real object: a reader of PyCFunctionObject finds m_ml and m_self.
    Owned<> f = make(&function_test::def_noargs);
    ASSERT_TRUE(f);
    auto* as_builtin = reinterpret_cast<PyCFunctionObject*>(f.get());
    EXPECT_EQ(as_builtin->m_ml, &function_test::def_noargs);
    EXPECT_EQ(as_builtin->m_self, f.get());
    EXPECT_EQ(PyVectorcall_Function(f.get()), runtime::vectorcall_noargs);
}

TEST_F(SharedType, TheTypeItselfCannotBeCalled)
{
    Owned<> ns = run_python(
        "try:\n"
        "    T()\n"
        "    refused = None\n"
        "except TypeError as e:\n"
        "    refused = str(e)\n",
        {{"T", reinterpret_cast<PyObject*>(runtime::state.function_type)}});
    ASSERT_TRUE(ns);
    EXPECT_EQ(utf8(get(ns, "refused")),
              "cannot create '_native_abi_1.native_function_or_method' instances");
}

TEST_F(SharedType, CheckAcceptsATypeOfTheRightSizeOrAnyTypeForSizeZero)
{
    auto* t = reinterpret_cast<PyObject*>(runtime::state.function_type);
    EXPECT_EQ(runtime::check_shared_type(t, "native_function_or_method",
                                         static_cast<Py_ssize_t>(sizeof(NativeFunction))),
              0);
    EXPECT_EQ(runtime::check_shared_type(reinterpret_cast<PyObject*>(&PyLong_Type), "x", 0), 0);
    EXPECT_FALSE(PyErr_Occurred());
}

TEST_F(SharedType, CheckRefusesANonTypeWithTheExactMessage)
{
    Owned<> five = Owned<>::steal(PyLong_FromLong(5));
    EXPECT_EQ(runtime::check_shared_type(five.get(), "native_function_or_method", 0), -1);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "TypeError");
    EXPECT_EQ(raised.message, "Shared native type native_function_or_method is not a type object");
}

TEST_F(SharedType, CheckRefusesATypeOfAnotherSizeWithTheExactMessage)
{
    EXPECT_EQ(runtime::check_shared_type(reinterpret_cast<PyObject*>(&PyLong_Type),
                                         "native_function_or_method",
                                         static_cast<Py_ssize_t>(sizeof(NativeFunction))),
              -1);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "TypeError");
    EXPECT_EQ(raised.message,
              "Shared native type native_function_or_method has the wrong size, try recompiling");
}

TEST_F(SharedType, CheckCutsTheShortNameAtTwoHundredBytes)
{
    const std::string name(300, 'n');
    Owned<> five = Owned<>::steal(PyLong_FromLong(5));
    EXPECT_EQ(runtime::check_shared_type(five.get(), name.c_str(), 0), -1);
    EXPECT_EQ(take_exception().message,
              "Shared native type " + std::string(200, 'n') + " is not a type object");
}

// Specs with keys of their own, so that these tests leave the two real
// entries of the shared module alone.
PyType_Slot probe_slots[] = {{0, nullptr}};
PyType_Spec probe_spec = {"_native_abi_1.probe_type", 0, 0, Py_TPFLAGS_DEFAULT, probe_slots};
PyType_Spec sized_probe_spec = {"_native_abi_1.sized_probe_type",
                                static_cast<int>(sizeof(PyObject) + 8), 0, Py_TPFLAGS_DEFAULT,
                                probe_slots};
PyType_Spec undotted_spec = {"undotted_probe", 0, 0, Py_TPFLAGS_DEFAULT, probe_slots};

TEST_F(SharedType, FetchRegistersANewTypeUnderTheTextAfterTheLastDot)
{
    forget("probe_type");
    forget("undotted_probe");
    Owned<> t = runtime::fetch_shared_type(nullptr, &probe_spec, nullptr);
    ASSERT_TRUE(t);
    EXPECT_EQ(PyDict_GetItemString(shared_dict(), "probe_type"), t.get());
    Owned<> u = runtime::fetch_shared_type(nullptr, &undotted_spec, nullptr);
    ASSERT_TRUE(u);
    EXPECT_EQ(PyDict_GetItemString(shared_dict(), "undotted_probe"), u.get());
}

TEST_F(SharedType, FetchRefusesARegisteredNonType)
{
    forget("probe_type");
    Owned<> five = Owned<>::steal(PyLong_FromLong(5));
    ASSERT_EQ(PyDict_SetItemString(shared_dict(), "probe_type", five.get()), 0);
    EXPECT_EQ(runtime::fetch_shared_type(nullptr, &probe_spec, nullptr), nullptr);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "TypeError");
    EXPECT_EQ(raised.message, "Shared native type probe_type is not a type object");
    // The registered object stays.
    EXPECT_EQ(PyDict_GetItemString(shared_dict(), "probe_type"), five.get());
}

TEST_F(SharedType, FetchRefusesARegisteredTypeOfAnotherSize)
{
    forget("sized_probe_type");
    ASSERT_NE(PyDict_Type.tp_basicsize, sized_probe_spec.basicsize);
    ASSERT_EQ(PyDict_SetItemString(shared_dict(), "sized_probe_type",
                                   reinterpret_cast<PyObject*>(&PyDict_Type)),
              0);
    EXPECT_EQ(runtime::fetch_shared_type(nullptr, &sized_probe_spec, nullptr), nullptr);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "TypeError");
    EXPECT_EQ(raised.message, "Shared native type sized_probe_type has the wrong size, try recompiling");
}

TEST_F(SharedType, FetchAcceptsARegisteredTypeOfTheRightSize)
{
    forget("sized_probe_type");
    Owned<> ns = run_python("class Probe: __slots__ = ('a',)\n", {});
    ASSERT_TRUE(ns);
    PyObject* probe = get(ns, "Probe");
    ASSERT_EQ(reinterpret_cast<PyTypeObject*>(probe)->tp_basicsize,
              static_cast<Py_ssize_t>(sizeof(PyObject) + 8));
    ASSERT_EQ(PyDict_SetItemString(shared_dict(), "sized_probe_type", probe), 0);
    Owned<> t = runtime::fetch_shared_type(nullptr, &sized_probe_spec, nullptr);
    EXPECT_EQ(t.get(), probe);
}

TEST_F(SharedType, FetchKeepsExactlyOneTypeWhenAnotherIsRegisteredDuringCreation)
{
    forget("race_probe");
    // A metatype whose mro() runs while PyType_FromMetaclass builds the type;
    // it registers another type under the same key first. Set-default keeps
    // that one, and the type being created is discarded.
    Owned<> ns = run_python(
        "import sys, weakref\n"
        "class Winner: pass\n"
        "discarded = []\n"
        "class Meta(type):\n"
        "    def mro(cls):\n"
        "        discarded.append(weakref.ref(cls))\n"
        "        sys.modules['_native_abi_1'].race_probe = Winner\n"
        "        return type.mro(cls)\n",
        {});
    ASSERT_TRUE(ns);
    PyType_Spec race_spec = {"_native_abi_1.race_probe", 0, 0, Py_TPFLAGS_DEFAULT, probe_slots};
    Owned<> t = runtime::fetch_shared_type(
        reinterpret_cast<PyTypeObject*>(get(ns, "Meta")), &race_spec, nullptr);
    ASSERT_TRUE(t);
    EXPECT_EQ(t.get(), get(ns, "Winner"));
    EXPECT_EQ(PyDict_GetItemString(shared_dict(), "race_probe"), get(ns, "Winner"));
    // Our own reference to the losing type was released: once the collector
    // has broken the type's own cycles, it is gone.
    Owned<> collected = Owned<>::steal(PyImport_ImportModule("gc"));
    Owned<> r = Owned<>::steal(PyObject_CallMethod(collected.get(), "collect", nullptr));
    ASSERT_TRUE(r);
    PyObject* refs = get(ns, "discarded");
    ASSERT_EQ(PyList_GET_SIZE(refs), 1);
    Owned<> dead = Owned<>::steal(PyObject_CallNoArgs(PyList_GET_ITEM(refs, 0)));
    EXPECT_EQ(dead.get(), Py_None);
}

TEST_F(SharedType, FetchWithTheWinnerCheckedAsARegisteredType)
{
    forget("race_probe_bad");
    // The registered object that wins the race is checked like any other.
    Owned<> ns = run_python(
        "import sys\n"
        "class Meta(type):\n"
        "    def mro(cls):\n"
        "        sys.modules['_native_abi_1'].race_probe_bad = 7\n"
        "        return type.mro(cls)\n",
        {});
    ASSERT_TRUE(ns);
    PyType_Spec race_spec = {"_native_abi_1.race_probe_bad", 0, 0, Py_TPFLAGS_DEFAULT, probe_slots};
    EXPECT_EQ(runtime::fetch_shared_type(reinterpret_cast<PyTypeObject*>(get(ns, "Meta")),
                                         &race_spec, nullptr),
              nullptr);
    EXPECT_EQ(take_exception().message, "Shared native type race_probe_bad is not a type object");
}

} // namespace
