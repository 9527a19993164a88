// Build-time generator of the module's constant stream.
//
// Reads constant_table.txt and writes two files:
//   constant_ids.hpp     - enum Const naming every index, and the count
//   constant_stream.inc  - the zlib stream (level 9) of all constants, and the
//                          byte length of each, as static arrays
// It refuses a table whose kinds are out of place or whose entries exceed the
// 127 bytes that a length entry can carry.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Entry {
    std::string symbol;
    std::string kind;
    std::string data;
};

[[noreturn]] void fail(const std::string& why)
{
    std::cerr << "constant_stream_generator: " << why << '\n';
    std::exit(1);
}

std::string parse_quoted(const std::string& rest, int lineno)
{
    auto open = rest.find('"');
    auto close = rest.rfind('"');
    if (open == std::string::npos || close == open) {
        fail("line " + std::to_string(lineno) + ": text must be double-quoted");
    }
    std::string out;
    for (auto i = open + 1; i < close; ++i) {
        char c = rest[i];
        if (c == '\\' && i + 1 < close) {
            char e = rest[++i];
            switch (e) {
            case 'n': out += '\n'; break;
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            default: fail("line " + std::to_string(lineno) + ": unknown escape");
            }
        } else {
            out += c;
        }
    }
    return out;
}

std::string parse_hex(const std::string& rest, int lineno)
{
    std::istringstream in(rest);
    std::string tok;
    std::string out;
    while (in >> tok) {
        char* end = nullptr;
        long v = std::strtol(tok.c_str(), &end, 16);
        if (*end != '\0' || tok.size() != 2 || v < 0 || v > 255) {
            fail("line " + std::to_string(lineno) + ": bad byte '" + tok + "'");
        }
        out += static_cast<char>(v);
    }
    return out;
}

std::vector<Entry> read_table(const char* path)
{
    std::ifstream in(path);
    if (!in) {
        fail(std::string("cannot read ") + path);
    }
    std::vector<Entry> entries;
    std::string line;
    int lineno = 0;
    while (std::getline(in, line)) {
        ++lineno;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream words(line);
        Entry e;
        words >> e.symbol >> e.kind;
        std::string rest;
        std::getline(words, rest);
        if (e.kind == "str" || e.kind == "name") {
            e.data = parse_quoted(rest, lineno);
        } else if (e.kind == "bytes") {
            e.data = parse_hex(rest, lineno);
        } else {
            fail("line " + std::to_string(lineno) + ": unknown kind '" + e.kind + "'");
        }
        if (e.data.size() > 127) {
            fail("line " + std::to_string(lineno) + ": longer than 127 bytes");
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

// The module decodes plain strings, then interned names, then bytes, at fixed
// indices; the table must keep that layout.
void check_layout(const std::vector<Entry>& entries)
{
    if (entries.size() != 66) {
        fail("expected 66 constants, found " + std::to_string(entries.size()));
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const char* want = i < 10 ? "str" : i < 62 ? "name" : "bytes";
        if (entries[i].kind != want) {
            fail("constant " + std::to_string(i) + " (" + entries[i].symbol + ") must be " + want);
        }
    }
}

void write_ids(const char* path, const std::vector<Entry>& entries)
{
    std::ofstream out(path);
    out << "// Generated from constant_table.txt. Do not edit.\n#pragma once\n\n"
           "namespace kestrune {\n\nenum Const : int {\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        out << "    " << entries[i].symbol << " = " << i << ",\n";
    }
    out << "};\n\ninline constexpr int constant_count = " << entries.size()
        << ";\ninline constexpr int first_interned_constant = 10;\n"
           "inline constexpr int first_bytes_constant = 62;\n\n} // namespace kestrune\n";
}

void write_stream(const char* path, const std::vector<Entry>& entries)
{
    std::string raw;
    for (const auto& e : entries) {
        raw += e.data;
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> packed(size);
    if (compress2(packed.data(), &size, reinterpret_cast<const Bytef*>(raw.data()),
                  static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK) {
        fail("zlib compression failed");
    }
    std::ofstream out(path);
    out << "// Generated from constant_table.txt. Do not edit.\n"
           "// " << raw.size() << " bytes of constants, compressed to " << size << ".\n\n"
           "static const unsigned char constant_stream[" << size << "] = {";
    for (uLongf i = 0; i < size; ++i) {
        out << (i % 16 == 0 ? "\n    " : " ") << static_cast<unsigned>(packed[i]) << ',';
    }
    out << "\n};\n\nstatic const std::uint32_t constant_lengths[" << entries.size() << "] = {";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        out << (i % 16 == 0 ? "\n    " : " ") << entries[i].data.size() << ',';
    }
    out << "\n};\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: constant_stream_generator TABLE IDS_HPP STREAM_INC\n";
        return 2;
    }
    auto entries = read_table(argv[1]);
    check_layout(entries);
    write_ids(argv[2], entries);
    write_stream(argv[3], entries);
    return 0;
}
