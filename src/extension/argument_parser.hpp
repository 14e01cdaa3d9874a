// One parser for every method that takes parameters: all of them are
// positional-or-keyword and required, with no defaults and no extras.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>

#include "extension/error_value.hpp"
#include "extension/interned_names.hpp"

namespace tovra::py {

struct Parameter {
    const char* name;
    PyObject* InternedNames::*interned;  // compared by pointer before by text
};

struct ParameterList {
    const char* function;  // e.g. "PyGraphDiff.add_edge()"
    const Parameter* parameters;
    std::size_t count;
};

// Slow path, out of line: keywords, wrong counts and every message. Fills
// `slots` (list.count entries, all null on entry).
Fallible<Done> parse_arguments_general(const ParameterList& list, PyObject* const* args,
                                       Py_ssize_t nargs, PyObject* kwnames, PyObject** slots);

template <std::size_t N>
using Slots = std::array<PyObject*, N>;

// Fast call arguments into one borrowed reference per parameter.
template <std::size_t N>
inline Fallible<Slots<N>> parse_arguments(const ParameterList& list, PyObject* const* args,
                                          Py_ssize_t nargs, PyObject* kwnames) {
    Slots<N> slots{};
    if (kwnames == nullptr && nargs == static_cast<Py_ssize_t>(N)) [[likely]] {
        for (std::size_t i = 0; i < N; ++i) slots[i] = args[i];
        return slots;
    }
    auto parsed = parse_arguments_general(list, args, nargs, kwnames, slots.data());
    if (!parsed) return fail(std::move(parsed).error());
    return slots;
}

// The constructor's arguments: it takes none.
Fallible<Done> parse_no_arguments(const char* function, PyObject* args, PyObject* kwargs);

}  // namespace tovra::py
