// The CPython-facing functions of PyGraphDiff's methods. Each is the call
// wrapper around a body; the method table lists them in their fixed order.
#pragma once

#include <Python.h>

namespace tovra::py {

// No arguments.
PyObject* method_new_or_updated_nodes(PyObject* self, PyObject* unused);
PyObject* method_deleted_nodes(PyObject* self, PyObject* unused);
PyObject* method_new_or_updated_edges(PyObject* self, PyObject* unused);
PyObject* method_deleted_edges(PyObject* self, PyObject* unused);
PyObject* method_num_nodes(PyObject* self, PyObject* unused);
PyObject* method_num_edges(PyObject* self, PyObject* unused);
PyObject* method_clear(PyObject* self, PyObject* unused);
PyObject* method_to_bytes(PyObject* self, PyObject* unused);

// Fast call with keywords.
PyObject* method_add_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_delete_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_add_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* method_delete_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
// Static: `self` is null.
PyObject* method_from_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace tovra::py
