// _parse_input (script lines 31-41):
//
//     def _parse_input():
//         """Parse the key=value lines git sends on stdin."""
//         data = {}
//         for line in sys.stdin:
//             line = line.rstrip("\n")
//             if line == "":
//                 break
//             if "=" not in line:
//                 continue
//             k, _, v = line.partition("=")
//             data[k.strip()] = v
//         return data
#include "credential_commands.hpp"
#include "exception_match.hpp"
#include "lookup_attr.hpp"
#include "lookup_global.hpp"
#include "script_support.hpp"
#include "str_equals.hpp"

namespace kestrune {

namespace {

constexpr Py_ssize_t unpack_count = 3;

// The ValueError of an unpacking that found `found` values instead of three.
void raise_unpack_count(Py_ssize_t found)
{
    if (found > unpack_count) {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", unpack_count);
    } else {
        PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", found,
                     found == 1 ? "" : "s");
    }
}

// Whether the iteration step that just returned NULL ended the iteration
// (nothing raised, or StopIteration, which is cleared); 0 when it failed.
bool iteration_ended()
{
    PyObject* raised = PyErr_Occurred();
    if (!raised) {
        return true;
    }
    if (runtime::class_matches(raised, PyExc_StopIteration)) {
        PyErr_Clear();
        return true;
    }
    return false;
}

// k, _, v = parts. An exact tuple or list is unpacked by its size; anything
// else is iterated for three items and then asked for a fourth.
int unpack_three(PyObject* parts, Owned<> (&out)[3])
{
    if (PyTuple_CheckExact(parts) || PyList_CheckExact(parts)) {
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(parts);
        if (n != unpack_count) {
            raise_unpack_count(n);
            return -1;
        }
        PyObject** items = PySequence_Fast_ITEMS(parts);
        for (int i = 0; i < 3; ++i) {
            out[i] = runtime::borrow(items[i]);
        }
        return 0;
    }
    auto it = steal(PyObject_GetIter(parts));
    if (!it) {
        return -1;
    }
    iternextfunc next = Py_TYPE(it.get())->tp_iternext;
    for (Py_ssize_t i = 0; i < unpack_count; ++i) {
        out[i] = steal(next(it.get()));
        if (!out[i]) {
            if (iteration_ended()) {
                raise_unpack_count(i);
            }
            return -1;
        }
    }
    auto extra = steal(next(it.get()));
    if (extra) {
        raise_unpack_count(unpack_count + 1);
        return -1;
    }
    return iteration_ended() ? 0 : -1;
}

// The source of lines: an exact list or tuple is walked by index (its length
// read anew before each step, as a for loop over a list does); anything else
// through its iterator's next slot.
class LineSource {
public:
    // -1 with an exception set when `source` cannot be iterated.
    int open(Owned<> source)
    {
        if (PyList_CheckExact(source.get()) || PyTuple_CheckExact(source.get())) {
            sequence_ = std::move(source);
            return 0;
        }
        iterator_ = steal(PyObject_GetIter(source.get()));
        return iterator_ ? 0 : -1;
    }

