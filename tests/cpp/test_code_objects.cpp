// The five code objects of the module's functions, built from their words,
// local names and location tables as the exec step builds them.
#include <Python.h>
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "code_object.hpp"
#include "constants.hpp"
#include "python_test_support.hpp"
#include "runtime_state_fixture.hpp"

namespace {

using kestrune::Const;
using kestrune::constant;
using runtime::CodeSpecWord;
using runtime::Owned;
using test_support::take_exception;

struct FunctionCode {
    const char* name;
    std::uint32_t word;
    std::array<Const, 5> locals;
    Const linetable;
    Py_ssize_t code_size;
    // Positions of the location table: "line: start-end, ...; line: ...".
    const char* positions;
};

constexpr FunctionCode functions[] = {
    {"_read_token", 0x1700D0, {Const::n_f, Const::n_cfg}, Const::linetable__read_token, 116,
     "23: 0-1; 24: 4-5; 25: 13-17, 17-18, 18-31, 31-36, 36-45, 45-57, 57-58; "
     "26: 12-18, 18-22, 22-27, 27-28, 28-29; 27: 8-15, 15-18, 18-22, 22-23, 23-39, 39-43, "
     "43-46, 46-47; 28: 11-12; 29: 8-15, 15-16"},
    {"_parse_input", 0x1F00E8, {Const::n_data, Const::n_line, Const::n_k, Const::n__, Const::n_v},
     Const::linetable__parse_input, 164,
     "31: 0-1; 33: 4-11, 11-12; 34: 4-8, 8-16, 16-19, 19-20; 35: 8-15, 15-19, 19-26, 26-27, "
     "27-28; 36: 8-11, 11-16, 16-19, 19-20; 37: 12-13; 38: 8-11, 11-15, 15-18, 18-19; "
     "39: 12-15, 15-18, 18-22, 22-26, 26-36, 36-37, 37-38; 40: 12-16, 16-17, 17-18, 18-24, "
     "24-30, 30-31; 41: 4-11, 11-12"},
    {"cmd_get", 0x2B00D8, {Const::n_data, Const::n_host, Const::n_token}, Const::linetable_cmd_get,
     156,
     "43: 0-1; 44: 4-11, 11-23, 23-24; 45: 4-11, 11-15, 15-19, 19-20, 20-28, 28-29; "
     "47: 4-7, 7-20, 20-27, 27-28; 48: 8-9; 49: 4-12, 12-23, 23-24; 50: 4-7, 7-11, 11-12; "
     "51: 8-9; 54: 4-9, 9-10, 10-11; 55: 4-9, 9-10, 10-21, 21-22, 22-23; 56: 4-9, 9-10"},
    {"cmd_store", 0x3A00C0, {}, Const::linetable_cmd_store_erase, 8, "58: 0-1"},
    {"cmd_erase", 0x3E00C0, {}, Const::linetable_cmd_store_erase, 8, "62: 0-1"},
};

Const function_name(const FunctionCode& f)
{
    const std::string name = f.name;
    return name == "_read_token"    ? Const::n__read_token
           : name == "_parse_input" ? Const::n__parse_input
           : name == "cmd_get"      ? Const::n_cmd_get
           : name == "cmd_store"    ? Const::n_cmd_store
                                    : Const::n_cmd_erase;
}

class CodeObjects : public test_support::RuntimeStateTest {
protected:
    void SetUp() override
    {
        RuntimeStateTest::SetUp();
        ASSERT_EQ(kestrune::init_constants(kestrune::module_state), 0);
        dedup_ = Owned<>::steal(PyDict_New());
        ASSERT_TRUE(dedup_);
    }

    Owned<> make(const FunctionCode& f)
    {
        PyObject* names[5] = {};
        for (int i = 0; i < CodeSpecWord{f.word}.nlocals(); ++i) {
            names[i] = constant(f.locals[static_cast<std::size_t>(i)]);
        }
        return runtime::make_code_object(
            CodeSpecWord{f.word}, names, constant(Const::str_script_filename),
            constant(function_name(f)), constant(f.linetable), dedup_.get());
    }

