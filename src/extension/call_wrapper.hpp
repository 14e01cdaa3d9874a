// The firewall around every entry point: a body returns a new reference or an
// error value, and nothing thrown inside it reaches CPython.
#pragma once

#include <Python.h>

#include <exception>
#include <new>
#include <utility>

#include "extension/error_value.hpp"
#include "extension/messages.hpp"

namespace tovra::py {

using Outcome = Fallible<Owned>;

template <class Body>
PyObject* guarded_call(Body&& body) noexcept {
    try {
        Outcome outcome = body();
        if (outcome.ok()) return std::move(outcome).value().release();
        std::move(outcome).error().raise();
        return nullptr;
    } catch (const Panic& failure) {
        raise_panic(failure.text.c_str());
    } catch (const std::bad_alloc&) {
        raise_panic(text::memory_allocation_failed);
    } catch (const std::exception& failure) {
        raise_panic(failure.what());
    } catch (...) {
        raise_panic(nullptr);
    }
    return nullptr;
}

inline Outcome none() noexcept { return Owned::borrow(Py_None); }

}  // namespace tovra::py
