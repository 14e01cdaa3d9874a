// PyGraphDiff's methods that change a diff, one per entry of
// TOVRA_GRAPH_DIFF_MUTATIONS; their bodies are in mutation_calls.hpp.
#include "extension/borrow.hpp"
#include "extension/method_table.hpp"
#include "extension/mutation_calls.hpp"

namespace tovra::py {

namespace {

struct GraphDiffHolder {
    static constexpr auto& borrow_exclusive = py::borrow_exclusive;
#define TOVRA_MUTATION_PARAMETERS(name, convention, ...) \
    static constexpr const ParameterList& name = params::name;
    TOVRA_GRAPH_DIFF_MUTATIONS(TOVRA_MUTATION_PARAMETERS)
#undef TOVRA_MUTATION_PARAMETERS
};

using Calls = MutationCalls<GraphDiffHolder>;

}  // namespace

#define TOVRA_MUTATION_METHOD(name, convention, ...)                                           \
    PyObject* method_##name(PyObject* self, PyObject* const* args, Py_ssize_t nargs,           \
                            PyObject* kwnames) {                                               \
        return Calls::name(self, args, nargs, kwnames);                                        \
    }
TOVRA_GRAPH_DIFF_MUTATIONS(TOVRA_MUTATION_METHOD)
#undef TOVRA_MUTATION_METHOD

}  // namespace tovra::py
