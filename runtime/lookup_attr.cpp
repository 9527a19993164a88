// Attribute lookup through the type's getter slot.
#include "lookup_attr.hpp"

namespace runtime {

Owned<> lookup_attr(PyObject* obj, PyObject* name)
{
    // The slot is what PyObject_GetAttr ends up calling for a str name; going
    // to it directly skips the name check and the dispatch.
    if (const getattrofunc getattro = Py_TYPE(obj)->tp_getattro) {
        return steal(getattro(obj, name));
    }
    return steal(PyObject_GetAttr(obj, name));
}

} // namespace runtime
