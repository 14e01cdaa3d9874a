// The borrow flag of an object that holds a diff. The flag guards against
// re-entrance, not threads: every caller holds the interpreter lock, but
// Python code run inside a method (a __float__, a finaliser) may call back
// into the same object while the method is half way through.
//
// Generic over the object (any type with a `diff` member and a Py_ssize_t
// `borrow_flag`: 0 free, n > 0 readers inside, -1 one writer inside), so that
// the benchmark's yardstick takes the same path over other tables.
#pragma once

#include <Python.h>

#include <utility>

#include "extension/error_value.hpp"
#include "extension/messages.hpp"

namespace tovra::py {

// Holds the object alive and the flag raised for as long as it lives.
template <class Object, bool Exclusive>
class Borrow {
public:
    explicit Borrow(Object* object) noexcept : object_(object) {
        Py_INCREF(object_);
        object_->borrow_flag = Exclusive ? -1 : object_->borrow_flag + 1;
    }
    Borrow(Borrow&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    Borrow& operator=(Borrow&&) = delete;
    ~Borrow() {
        if (object_ == nullptr) return;
        object_->borrow_flag = Exclusive ? 0 : object_->borrow_flag - 1;
        Py_DECREF(object_);
    }

    auto& diff() const noexcept { return object_->diff; }

private:
    Object* object_;
};

template <class Object>
Fallible<Borrow<Object, true>> lock_exclusive(Object* object) {
    if (object->borrow_flag != 0) [[unlikely]] {
        return fail(ErrorValue::make(PyExc_RuntimeError, text::already_borrowed));
    }
    return Borrow<Object, true>(object);
}

// For a reader that runs no Python code and keeps nothing (the counts):
// lock_shared's refusal, without a change to the flag that no one could see.
template <class Object>
Fallible<const decltype(Object::diff)*> peek(Object* object) {
    if (object->borrow_flag == -1) [[unlikely]] {
        return fail(ErrorValue::make(PyExc_RuntimeError, text::already_mutably_borrowed));
    }
    return &object->diff;
}

template <class Object>
Fallible<Borrow<Object, false>> lock_shared(Object* object) {
    TOVRA_CHECK(peek(object));
    return Borrow<Object, false>(object);
}

}  // namespace tovra::py
