// A set of odd 64-bit numbers in one word: the values of an index kept by
// hash (a diff's index of sources by target), where most keys have one
// number and a few have thousands.
//
// The word is 0 for none, the number itself for one (odd), or the address
// of a spill holding them all, which is aligned: bit 1 tells an array,
// searched in order while it holds at most `array_max`, from a FlatSet
// (set) past that. Bit 2 marks an array laid in a block the bag does not own
// (see gathered): the index's shared block, filled when it is built, so that
// building takes no allocation per target. Such an array is changed in
// place while it has room and never freed by the bag; past its room it moves
// to an allocation of its own. Beside a 16-byte key, the index's slot is then 25 bytes with
// its control byte, against 41 with a table that holds its first entry in
// place; arrays of 2 and 4 fill 32- and 48-byte heap chunks exactly.
//
// Order: the one; the array's order (an erasure moves the last number into
// the hole); the table's. All functions of the numbers and the operations.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "tables/flat_table.hpp"
#include "tables/tables.hpp"

namespace tovra {

// The numbers are hashes already: the primary hash takes them as they are.
// The strong one mixes them, for numbers chosen to collide in their top bits.
struct RefHash {
    std::uint64_t primary(std::uint64_t ref) const noexcept { return ref; }
    std::uint64_t strong(std::uint64_t ref) const noexcept {
        ref ^= ref >> 33;
        ref *= 0xff51afd7ed558ccdULL;
        ref ^= ref >> 33;
        ref *= 0xc4ceb9fe1a85ec53ULL;
        return ref ^ (ref >> 33);
    }
};

class RefBag {
public:
    RefBag() noexcept = default;
    RefBag(const RefBag& other) : word_(other.copied()) {}
    RefBag(RefBag&& other) noexcept : word_(std::exchange(other.word_, 0)) {}
    RefBag& operator=(RefBag other) noexcept {
        std::swap(word_, other.word_);
        return *this;
    }
    ~RefBag() { release(); }

    // Words of a block that gathered needs for `count` numbers.
    static constexpr std::size_t block_words(std::size_t count) noexcept {
        return count >= 2 && count <= array_max ? 1 + count : 0;
    }

    // The bag of `ref(0)` ... `ref(count - 1)` (odd numbers, a repeat kept
    // once), in that order. An array of them is laid in `block`, which holds
    // block_words(count) words and outlives the bag or its growth past them;
    // more than `array_max` make a table of its own. If this throws, nothing
    // is held.
    template <class Ref>
    static RefBag gathered(std::size_t count, Ref&& ref, std::uint64_t* block) {
        RefBag bag;
        if (count == 1) {
            bag.word_ = ref(0);
        } else if (count <= array_max) {
            Array* held = ::new (static_cast<void*>(block)) Array{0, static_cast<std::uint32_t>(count)};
            std::uint64_t* refs = numbers(held);
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint64_t next = ref(i);
                if (std::find(refs, refs + held->size, next) == refs + held->size) refs[held->size++] = next;
            }
            bag.word_ = held->size == 1 ? refs[0] : address(held) | block_mark;
        } else if (count > array_max) {
            auto* table = new Large;
            try {
                table->reserve(count);
                for (std::size_t i = 0; i < count; ++i) table->insert(ref(i));
            } catch (...) {
                delete table;
                throw;
            }
            if (table->size() == 1) {
                bag.word_ = *table->begin();
                delete table;
            } else {
                bag.word_ = address(table) | large_mark;
            }
        }
        return bag;
    }

    bool empty() const noexcept { return word_ == 0; }

    bool contains(std::uint64_t ref) const noexcept {
        if (is_large()) return large()->contains(ref);
        if (!is_array()) return word_ == ref;
        const Array* held = array_head();
        const std::uint64_t* refs = numbers(held);
        for (std::uint32_t i = 0; i < held->size; ++i) {
            if (refs[i] == ref) return true;
        }
        return false;
    }

    // `ref` must be odd. Whether it was new; if this throws, nothing changed.
    bool insert(std::uint64_t ref) {
        if (word_ == 0) {
            word_ = ref;
            return true;
        }
        if (contains(ref)) return false;
        if (is_large()) {
            large()->insert(ref);
        } else if (!is_array()) {
            Array* made = make_array(2);
            numbers(made)[0] = word_;
            numbers(made)[1] = ref;
            made->size = 2;
            word_ = address(made);
        } else if (Array* held = array_head(); held->size < held->capacity) {
            numbers(held)[held->size++] = ref;
        } else {
            word_ = grown(held, ref, in_block());
        }
        return true;
    }

