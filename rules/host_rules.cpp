#include "host_rules.hpp"

namespace kestrune {

namespace {

// The first `n` characters of `s` (all of it when shorter) and the characters
// from `pos` on (pos <= s.size()). Unlike substr, neither can throw: the
// module is built without C++ exceptions and links no C++ runtime.
std::string_view first(std::string_view s, std::size_t n)
{
    return {s.data(), n < s.size() ? n : s.size()};
}

std::string_view from(std::string_view s, std::size_t pos)
{
    return {s.data() + pos, s.size() - pos};
}

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool ascii_iequals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) {
            return false;
        }
    }
    return true;
}

// `host` without a valid ":port" at its end; unchanged when it has none.
std::string_view without_port(std::string_view host)
{
    const std::size_t colon = host.rfind(':');
    if (colon == std::string_view::npos) {
        return host;
    }
    const std::string_view digits = from(host, colon + 1);
    if (digits.empty() || digits.size() > 5) {
        return host;
    }
    unsigned value = 0;
    for (const char c : digits) {
        if (!is_ascii_digit(c)) {
            return host;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value >= 1 && value <= 65535 ? first(host, colon) : host;
}

bool is_dns_label(std::string_view label)
{
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
        return false;
    }
    for (const char c : label) {
        if (!is_ascii_letter(c) && !is_ascii_digit(c) && c != '-') {
            return false;
        }
    }
    return true;
}

// One or more DNS labels joined by single dots.
bool is_dns_labels(std::string_view names)
{
    for (;;) {
        const std::size_t dot = names.find('.');
        if (!is_dns_label(first(names, dot))) {
            return false;
        }
        if (dot == std::string_view::npos) {
            return true;
        }
        names.remove_prefix(dot + 1);
    }
}

} // namespace

bool host_is_github(std::string_view host, std::string_view github)
{
    host = without_port(host);
    if (!host.empty() && host.back() == '.') {
        host.remove_suffix(1);
    }
    if (host.size() == github.size()) {
        return ascii_iequals(host, github);
    }
    if (host.size() < github.size() + 2) {
        return false;
    }
    const std::size_t dot = host.size() - github.size() - 1;
    return host[dot] == '.' && ascii_iequals(from(host, dot + 1), github) &&
           is_dns_labels(first(host, dot));
}

} // namespace kestrune