    Owned<> dedup_;
};

TEST(CodeSpecWords, DecodeIntoTheirFields)
{
    constexpr CodeSpecWord parse_input{0x1F00E8};
    static_assert(parse_input.argcount() == 0 && parse_input.posonlyargcount() == 0 &&
                  parse_input.kwonlyargcount() == 0);
    static_assert(parse_input.nlocals() == 5 && parse_input.flags() == 3 &&
                  parse_input.first_line() == 31);
    constexpr CodeSpecWord all_set{0xFFFFFFFF};
    static_assert(all_set.argcount() == 1 && all_set.posonlyargcount() == 1 &&
                  all_set.kwonlyargcount() == 1 && all_set.nlocals() == 7 &&
                  all_set.flags() == 0x3FF && all_set.first_line() == 63);
    EXPECT_EQ(CodeSpecWord{0x3E00C0}.first_line(), 62);
    EXPECT_EQ(CodeSpecWord{0x2B00D8}.nlocals(), 3);
}

TEST_F(CodeObjects, ShowTheirNamesLinesAndVariables)
{
    ASSERT_TRUE(exec("def describe(c):\n"
                     "    return (c.co_name, c.co_qualname, c.co_filename, c.co_firstlineno,\n"
                     "            c.co_varnames, len(c.co_code), c.co_argcount,\n"
                     "            c.co_posonlyargcount, c.co_kwonlyargcount, c.co_nlocals,\n"
                     "            c.co_flags, c.co_stacksize, c.co_consts, c.co_names,\n"
                     "            c.co_freevars, c.co_cellvars, c.co_exceptiontable)\n"));
    const char* expected[] = {
        "('_read_token', '_read_token', 'scripts/git-credential-kestrune', 23, ('f', 'cfg'), "
        "116, 0, 0, 0, 2, 3, 0, (), (), (), (), b'')",
        "('_parse_input', '_parse_input', 'scripts/git-credential-kestrune', 31, "
        "('data', 'line', 'k', '_', 'v'), 164, 0, 0, 0, 5, 3, 0, (), (), (), (), b'')",
        "('cmd_get', 'cmd_get', 'scripts/git-credential-kestrune', 43, ('data', 'host', 'token'), "
        "156, 0, 0, 0, 3, 3, 0, (), (), (), (), b'')",
        "('cmd_store', 'cmd_store', 'scripts/git-credential-kestrune', 58, (), 8, 0, 0, 0, 0, 3, 0, "
        "(), (), (), (), b'')",
        "('cmd_erase', 'cmd_erase', 'scripts/git-credential-kestrune', 62, (), 8, 0, 0, 0, 0, 3, 0, "
        "(), (), (), (), b'')",
    };
    for (std::size_t i = 0; i < std::size(functions); ++i) {
        auto code = make(functions[i]);
        ASSERT_TRUE(code) << functions[i].name;
        ASSERT_TRUE(PyCode_Check(code.get()));
        EXPECT_EQ(reinterpret_cast<PyCodeObject*>(code.get())->_co_firsttraceable, 0);
        ASSERT_EQ(PyDict_SetItemString(runtime::state.module_dict, "code", code.get()), 0);
        auto shown = eval("repr(describe(code))");
        ASSERT_TRUE(shown);
        EXPECT_EQ(test_support::utf8(shown.get()), expected[i]);
        auto table = eval("code.co_linetable");
        ASSERT_TRUE(table);
        EXPECT_EQ(PyObject_RichCompareBool(table.get(), constant(functions[i].linetable), Py_EQ), 1);
    }
    // The two functions without locals share one variable-name tuple.
    EXPECT_EQ(PyDict_Size(dedup_.get()), 4);
    auto again = make(functions[0]);
    ASSERT_TRUE(again);
    EXPECT_EQ(PyDict_Size(dedup_.get()), 4);
}

TEST_F(CodeObjects, LocationTablesDecodeToTheScriptPositions)
{
    ASSERT_TRUE(exec("def expand(text):\n"
                     "    out = []\n"
                     "    for group in text.split(';'):\n"
                     "        line, spans = group.split(':')\n"
                     "        for span in spans.split(','):\n"
                     "            start, end = span.split('-')\n"
                     "            out.append((int(line), int(line), int(start), int(end)))\n"
                     "    return out\n"));
    for (const FunctionCode& f : functions) {
        auto code = make(f);
        ASSERT_TRUE(code) << f.name;
        auto text = str(f.positions);
        ASSERT_EQ(PyDict_SetItemString(runtime::state.module_dict, "code", code.get()), 0);
        ASSERT_EQ(PyDict_SetItemString(runtime::state.module_dict, "text", text.get()), 0);
        auto decoded = eval("list(code.co_positions())");
        auto expected = eval("expand(text)");
        ASSERT_TRUE(decoded && expected);
        EXPECT_EQ(PyObject_RichCompareBool(decoded.get(), expected.get(), Py_EQ), 1)
            << f.name << ": " << test_support::utf8(Owned<>::steal(PyObject_Repr(decoded.get())).get());
        // co_lines agrees: every line of the table, in order, and no other.
        auto lines = eval("[l for _, _, l in code.co_lines()] == "
                          "sorted({l for l, _, _, _ in expand(text)})");
        ASSERT_TRUE(lines);
        EXPECT_EQ(lines.get(), Py_True) << f.name;
    }
}

TEST_F(CodeObjects, WithoutALocationTableTheCodeIsEmpty)
{
    PyObject* names[] = {constant(Const::n_f)};
    auto code = runtime::make_code_object(
        CodeSpecWord{0x0A00C8}, names, constant(Const::str_script_filename),
        constant(Const::n_cmd_get), nullptr, dedup_.get());
    ASSERT_TRUE(code);
    ASSERT_EQ(PyDict_SetItemString(runtime::state.module_dict, "code", code.get()), 0);
    auto shown = eval("repr((code.co_code, code.co_linetable, code.co_firstlineno, code.co_varnames))");
    ASSERT_TRUE(shown);
    EXPECT_EQ(test_support::utf8(shown.get()), "(b'', b'', 10, ('f',))");
}

TEST_F(CodeObjects, FailuresReturnNullWithTheException)
{
    PyObject* names[] = {constant(Const::n_f)};
    // The de-duplication map must be a dictionary.
    EXPECT_EQ(runtime::make_code_object(CodeSpecWord{0x0A00C8}, names,
                                        constant(Const::str_script_filename),
                                        constant(Const::n_cmd_get), nullptr, Py_None),
              nullptr);
    EXPECT_EQ(take_exception().type, "SystemError");
    // A positional-only count above the argument count is refused.
    EXPECT_EQ(runtime::make_code_object(CodeSpecWord{0x0A00CA}, names,
                                        constant(Const::str_script_filename),
                                        constant(Const::n_cmd_get), nullptr, dedup_.get()),
              nullptr);
    EXPECT_EQ(take_exception().type, "SystemError");
}

} // namespace
