// Module entry: single-phase initialisation, one module object per process,
// returned again on every later import in the same interpreter.
#include <atomic>
#include <cstdint>

#include "extension/call_wrapper.hpp"
#include "extension/graph_diff_object.hpp"
#include "extension/interned_names.hpp"
#include "extension/messages.hpp"

namespace tovra::py {

namespace {

// The interpreter that first imported the module (-1 until then): a second one
// must not share the process-wide state (the class, cached strings).
std::atomic<std::int64_t> recorded_interpreter{-1};
PyObject* cached_module = nullptr;

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "tovra_api",
    "",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

Fallible<Done> run_module_body(PyObject* module) {
    if (!init_interned_names()) return fail(ErrorValue::from_interpreter());
    PyTypeObject* type = ensure_graph_diff_type();
    if (type == nullptr) return fail(ErrorValue::from_interpreter());

    // The module is new and has no __all__ of its own yet.
    Owned all = Owned::steal(Py_BuildValue("[s]", "PyGraphDiff"));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
        return fail(ErrorValue::from_interpreter());
    }
    if (PyObject_SetAttrString(module, "PyGraphDiff", reinterpret_cast<PyObject*>(type)) < 0) {
        return fail(ErrorValue::from_interpreter());
    }
    return Done{};
}

Outcome initialise() {
    std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) return fail(ErrorValue::from_interpreter());
    std::int64_t expected = -1;
    if (!recorded_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        return fail(ErrorValue::make(PyExc_ImportError, text::subinterpreters_unsupported));
    }
    if (cached_module != nullptr) return Owned::borrow(cached_module);

    Owned module = Owned::steal(PyModule_Create2(&module_definition, 1013));
    if (!module) return fail(ErrorValue::from_interpreter());
    // On failure the new module is released, not cached: the next import starts over.
    TOVRA_CHECK(run_module_body(module.get()));
    cached_module = Owned::borrow(module.get()).release();  // kept for the process
    return module;
}

}  // namespace

}  // namespace tovra::py

PyMODINIT_FUNC PyInit_tovra_api(void) {
    return tovra::py::guarded_call([] { return tovra::py::initialise(); });
}
