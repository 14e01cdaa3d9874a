// Ownership of Python references made visible in types. Every new reference
// goes straight into an `Owned`, so no early return or error path can leak or
// release it twice.
#pragma once

#include <Python.h>

#include <utility>

namespace tovra::py {

class Owned {
public:
    Owned() noexcept = default;
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            PyObject* old = std::exchange(ptr_, std::exchange(other.ptr_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }
    ~Owned() { Py_XDECREF(ptr_); }

    // Takes over a new reference (which may be null).
    static Owned steal(PyObject* ptr) noexcept { return Owned(ptr); }
    // Adds a reference of its own to a borrowed one.
    static Owned borrow(PyObject* ptr) noexcept {
        Py_XINCREF(ptr);
        return Owned(ptr);
    }

    PyObject* get() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    // Hands the reference to the caller, who now owns it.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }

private:
    explicit Owned(PyObject* ptr) noexcept : ptr_(ptr) {}
    PyObject* ptr_ = nullptr;
};

}  // namespace tovra::py
