#include "config_path_for_open.hpp"

#include "config_file_rules.hpp"

namespace kestrune {

using runtime::Owned;
using runtime::steal;

int config_path_for_open(PyObject* config_path, Owned<>& path)
{
    auto fspath = steal(PyOS_FSPath(config_path));
    if (!fspath) {
        return -1;
    }
    PyObject* encoded_ref = nullptr;
    if (!PyUnicode_FSConverter(fspath.get(), &encoded_ref)) {
        return -1;  // undecodable, or an embedded NUL, as open() reports it
    }
    auto encoded = steal(encoded_ref);
    if (check_config_file(PyBytes_AS_STRING(encoded.get())) != ConfigRefusal::none) {
        return 0;
    }
    path = std::move(fspath);
    return 1;
}

} // namespace kestrune
