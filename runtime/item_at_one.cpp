// obj[1], as the module body reads the action word from sys.argv.
#include "item_at_one.hpp"

namespace runtime {

namespace {

Owned<> get_item_one(PyObject* obj)
{
    auto one = steal(PyLong_FromSsize_t(1));
    if (!one) {
        return {};
    }
    return steal(PyObject_GetItem(obj, one.get()));
}

} // namespace

Owned<> item_at_one(PyObject* obj)
{
    // Exact lists and tuples long enough are read in place; shorter ones take
    // the generic path so that the caller sees the container's own IndexError.
    if (PyList_CheckExact(obj)) {
        return PyList_GET_SIZE(obj) > 1 ? borrow(PyList_GET_ITEM(obj, 1)) : get_item_one(obj);
    }
    if (PyTuple_CheckExact(obj)) {
        return PyTuple_GET_SIZE(obj) > 1 ? borrow(PyTuple_GET_ITEM(obj, 1)) : get_item_one(obj);
    }
    PyTypeObject* type = Py_TYPE(obj);
    if (type->tp_as_mapping && type->tp_as_mapping->mp_subscript) {
        auto one = steal(PyLong_FromSsize_t(1));
        if (!one) {
            return {};
        }
        return steal(type->tp_as_mapping->mp_subscript(obj, one.get()));
    }
    if (type->tp_as_sequence && type->tp_as_sequence->sq_item) {
        return steal(type->tp_as_sequence->sq_item(obj, 1));
    }
    return get_item_one(obj);
}

} // namespace runtime
