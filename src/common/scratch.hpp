// Scratch arrays: `count` objects of a trivial type, uninitialised, from
// the general heap, for work that sizes its arrays once and fills them.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace tovra {

template <class T>
class Scratch {
    static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);

public:
    Scratch() noexcept = default;
    explicit Scratch(std::size_t count)
        : at_(count == 0 ? nullptr : static_cast<T*>(::operator new(count * sizeof(T)))) {}
    Scratch(Scratch&& other) noexcept : at_(std::exchange(other.at_, nullptr)) {}
    Scratch& operator=(Scratch&& other) noexcept {
        Scratch taken(std::move(other));
        std::swap(at_, taken.at_);
        return *this;
    }
    ~Scratch() { ::operator delete(at_); }
    T* get() const noexcept { return at_; }
    T& operator[](std::size_t i) const noexcept { return at_[i]; }

private:
    T* at_ = nullptr;
};

}  // namespace tovra
