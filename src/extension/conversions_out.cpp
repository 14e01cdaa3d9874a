// The module's values to new Python objects.
#include "extension/conversions.hpp"
#include "extension/interned_names.hpp"

namespace tovra::py {

Owned uuid_to_pystr(const Uuid& id) {
    // Written straight into a new compact ASCII str: no intermediate buffer
    // and no decoding step.
    Owned text = checked_new(PyUnicode_New(36, 127));
    write_uuid_text(id, reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text.get())));
    return text;
}

Owned f32_to_pyfloat(float value) {
    // Widening is exact: 0.1f comes back as 0.10000000149011612.
    return checked_new(PyFloat_FromDouble(static_cast<double>(value)));
}

namespace {

Owned text_to_pystr(std::string_view text) {
    return checked_new(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Owned channel_to_pyint(std::uint8_t value) { return checked_new(PyLong_FromLong(value)); }

}  // namespace

Fallible<Owned> node_update_to_pydict(const NodeUpdate& update) {
    Owned dict = checked_new(PyDict_New());
    const InternedNames& key = names();
    // A failed insertion is reported, not skipped: a dict missing a key would
    // silently lose an attribute.
    auto insert = [&](PyObject* name, Owned value) -> bool {
        return PyDict_SetItem(dict.get(), name, value.get()) == 0;
    };
    bool ok = (!update.label || insert(key.label, text_to_pystr(*update.label))) &&
              (!update.url || insert(key.url, text_to_pystr(*update.url))) &&
              (!update.size || insert(key.size, f32_to_pyfloat(*update.size))) &&
              (!update.red || insert(key.red, channel_to_pyint(*update.red))) &&
              (!update.green || insert(key.green, channel_to_pyint(*update.green))) &&
              (!update.blue || insert(key.blue, channel_to_pyint(*update.blue))) &&
              (!update.show_label ||
               insert(key.show_label, Owned::borrow(*update.show_label ? Py_True : Py_False)));
    if (!ok) return fail(ErrorValue::from_interpreter());
    return dict;
}

}  // namespace tovra::py
