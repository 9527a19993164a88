// The exec step's check of the running interpreter's version.
#include <Python.h>
#include <gtest/gtest.h>

#include "module_steps.hpp"
#include "python_test_support.hpp"

namespace {

using test_support::run_python;
using test_support::take_exception;

TEST(VersionCheck, AnyMicroVersionOf312IsSilent)
{
    auto ns = run_python("import warnings\nwarnings.simplefilter('error')\n");
    ASSERT_TRUE(ns);
    EXPECT_EQ(kestrune::warn_on_version_mismatch(0x030C01F0UL), 0);
    EXPECT_EQ(kestrune::warn_on_version_mismatch(0x030C0AA1UL), 0);
    EXPECT_FALSE(PyErr_Occurred());
    run_python("import warnings\nwarnings.resetwarnings()\n");
}

TEST(VersionCheck, OtherMinorVersionWarnsOrFailsUnderErrorFilters)
{
    auto ns = run_python("import warnings\nwarnings.simplefilter('error')\n");
    ASSERT_TRUE(ns);
    EXPECT_EQ(kestrune::warn_on_version_mismatch(0x030D00F0UL), -1);
    auto raised = take_exception();
    EXPECT_EQ(raised.type, "RuntimeWarning");
    EXPECT_EQ(raised.message,
              "compile time Python version 3.12 of module 'scripts.git_credential_kestrune' does "
              "not match runtime version 3.13");

    run_python("import warnings\nwarnings.simplefilter('ignore')\n");
    EXPECT_EQ(kestrune::warn_on_version_mismatch(0x040000F0UL), 0);
    EXPECT_FALSE(PyErr_Occurred());
    run_python("import warnings\nwarnings.resetwarnings()\n");
}

} // namespace
