// Ref: the one owning reference type; every object a function creates lives in one.
#pragma once

#include <Python.h>

#include <utility>

namespace davuzod {

// Ownership rules:
//  1. Ref::steal(p) takes over a new reference (what most C API calls return).
//  2. Ref::borrow(p) adds a reference of its own to a borrowed pointer.
//  3. release() hands the reference to the caller: `return r.release();`.
//  4. reset(p) stores p before dropping the old object, since the drop may run
//     Python code (a __del__) that looks at whatever holds this Ref.
class Ref {
public:
    Ref() noexcept = default;
    Ref(Ref&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        reset(other.release());
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(ptr_); }

    [[nodiscard]] static Ref steal(PyObject* ptr) noexcept { return Ref(ptr); }
    [[nodiscard]] static Ref borrow(PyObject* ptr) noexcept { return Ref(Py_XNewRef(ptr)); }

    PyObject* get() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    [[nodiscard]] PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
    PyObject* new_reference() const noexcept { return Py_XNewRef(ptr_); }

    void reset(PyObject* ptr = nullptr) noexcept {
        PyObject* old = std::exchange(ptr_, ptr);
        Py_XDECREF(old);
    }

private:
    explicit Ref(PyObject* ptr) noexcept : ptr_(ptr) {}
    PyObject* ptr_ = nullptr;
};

// Replaces an object field (a raw strong reference) with a new reference,
// storing before releasing for the same reason as Ref::reset.
inline void replace_field(PyObject*& field, Ref value) noexcept {
    PyObject* old = std::exchange(field, value.release());
    Py_XDECREF(old);
}

}  // namespace davuzod
