// PyGraphDiff's four methods that change a diff.
#include "extension/borrow.hpp"
#include "extension/method_table.hpp"
#include "extension/mutation_calls.hpp"

namespace tovra::py {

namespace {

struct GraphDiffHolder {
    static Fallible<ExclusiveBorrow> borrow_exclusive(PyObject* self) {
        return py::borrow_exclusive(self);
    }
    static constexpr const ParameterList& add_node = params::add_node;
    static constexpr const ParameterList& delete_node = params::delete_node;
    static constexpr const ParameterList& add_edge = params::add_edge;
    static constexpr const ParameterList& delete_edge = params::delete_edge;
};

using Calls = MutationCalls<GraphDiffHolder>;

}  // namespace

PyObject* method_add_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    return Calls::add_node(self, args, nargs, kwnames);
}

PyObject* method_delete_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return Calls::delete_node(self, args, nargs, kwnames);
}

PyObject* method_add_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    return Calls::add_edge(self, args, nargs, kwnames);
}

PyObject* method_delete_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return Calls::delete_edge(self, args, nargs, kwnames);
}

}  // namespace tovra::py
