// What a failed step of a call yields: an exception class with its message
// and optional cause, or an exception the interpreter already raised. Only
// the call wrapper turns it into the raised Python exception.
#pragma once

#include <Python.h>

#include <memory>
#include <string>
#include <string_view>

#include "common/result.hpp"
#include "extension/owned_ref.hpp"

namespace tovra::py {

class ErrorValue {
public:
    // Takes over the exception the interpreter has set; when it reported a
    // failure without setting one, a SystemError says so.
    static ErrorValue from_interpreter() noexcept;
    // `type` must be a class that lives for the whole process (a builtin).
    static ErrorValue make(PyObject* type, std::string_view message, Owned cause = {});
    // Message already a `str`: used where the text comes from Python objects
    // (type names, keyword names) that may not survive a round trip to UTF-8.
    static ErrorValue make(PyObject* type, Owned message, Owned cause = {}) noexcept;

    // The class of the error, borrowed.
    PyObject* type() const noexcept;
    // The error as an exception instance (a new reference), or empty when
    // creating it failed, with the interpreter's exception set.
    Owned to_exception() &&;
    // str() of the error, or empty with an exception set.
    Owned text() const;
    // The error's __cause__, possibly empty.
    Owned cause() const noexcept;

    // Sets the error as the current exception, or MemoryError if making it fails.
    void raise() && noexcept;

private:
    // An error not yet turned into an exception instance: made only when it
    // is raised or inspected, which most refusals never are.
    struct Pending {
        PyObject* type = nullptr;
        std::string message;    // used when message_object is empty
        Owned message_object;
        Owned cause;
    };

    ErrorValue() noexcept = default;
    // Memory for a pending error ran out: the interpreter's MemoryError instead.
    static ErrorValue out_of_memory() noexcept;

    // Exactly one of the two is set. Two pointers wide, so that a Fallible of
    // a small value stays small and cheap to move on the success path.
    Owned raised_;                      // an exception instance, restored as it is
    std::unique_ptr<Pending> pending_;
};

template <class T>
using Fallible = Result<T, ErrorValue>;

// text::cannot_convert as a TypeError; `object` may be null.
ErrorValue downcast_error(PyObject* object, const char* target) noexcept;

// A failure that is not an error value: a broken internal expectation. Thrown
// inside a call and turned into PanicException by the call wrapper; never
// leaves the module.
struct Panic {
    std::string text;
};

[[noreturn]] void panic(std::string text);

// A new object from the interpreter; null (memory exhausted) is printed and
// becomes the internal failure "Python API call failed".
Owned checked_new(PyObject* result);

// Raises PanicException carrying `text` (the generic text when null).
void raise_panic(const char* text) noexcept;

}  // namespace tovra::py

#define TOVRA_CONCAT_INNER(a, b) a##b
#define TOVRA_CONCAT(a, b) TOVRA_CONCAT_INNER(a, b)

// Unwraps a Fallible into `decl`, or returns its error from the enclosing body.
#define TOVRA_TRY(decl, expr) TOVRA_TRY_IMPL(decl, expr, TOVRA_CONCAT(tovra_try_, __LINE__))
#define TOVRA_TRY_IMPL(decl, expr, tmp)                              \
    auto tmp = (expr);                                               \
    if (!tmp.ok()) return ::tovra::fail(std::move(tmp).error());    \
    decl = std::move(tmp).value()

// Returns the error of a Fallible from the enclosing body, discarding a value.
#define TOVRA_CHECK(expr) TOVRA_TRY([[maybe_unused]] auto TOVRA_CONCAT(tovra_checked_, __LINE__), expr)
