#include "extension/argument_parser.hpp"

#include <string>
#include <vector>

#include "extension/messages.hpp"

namespace tovra::py {

namespace {

// A TypeError with the message PyUnicode_FromFormat makes of `format`.
template <class... Args>
[[gnu::cold]] ErrorValue type_error(const char* format, Args... args) noexcept {
    Owned message = Owned::steal(PyUnicode_FromFormat(format, args...));
    if (!message) return ErrorValue::from_interpreter();
    return ErrorValue::make(PyExc_TypeError, std::move(message));
}

[[gnu::cold]] ErrorValue too_many_positional(const char* function, std::size_t expected,
                                             Py_ssize_t given) noexcept {
    if (given == 1) return type_error(text::too_many_positional_one, function, expected);
    return type_error(text::too_many_positional, function, expected, given);
}

// The names as the interpreter lists them: 'a', 'a' and 'b', 'a', 'b', and 'c'.
[[gnu::cold]] ErrorValue missing_arguments(const ParameterList& list, PyObject* const* slots) {
    std::vector<std::string> missing;
    for (std::size_t i = 0; i < list.count; ++i) {
        if (slots[i] == nullptr) missing.push_back(std::string("'") + list.names[i] + "'");
    }
    std::string names = missing[0];
    for (std::size_t i = 1; i < missing.size(); ++i) {
        names += i + 1 < missing.size() ? ", " : missing.size() == 2 ? " and " : ", and ";
        names += missing[i];
    }
    if (missing.size() == 1) return type_error(text::missing_argument, list.function, names.c_str());
    return type_error(text::missing_arguments, list.function, missing.size(), names.c_str());
}

// Pointer first (the usual case: keyword names in code are interned), text
// second (names built at run time and passed through **kwargs).
bool same_name(PyObject* keyword, const ParameterList& list, std::size_t p) noexcept {
    return keyword == list.interned[p] || PyUnicode_CompareWithASCIIString(keyword, list.names[p]) == 0;
}

}  // namespace

Fallible<Done> parse_arguments_general(const ParameterList& list, PyObject* const* args,
                                       Py_ssize_t nargs, PyObject* kwnames, PyObject** slots) {
    if (nargs > static_cast<Py_ssize_t>(list.count)) {
        return fail(too_many_positional(list.function, list.count, nargs));
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];

    Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        std::size_t index = list.count;
        for (std::size_t p = 0; p < list.count; ++p) {
            if (same_name(keyword, list, p)) {
                index = p;
                break;
            }
        }
        if (index == list.count) return fail(type_error(text::unexpected_keyword, list.function, keyword));
        if (slots[index] != nullptr) return fail(type_error(text::multiple_values, list.function, keyword));
        slots[index] = args[nargs + k];
    }

    for (std::size_t i = static_cast<std::size_t>(nargs); i < list.count; ++i) {
        if (slots[i] == nullptr) return fail(missing_arguments(list, slots));
    }
    return Done{};
}

Fallible<Done> parse_no_arguments(const char* function, PyObject* args, PyObject* kwargs) {
    Py_ssize_t given = args ? PyTuple_GET_SIZE(args) : 0;
    if (given > 0) return fail(too_many_positional(function, 0, given));
    if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        PyDict_Next(kwargs, &position, &key, &value);
        return fail(type_error(text::unexpected_keyword, function, key));
    }
    return Done{};
}

ErrorValue name_argument_error(const char* name, ErrorValue error) {
    if (error.type() != PyExc_TypeError) return error;
    Owned reason = error.text();
    if (!reason) return ErrorValue::from_interpreter();
    Owned message = Owned::steal(PyUnicode_FromFormat(text::argument_error, name, reason.get()));
    if (!message) return ErrorValue::from_interpreter();
    return ErrorValue::make(PyExc_TypeError, std::move(message), error.cause());
}

}  // namespace tovra::py
