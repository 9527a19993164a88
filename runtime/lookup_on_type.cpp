// Special-method lookup for the `with` statement.
#include "lookup_on_type.hpp"

namespace runtime {

Owned<> lookup_on_type(PyObject* obj, PyObject* name)
{
    // Special methods are looked up on the type only, as the interpreter does
    // for `with`: an instance attribute of the same name is ignored.
    PyTypeObject* type = Py_TYPE(obj);
    PyObject* found = _PyType_Lookup(type, name);
    if (!found) {
        PyErr_SetObject(PyExc_AttributeError, name);
        return {};
    }
    // The type's dictionary holds `found` only as long as nobody rebinds the
    // attribute, which the descriptor's own code may do; hold it for the call.
    auto held = borrow(found);
    if (const descrgetfunc get = Py_TYPE(found)->tp_descr_get) {
        return steal(get(found, obj, reinterpret_cast<PyObject*>(type)));
    }
    return held;
}

} // namespace runtime
