// The benchmark's same-work yardstick: the module's own diff, its rules and
// its index of incoming edges, over Boost's generic flat hash tables instead
// of the module's, behind the module's own argument parsing, conversions,
// borrow flag and call wrapper. Everything on a call's path but the tables is
// the module's, so the benchmark's ratio against this column says whether the
// module's tables beat the best generic ones at the module's job. Built by
// the harness, never shipped.
#include <Python.h>

#include <cstddef>
#include <iterator>
#include <new>
#include <utility>

#include "boost_tables.hpp"
#include "diff/graph_diff.hpp"
#include "common/uuid.hpp"
#include "extension/argument_parser.hpp"
#include "extension/borrow_flag.hpp"
#include "extension/call_wrapper.hpp"
#include "extension/conversions.hpp"
#include "extension/interned_names.hpp"
#include "extension/mutation_calls.hpp"
#include "extension/method_table.hpp"
#include "node_update/node_update.hpp"

namespace {

using namespace tovra;
using namespace tovra::py;
using tovra::same_work::BoostTables;

using SameWorkDiff = GraphDiff<Uuid, NodeUpdate, float, BoostTables>;

struct SameWorkObject {
    PyObject_HEAD
    SameWorkDiff diff;
    Py_ssize_t borrow_flag;  // the module's: 0 free, -1 one writer inside
};

PyTypeObject* same_work_type = nullptr;

inline Fallible<SameWorkObject*> check_self(PyObject* self) noexcept {
    if (self == nullptr || !PyObject_TypeCheck(self, same_work_type)) [[unlikely]] {
        return fail(ErrorValue::make(PyExc_TypeError, "not a SameWork"));
    }
    return reinterpret_cast<SameWorkObject*>(self);
}

// The module's mutating calls, with its parameters under this type's name (a
// refusal reads the same but for the class), over these tables.
struct SameWorkHolder {
    static Fallible<Borrow<SameWorkObject, true>> borrow_exclusive(PyObject* self) {
        TOVRA_TRY(SameWorkObject* object, check_self(self));
        return lock_exclusive(object);
    }
#define SAME_WORK_PARAMETERS(name, convention, ...) \
    static constexpr ParameterList name = params::name.named("SameWork." #name "()");
    TOVRA_GRAPH_DIFF_MUTATIONS(SAME_WORK_PARAMETERS)
#undef SAME_WORK_PARAMETERS
};

using Calls = MutationCalls<SameWorkHolder>;

Fallible<const SameWorkDiff*> peek_shared(PyObject* self) {
    TOVRA_TRY(SameWorkObject* object, check_self(self));
    return peek(object);
}

PyObject* clear(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(auto borrow, SameWorkHolder::borrow_exclusive(self));
        borrow.diff().clear();
        return none();
    });
}

PyObject* num_nodes(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(const SameWorkDiff* diff, peek_shared(self));
        return checked_new(PyLong_FromSize_t(diff->node_count()));
    });
}

PyObject* num_edges(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(const SameWorkDiff* diff, peek_shared(self));
        return checked_new(PyLong_FromSize_t(diff->edge_count()));
    });
}

// The module's four listings, for the harness's check that both did the same
// work before any timing; never timed themselves. A source left without
// targets is skipped, as the module skips it.
Fallible<Done> set_item(PyObject* dict, const Owned& key, const Owned& value) {
    if (PyDict_SetItem(dict, key.get(), value.get()) < 0) return fail(ErrorValue::from_interpreter());
    return Done{};
}

PyObject* new_or_updated_nodes(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(const SameWorkDiff* diff, peek_shared(self));
        Owned result = checked_new(PyDict_New());
        for (const auto& [id, update] : diff->new_or_updated_nodes()) {
            TOVRA_TRY(Owned value, node_update_to_pydict(update));
            TOVRA_CHECK(set_item(result.get(), uuid_to_pystr(id), value));
        }
        return result;
    });
}

PyObject* deleted_nodes(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(const SameWorkDiff* diff, peek_shared(self));
        return uuids_to_pylist(diff->deleted_nodes());
    });
}

PyObject* new_or_updated_edges(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(const SameWorkDiff* diff, peek_shared(self));
        Owned result = checked_new(PyDict_New());
        for (const auto& [source, targets] : diff->edges().new_or_updated_edges) {
            if (targets.empty()) continue;
            Owned inner = checked_new(PyDict_New());
            for (const auto& [target, weight] : targets) {
                TOVRA_CHECK(set_item(inner.get(), uuid_to_pystr(target), f32_to_pyfloat(weight)));
            }
            TOVRA_CHECK(set_item(result.get(), uuid_to_pystr(source), inner));
        }
        return result;
    });
}

PyObject* deleted_edges(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(const SameWorkDiff* diff, peek_shared(self));
        Owned result = checked_new(PyDict_New());
        for (const auto& [source, targets] : diff->edges().deleted_edges) {
            if (targets.empty()) continue;
            TOVRA_CHECK(set_item(result.get(), uuid_to_pystr(source), uuids_to_pylist(targets)));
        }
        return result;
    });
}

template <class F>
PyCFunction as_cfunction(F function) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function));
}

#define SAME_WORK_METHOD_DEF(name, convention, ...) \
    {#name, as_cfunction(Calls::name), convention::flags, nullptr},
PyMethodDef methods[] = {
    TOVRA_GRAPH_DIFF_MUTATIONS(SAME_WORK_METHOD_DEF)
    {"clear", as_cfunction(clear), METH_NOARGS, nullptr},
    {"num_nodes", as_cfunction(num_nodes), METH_NOARGS, nullptr},
    {"num_edges", as_cfunction(num_edges), METH_NOARGS, nullptr},
    {"new_or_updated_nodes", as_cfunction(new_or_updated_nodes), METH_NOARGS, nullptr},
    {"deleted_nodes", as_cfunction(deleted_nodes), METH_NOARGS, nullptr},
    {"new_or_updated_edges", as_cfunction(new_or_updated_edges), METH_NOARGS, nullptr},
    {"deleted_edges", as_cfunction(deleted_edges), METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};
#undef SAME_WORK_METHOD_DEF

PyObject* same_work_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded_call([&]() -> Outcome {
        TOVRA_CHECK(parse_no_arguments("SameWork()", args, kwargs));
        PyObject* self = type->tp_alloc(type, 0);
        if (self == nullptr) return fail(ErrorValue::from_interpreter());
        auto* object = reinterpret_cast<SameWorkObject*>(self);
        new (&object->diff) SameWorkDiff();
        object->borrow_flag = 0;
        return Owned::steal(self);
    });
}

void same_work_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<SameWorkObject*>(self)->diff.~SameWorkDiff();
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(same_work_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(same_work_dealloc)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {"_tovra_same_work.SameWork", static_cast<int>(sizeof(SameWorkObject)), 0,
                    Py_TPFLAGS_DEFAULT, slots};

PyModuleDef module_definition = {PyModuleDef_HEAD_INIT, "_tovra_same_work", nullptr, -1,
                                 nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__tovra_same_work(void);  // declared first: the method table asks for it
PyMODINIT_FUNC PyInit__tovra_same_work(void) {
    if (!init_interned_names()) return nullptr;
    PyObject* module = PyModule_Create(&module_definition);
    if (module == nullptr) return nullptr;
    PyObject* type = PyType_FromSpec(&spec);
    if (type == nullptr || PyModule_AddObject(module, "SameWork", type) < 0) {
        Py_XDECREF(type);
        Py_DECREF(module);
        return nullptr;
    }
    same_work_type = reinterpret_cast<PyTypeObject*>(type);  // the module keeps it alive
    return module;
}
