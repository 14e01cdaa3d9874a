// Every conversion between a Python object and the module's values, one
// function per direction. The in-conversions refuse with the fixed errors;
// the out-conversions refuse nothing.
#pragma once

#include <Python.h>

#include "common/narrow_to_float.hpp"
#include "common/uuid.hpp"
#include "extension/error_value.hpp"
#include "node_update/node_update.hpp"

namespace tovra::py {

// In: inline for the common case on every mutation's path, each refusal out of line.

inline bool is_uuid_bytes(PyObject* object) noexcept {
    return PyBytes_Check(object) && PyBytes_GET_SIZE(object) == 16;
}

[[gnu::cold]] ErrorValue uuid_refusal(PyObject* object);
[[gnu::cold]] ErrorValue pyuuid_refusal(ErrorValue reason);
Fallible<float> non_float_to_f32(PyObject* object);

// A bytes object (or a subclass) of exactly 16 bytes to the id it holds.
inline Fallible<Uuid> pybytes_to_uuid(PyObject* object) {
    if (is_uuid_bytes(object)) [[likely]] return Uuid::from_raw(PyBytes_AS_STRING(object));
    return fail(uuid_refusal(object));
}

// A node id parameter: pybytes_to_uuid, its refusal the cause of "failed to
// extract field PyUuid.0". The success is spelled out again so that only the
// id travels on every mutation's path (passing a Fallible on costs the
// mutating call that takes two ids a few percent).
[[gnu::always_inline]] inline Fallible<Uuid> pyobject_to_pyuuid(PyObject* object) {
    if (is_uuid_bytes(object)) [[likely]] return Uuid::from_raw(PyBytes_AS_STRING(object));
    return fail(pyuuid_refusal(uuid_refusal(object)));
}

[[gnu::always_inline]] inline Fallible<float> pyobject_to_f32(PyObject* object) {
    if (PyFloat_CheckExact(object)) [[likely]] return narrow_to_float(PyFloat_AS_DOUBLE(object));
    return non_float_to_f32(object);
}

// The object itself, if it is a bytes object.
Fallible<PyObject*> pyobject_to_pybytes(PyObject* object);

// Fills the fields the dict states into `update` (a new, empty one); other
// keys are ignored. On failure `update` holds the fields converted so far.
Fallible<Done> pydict_to_node_update(PyObject* object, NodeUpdate& update);

// Out. Creation failures are the internal failure "Python API call failed".
Owned uuid_to_pystr(const Uuid& id);
Owned f32_to_pyfloat(float value);
// Fails only when inserting into the new dict fails; nothing partial escapes.
Fallible<Owned> node_update_to_pydict(const NodeUpdate& update);

// A new list of the ids' texts, in the container's order.
template <class Container>
Owned uuids_to_pylist(const Container& ids) {
    Owned list = checked_new(PyList_New(static_cast<Py_ssize_t>(ids.size())));
    Py_ssize_t index = 0;
    for (const Uuid& id : ids) {
        PyList_SET_ITEM(list.get(), index++, uuid_to_pystr(id).release());
    }
    return list;
}

}  // namespace tovra::py
