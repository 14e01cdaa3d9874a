// PyGraphDiff's four methods that change a diff.
#include "extension/borrow.hpp"
#include "extension/method_table.hpp"
#include "extension/mutation_calls.hpp"

namespace tovra::py {

namespace {

struct GraphDiffHolder {
    static constexpr auto& borrow_exclusive = py::borrow_exclusive;
    static constexpr const ParameterList& add_node = params::add_node;
    static constexpr const ParameterList& delete_node = params::delete_node;
    static constexpr const ParameterList& add_edge = params::add_edge;
    static constexpr const ParameterList& delete_edge = params::delete_edge;
};

using Calls = MutationCalls<GraphDiffHolder>;

}  // namespace

#define TOVRA_MUTATION_METHOD(name)                                                             \
    PyObject* method_##name(PyObject* self, PyObject* const* args, Py_ssize_t nargs,           \
                            PyObject* kwnames) {                                               \
        return Calls::name(self, args, nargs, kwnames);                                        \
    }
TOVRA_MUTATION_METHOD(add_node)
TOVRA_MUTATION_METHOD(delete_node)
TOVRA_MUTATION_METHOD(add_edge)
TOVRA_MUTATION_METHOD(delete_edge)
#undef TOVRA_MUTATION_METHOD

}  // namespace tovra::py
