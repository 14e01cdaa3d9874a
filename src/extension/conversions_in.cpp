// Python objects to the module's values, each with its fixed refusal.
#include <cstring>
#include <string_view>

#include "extension/conversions.hpp"
#include "extension/interned_names.hpp"
#include "extension/messages.hpp"

namespace tovra::py {

ErrorValue uuid_refusal(PyObject* object) {
    if (!PyBytes_Check(object)) return downcast_error(object, text::target_bytes);
    return ErrorValue::make(PyExc_Exception, text::expected_16_bytes);
}

ErrorValue pyuuid_refusal(ErrorValue reason) {
    Owned cause = std::move(reason).to_exception();
    if (!cause) return ErrorValue::from_interpreter();
    return ErrorValue::make(PyExc_TypeError, text::failed_to_extract_uuid, std::move(cause));
}

Fallible<PyObject*> pyobject_to_pybytes(PyObject* object) {
    if (!PyBytes_Check(object)) return fail(downcast_error(object, text::target_bytes));
    return object;
}

// Anything but an exact float goes through __float__ or __index__, which may fail.
Fallible<float> non_float_to_f32(PyObject* object) {
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return fail(ErrorValue::from_interpreter());
    return narrow_to_float(value);
}

namespace {

// A view of the str's own UTF-8 form, which lives as long as the str.
Fallible<std::string_view> pystr_to_text(PyObject* object) {
    if (!PyUnicode_Check(object)) return fail(downcast_error(object, text::target_string));
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) return fail(ErrorValue::from_interpreter());
    return std::string_view(utf8, static_cast<std::size_t>(size));
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
        Owned message = Owned::steal(PyUnicode_FromFormat(text::no_bool_conversion, type));
        if (!message) return fail(ErrorValue::from_interpreter());
        return fail(ErrorValue::make(PyExc_TypeError, std::move(message)));
    }
    int result = truth(object);
    if (result < 0) return fail(ErrorValue::from_interpreter());
    return result == 1;
}

// The value of each field as a lookup would find it, from one pass over the
// dict's entries instead of a lookup per field. The pass stands in for the
// lookups only while nothing could have changed the dict: it is made only
// when every key is an exact str (comparing any other key may run Python
// code), and is dropped for good once a value is converted through Python
// code (a __float__, an __index__); from there on each field is looked up.
class FieldSource {
public:
    explicit FieldSource(PyObject* dict) noexcept : dict_(dict), scanned_(scan()) {}

    // A lookup goes to the dict's own table (no __getitem__ or __missing__ of
    // a subclass). The value is held by a reference of our own: converting it
    // may run Python code that changes the dict.
    Fallible<Owned> get(std::size_t field) {
        if (scanned_) return Owned::borrow(values_[field]);
        PyObject* value = PyDict_GetItemWithError(dict_, field_keys()[field]);
        if (value == nullptr && PyErr_Occurred()) return fail(ErrorValue::from_interpreter());
        return Owned::borrow(value);
    }

    void python_code_may_run() noexcept { scanned_ = false; }

private:
    bool scan() noexcept {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(dict_, &position, &key, &value)) {
            if (!PyUnicode_CheckExact(key)) return false;
            const std::size_t field = field_of(key);
            if (field < field_count) values_[field] = value;
        }
        return true;
    }

    // By address first (keys written in code are interned), by text second.
    static std::size_t field_of(PyObject* key) noexcept {
        const auto& keys = field_keys();
        for (std::size_t f = 0; f < field_count; ++f) {
            if (key == keys[f]) return f;
        }
        if (!PyUnicode_IS_ASCII(key)) return field_count;
        const std::string_view text(static_cast<const char*>(PyUnicode_DATA(key)),
                                    static_cast<std::size_t>(PyUnicode_GET_LENGTH(key)));
        std::size_t found = field_count;
        for_each_field([&](auto index) {
            if (text == field_at<index>.dict_name) found = index;
        });
        return found;
    }

    PyObject* dict_;
    PyObject* values_[field_count] = {};
    bool scanned_;
};

// Whether converting `value` as a field of kind `Kind` stays in C: values of
// exactly the built-in type it expects. Anything else may call back into
// Python.
template <FieldKind Kind>
bool converts_in_c(PyObject* value) noexcept {
    if constexpr (Kind == FieldKind::text) return PyUnicode_CheckExact(value);
    if constexpr (Kind == FieldKind::size) return PyFloat_CheckExact(value) || PyLong_CheckExact(value);
    if constexpr (Kind == FieldKind::channel) return PyLong_CheckExact(value);
    if constexpr (Kind == FieldKind::flag) return value == Py_True || value == Py_False;
}

template <FieldKind Kind>
auto convert_value(PyObject* value) {
    if constexpr (Kind == FieldKind::text) return pystr_to_text(value);
    if constexpr (Kind == FieldKind::size) return pyobject_to_f32(value);
    if constexpr (Kind == FieldKind::channel) return pyobject_to_channel(value);
    if constexpr (Kind == FieldKind::flag) return pyobject_to_bool(value);
}

template <std::size_t Field>
Fallible<Done> convert_field(FieldSource& source, NodeUpdate& update) {
    constexpr FieldKind kind = field_at<Field>.kind;
    TOVRA_TRY(Owned value, source.get(Field));
    if (!value) return Done{};
    if (!converts_in_c<kind>(value.get())) source.python_code_may_run();
    TOVRA_TRY(update.*field_at<Field>.member, convert_value<kind>(value.get()));
    return Done{};
}

}  // namespace

Fallible<Done> pydict_to_node_update(PyObject* object, NodeUpdate& update) {
    if (!PyDict_Check(object)) return fail(downcast_error(object, text::target_dict));
    FieldSource source(object);
    Fallible<Done> outcome = Done{};
    all_fields([&](auto index) {
        outcome = convert_field<index>(source, update);
        return outcome.ok();
    });
    return outcome;
}

}  // namespace tovra::py