    std::size_t erase(std::uint64_t ref) noexcept {
        std::uint64_t last = 0;
        if (is_large()) {
            Large& refs = *large();
            if (refs.erase(ref) == 0) return 0;
            if (refs.size() > 1) return 1;
            last = *refs.begin();
        } else if (is_array()) {
            Array* held = array_head();
            std::uint64_t* refs = numbers(held);
            std::uint32_t at = 0;
            while (at < held->size && refs[at] != ref) ++at;
            if (at == held->size) return 0;
            refs[at] = refs[--held->size];
            if (held->size > 1) return 1;
            last = refs[0];
        } else {
            if (word_ != ref) return 0;
            word_ = 0;
            return 1;
        }
        // One left: back in place, the spill freed.
        release();
        word_ = last;
        return 1;
    }

    // Visits each number; `visit` must not change this bag.
    template <class Visit>
    void for_each(Visit&& visit) const {
        if (is_large()) {
            for (std::uint64_t ref : *large()) visit(ref);
        } else if (is_array()) {
            const Array* held = array_head();
            for (std::uint32_t i = 0; i < held->size; ++i) visit(numbers(held)[i]);
        } else if (word_ != 0) {
            visit(word_);
        }
    }

private:
    // An array's head; its `capacity` numbers follow it.
    struct Array {
        std::uint32_t size;
        std::uint32_t capacity;
    };
    using Large = FlatSet<std::uint64_t, RefHash>;
    static constexpr std::uint32_t array_max = 32;
    static constexpr std::uint64_t large_mark = 2;
    static constexpr std::uint64_t block_mark = 4;
    static_assert(alignof(std::uint64_t) <= sizeof(Array), "the numbers follow the head, aligned");
    static_assert(sizeof(Array) == sizeof(std::uint64_t), "an array in a block is whole words");
    static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= 8, "an address leaves bits 0, 1 and 2 free");

    bool is_spill() const noexcept { return word_ != 0 && (word_ & 1) == 0; }
    bool is_large() const noexcept { return is_spill() && (word_ & large_mark) != 0; }
    bool is_array() const noexcept { return is_spill() && (word_ & large_mark) == 0; }
    bool in_block() const noexcept { return (word_ & block_mark) != 0; }
    void* spill() const noexcept {
        return reinterpret_cast<void*>(static_cast<std::uintptr_t>(word_ & ~(large_mark | block_mark)));
    }
    Array* array_head() const noexcept { return static_cast<Array*>(spill()); }
    Large* large() const noexcept { return static_cast<Large*>(spill()); }
    static std::uint64_t address(const void* at) noexcept { return reinterpret_cast<std::uintptr_t>(at); }
    static std::uint64_t* numbers(Array* held) noexcept { return reinterpret_cast<std::uint64_t*>(held + 1); }
    static const std::uint64_t* numbers(const Array* held) noexcept {
        return reinterpret_cast<const std::uint64_t*>(held + 1);
    }

    static Array* make_array(std::uint32_t capacity) {
        void* bytes = ::operator new(sizeof(Array) + capacity * sizeof(std::uint64_t));
        return ::new (bytes) Array{0, capacity};
    }

    // The word for `held`, full, with `ref` added: a larger array, or past
    // `array_max` a table. `held` is freed only once the new spill is whole,
    // and only if the bag owns it (not `in_block`).
    static std::uint64_t grown(Array* held, std::uint64_t ref, bool in_block) {
        const std::uint64_t* refs = numbers(held);
        std::uint64_t made = 0;
        if (held->capacity < array_max) {
            // An array from a block may hold any count up to array_max.
            Array* wider = make_array(std::min(held->capacity * 2, array_max));
            std::copy(refs, refs + held->size, numbers(wider));
            numbers(wider)[held->size] = ref;
            wider->size = held->size + 1;
            made = address(wider);
        } else {
            auto* table = new Large;
            try {
                table->reserve(held->size + 1);
                for (std::uint32_t i = 0; i < held->size; ++i) table->insert(refs[i]);
                table->insert(ref);
            } catch (...) {
                delete table;
                throw;
            }
            made = address(table) | large_mark;
        }
        if (!in_block) ::operator delete(held);
        return made;
    }

    std::uint64_t copied() const {
        if (is_large()) return address(new Large(*large())) | large_mark;
        if (!is_array()) return word_;
        const Array* held = array_head();
        Array* made = make_array(held->capacity);
        std::copy(numbers(held), numbers(held) + held->size, numbers(made));
        made->size = held->size;
        return address(made);
    }

    void release() noexcept {
        if (is_large()) {
            delete large();
        } else if (is_array() && !in_block()) {
            ::operator delete(spill());
        }
        word_ = 0;
    }

    std::uint64_t word_ = 0;
};

namespace flat_detail {
// One word, pointing to nothing inside itself.
template <>
struct RelocatesByCopy<RefBag> : std::true_type {};
}  // namespace flat_detail

}  // namespace tovra
