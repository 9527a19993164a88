// The launcher's seeds of re's pattern cache, against the interpreter that
// the launcher embeds: each seed is what re.compile makes of its pattern, and
// once json is imported re's caches hold what they hold without seeds.
#include <Python.h>
#include <gtest/gtest.h>

#include "owned.hpp"
#include "process/pattern_cache.hpp"
#include "python_test_support.hpp"

#if defined(KESTRUNE_FROZEN_MODULES)
#include "freeze/seeded_patterns.h"
#endif

namespace {

using test_support::run_python;

// Seeds the cache of a purged re, then imports json afresh; `seeded` lists
// what the seeding put in re._cache, `after_json` both caches' keys after.
constexpr const char import_json_afresh[] = R"(
import re, sys
for name in [n for n in sys.modules if n == "json" or n.startswith("json.")]:
    del sys.modules[name]
import json
after_json = (list(re._cache), list(re._cache2))
)";

TEST(PatternCache, EachSeedIsWhatReCompileMakesOfItsPattern)
{
#if !defined(KESTRUNE_FROZEN_MODULES)
    GTEST_SKIP() << "this build's launcher freezes nothing and seeds no pattern";
#endif
    ASSERT_TRUE(run_python("import re\nre.purge()"));
    launcher::seed_pattern_cache();
    ASSERT_FALSE(PyErr_Occurred());
    auto checked = run_python(R"(
import re
mismatches = []
for (kind, pattern, flags), seeded in re._cache.items():
    made = re._compiler.compile(pattern, flags)
    # Pattern objects compare their pattern, flags and code.
    for what, a, b in [("type", kind, type(pattern)), ("code", seeded, made),
                       ("flags", seeded.flags, made.flags), ("groups", seeded.groups, made.groups),
                       ("groupindex", seeded.groupindex, made.groupindex)]:
        if a != b:
            mismatches.append("%a: %s" % (pattern, what))
count = len(re._cache)
)");
    ASSERT_TRUE(checked);
    EXPECT_GT(PyLong_AsLong(PyDict_GetItemString(checked.get(), "count")), 0);
    EXPECT_EQ(PyObject_Length(PyDict_GetItemString(checked.get(), "mismatches")), 0)
        << test_support::utf8(runtime::steal(PyObject_Repr(PyDict_GetItemString(checked.get(), "mismatches"))).get());
}

TEST(PatternCache, ReCachesAfterJsonAreTheSameWithOrWithoutSeeds)
{
#if !defined(KESTRUNE_FROZEN_MODULES)
    GTEST_SKIP() << "this build's launcher freezes nothing and seeds no pattern";
#endif
    ASSERT_TRUE(run_python("import re\nre.purge()"));
    auto plain = run_python(import_json_afresh);
    ASSERT_TRUE(plain);
    ASSERT_TRUE(run_python("import re\nre.purge()"));
    launcher::seed_pattern_cache();
    auto seeded = run_python(import_json_afresh);
    ASSERT_TRUE(seeded);
    const int same = PyObject_RichCompareBool(PyDict_GetItemString(plain.get(), "after_json"),
                                              PyDict_GetItemString(seeded.get(), "after_json"), Py_EQ);
    EXPECT_EQ(same, 1);
}

// Tables that the seeding must refuse in whole or in part, made from the
// build's own: (what, marshalled table, how many of the build's entries are
// seeded).
constexpr const char refused_tables[] = R"(
import _sre, marshal
magic, codesize, entries = marshal.loads(built)
first, second = entries[:2]
broken = (first[0], first[1][:2] + ([],) + first[1][3:])
cases = [
    ("another MAGIC", (magic + 1, codesize, entries), 0),
    ("another CODESIZE", (magic, codesize * 2, entries), 0),
    ("no entries", (magic, codesize, ()), 0),
    ("not a table", [magic, codesize, entries], 0),
    ("an entry that is not a pair", (magic, codesize, (first, (second[1],)) + entries[2:]), 1),
    ("code that _sre refuses", (magic, codesize, (first, second, broken)), 2),
]
cases = [(what, marshal.dumps(table), seeded) for what, table, seeded in cases]
)";

TEST(PatternCache, TablesThatDoNotFitSeedOnlyWhatFitsAndRaiseNothing)
{
#if !defined(KESTRUNE_FROZEN_MODULES)
    GTEST_SKIP() << "this build's launcher freezes nothing and seeds no pattern";
#else
    auto built = runtime::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(kestrune_seeded_patterns),
                                                          kestrune_seeded_patterns_size));
    ASSERT_TRUE(built);
    auto made = run_python(refused_tables, {{"built", built.get()}});
    ASSERT_TRUE(made);
    PyObject* cases = PyDict_GetItemString(made.get(), "cases");
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(cases); i++) {
        PyObject* item = PyList_GET_ITEM(cases, i);
        PyObject* table = PyTuple_GET_ITEM(item, 1);
        SCOPED_TRACE(test_support::utf8(PyTuple_GET_ITEM(item, 0)));
        ASSERT_TRUE(run_python("import re\nre.purge()"));
        launcher::seed_pattern_cache_from(reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(table)),
                                          static_cast<int>(PyBytes_GET_SIZE(table)));
        EXPECT_FALSE(PyErr_Occurred());
        auto cache = run_python("import re\ncount = len(re._cache)");
        ASSERT_TRUE(cache);
        EXPECT_EQ(PyLong_AsLong(PyDict_GetItemString(cache.get(), "count")), PyLong_AsLong(PyTuple_GET_ITEM(item, 2)));
    }
#endif
}

} // namespace
