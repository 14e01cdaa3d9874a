// The four methods that change a diff. Each converts every argument before it
// touches the diff, so a refused value leaves the diff as it was.
#include "extension/borrow.hpp"
#include "extension/call_wrapper.hpp"
#include "extension/conversions.hpp"
#include "extension/methods.hpp"
#include "extension/parameter_lists.hpp"

namespace tovra::py {

PyObject* method_add_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(auto arguments, parse_arguments<params::add_node>(args, nargs, kwnames));
        TOVRA_TRY(ExclusiveBorrow borrow, borrow_exclusive(self));
        TOVRA_TRY(Uuid id, arguments.convert(0, pyobject_to_pyuuid));
        NodeUpdate update;
        TOVRA_CHECK(arguments.convert(1, [&update](PyObject* dict) {
            return pydict_to_node_update(dict, update);
        }));
        borrow.diff().add_or_update_node(id, std::move(update));
        return none();
    });
}

PyObject* method_delete_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(auto arguments, parse_arguments<params::delete_node>(args, nargs, kwnames));
        TOVRA_TRY(ExclusiveBorrow borrow, borrow_exclusive(self));
        TOVRA_TRY(Uuid id, arguments.convert(0, pyobject_to_pyuuid));
        borrow.diff().delete_node(id);
        return none();
    });
}

PyObject* method_add_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(auto arguments, parse_arguments<params::add_edge>(args, nargs, kwnames));
        TOVRA_TRY(ExclusiveBorrow borrow, borrow_exclusive(self));
        TOVRA_TRY(Uuid from, arguments.convert(0, pyobject_to_pyuuid));
        TOVRA_TRY(Uuid to, arguments.convert(1, pyobject_to_pyuuid));
        TOVRA_TRY(float weight, arguments.convert(2, pyobject_to_f32));
        // An edge touching a deleted node is refused by the diff and left
        // unrecorded; the method reports nothing, by design of the API: a
        // caller sees the outcome in the listings.
        (void)borrow.diff().add_edge(from, to, weight);
        return none();
    });
}

PyObject* method_delete_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(auto arguments, parse_arguments<params::delete_edge>(args, nargs, kwnames));
        TOVRA_TRY(ExclusiveBorrow borrow, borrow_exclusive(self));
        TOVRA_TRY(Uuid from, arguments.convert(0, pyobject_to_pyuuid));
        TOVRA_TRY(Uuid to, arguments.convert(1, pyobject_to_pyuuid));
        borrow.diff().delete_edge(from, to);
        return none();
    });
}

}  // namespace tovra::py
