#include "extension/borrow.hpp"

namespace tovra::py {

ErrorValue not_a_graph_diff(PyObject* self) noexcept {
    if (self == nullptr) {
        return ErrorValue::make(
            PyExc_TypeError,
            Owned::steal(PyUnicode_FromFormat("'%s' object cannot be converted to '%s'",
                                              text::unknown_type_name, text::target_graph_diff)));
    }
    return downcast_error(self, text::target_graph_diff);
}

}  // namespace tovra::py
