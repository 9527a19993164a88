// The rules that decide whether a request may receive the token. Git hands
// the helper whatever host and protocol a remote URL names, so the token goes
// only to GitHub over HTTPS, and only in a form that cannot break or bend the
// answer's lines.
#pragma once

#include <Python.h>

namespace kestrune {

// Whether `host` (any object) names GitHub: a str, judged by its own
// characters, that meets the host rule (host_rules.hpp) for the GitHub host
// name `github`. Never raises.
bool host_is_github(PyObject* host, PyObject* github);

// Whether the parsed request `data` allows an answer: it has no "protocol"
// entry, or that entry is exactly "https". 1, 0, or -1 with an exception set
// (only when `data` is not a dict and its `get` method fails). Reads
// ModuleState, so only once the exec step has filled it.
int protocol_allows_token(PyObject* data);

// Whether `token` may be sent as the password: a str (or a subclass of it,
// judged by its own characters, never by its __str__ or __format__) that
// meets the token rule (token_rules.hpp). Never raises.
bool token_fits_answer(PyObject* token);

} // namespace kestrune
