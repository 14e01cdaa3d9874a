// The self check and the borrow flag. The flag guards against re-entrance,
// not threads: every caller holds the interpreter lock, but Python code run
// inside a method (a __float__, a finaliser) may call back into the same
// object while the method is half way through.
#pragma once

#include <Python.h>

#include <utility>

#include "extension/error_value.hpp"
#include "extension/graph_diff_object.hpp"
#include "extension/messages.hpp"

namespace tovra::py {

// Holds the object alive and the flag raised for as long as it lives.
template <bool Exclusive>
class Borrow {
public:
    explicit Borrow(PyGraphDiffObject* object) noexcept : object_(object) {
        Py_INCREF(object_);
        if constexpr (Exclusive) {
            object_->borrow_flag = -1;
        } else {
            ++object_->borrow_flag;
        }
    }
    Borrow(Borrow&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    Borrow& operator=(Borrow&&) = delete;
    ~Borrow() {
        if (object_ == nullptr) return;
        if constexpr (Exclusive) {
            object_->borrow_flag = 0;
        } else {
            --object_->borrow_flag;
        }
        Py_DECREF(object_);
    }

    UuidGraphDiff& diff() const noexcept { return object_->diff; }

private:
    PyGraphDiffObject* object_;
};

using SharedBorrow = Borrow<false>;
using ExclusiveBorrow = Borrow<true>;

inline Fallible<PyGraphDiffObject*> check_self(PyObject* self) noexcept {
    PyTypeObject* type = graph_diff_type();
    if (self == nullptr || type == nullptr || !PyObject_TypeCheck(self, type)) [[unlikely]] {
        return fail(downcast_error(self, text::target_graph_diff));
    }
    return reinterpret_cast<PyGraphDiffObject*>(self);
}

inline Fallible<SharedBorrow> borrow_shared(PyObject* self) {
    TOVRA_TRY(PyGraphDiffObject* object, check_self(self));
    if (object->borrow_flag == -1) [[unlikely]] {
        return fail(ErrorValue::make(PyExc_RuntimeError, text::already_mutably_borrowed));
    }
    return SharedBorrow(object);
}

// For a reader that runs no Python code and keeps nothing while it reads
// (the counts): the same refusal as borrow_shared, without raising and
// lowering the flag, which no one could observe in between.
inline Fallible<const UuidGraphDiff*> peek_shared(PyObject* self) {
    TOVRA_TRY(PyGraphDiffObject* object, check_self(self));
    if (object->borrow_flag == -1) [[unlikely]] {
        return fail(ErrorValue::make(PyExc_RuntimeError, text::already_mutably_borrowed));
    }
    return &object->diff;
}

inline Fallible<ExclusiveBorrow> borrow_exclusive(PyObject* self) {
    TOVRA_TRY(PyGraphDiffObject* object, check_self(self));
    if (object->borrow_flag != 0) [[unlikely]] {
        return fail(ErrorValue::make(PyExc_RuntimeError, text::already_borrowed));
    }
    return ExclusiveBorrow(object);
}

}  // namespace tovra::py
