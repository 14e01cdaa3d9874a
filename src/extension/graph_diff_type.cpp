// The PyGraphDiff class: a heap type made once per process, its constructor,
// its deallocation and its method table.
#include <new>

#include "extension/argument_parser.hpp"
#include "extension/call_wrapper.hpp"
#include "extension/graph_diff_object.hpp"
#include "extension/messages.hpp"
#include "extension/methods.hpp"
#include "extension/parameter_lists.hpp"

namespace tovra::py {

namespace {

PyTypeObject* cached_type = nullptr;

template <class F>
PyCFunction as_cfunction(F function) noexcept {
    // The method table stores one pointer type for every calling convention;
    // the flags tell CPython the real one.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function));
}

PyMethodDef method_table[] = {
    {"new_or_updated_nodes", as_cfunction(method_new_or_updated_nodes), METH_NOARGS,
     "new_or_updated_nodes($self)\n--\n\n"},
    {"deleted_nodes", as_cfunction(method_deleted_nodes), METH_NOARGS,
     "deleted_nodes($self)\n--\n\n"},
    {"new_or_updated_edges", as_cfunction(method_new_or_updated_edges), METH_NOARGS,
     "new_or_updated_edges($self)\n--\n\n"},
    {"deleted_edges", as_cfunction(method_deleted_edges), METH_NOARGS,
     "deleted_edges($self)\n--\n\n"},
    {"num_nodes", as_cfunction(method_num_nodes), METH_NOARGS, "num_nodes($self)\n--\n\n"},
    {"num_edges", as_cfunction(method_num_edges), METH_NOARGS, "num_edges($self)\n--\n\n"},
    {"add_node", as_cfunction(method_add_node), METH_FASTCALL | METH_KEYWORDS,
     "add_node($self, id, update)\n--\n\n"},
    {"delete_node", as_cfunction(method_delete_node), METH_FASTCALL | METH_KEYWORDS,
     "delete_node($self, id)\n--\n\n"},
    {"add_edge", as_cfunction(method_add_edge), METH_FASTCALL | METH_KEYWORDS,
     "add_edge($self, from, to, weight)\n--\n\n"},
    {"delete_edge", as_cfunction(method_delete_edge), METH_FASTCALL | METH_KEYWORDS,
     "delete_edge($self, from, to)\n--\n\n"},
    {"clear", as_cfunction(method_clear), METH_NOARGS, "clear($self)\n--\n\n"},
    {"to_bytes", as_cfunction(method_to_bytes), METH_NOARGS, "to_bytes($self)\n--\n\n"},
    {"from_bytes", as_cfunction(method_from_bytes), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "from_bytes(bytes)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// Allocates an instance and moves `diff` into it. Null with the interpreter's
// exception set when the allocation fails; `diff` is then left as it was.
PyObject* allocate_with(PyTypeObject* type, UuidGraphDiff&& diff) noexcept {
    allocfunc allocate = type->tp_alloc ? type->tp_alloc : PyType_GenericAlloc;
    PyObject* self = allocate(type, 0);
    if (self == nullptr) return nullptr;
    auto* object = reinterpret_cast<PyGraphDiffObject*>(self);
    new (&object->diff) UuidGraphDiff(std::move(diff));
    object->borrow_flag = 0;
    return self;
}

PyObject* graph_diff_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded_call([&]() -> Outcome {
        TOVRA_CHECK(parse_no_arguments(params::new_function, args, kwargs));
        UuidGraphDiff empty;
        PyObject* self = allocate_with(type, std::move(empty));
        if (self == nullptr) return fail(ErrorValue::from_interpreter());
        return Owned::steal(self);
    });
}

void graph_diff_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<PyGraphDiffObject*>(self)->diff.~UuidGraphDiff();
    type->tp_free(self);
    // Instances of a heap type hold a reference to it.
    Py_DECREF(type);
}

}  // namespace

PyTypeObject* graph_diff_type() noexcept { return cached_type; }

PyTypeObject* ensure_graph_diff_type() noexcept {
    if (cached_type != nullptr) return cached_type;
    PyType_Slot slots[] = {
        {Py_tp_base, &PyBaseObject_Type},
        {Py_tp_new, reinterpret_cast<void*>(graph_diff_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(graph_diff_dealloc)},
        {Py_tp_doc, const_cast<char*>("PyGraphDiff()\n--\n\n")},
        {Py_tp_methods, method_table},
        {0, nullptr},
    };
    // Named with its module so that __module__ is "tovra_api"; __name__ and
    // __qualname__ stay "PyGraphDiff". No base-type flag (not subclassable)
    // and no GC flag (an instance holds no Python references).
    PyType_Spec spec = {
        "tovra_api.PyGraphDiff",
        static_cast<int>(sizeof(PyGraphDiffObject)),
        0,
        Py_TPFLAGS_DEFAULT,
        slots,
    };
    PyObject* type = PyType_FromSpec(&spec);
    if (type == nullptr) return nullptr;
    cached_type = reinterpret_cast<PyTypeObject*>(type);  // never released
    return cached_type;
}

Owned wrap_graph_diff(UuidGraphDiff&& diff) {
    PyObject* self = allocate_with(cached_type, std::move(diff));
    if (self == nullptr) {
        PyErr_Print();
        panic(text::decoded_object_alloc_failed);
    }
    return Owned::steal(self);
}

}  // namespace tovra::py
