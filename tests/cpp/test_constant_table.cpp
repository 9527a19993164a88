// The ConstantTable as the exec step builds it.
#include <Python.h>
#include <gtest/gtest.h>

#include <cstring>

#include "config_file_rules.hpp"
#include "constants.hpp"
#include "host_rules.hpp"
#include "python_test_support.hpp"

namespace {

using kestrune::Const;
using kestrune::constant_count;
using kestrune::module_state;
using test_support::take_exception;
using test_support::utf8;

class ConstantTable : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(kestrune::init_constants(module_state), 0); }
};

// The launcher's tools read these facts from the rules library; the module
// reads its own copies from the table. They must not drift apart.
TEST_F(ConstantTable, SharesItsFactsWithTheRules)
{
    EXPECT_EQ(utf8(module_state.constants[Const::str_github_host]), kestrune::github_host);
    EXPECT_EQ(utf8(module_state.constants[Const::str_config_path_template]),
              kestrune::config_path_template);
}

TEST_F(ConstantTable, HasSixtyTwoStrThenFourBytes)
{
    for (int i = 0; i < constant_count; ++i) {
        PyObject* c = module_state.constants[i];
        ASSERT_NE(c, nullptr) << i;
        if (i < 62) {
            EXPECT_TRUE(PyUnicode_CheckExact(c)) << i;
        } else {
            EXPECT_TRUE(PyBytes_CheckExact(c)) << i;
        }
    }
    EXPECT_EQ(utf8(module_state.constants[Const::str_empty]), "");
    EXPECT_EQ(utf8(module_state.constants[Const::str_newline]), "\n");
    EXPECT_EQ(utf8(module_state.constants[Const::str_github_host]), "github.com");
    EXPECT_EQ(utf8(module_state.constants[Const::str_script_filename]),
              "scripts/git-credential-kestrune");
    EXPECT_EQ(utf8(module_state.constants[Const::n_CONFIG_PATH]), "CONFIG_PATH");
    EXPECT_EQ(utf8(module_state.constants[Const::n_asyncio_coroutines]), "asyncio.coroutines");
    EXPECT_EQ(utf8(module_state.constants[Const::n_values]), "values");
    EXPECT_EQ(PyBytes_GET_SIZE(module_state.constants[Const::linetable__parse_input]), 81);
    EXPECT_EQ(PyBytes_GET_SIZE(module_state.constants[Const::linetable_cmd_store_erase]), 2);
    EXPECT_EQ(PyBytes_GET_SIZE(module_state.constants[Const::linetable_cmd_get]), 76);
    EXPECT_EQ(PyBytes_GET_SIZE(module_state.constants[Const::linetable__read_token]), 57);
    EXPECT_EQ(std::memcmp(PyBytes_AS_STRING(module_state.constants[Const::linetable__read_token]),
                          "\x80\x01\xD8\x04\x05", 5),
              0);
}

TEST_F(ConstantTable, NamesAreTheInterpretersInternedObjects)
{
    // Entry 0 is the interpreter's own empty-string singleton, whatever its
    // interned state; the other plain strings are not interned.
    EXPECT_EQ(PyUnicode_GET_LENGTH(module_state.constants[0]), 0);
    for (int i = 1; i < 10; ++i) {
        EXPECT_FALSE(PyUnicode_CHECK_INTERNED(module_state.constants[i])) << i;
    }
    for (int i = 10; i < 62; ++i) {
        PyObject* c = module_state.constants[i];
        EXPECT_TRUE(PyUnicode_CHECK_INTERNED(c)) << i;
        PyObject* same = PyUnicode_InternFromString(utf8(c).c_str());
        EXPECT_EQ(same, c) << i;
        Py_XDECREF(same);
    }
    // A name the interpreter interned before the table was built is shared.
    PyObject* main_name = PyUnicode_InternFromString("__main__");
    EXPECT_EQ(main_name, module_state.constants[Const::n___main__]);
    Py_XDECREF(main_name);
}

TEST_F(ConstantTable, EveryHashIsCached)
{
    for (int i = 0; i < 62; ++i) {
        EXPECT_NE(reinterpret_cast<PyASCIIObject*>(module_state.constants[i])->hash, -1) << i;
    }
    // The bytes hash cache is a deprecated field; read it without the warning.
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wdeprecated-declarations\"")
    for (int i = 62; i < constant_count; ++i) {
        EXPECT_NE(reinterpret_cast<PyBytesObject*>(module_state.constants[i])->ob_shash, -1) << i;
    }
    _Pragma("GCC diagnostic pop")
}

TEST(ConstantStream, IsAZlibStreamAtTheHighestLevel)
{
    ASSERT_GE(kestrune::constant_stream_size(), 2u);
    EXPECT_EQ(kestrune::constant_stream_data()[0], 0x78);
    EXPECT_EQ(kestrune::constant_stream_data()[1], 0xDA);
}

TEST(ConstantStream, UnreachableDecompressGivesTheExactImportError)
{
    // Blocking zlib in sys.modules makes its import fail.
    PyObject* modules = PyImport_GetModuleDict();
    PyObject* saved = PyDict_GetItemString(modules, "zlib");
    Py_XINCREF(saved);
    ASSERT_EQ(PyDict_SetItemString(modules, "zlib", Py_None), 0);

    EXPECT_EQ(kestrune::init_constants(module_state), -1);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "ImportError");
    EXPECT_EQ(raised.message,
              "Failed to import 'zlib.decompress' - cannot initialise module strings. String "
              "compression was configured with the C macro 'NATIVE_COMPRESS_STRINGS=1'.");

    if (saved) {
        PyDict_SetItemString(modules, "zlib", saved);
        Py_DECREF(saved);
    } else {
        PyDict_DelItemString(modules, "zlib");
    }
}

TEST(ConstantStream, MismatchedLengthTableFailsBeforeTheWalk)
{
    PyObject* table[constant_count] = {};
    std::uint32_t lengths[constant_count];
    for (auto& n : lengths) {
        n = 127;  // far more than the stream holds
    }
    EXPECT_EQ(kestrune::decode_constants(table, kestrune::constant_stream_data(),
                                         kestrune::constant_stream_size(), lengths),
              -1);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "SystemError");
    EXPECT_NE(raised.message.find("8382 bytes"), std::string::npos) << raised.message;
    for (auto* p : table) {
        EXPECT_EQ(p, nullptr);  // nothing was decoded
    }
}

TEST(ConstantStream, OnlyTheLowSevenBitsOfALengthCount)
{
    PyObject* table[constant_count] = {};
    std::uint32_t lengths[constant_count];
    // Rebuild the real lengths from a good decode, then set high bits.
    ASSERT_EQ(kestrune::init_constants(module_state), 0);
    for (int i = 0; i < constant_count; ++i) {
        PyObject* c = module_state.constants[i];
        lengths[i] = static_cast<std::uint32_t>(
                         i < 62 ? PyUnicode_GET_LENGTH(c) == 0 ? 0 : std::strlen(PyUnicode_AsUTF8(c))
                                : PyBytes_GET_SIZE(c)) |
                     0xFF80u;
    }
    ASSERT_EQ(kestrune::decode_constants(table, kestrune::constant_stream_data(),
                                         kestrune::constant_stream_size(), lengths),
              0);
    for (int i = 0; i < constant_count; ++i) {
        EXPECT_EQ(PyObject_RichCompareBool(table[i], module_state.constants[i], Py_EQ), 1) << i;
        Py_XDECREF(table[i]);
    }
}

} // namespace
