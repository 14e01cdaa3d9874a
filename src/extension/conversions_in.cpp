// Python objects to the module's values, each with its fixed refusal.
#include <cstring>

#include "extension/conversions.hpp"
#include "extension/interned_names.hpp"
#include "extension/messages.hpp"

namespace tovra::py {

ErrorValue uuid_refusal(PyObject* object) {
    if (!PyBytes_Check(object)) return downcast_error(object, text::target_bytes);
    return ErrorValue::make(PyExc_Exception, text::expected_16_bytes);
}

ErrorValue pyuuid_refusal(PyObject* object) {
    Owned reason = uuid_refusal(object).to_exception();
    if (!reason) return ErrorValue::from_interpreter();
    return ErrorValue::make(PyExc_TypeError, text::failed_to_extract_uuid, std::move(reason));
}

// Anything but an exact float goes through its __float__ (or __index__),
// which may run Python code and may fail.
Fallible<float> non_float_to_f32(PyObject* object) {
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return fail(ErrorValue::from_interpreter());
    return narrow_to_float(value);
}

namespace {

Fallible<std::string> pystr_to_text(PyObject* object) {
    if (!PyUnicode_Check(object)) return fail(downcast_error(object, text::target_string));
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) return fail(ErrorValue::from_interpreter());
    return std::string(utf8, static_cast<std::size_t>(size));
}

Fallible<std::uint8_t> pyobject_to_channel(PyObject* object) {
    long value = PyLong_AsLong(object);
    if (value == -1 && PyErr_Occurred()) return fail(ErrorValue::from_interpreter());
    if (value < 0 || value > 255) {
        return fail(ErrorValue::make(PyExc_OverflowError, text::channel_out_of_range));
    }
    return static_cast<std::uint8_t>(value);
}

// numpy's boolean scalar is not a bool subclass; it is recognised by its type
// name, under the name numpy 1.x used and the one numpy 2.x uses.
bool is_numpy_bool(PyTypeObject* type) noexcept {
    return std::strcmp(type->tp_name, "numpy.bool_") == 0 ||
           std::strcmp(type->tp_name, "numpy.bool") == 0;
}

Fallible<bool> pyobject_to_bool(PyObject* object) {
    if (object == Py_True) return true;
    if (object == Py_False) return false;
    PyTypeObject* type = Py_TYPE(object);
    if (!is_numpy_bool(type)) return fail(downcast_error(object, text::target_bool));
    inquiry truth = type->tp_as_number ? type->tp_as_number->nb_bool : nullptr;
    if (truth == nullptr) {
        Owned message = Owned::steal(PyUnicode_FromFormat(
            "object of type '%S' does not define a '__bool__' conversion", type));
        if (!message) return fail(ErrorValue::from_interpreter());
        return fail(ErrorValue::make(PyExc_TypeError, std::move(message)));
    }
    int result = truth(object);
    if (result < 0) return fail(ErrorValue::from_interpreter());
    return result == 1;
}

// Looks a key up in the dict's own table (no __getitem__ or __missing__ of a
// subclass), keeping a reference of our own to the value: converting it may
// run Python code that changes the dict.
Fallible<Owned> lookup(PyObject* dict, PyObject* key) {
    PyObject* value = PyDict_GetItemWithError(dict, key);
    if (value == nullptr && PyErr_Occurred()) return fail(ErrorValue::from_interpreter());
    return Owned::borrow(value);
}

template <class T, class Convert>
Fallible<Done> convert_field(PyObject* dict, PyObject* key, std::optional<T>& field,
                             Convert convert) {
    TOVRA_TRY(Owned value, lookup(dict, key));
    if (!value) return Done{};
    TOVRA_TRY(field, convert(value.get()));
    return Done{};
}

}  // namespace

Fallible<NodeUpdate> pydict_to_node_update(PyObject* object) {
    if (!PyDict_Check(object)) return fail(downcast_error(object, text::target_dict));
    const InternedNames& key = names();
    NodeUpdate update;
    // The order of the lookups decides which refusal wins; it is fixed.
    TOVRA_CHECK(convert_field(object, key.label, update.label, pystr_to_text));
    TOVRA_CHECK(convert_field(object, key.url, update.url, pystr_to_text));
    TOVRA_CHECK(convert_field(object, key.size, update.size, pyobject_to_f32));
    TOVRA_CHECK(convert_field(object, key.red, update.red, pyobject_to_channel));
    TOVRA_CHECK(convert_field(object, key.green, update.green, pyobject_to_channel));
    TOVRA_CHECK(convert_field(object, key.blue, update.blue, pyobject_to_channel));
    TOVRA_CHECK(convert_field(object, key.show_label, update.show_label, pyobject_to_bool));
    return update;
}

ErrorValue name_argument_error(const char* name, ErrorValue error) {
    if (error.type() != PyExc_TypeError) return error;
    Owned reason = error.text();
    if (!reason) return ErrorValue::from_interpreter();
    Owned message = Owned::steal(PyUnicode_FromFormat("argument '%s': %U", name, reason.get()));
    if (!message) return ErrorValue::from_interpreter();
    return ErrorValue::make(PyExc_TypeError, std::move(message), error.cause());
}

}  // namespace tovra::py
