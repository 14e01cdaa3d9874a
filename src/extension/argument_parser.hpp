// One parser for every method that takes parameters: all of them are
// positional-or-keyword and required, with no defaults and no extras.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <utility>

#include "extension/error_value.hpp"

namespace tovra::py {

// Made once per method by the method table. `interned` holds each name as a
// str (from init_interned_names), compared by pointer before by text.
struct ParameterList {
    const char* function;  // e.g. "PyGraphDiff.from_bytes()"
    const char* const* names;
    PyObject** interned;
    std::size_t count;

    // The same parameters under another function name (the benchmark's
    // yardstick runs the module's bodies under its own class name).
    constexpr ParameterList named(const char* other) const { return {other, names, interned, count}; }
};

// Slow path, out of line: keywords, wrong counts and every message. Fills
// `slots` (list.count entries, all null on entry).
Fallible<Done> parse_arguments_general(const ParameterList& list, PyObject* const* args,
                                       Py_ssize_t nargs, PyObject* kwnames, PyObject** slots);

// A refused argument's error: a TypeError (exactly) gains the "argument
// '{name}': " prefix and keeps its cause; anything else passes unchanged.
ErrorValue name_argument_error(const char* name, ErrorValue error);

// One borrowed reference per parameter of `List`, in its order.
template <const ParameterList& List>
struct Arguments {
    std::array<PyObject*, List.count> slots{};

    // Converts argument `index` with `convert` and names its refusal.
    template <class Convert>
    [[gnu::always_inline]] auto convert(std::size_t index, Convert convert) const {
        auto converted = convert(slots[index]);
        if (!converted.ok()) [[unlikely]] {
            return decltype(converted)(fail(name_argument_error(List.names[index],
                                                                std::move(converted).error())));
        }
        return converted;
    }
};

// Fast call arguments into one borrowed reference per parameter.
template <const ParameterList& List>
inline Fallible<Arguments<List>> parse_arguments(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Arguments<List> arguments;
    if (kwnames == nullptr && nargs == static_cast<Py_ssize_t>(List.count)) [[likely]] {
        for (std::size_t i = 0; i < List.count; ++i) arguments.slots[i] = args[i];
        return arguments;
    }
    auto parsed = parse_arguments_general(List, args, nargs, kwnames, arguments.slots.data());
    if (!parsed) return fail(std::move(parsed).error());
    return arguments;
}

// The constructor's arguments: it takes none.
Fallible<Done> parse_no_arguments(const char* function, PyObject* args, PyObject* kwargs);

}  // namespace tovra::py
