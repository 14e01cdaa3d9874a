// The Python object that owns one diff, inline, and its borrow flag.
#pragma once

#include <Python.h>

#include "diff/graph_diff.hpp"
#include "extension/error_value.hpp"

namespace tovra::py {

struct PyGraphDiffObject {
    PyObject_HEAD
    UuidGraphDiff diff;
    // 0: free; n > 0: n readers inside a method; -1: one writer inside.
    Py_ssize_t borrow_flag;
};

// The class, created once per process by module initialisation; null before.
PyTypeObject* graph_diff_type() noexcept;

// Creates the class if need be; null with an exception set on failure.
PyTypeObject* ensure_graph_diff_type() noexcept;

// A new instance holding `diff`. A failed allocation is an internal failure
// (the diff is destroyed with the moved-from argument).
Owned wrap_graph_diff(UuidGraphDiff&& diff);

}  // namespace tovra::py
