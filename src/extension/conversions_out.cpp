// The module's values to new Python objects.
#include "extension/conversions.hpp"
#include "extension/interned_names.hpp"

namespace tovra::py {

Owned uuid_to_pystr(const Uuid& id) {
    // Written straight into a new compact ASCII str, with no intermediate buffer.
    Owned text = checked_new(PyUnicode_New(36, 127));
    write_uuid_text(id, reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text.get())));
    return text;
}

Owned f32_to_pyfloat(float value) {
    // Widening is exact: 0.1f comes back as 0.10000000149011612.
    return checked_new(PyFloat_FromDouble(static_cast<double>(value)));
}

namespace {

// One conversion per kind of field, chosen by the field's type.
Owned to_python(std::string_view text) {
    return checked_new(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}
Owned to_python(float size) { return f32_to_pyfloat(size); }
Owned to_python(std::uint8_t channel) { return checked_new(PyLong_FromLong(channel)); }
Owned to_python(bool flag) { return Owned::borrow(flag ? Py_True : Py_False); }

}  // namespace

Fallible<Owned> node_update_to_pydict(const NodeUpdate& update) {
    Owned dict = checked_new(PyDict_New());
    const auto& keys = field_keys();
    // A failed insertion is reported, not skipped: a dict missing a key would
    // silently lose an attribute.
    const bool inserted = all_fields([&](auto index) {
        const auto& field = update.*field_at<index>.member;
        return !field || PyDict_SetItem(dict.get(), keys[index], to_python(*field).get()) == 0;
    });
    if (!inserted) return fail(ErrorValue::from_interpreter());
    return dict;
}

}  // namespace tovra::py
