#include "constants.hpp"

#include "owned.hpp"

namespace kestrune {

using runtime::Owned;
using runtime::steal;

namespace {
#include "constant_stream.inc"
} // namespace

const unsigned char* constant_stream_data() noexcept { return constant_stream; }
std::size_t constant_stream_size() noexcept { return sizeof constant_stream; }

namespace {

// Only the low seven bits of a length entry count.
constexpr std::uint32_t length_mask = 0x7F;

// zlib.decompress, or ImportError naming what cannot be reached.
Owned<> fetch_decompress(PyObject* name)
{
    auto zlib = steal(PyImport_ImportModule("zlib"));
    Owned<> decompress;
    if (zlib) {
        decompress = steal(PyObject_GetAttr(zlib.get(), name));
    }
    if (!decompress) {
        PyErr_Format(PyExc_ImportError,
                     "Failed to import '%.20s.decompress' - cannot initialise module strings. "
                     "String compression was configured with the C macro "
                     "'NATIVE_COMPRESS_STRINGS=%d'.",
                     "zlib", 1);
    }
    return decompress;
}

} // namespace

int decode_constants(PyObject** table, const unsigned char* stream, std::size_t stream_size,
                     const std::uint32_t (&lengths)[constant_count])
{
    auto name = steal(PyUnicode_FromString("decompress"));
    if (!name) {
        return -1;
    }
    auto decompress = fetch_decompress(name.get());
    if (!decompress) {
        return -1;
    }
    // The view lends the static stream to zlib without a copy.
    auto view = steal(PyMemoryView_FromMemory(
        reinterpret_cast<char*>(const_cast<unsigned char*>(stream)),
        static_cast<Py_ssize_t>(stream_size), PyBUF_READ));
    if (!view) {
        return -1;
    }
    auto raw = steal(PyObject_CallFunctionObjArgs(decompress.get(), view.get(), nullptr));
    view.reset();
    decompress.reset();
    name.reset();
    if (!raw) {
        return -1;
    }
    // The walk reads the object's buffer directly: anything but an exact
    // bytes object (a replaced zlib may return a bytearray, a str or None)
    // would be read as if it were one.
    if (!PyBytes_CheckExact(raw.get())) {
        PyErr_Format(PyExc_TypeError,
                     "constant table: zlib.decompress returned %.200s, not bytes",
                     Py_TYPE(raw.get())->tp_name);
        return -1;
    }

    // The walk below must never read past the decompressed buffer, whatever
    // the length table says.
    Py_ssize_t expected = 0;
    for (auto n : lengths) {
        expected += static_cast<Py_ssize_t>(n & length_mask);
    }
    const Py_ssize_t actual = PyBytes_GET_SIZE(raw.get());
    if (actual != expected) {
        PyErr_Format(PyExc_SystemError,
                     "constant table: the stream decompresses to %zd bytes but the length "
                     "table adds up to %zd bytes",
                     actual, expected);
        return -1;
    }

    const char* at = PyBytes_AS_STRING(raw.get());
    for (int i = 0; i < first_bytes_constant; ++i) {
        const auto n = static_cast<Py_ssize_t>(lengths[i] & length_mask);
        PyObject* text = PyUnicode_DecodeUTF8(at, n, nullptr);
        if (text && i >= first_interned_constant) {
            PyUnicode_InternInPlace(&text);
        }
        if (!text) {
            return -1;
        }
        // Replaces what a failed earlier run left.
        runtime::set_field(table[i], steal(text));
        at += n;
    }
    for (int i = first_bytes_constant; i < constant_count; ++i) {
        const auto n = static_cast<Py_ssize_t>(lengths[i] & length_mask);
        PyObject* bytes = PyBytes_FromStringAndSize(at, n);
        if (!bytes) {
            return -1;
        }
        runtime::set_field(table[i], steal(bytes));
        at += n;
    }
    raw.reset();

    // Lookups by name pass the cached hash straight to the dictionary, so
    // every hash must be in place before the first lookup.
    for (int i = 0; i < constant_count; ++i) {
        if (PyObject_Hash(table[i]) == -1) {
            return -1;
        }
    }
    return 0;
}

int init_constants(ModuleState& state)
{
    std::uint32_t lengths[constant_count];
    for (int i = 0; i < constant_count; ++i) {
        lengths[i] = constant_lengths[i];
    }
    return decode_constants(state.constants, constant_stream, sizeof constant_stream, lengths);
}

} // namespace kestrune
