// The C++ harness embeds one interpreter per test process. ctest runs each
// GoogleTest case in a process of its own, so process-wide module state never
// leaks from one case into another.
#include <Python.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class EmbeddedPython : public ::testing::Environment {
public:
    void SetUp() override
    {
        PyConfig config;
        PyConfig_InitIsolatedConfig(&config);
        // The interpreter's own prefix, recorded at build time, so the test
        // binary finds the standard library wherever it is run from.
        PyStatus status = PyConfig_SetBytesString(&config, &config.home, CPYTHON_PREFIX);
        if (!PyStatus_Exception(status)) {
            status = Py_InitializeFromConfig(&config);
        }
        PyConfig_Clear(&config);
        if (PyStatus_Exception(status)) {
            Py_ExitStatusException(status);
        }
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
