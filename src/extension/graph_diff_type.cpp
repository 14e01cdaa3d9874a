// The PyGraphDiff class: a heap type made once per process, its constructor,
// its deallocation and its method table (from method_table.hpp).
#include <new>

#include "extension/argument_parser.hpp"
#include "extension/call_wrapper.hpp"
#include "extension/graph_diff_object.hpp"
#include "extension/messages.hpp"
#include "extension/method_table.hpp"

namespace tovra::py {

namespace {

PyTypeObject* cached_type = nullptr;

// One pointer type for every calling convention; the flags tell CPython the real one.
template <class Convention>
PyCFunction as_cfunction(typename Convention::Function* function) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function));
}

#define TOVRA_METHOD_DEF(name, convention, ...) \
    {#name, as_cfunction<convention>(method_##name), convention::flags, params::name##_signature.text},
PyMethodDef method_table[] = {
    TOVRA_GRAPH_DIFF_METHODS(TOVRA_METHOD_DEF){nullptr, nullptr, 0, nullptr},
};
#undef TOVRA_METHOD_DEF

// Allocates an instance and moves `diff` into it. Null with the interpreter's
// exception set when the allocation fails; `diff` is then left as it was.
PyObject* allocate_with(PyTypeObject* type, UuidGraphDiff&& diff) noexcept {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    auto* object = reinterpret_cast<PyGraphDiffObject*>(self);
    new (&object->diff) UuidGraphDiff(std::move(diff));
    object->borrow_flag = 0;
    return self;
}

PyObject* graph_diff_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded_call([&]() -> Outcome {
        TOVRA_CHECK(parse_no_arguments(params::new_function, args, kwargs));
        PyObject* self = allocate_with(type, UuidGraphDiff());
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
    // and no GC flag (an instance holds no Python references). Immutable, as
    // the built-in types are: nothing sets an attribute on the class, not
    // even the cache pickle leaves on a class it was refused for.
    PyType_Spec spec = {
        "tovra_api.PyGraphDiff",
        static_cast<int>(sizeof(PyGraphDiffObject)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
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
