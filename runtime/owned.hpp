// Owned references.
//
// `Owned<T>` holds exactly one strong reference and releases it when it goes
// out of scope, so every early return on an error path releases what it holds.
//
// The rule: a raw object pointer (`PyObject*`, `PyTypeObject*`, ...) is a
// borrowed reference; a reference that must be released is held by `Owned`.
// Raw pointers own a reference in these places only, each named where it is:
// - the fields of the process-wide state records (`kestrune::ModuleState`,
//   `runtime::RuntimeState` with its code cache) and of the objects this
//   project defines (`runtime::NativeFunction`, the launcher's
//   `LineRecorder` and `WriteWatch`), each marked `owned` in its comment.
//   The state records are never released; an object's fields are released
//   by its clear or dealloc. Everyone else reads them as borrowed references.
// - the result that a slot or an entry hands to the interpreter: a new
//   reference, as the C API requires (`release()`, `new_ref`).
// - the keyword values that vectorcall_from_dict lays out for one call and
//   releases when the call returns.
// Fields of the interpreter's own records (a thread's handled exception) own
// by the interpreter's rules and are written with its macros.
#pragma once

#include <Python.h>

#include <cstddef>
#include <utility>

namespace runtime {

template <class T = PyObject>
class Owned {
public:
    constexpr Owned() noexcept = default;

    // Takes over a new reference (the result of a call that returns one).
    // NULL is allowed and yields an empty handle.
    static Owned steal(T* p) noexcept { return Owned(p); }

    // Takes a new reference to a borrowed object.
    static Owned borrow(T* p) noexcept
    {
        Py_XINCREF(reinterpret_cast<PyObject*>(p));
        return Owned(p);
    }

    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Owned& operator=(Owned&& other) noexcept
    {
        reset(std::exchange(other.p_, nullptr));
        return *this;
    }
    ~Owned() { Py_XDECREF(reinterpret_cast<PyObject*>(p_)); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    bool operator==(std::nullptr_t) const noexcept { return p_ == nullptr; }

    // The object as a borrowed PyObject*.
    PyObject* obj() const noexcept { return reinterpret_cast<PyObject*>(p_); }

    // Hands the reference to the caller (a function that returns a new
    // reference, or a slot that steals one).
    [[nodiscard]] T* release() noexcept { return std::exchange(p_, nullptr); }

    // Replaces the held reference by a stolen one. The old value is released
    // after the field already holds the new one, as Py_XSETREF does, so code
    // run by the release never sees a dangling pointer here.
    void reset(T* p = nullptr) noexcept
    {
        T* old = std::exchange(p_, p);
        Py_XDECREF(reinterpret_cast<PyObject*>(old));
    }

private:
    explicit Owned(T* p) noexcept : p_(p) {}
    T* p_ = nullptr;
};

// Shorthands for the two constructors.
template <class T>
inline Owned<T> steal(T* p) noexcept { return Owned<T>::steal(p); }
template <class T>
inline Owned<T> borrow(T* p) noexcept { return Owned<T>::borrow(p); }

// Stores `value` in a field that owns its reference (a record's or a table's)
// and releases the field's previous value afterwards, as Py_XSETREF does, so
// code run by the release never sees the old value there. The call site shows
// where the reference comes from: `steal(...)`, `borrow(...)` or a handle.
template <class T>
inline void set_field(T*& field, Owned<T> value) noexcept
{
    T* old = std::exchange(field, value.release());
    Py_XDECREF(reinterpret_cast<PyObject*>(old));
}

// A new reference to a borrowed object, for returning from a slot.
inline PyObject* new_ref(PyObject* p) noexcept
{
    Py_INCREF(p);
    return p;
}

} // namespace runtime
