// Ref: the one owner of a strong PyObject* reference.
//
//   Ref::steal(p)   takes over a new reference (p may be null).
//   Ref::borrow(p)  adds a reference of its own to a borrowed pointer.
//   copy = incref, move = transfer (the source becomes null), ~Ref = decref.
//   release() hands the reference back to the caller (to return it to Python).
//   A raw PyObject* anywhere else in this code is always borrowed.
#pragma once

#include <Python.h>

#include <utility>

namespace norvel::py {

class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    static Ref borrow(PyObject* p) noexcept { return Ref(Py_XNewRef(p)); }

    Ref(const Ref& other) noexcept : p_(Py_XNewRef(other.p_)) {}
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    void reset() noexcept { Py_CLEAR(p_); }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

}  // namespace norvel::py
