// PyGraphDiff's methods, each declared once. From the one list below come the
// declaration of each method's function, its parameter list (what the parser
// reads and every refusal names), its text signature and, in
// graph_diff_type.cpp, its PyMethodDef entry; init_interned_names interns
// every parameter name from it.
//
// An X-macro rather than a constexpr array: each entry has to become named
// declarations (a function, a parameter list) that the bodies in
// methods_*.cpp refer to, which only the preprocessor can make from a list.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string_view>

#include "extension/argument_parser.hpp"

// X(name, calling convention, parameter names...), in the order the class
// lists its methods. The function is method_<name>, in methods_*.cpp.
#define TOVRA_GRAPH_DIFF_METHODS(X)                     \
    X(new_or_updated_nodes, NoArguments)                \
    X(deleted_nodes, NoArguments)                       \
    X(new_or_updated_edges, NoArguments)                \
    X(deleted_edges, NoArguments)                       \
    X(num_nodes, NoArguments)                           \
    X(num_edges, NoArguments)                           \
    TOVRA_GRAPH_DIFF_MUTATIONS(X)                       \
    X(clear, NoArguments)                               \
    X(to_bytes, NoArguments)                            \
    X(from_bytes, StaticParameters, "bytes")

// The methods that change a diff, a part of the list above: their bodies are
// MutationCalls' members of the same names (mutation_calls.hpp), which the
// benchmark's yardstick runs as well, so both derive their entries from here.
#define TOVRA_GRAPH_DIFF_MUTATIONS(X)                   \
    X(add_node, Parameters, "id", "update")             \
    X(delete_node, Parameters, "id")                    \
    X(add_edge, Parameters, "from", "to", "weight")     \
    X(delete_edge, Parameters, "from", "to")

namespace tovra::py {

// The calling conventions: the flags CPython is told and the function type
// they stand for, so that an entry and its function cannot disagree.
using FastCall = PyObject*(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
struct NoArguments {
    static constexpr int flags = METH_NOARGS;
    using Function = PyObject*(PyObject* self, PyObject* unused);
};
struct Parameters {
    static constexpr int flags = METH_FASTCALL | METH_KEYWORDS;
    using Function = FastCall;
};
struct StaticParameters {
    static constexpr int flags = METH_FASTCALL | METH_KEYWORDS | METH_STATIC;  // `self` is null
    using Function = FastCall;
};

// A doc string that is the text signature alone: "add_node($self, id, update)\n--\n\n".
struct TextSignature {
    char text[80];
};

consteval TextSignature text_signature(std::string_view name, bool has_self,
                                       std::initializer_list<const char*> parameters) {
    TextSignature signature{};
    std::size_t length = 0;
    auto append = [&](std::string_view part) {
        if (length + part.size() >= sizeof signature.text) throw "a text signature too long for TextSignature";
        for (const char c : part) signature.text[length++] = c;
    };
    append(name);
    append("(");
    if (has_self) append("$self");
    for (const char* parameter : parameters) {
        if (length > name.size() + 1) append(", ");
        append(parameter);
    }
    append(")\n--\n\n");
    return signature;
}

// A body whose type is not its convention's would define an overload that
// nothing calls, leaving the declared function undefined until import: so in
// every file that includes the table, a definition without a declaration fails.
#if defined(__clang__)
#pragma clang diagnostic error "-Wmissing-prototypes"
#elif defined(__GNUC__)
#pragma GCC diagnostic error "-Wmissing-declarations"
#endif

#define TOVRA_DECLARE_METHOD(name, convention, ...)                                                  \
    convention::Function method_##name;                                                              \
    namespace params {                                                                               \
    inline constexpr std::array<const char*, std::initializer_list<const char*>{__VA_ARGS__}.size()> \
        name##_names{__VA_ARGS__};                                                                   \
    static_assert(((convention::flags & METH_NOARGS) != 0) == name##_names.empty(),                  \
                  #name ": a method names parameters exactly when its convention takes them");      \
    inline std::array<PyObject*, name##_names.size()> name##_interned{};                             \
    inline constexpr ParameterList name{"PyGraphDiff." #name "()", name##_names.data(),              \
                                        name##_interned.data(), name##_names.size()};                \
    inline constexpr TextSignature name##_signature =                                                \
        text_signature(#name, !(convention::flags & METH_STATIC), {__VA_ARGS__});                    \
    }
TOVRA_GRAPH_DIFF_METHODS(TOVRA_DECLARE_METHOD)
#undef TOVRA_DECLARE_METHOD

namespace params {
inline constexpr char new_function[] = "PyGraphDiff.__new__()";

#define TOVRA_LIST_PARAMETERS(name, convention, ...) &name,
inline constexpr const ParameterList* all_lists[] = {TOVRA_GRAPH_DIFF_METHODS(TOVRA_LIST_PARAMETERS)};
#undef TOVRA_LIST_PARAMETERS
}  // namespace params

}  // namespace tovra::py
