// The four listings: new dicts and lists built in one pass over a collection,
// in its iteration order. Each key's text is made once.
#include "extension/borrow.hpp"
#include "extension/call_wrapper.hpp"
#include "extension/conversions.hpp"
#include "extension/method_table.hpp"

namespace tovra::py {

namespace {

// Fails only when memory runs out: the half-built result is dropped.
Fallible<Done> set_item(PyObject* dict, const Owned& key, const Owned& value) {
    if (PyDict_SetItem(dict, key.get(), value.get()) < 0) [[unlikely]] {
        return fail(ErrorValue::from_interpreter());
    }
    return Done{};
}

}  // namespace

PyObject* method_new_or_updated_nodes(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(SharedBorrow borrow, borrow_shared(self));
        Owned result = checked_new(PyDict_New());
        for (const auto& [id, update] : borrow.diff().new_or_updated_nodes()) {
            Owned key = uuid_to_pystr(id);
            TOVRA_TRY(Owned value, node_update_to_pydict(update));
            TOVRA_CHECK(set_item(result.get(), key, value));
        }
        return result;
    });
}

PyObject* method_deleted_nodes(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(SharedBorrow borrow, borrow_shared(self));
        return uuids_to_pylist(borrow.diff().deleted_nodes());
    });
}

// A dict of source text to `targets_to_py(targets)`. A source left without
// targets is skipped: deleting a node empties a map and leaves it counted by
// num_edges, and a decoded diff may hold an empty set; neither is an edge.
template <class Sources, class TargetsToPy>
Outcome sources_to_pydict(const Sources& sources, TargetsToPy targets_to_py) {
    Owned result = checked_new(PyDict_New());
    Fallible<Done> outcome = Done{};
    auto add_source = [&](const auto& entry) -> bool {
        const auto& [source, targets] = entry;
        if (targets.empty()) return true;
        Fallible<Owned> inner = targets_to_py(targets);
        if (!inner.ok()) {
            outcome = fail(std::move(inner).error());
            return false;
        }
        outcome = set_item(result.get(), uuid_to_pystr(source), inner.value());
        return outcome.ok();
    };
    // Each source's targets are a table elsewhere in memory, fetched ahead so
    // that building one source's objects overlaps the wait for the next.
    sources.for_each_with_inner(add_source);
    TOVRA_CHECK(std::move(outcome));
    return result;
}

PyObject* method_new_or_updated_edges(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(SharedBorrow borrow, borrow_shared(self));
        return sources_to_pydict(borrow.diff().edges().new_or_updated_edges,
                                 [](const auto& targets) -> Fallible<Owned> {
                                     Owned inner = checked_new(PyDict_New());
                                     for (const auto& [target, weight] : targets) {
                                         TOVRA_CHECK(set_item(inner.get(), uuid_to_pystr(target),
                                                              f32_to_pyfloat(weight)));
                                     }
                                     return inner;
                                 });
    });
}

PyObject* method_deleted_edges(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(SharedBorrow borrow, borrow_shared(self));
        return sources_to_pydict(borrow.diff().edges().deleted_edges,
                                 [](const auto& targets) -> Fallible<Owned> { return uuids_to_pylist(targets); });
    });
}

}  // namespace tovra::py
