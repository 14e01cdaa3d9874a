// A value or an error, without exceptions: the core reports every failure this
// way, so that it can be tested and fuzzed without Python and the extension
// alone decides how a failure reaches the caller. A flag and a union rather
// than std::variant: a Result sits on the path of every call into the module,
// and the compiler sees through construction, test and destruction of these.
#pragma once

#include <cassert>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

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
    static_assert(std::is_nothrow_move_constructible_v<T> && std::is_nothrow_move_constructible_v<E>,
                  "moving a Result must not throw half way");

public:
    Result(T value) noexcept : ok_(true) { ::new (static_cast<void*>(&value_)) T(std::move(value)); }
    template <class F>
    Result(Unexpected<F> failure) : ok_(false) {
        ::new (static_cast<void*>(&error_)) E(std::move(failure.error));
    }

    Result(Result&& other) noexcept : ok_(other.ok_) {
        if (ok_) {
            ::new (static_cast<void*>(&value_)) T(std::move(other.value_));
        } else {
            ::new (static_cast<void*>(&error_)) E(std::move(other.error_));
        }
    }
    Result& operator=(Result&& other) noexcept {
        if (this != &other) {
            destroy();
            ::new (static_cast<void*>(this)) Result(std::move(other));
        }
        return *this;
    }
    ~Result() { destroy(); }

    bool ok() const noexcept { return ok_; }
    explicit operator bool() const noexcept { return ok_; }

    T& value() & { assert(ok_); return value_; }
    const T& value() const& { assert(ok_); return value_; }
    T&& value() && { assert(ok_); return std::move(value_); }

    E& error() & { assert(!ok_); return error_; }
    const E& error() const& { assert(!ok_); return error_; }
    E&& error() && { assert(!ok_); return std::move(error_); }

private:
    // The success path stays inline and, for a trivial value, empty; an
    // error's destruction is the rare path and kept out of line.
    void destroy() noexcept {
        if (ok_) [[likely]] {
            if constexpr (!std::is_trivially_destructible_v<T>) std::destroy_at(&value_);
        } else {
            destroy_error();
        }
    }
    [[gnu::noinline]] void destroy_error() noexcept { std::destroy_at(&error_); }

    union {
        T value_;
        E error_;
    };
    bool ok_;
};

// Result of an operation that produces nothing on success.
struct Done {};

}  // namespace tovra
