// The iterator of FlatMap and FlatSet: the slots in slot order, then (only
// after hostile keys, see flat_table_core.hpp) the overflow in key order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <type_traits>

#include "tables/flat_table_core.hpp"

namespace tovra::flat_detail {

template <class Policy, class Hash>
class FlatTable;

// A slot position is `index_` below the capacity; from the capacity on,
// `overflow_` is the position (and is left value-initialized while walking
// slots, so positions compare by both).
template <class Core, bool Const>
class FlatIter {
    using Place = typename Core::Place;
    using OverflowIter = typename Core::OverflowIter;

public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = typename Core::value_type;
    using difference_type = std::ptrdiff_t;
    using reference = std::conditional_t<Const, const value_type&, value_type&>;
    using pointer = std::conditional_t<Const, const value_type*, value_type*>;

    FlatIter() noexcept = default;

    // iterator to const_iterator.
    template <bool OtherConst, class = std::enable_if_t<Const && !OtherConst>>
    FlatIter(const FlatIter<Core, OtherConst>& other) noexcept
        : table_(other.table_), index_(other.index_), overflow_(other.overflow_) {}

    reference operator*() const noexcept {
        if (index_ < table_->capacity()) return table_->slots()[index_];
        return *overflow_;
    }
    pointer operator->() const noexcept { return &**this; }

    FlatIter& operator++() noexcept {
        const std::size_t cap = table_->capacity();
        if (index_ < cap) {
            const std::uint8_t* ctrl = table_->control();
            do {
                ++index_;
            } while (index_ < cap && ctrl[index_] == 0);
            if (index_ == cap && table_->has_overflow()) overflow_ = table_->overflow().begin();
        } else {
            ++overflow_;
        }
        return *this;
    }

    friend bool operator==(const FlatIter& a, const FlatIter& b) noexcept {
        return a.index_ == b.index_ && a.overflow_ == b.overflow_;
    }

private:
    template <class, class>
    friend class FlatTable;
    template <class, bool>
    friend class FlatIter;

    FlatIter(const Core* table, std::size_t index) noexcept : table_(table), index_(index) {}
    FlatIter(const Core* table, OverflowIter position) noexcept
        : table_(table), index_(table->capacity()), overflow_(position) {}
    FlatIter(const Core* table, const Place& place) noexcept
        : table_(table), index_(place.index), overflow_(place.overflow) {}

    Place place() const noexcept { return {index_, overflow_}; }

    const Core* table_ = nullptr;
    std::size_t index_ = 0;
    OverflowIter overflow_{};
};

}  // namespace tovra::flat_detail
