// num_nodes, num_edges and clear; constant time for the counts (kept by the containers).
#include "extension/borrow.hpp"
#include "extension/call_wrapper.hpp"
#include "extension/method_table.hpp"

namespace tovra::py {

template <std::size_t (UuidGraphDiff::*count)() const noexcept>
PyObject* count_method(PyObject* self) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(const UuidGraphDiff* diff, peek_shared(self));
        return checked_new(PyLong_FromSsize_t(static_cast<Py_ssize_t>((diff->*count)())));
    });
}

PyObject* method_num_nodes(PyObject* self, PyObject*) { return count_method<&UuidGraphDiff::node_count>(self); }
PyObject* method_num_edges(PyObject* self, PyObject*) { return count_method<&UuidGraphDiff::edge_count>(self); }

PyObject* method_clear(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(ExclusiveBorrow borrow, borrow_exclusive(self));
        borrow.diff().clear();
        return none();
    });
}

}  // namespace tovra::py
