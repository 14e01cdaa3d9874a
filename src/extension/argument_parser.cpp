#include "extension/argument_parser.hpp"

#include <string>

namespace tovra::py {

namespace {

[[gnu::cold]] ErrorValue too_many_positional(const char* function, std::size_t expected,
                                             Py_ssize_t given) {
    // "arguments" stays plural even for one parameter: callers match this text.
    std::string message = std::string(function) + " takes " + std::to_string(expected) +
                          " positional arguments but " + std::to_string(given) +
                          (given == 1 ? " was given" : " were given");
    return ErrorValue::make(PyExc_TypeError, message);
}

[[gnu::cold]] ErrorValue keyword_error(const char* function, const char* what, PyObject* keyword) {
    Owned message = Owned::steal(PyUnicode_FromFormat("%s %s '%S'", function, what, keyword));
    if (!message) return ErrorValue::from_interpreter();
    return ErrorValue::make(PyExc_TypeError, std::move(message));
}

[[gnu::cold]] ErrorValue missing_arguments(const ParameterList& list, PyObject* const* slots) {
    std::size_t missing = 0;
    for (std::size_t i = 0; i < list.count; ++i) missing += slots[i] == nullptr;
    std::string names;
    std::size_t listed = 0;
    for (std::size_t i = 0; i < list.count; ++i) {
        if (slots[i] != nullptr) continue;
        ++listed;
        names += '\'';
        names += list.parameters[i].name;
        names += '\'';
        if (listed + 1 < missing) {
            names += ", ";
        } else if (listed + 1 == missing) {
            names += missing == 2 ? " and " : ", and ";
        }
    }
    std::string message = std::string(list.function) + " missing " + std::to_string(missing) +
                          " required positional " + (missing == 1 ? "argument" : "arguments") +
                          ": " + names;
    return ErrorValue::make(PyExc_TypeError, message);
}

// Pointer first (the usual case: keyword names in code are interned), text
// second (names built at run time and passed through **kwargs).
bool same_name(PyObject* keyword, const Parameter& parameter) noexcept {
    PyObject* interned = names().*(parameter.interned);
    if (keyword == interned) return true;
    return PyUnicode_CompareWithASCIIString(keyword, parameter.name) == 0;
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
            if (same_name(keyword, list.parameters[p])) {
                index = p;
                break;
            }
        }
        if (index == list.count) {
            return fail(keyword_error(list.function, "got an unexpected keyword argument", keyword));
        }
        if (slots[index] != nullptr) {
            return fail(keyword_error(list.function, "got multiple values for argument", keyword));
        }
        slots[index] = args[nargs + k];
    }

    if (nargs < static_cast<Py_ssize_t>(list.count)) {
        for (std::size_t i = static_cast<std::size_t>(nargs); i < list.count; ++i) {
            if (slots[i] == nullptr) return fail(missing_arguments(list, slots));
        }
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
        return fail(keyword_error(function, "got an unexpected keyword argument", key));
    }
    return Done{};
}

}  // namespace tovra::py
