// The watch the launcher puts in front of sys.stdin and sys.stdout during a
// `get`: the module sees its streams behave exactly as unwatched, and the
// follow-up gets the lines the module read, or no record at all when the
// module read in a way the recorder cannot follow. The module itself only
// iterates and prints, so this is reached from here rather than through the
// launcher.
#include <Python.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "followup/request_limit.hpp"
#include "followup/request_watch.hpp"
#include "python_test_support.hpp"

namespace {

using runtime::Owned;
using test_support::utf8;

struct Watched {
    std::string outcome;  // repr of the result or "Type: message", then " | " and what was written
    std::string record;   // repr of the recorded lines, or "None"
    bool answered = false;
};

// Runs `expression` with sys.stdin reading `input` from a file and sys.stdout
// writing to memory, both text streams as the interpreter makes them, under a
// RequestWatch when `watched`.
Watched run(const std::string& expression, const std::string& input, bool watched)
{
    Watched run;
    auto ns = test_support::run_python(
        "import io, sys, tempfile\n"
        "saved = sys.stdin, sys.stdout\n"
        "source = tempfile.TemporaryFile('w+', newline='\\n')\n"
        "source.write(text)\n"
        "source.seek(0)\n"
        "sink = io.TextIOWrapper(io.BytesIO(), 'utf-8', newline='\\n')\n"
        "sys.stdin, sys.stdout = source, sink\n",
        {{"text", Owned<>::steal(PyUnicode_FromString(input.c_str())).get()}});
    EXPECT_TRUE(ns);
    if (!ns) {
        return run;
    }
    std::optional<launcher::RequestWatch> watch;
    if (watched) {
        watch.emplace();
    }
    auto done = Owned<>::steal(PyRun_String(
        ("try:\n"
         "    outcome = repr(" + expression + ")\n"
         "except Exception as e:\n"
         "    outcome = '%s: %s' % (type(e).__name__, e)\n").c_str(),
        Py_file_input, ns.get(), ns.get()));
    EXPECT_TRUE(done);
    if (watch) {
        PyObject* lines = watch->lines();
        auto record = Owned<>::steal(PyObject_Repr(lines ? lines : Py_None));
        run.record = utf8(record.get());
        run.answered = watch->answered();
        watch.reset();
    }
    done = Owned<>::steal(PyRun_String("sys.stdin, sys.stdout = saved\n"
                                       "source.close()\n"
                                       "sink.flush()\n"
                                       "outcome += ' | ' + sink.buffer.getvalue().decode()\n",
                                       Py_file_input, ns.get(), ns.get()));
    EXPECT_TRUE(done);
    if (!done) {
        PyErr_Print();
    }
    run.outcome = utf8(PyDict_GetItemString(ns.get(), "outcome"));
    return run;
}

TEST(RequestWatch, WritesPassArgumentsThroughUnchanged)
{
    const struct {
        const char* expression;
        const char* outcome;
    } cases[] = {
        {"sys.stdout.write(('x',))", "TypeError: write() argument must be str, not tuple | "},
        {"sys.stdout.write()", "TypeError: TextIOWrapper.write() takes exactly one argument (0 given) | "},
        {"sys.stdout.write('a', 'b')", "TypeError: TextIOWrapper.write() takes exactly one argument (2 given) | "},
        {"sys.stdout.write(s='a')", "TypeError: TextIOWrapper.write() takes no keyword arguments | "},
        {"print('a', 'b', sep='-', file=sys.stdout)", "None | a-b\n"},
        {"sys.stdout.writelines(['a', 'b'])", "None | ab"},
        {"setattr(sys.stdout, 'note', 1) or sys.stdout.note", "1 | "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression);
        const Watched watched = run(c.expression, "", true);
        EXPECT_EQ(watched.outcome, c.outcome);
        EXPECT_EQ(run(c.expression, "", false).outcome, c.outcome);
        EXPECT_TRUE(watched.answered);
    }
}

TEST(RequestWatch, ReadsPassThroughAndAreRecordedOrTheRecordIsGivenUp)
{
    const std::string request = "protocol=https\nhost=github.com\n\n";
    const std::string longest(launcher::request_max_length - 1, 'x');
    const struct {
        std::string expression;
        std::string input;
        std::string record;
    } cases[] = {
        {"list(sys.stdin)", request, R"(['protocol=https\n', 'host=github.com\n', '\n'])"},
        {"next(sys.stdin)", request, R"(['protocol=https\n'])"},
        {"sys.stdin.readline() + sys.stdin.readline()", request, R"(['protocol=https\n', 'host=github.com\n'])"},
        {"sys.stdin.readline(3)", request, "None"},
        {"repr(sys.stdin) == repr(source)", request, "[]"},
        {"sys.stdin.fileno() == source.fileno()", request, "None"},
        {"sys.stdin.buffer.read()", request, "None"},
        {"sys.stdin.read()", request, "None"},
        {"len(list(sys.stdin))", longest + "\n", "['" + longest + "\\n']"},
        {"len(list(sys.stdin))", longest + "x\n", "None"},
        {"len(list(sys.stdin))", "y\n" + longest, "None"},
        {"exec('for t in type(sys.stdin), type(sys.stdout):\\n    try: t().name\\n    except TypeError: pass')",
         request, "[]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression + " on " + c.input.substr(0, 20));
        const Watched watched = run(c.expression, c.input, true);
        EXPECT_EQ(watched.outcome, run(c.expression, c.input, false).outcome);
        EXPECT_EQ(watched.record, c.record);
        EXPECT_FALSE(watched.answered);
    }
}

} // namespace
