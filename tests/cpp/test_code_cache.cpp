// The cache of traceback code objects: sorted by line, one entry per
// function name and line, growing 64 entries at a time.
#include <Python.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "code_cache.hpp"
#include "runtime_state_fixture.hpp"

namespace {

using runtime::CodeCacheEntry;
using runtime::Owned;
using runtime::state;

class CodeCache : public test_support::RuntimeStateTest {
protected:
    static Owned<> code(int line, const char* name = "name")
    {
        return Owned<>::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty("file", name, line)));
    }

    static std::vector<int> lines()
    {
        std::vector<int> out;
        for (int i = 0; i < state.code_cache.count; ++i) {
            out.push_back(state.code_cache.entries[i].line);
        }
        return out;
    }
};

TEST(CodeCachePosition, AgreesWithALowerBoundSearch)
{
    for (int count = 1; count <= 9; ++count) {
        std::vector<CodeCacheEntry> entries;
        for (int i = 0; i < count; ++i) {
            // Pairs of equal lines: the position is the first of the pair.
            entries.push_back({nullptr, 10 * (i / 2 + 1)});
        }
        for (int line = -1; line <= 10 * count + 11; ++line) {
            auto bound = std::lower_bound(entries.begin(), entries.end(), line,
                                          [](const CodeCacheEntry& e, int l) { return e.line < l; });
            EXPECT_EQ(runtime::code_cache_position(entries.data(), count, line),
                      bound - entries.begin())
                << "count " << count << ", line " << line;
        }
    }
}

TEST_F(CodeCache, InsertionsBelowBetweenAndAboveKeepItSorted)
{
    EXPECT_FALSE(runtime::code_cache_find("name", 30));
    std::vector<Owned<>> codes;
    for (int line : {30, 10, 50, 20, 40, 45, 5}) {
        codes.push_back(code(line));
        runtime::code_cache_insert(line, codes.back().get());
    }
    EXPECT_EQ(lines(), (std::vector<int>{5, 10, 20, 30, 40, 45, 50}));
    EXPECT_EQ(state.code_cache.capacity, 64);
    for (const auto& c : codes) {
        const int line = reinterpret_cast<PyCodeObject*>(c.get())->co_firstlineno;
        auto found = runtime::code_cache_find("name", line);
        EXPECT_EQ(found.get(), c.get()) << line;
    }
    for (int missing : {1, 15, 49, 51}) {
        EXPECT_FALSE(runtime::code_cache_find("name", missing)) << missing;
    }
    EXPECT_FALSE(PyErr_Occurred());
}

TEST_F(CodeCache, LineZeroIsNeverCached)
{
    auto c = code(0);
    runtime::code_cache_insert(0, c.get());
    EXPECT_EQ(state.code_cache.entries, nullptr);
    auto other = code(3);
    runtime::code_cache_insert(3, other.get());
    runtime::code_cache_insert(0, c.get());
    EXPECT_EQ(lines(), std::vector<int>{3});
    EXPECT_FALSE(runtime::code_cache_find("name", 0));
}

TEST_F(CodeCache, ALineAlreadyCachedIsReplacedInPlace)
{
    auto first = code(7);
    auto second = code(7);
    const Py_ssize_t first_refs = Py_REFCNT(first.get());
    runtime::code_cache_insert(7, first.get());
    EXPECT_EQ(Py_REFCNT(first.get()), first_refs + 1);
    runtime::code_cache_insert(7, second.get());
    EXPECT_EQ(lines(), std::vector<int>{7});
    EXPECT_EQ(Py_REFCNT(first.get()), first_refs);
    auto found = runtime::code_cache_find("name", 7);
    EXPECT_EQ(found.get(), second.get());
}

TEST_F(CodeCache, FunctionsFailingAtOneLineEachHaveTheirOwnEntry)
{
    auto first = code(7, "first");
    auto second = code(7, "second");
    auto later = code(7, "first");
    runtime::code_cache_insert(7, first.get());
    runtime::code_cache_insert(7, second.get());
    EXPECT_EQ(lines(), (std::vector<int>{7, 7}));
    EXPECT_EQ(runtime::code_cache_find("first", 7).get(), first.get());
    EXPECT_EQ(runtime::code_cache_find("second", 7).get(), second.get());
    EXPECT_FALSE(runtime::code_cache_find("third", 7));
    runtime::code_cache_insert(7, later.get());  // replaces its own name's entry only
    EXPECT_EQ(lines(), (std::vector<int>{7, 7}));
    EXPECT_EQ(runtime::code_cache_find("first", 7).get(), later.get());
    EXPECT_EQ(runtime::code_cache_find("second", 7).get(), second.get());
}

TEST_F(CodeCache, TheSixtyFifthLineGrowsItTo128)
{
    auto c = code(1);
    // Descending, so that every insertion moves all earlier entries up.
    for (int line = 64; line >= 1; --line) {
        runtime::code_cache_insert(line, c.get());
    }
    EXPECT_EQ(state.code_cache.count, 64);
    EXPECT_EQ(state.code_cache.capacity, 64);
    runtime::code_cache_insert(-3, c.get());
    EXPECT_EQ(state.code_cache.count, 65);
    EXPECT_EQ(state.code_cache.capacity, 128);
    std::vector<int> expected{-3};
    for (int line = 1; line <= 64; ++line) {
        expected.push_back(line);
    }
    EXPECT_EQ(lines(), expected);
    for (int line : expected) {
        auto found = runtime::code_cache_find("name", line);
        EXPECT_EQ(found.get(), c.get()) << line;
    }
}

} // namespace
