// The self check of PyGraphDiff's methods, and its borrows.
#pragma once

#include <Python.h>

#include "extension/borrow_flag.hpp"
#include "extension/error_value.hpp"
#include "extension/graph_diff_object.hpp"
#include "extension/messages.hpp"

namespace tovra::py {

using SharedBorrow = Borrow<PyGraphDiffObject, false>;
using ExclusiveBorrow = Borrow<PyGraphDiffObject, true>;

inline Fallible<PyGraphDiffObject*> check_self(PyObject* self) noexcept {
    PyTypeObject* type = graph_diff_type();
    if (self == nullptr || type == nullptr || !PyObject_TypeCheck(self, type)) [[unlikely]] {
        return fail(downcast_error(self, text::target_graph_diff));
    }
    return reinterpret_cast<PyGraphDiffObject*>(self);
}

inline Fallible<SharedBorrow> borrow_shared(PyObject* self) {
    TOVRA_TRY(PyGraphDiffObject* object, check_self(self));
    return lock_shared(object);
}

inline Fallible<const UuidGraphDiff*> peek_shared(PyObject* self) {
    TOVRA_TRY(PyGraphDiffObject* object, check_self(self));
    return peek(object);
}

inline Fallible<ExclusiveBorrow> borrow_exclusive(PyObject* self) {
    TOVRA_TRY(PyGraphDiffObject* object, check_self(self));
    return lock_exclusive(object);
}

}  // namespace tovra::py
