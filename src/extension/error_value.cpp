#include "extension/error_value.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "extension/messages.hpp"

namespace tovra::py {

namespace {

[[noreturn]] void abort_at_boundary() noexcept {
    std::fputs(text::abort_line, stderr);
    std::fflush(stderr);
    std::abort();
}

// Created on first need and never freed; deliberately not a module attribute.
PyObject* panic_exception_class() noexcept {
    static PyObject* cached = nullptr;
    if (cached == nullptr) {
        cached = PyErr_NewExceptionWithDoc(text::panic_name, text::panic_doc,
                                           PyExc_BaseException, nullptr);
        // Without the class there is nothing to raise a panic through.
        if (cached == nullptr) abort_at_boundary();
    }
    return cached;
}

}  // namespace

ErrorValue ErrorValue::out_of_memory() noexcept {
    PyErr_NoMemory();
    return from_interpreter();
}

ErrorValue ErrorValue::from_interpreter() noexcept {
    ErrorValue error;
    error.raised_ = Owned::steal(PyErr_GetRaisedException());
    if (error.raised_) return error;
    Owned message = Owned::steal(PyUnicode_FromString(text::no_exception_set));
    if (!message) return from_interpreter();
    return make(PyExc_SystemError, std::move(message));
}

ErrorValue ErrorValue::make(PyObject* type, std::string_view message, Owned cause) {
    ErrorValue error;
    error.pending_ = std::make_unique<Pending>();
    error.pending_->type = type;
    error.pending_->message.assign(message);
    error.pending_->cause = std::move(cause);
    return error;
}

ErrorValue ErrorValue::make(PyObject* type, Owned message, Owned cause) noexcept {
    ErrorValue error;
    error.pending_.reset(new (std::nothrow) Pending{type, {}, std::move(message), std::move(cause)});
    if (!error.pending_) return out_of_memory();
    return error;
}

PyObject* ErrorValue::type() const noexcept {
    return raised_ ? reinterpret_cast<PyObject*>(Py_TYPE(raised_.get())) : pending_->type;
}

Owned ErrorValue::text() const {
    if (raised_) return Owned::steal(PyObject_Str(raised_.get()));
    if (pending_->message_object) return Owned::borrow(pending_->message_object.get());
    return Owned::steal(PyUnicode_FromStringAndSize(
        pending_->message.data(), static_cast<Py_ssize_t>(pending_->message.size())));
}

Owned ErrorValue::cause() const noexcept {
    if (raised_) return Owned::steal(PyException_GetCause(raised_.get()));
    return Owned::borrow(pending_->cause.get());
}

Owned ErrorValue::to_exception() && {
    if (raised_) return std::move(raised_);
    Owned message = text();
    if (!message) return {};
    Owned exception = Owned::steal(PyObject_CallOneArg(pending_->type, message.get()));
    if (!exception) return {};
    if (pending_->cause) PyException_SetCause(exception.get(), pending_->cause.release());
    return exception;
}

void ErrorValue::raise() && noexcept {
    if (raised_) {
        PyErr_SetRaisedException(raised_.release());
        return;
    }
    PyObject* type = pending_->type;
    Owned exception = std::move(*this).to_exception();
    if (!exception) {
        // Making it failed, and the interpreter's reason (memory ran out) is
        // the error raised; with none, nothing sound is left to raise.
        if (PyErr_Occurred()) return;
        abort_at_boundary();
    }
    // Through PyErr_SetObject, so that an exception being handled becomes the
    // new one's __context__, as a `raise` in Python would do.
    PyErr_SetObject(type, exception.get());
}

ErrorValue downcast_error(PyObject* object, const char* target) noexcept {
    // The type's qualified name, or the placeholder (also for a null object).
    Owned name;
    if (object != nullptr) name = Owned::steal(PyType_GetQualName(Py_TYPE(object)));
    if (!name) {
        PyErr_Clear();
        name = Owned::steal(PyUnicode_FromString(text::unknown_type_name));
        if (!name) return ErrorValue::from_interpreter();
    }
    Owned message = Owned::steal(
        PyUnicode_FromFormat(text::cannot_convert, name.get(), target));
    if (!message) return ErrorValue::from_interpreter();
    return ErrorValue::make(PyExc_TypeError, std::move(message));
}

void panic(std::string text) {
    throw Panic{std::move(text)};
}

Owned checked_new(PyObject* result) {
    if (result == nullptr) {
        PyErr_Print();
        panic(text::api_call_failed);
    }
    return Owned::steal(result);
}

void raise_panic(const char* text) noexcept {
    PyObject* type = panic_exception_class();
    const char* shown = text ? text : text::panic_generic;
    Owned message = Owned::steal(
        PyUnicode_DecodeUTF8(shown, static_cast<Py_ssize_t>(std::strlen(shown)), "replace"));
    if (!message) abort_at_boundary();
    Owned exception = Owned::steal(PyObject_CallOneArg(type, message.get()));
    if (!exception) abort_at_boundary();
    PyErr_SetObject(type, exception.get());
}

}  // namespace tovra::py
