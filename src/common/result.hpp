// A value or an error, without exceptions. The core reports every failure this
// way so that it can be unit-tested, fuzzed and sanitized without Python, and so
// that the extension decides alone how a failure reaches the caller.
#pragma once

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace tovra {

template <class E>
struct Unexpected {
    E error;
};

template <class E>
Unexpected<std::decay_t<E>> fail(E&& error) {
    return {std::forward<E>(error)};
}

template <class T, class E>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    template <class F>
    Result(Unexpected<F> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { assert(ok()); return *std::get_if<0>(&state_); }
    const T& value() const& { assert(ok()); return *std::get_if<0>(&state_); }
    T&& value() && { assert(ok()); return std::move(*std::get_if<0>(&state_)); }

    E& error() & { assert(!ok()); return *std::get_if<1>(&state_); }
    const E& error() const& { assert(!ok()); return *std::get_if<1>(&state_); }
    E&& error() && { assert(!ok()); return std::move(*std::get_if<1>(&state_)); }

private:
    std::variant<T, E> state_;
};

// Result of an operation that produces nothing on success.
struct Done {};

}  // namespace tovra
