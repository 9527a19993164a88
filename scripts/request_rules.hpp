// The rules that decide whether a request may receive the token. Git hands
// the helper whatever host and protocol a remote URL names, so the token goes
// only to GitHub over HTTPS, and only in a form that cannot break the answer's
// line format.
#pragma once

#include <Python.h>

namespace kestrune {

// Whether `host` (any object) names GitHub: a str that, after dropping one
// trailing ":" and port digits, is exactly the GitHub host name `github` or
// ends with "." followed by it. Never raises.
bool host_is_github(PyObject* host, PyObject* github);

// Whether the parsed request `data` allows an answer: it has no "protocol"
// entry, or that entry is exactly "https". 1, 0, or -1 with an exception set
// (only when `data` is not a dict and its `get` method fails).
int protocol_allows_token(PyObject* data);

// Whether a str token holds a carriage return, a line feed or a NUL, any of
// which would inject lines into git's protocol. 0 for other objects.
bool token_breaks_answer(PyObject* token);

} // namespace kestrune
