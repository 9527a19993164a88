// The launcher's seeds of re's pattern cache, against the interpreter that
// the launcher embeds: each seed is what re.compile makes of its pattern, and
// once json is imported re's caches hold what they hold without seeds.
#include <Python.h>
#include <gtest/gtest.h>

#include "owned.hpp"
#include "process/pattern_cache.hpp"
#include "python_test_support.hpp"

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

} // namespace
