// The bodies of the methods that change a diff, one member per entry of
// TOVRA_GRAPH_DIFF_MUTATIONS (method_table.hpp), of the entry's name. Each
// converts every argument before it touches the diff, so a refused value
// leaves it as it was. Generic over `Holder`, which names the exclusive borrow
// (`borrow_exclusive(PyObject*)`, self check included) and, under each entry's
// name, its parameter list: PyGraphDiff is one holder, the benchmark's
// yardstick the other; both make those members from the table.
#pragma once

#include <Python.h>

#include <utility>

#include "extension/argument_parser.hpp"
#include "extension/call_wrapper.hpp"
#include "extension/conversions.hpp"

namespace tovra::py {

template <class Holder>
struct MutationCalls {
    static PyObject* add_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
        return guarded_call([&]() -> Outcome {
            TOVRA_TRY(auto arguments, parse_arguments<Holder::add_node>(args, nargs, kwnames));
            TOVRA_TRY(auto borrow, Holder::borrow_exclusive(self));
            TOVRA_TRY(Uuid id, arguments.convert(0, pyobject_to_pyuuid));
            NodeUpdate update;
            TOVRA_CHECK(arguments.convert(1, [&update](PyObject* dict) {
                return pydict_to_node_update(dict, update);
            }));
            borrow.diff().add_or_update_node(id, std::move(update));
            return none();
        });
    }

    static PyObject* delete_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
        return guarded_call([&]() -> Outcome {
            TOVRA_TRY(auto arguments, parse_arguments<Holder::delete_node>(args, nargs, kwnames));
            TOVRA_TRY(auto borrow, Holder::borrow_exclusive(self));
            TOVRA_TRY(Uuid id, arguments.convert(0, pyobject_to_pyuuid));
            borrow.diff().delete_node(id);
            return none();
        });
    }

    static PyObject* add_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
        return guarded_call([&]() -> Outcome {
            TOVRA_TRY(auto arguments, parse_arguments<Holder::add_edge>(args, nargs, kwnames));
            TOVRA_TRY(auto borrow, Holder::borrow_exclusive(self));
            TOVRA_TRY(Uuid from, arguments.convert(0, pyobject_to_pyuuid));
            TOVRA_TRY(Uuid to, arguments.convert(1, pyobject_to_pyuuid));
            TOVRA_TRY(float weight, arguments.convert(2, pyobject_to_f32));
            // An edge touching a deleted node is refused and left unrecorded;
            // by design the method says nothing: the listings show the outcome.
            (void)borrow.diff().add_edge(from, to, weight);
            return none();
        });
    }

    static PyObject* delete_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
        return guarded_call([&]() -> Outcome {
            TOVRA_TRY(auto arguments, parse_arguments<Holder::delete_edge>(args, nargs, kwnames));
            TOVRA_TRY(auto borrow, Holder::borrow_exclusive(self));
            TOVRA_TRY(Uuid from, arguments.convert(0, pyobject_to_pyuuid));
            TOVRA_TRY(Uuid to, arguments.convert(1, pyobject_to_pyuuid));
            borrow.diff().delete_edge(from, to);
            return none();
        });
    }
};

}  // namespace tovra::py
