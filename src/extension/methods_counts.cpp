// num_nodes, num_edges and clear; constant time for the counts (kept by the containers).
#include "extension/borrow.hpp"
#include "extension/call_wrapper.hpp"
#include "extension/method_table.hpp"

namespace tovra::py {

PyObject* method_num_nodes(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(const UuidGraphDiff* diff, peek_shared(self));
        return checked_new(PyLong_FromSsize_t(static_cast<Py_ssize_t>(diff->node_count())));
    });
}

PyObject* method_num_edges(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(const UuidGraphDiff* diff, peek_shared(self));
        return checked_new(PyLong_FromSsize_t(static_cast<Py_ssize_t>(diff->edge_count())));
    });
}

PyObject* method_clear(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(ExclusiveBorrow borrow, borrow_exclusive(self));
        borrow.diff().clear();
        return none();
    });
}

}  // namespace tovra::py
