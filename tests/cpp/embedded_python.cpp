// The C++ harness embeds one interpreter per test process. ctest runs each
// GoogleTest case in a process of its own, so process-wide module state never
// leaks from one case into another.
#include <Python.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "embedded_interpreter.hpp"

namespace {

class EmbeddedPython : public ::testing::Environment {
public:
    void SetUp() override
    {
        start_embedded_interpreter();
    }
    void TearDown() override
    {
        // Tests leave the interpreter as they found it; finalising checks that
        // nothing they did breaks shutdown.
        ASSERT_EQ(Py_FinalizeEx(), 0);
    }
};

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new EmbeddedPython);
    return RUN_ALL_TESTS();
}