    // The next line (new reference), or NULL: at the end with no exception
    // set, on failure with one.
    Owned<> next()
    {
        if (sequence_) {
            PyObject* s = sequence_.get();
            const Py_ssize_t size = PyList_CheckExact(s) ? PyList_GET_SIZE(s) : PyTuple_GET_SIZE(s);
            if (index_ >= size) {
                return {};
            }
            PyObject* item = PyList_CheckExact(s) ? PyList_GET_ITEM(s, index_) : PyTuple_GET_ITEM(s, index_);
            ++index_;
            return runtime::borrow(item);
        }
        auto item = steal(Py_TYPE(iterator_.get())->tp_iternext(iterator_.get()));
        if (!item && iteration_ended()) {
            return {};
        }
        return item;
    }

private:
    Owned<> sequence_;
    Owned<> iterator_;
    Py_ssize_t index_ = 0;
};

// What the loop does with one line read on the exact-str path.
enum class LineStep { next, stop, failed_at_39, failed_at_40 };

// Lines 35 to 40 for a line whose type is exactly str. The str methods that
// the loop calls by name cannot be overridden on str itself, so their work is
// done here on the line's characters, with the same results: `rstrip("\n")`
// as an end index, `"=" in line` and the partition as one search for the
// first "=", `k.strip()` as a range trimmed with the whitespace test that
// str.strip uses. Only the key and the value are made, as substrings; a
// substring that covers the whole line is the line itself, as str returns it.
LineStep parse_exact_str_line(PyObject* data, PyObject* line)
{
    const int kind = PyUnicode_KIND(line);
    const void* chars = PyUnicode_DATA(line);
    Py_ssize_t end = PyUnicode_GET_LENGTH(line);
    while (end > 0 && PyUnicode_READ(kind, chars, end - 1) == '\n') {  // line 35
        --end;
    }
    if (end == 0) {
        return LineStep::stop;  // lines 36-37
    }
    const Py_ssize_t equals = PyUnicode_FindChar(line, '=', 0, end, 1);  // line 38
    if (equals == -1) {
        return LineStep::next;
    }
    if (equals < 0) {
        return LineStep::failed_at_39;
    }
    auto v = steal(PyUnicode_Substring(line, equals + 1, end));  // line 39
    if (!v) {
        return LineStep::failed_at_39;
    }
    Py_ssize_t key_start = 0;  // line 40
    Py_ssize_t key_end = equals;
    while (key_start < key_end && Py_UNICODE_ISSPACE(PyUnicode_READ(kind, chars, key_start))) {
        ++key_start;
    }
    while (key_end > key_start && Py_UNICODE_ISSPACE(PyUnicode_READ(kind, chars, key_end - 1))) {
        --key_end;
    }
    auto key = steal(PyUnicode_Substring(line, key_start, key_end));
    if (!key || PyDict_SetItem(data, key.get(), v.get()) < 0) {
        return LineStep::failed_at_40;
    }
    return LineStep::next;
}

} // namespace

PyObject* _parse_input(PyObject*, PyObject*)
{
    const auto& K = module_state.constants;

    auto data = steal(PyDict_New());  // line 33
    if (!data) {
        return fail_at(entry_parse_input, 33);
    }

    // Line 34.
    LineSource lines;
    {
        auto sys = runtime::lookup_global(K[n_sys]);
        if (!sys) {
            return fail_at(entry_parse_input, 34);
        }
        auto stdin_ = runtime::lookup_attr(sys.get(), K[n_stdin]);
        if (!stdin_ || lines.open(std::move(stdin_)) < 0) {
            return fail_at(entry_parse_input, 34);
        }
    }

    Owned<> line, k, sep, v;
    for (;;) {
        line = lines.next();
        if (!line) {
            if (PyErr_Occurred()) {
                return fail_at(entry_parse_input, 34);
            }
            break;
        }

        if (PyUnicode_CheckExact(line.get())) {
            const LineStep step = parse_exact_str_line(data.get(), line.get());
            if (step == LineStep::next) {
                continue;
            }
            if (step == LineStep::stop) {
                break;
            }
            return fail_at(entry_parse_input, step == LineStep::failed_at_39 ? 39 : 40);
        }

        {  // line 35
            PyObject* args[] = {line.get(), K[str_newline]};
            line = call_method(K[n_rstrip], args, 2);
            if (!line) {
                return fail_at(entry_parse_input, 35);
            }
        }

        const int empty = runtime::str_equals(line.get(), K[str_empty]);  // line 36
        if (empty < 0) {
            return fail_at(entry_parse_input, 36);
        }
        if (empty) {
            break;  // line 37
        }

        const int has_equals = PySequence_Contains(line.get(), K[str_equals_sign]);  // line 38
        if (has_equals < 0) {
            return fail_at(entry_parse_input, 38);
        }
        if (!has_equals) {
            continue;
        }

        {  // line 39
            PyObject* args[] = {line.get(), K[str_equals_sign]};
            auto parts = call_method(K[n_partition], args, 2);
            Owned<> unpacked[3];
            if (!parts || unpack_three(parts.get(), unpacked) < 0) {
                return fail_at(entry_parse_input, 39);
            }
            k = std::move(unpacked[0]);
            sep = std::move(unpacked[1]);
            v = std::move(unpacked[2]);
        }

        {  // line 40
            PyObject* args[] = {k.get()};
            auto key = call_method(K[n_strip], args, 1);
            if (!key || PyDict_SetItem(data.get(), key.get(), v.get()) < 0) {
                return fail_at(entry_parse_input, 40);
            }
        }
    }
    return data.release();  // line 41
}

} // namespace kestrune
