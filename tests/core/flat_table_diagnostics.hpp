// What the tests and the benchmarks look at inside a flat table, and nothing
// else does: how large its block is, whether it has fallen back to the strong
// hash or the overflow, how far its entries sit from home, and (in a build
// with assertions) whether every rule the core keeps still holds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "tables/flat_table_core.hpp"
#include "tables/inline_first.hpp"

namespace tovra::flat_detail {

struct TableInspector {
    // Slots in the block: 0 for a table that holds no memory.
    template <class Policy, class Hash>
    static std::size_t capacity(const FlatCore<Policy, Hash>& table) noexcept {
        return table.capacity();
    }

    // Slots in the table made for a second key: 0 while the first entry is
    // held in place.
    template <class Table>
    static std::size_t capacity(const InlineFirst<Table>& inner) noexcept {
        return inner.mode_ == InlineFirst<Table>::Mode::table ? capacity(inner.table()) : 0;
    }

    template <class Policy, class Hash>
    static bool strong_hash_in_use(const FlatCore<Policy, Hash>& table) noexcept {
        return table.strong();
    }

    template <class Policy, class Hash>
    static std::size_t overflow_size(const FlatCore<Policy, Hash>& table) noexcept {
        return table.overflow_size();
    }

    // The farthest any entry sits past its home slot.
    template <class Policy, class Hash>
    static unsigned longest_distance(const FlatCore<Policy, Hash>& table) noexcept {
        unsigned longest = 0;
        for (std::size_t i = 0, cap = table.capacity(); i < cap; ++i) {
            longest = std::max<unsigned>(longest, table.control()[i]);
        }
        return longest == 0 ? 0 : longest - 1;
    }

#ifndef NDEBUG
    template <class Table>
    static const char* check_invariants(const InlineFirst<Table>& inner) {
        using Mode = typename InlineFirst<Table>::Mode;
        if (inner.mode_ == Mode::table) return check_invariants(inner.table());
        return inner.mode_ == Mode::none || inner.mode_ == Mode::one ? nullptr : "unknown mode";
    }

    // Walks the whole table: nullptr when every rule holds, else the first
    // one found broken. Linear in the capacity, plus a sort of the keys that
    // share a home when there are many, so that a test can afford it after
    // every operation.
    //
    // That every entry is found by a probe from its home follows from the
    // rules checked: its control byte is its distance from home + 1, within
    // the bound; along a cluster the distance grows by at most one a slot, so
    // no slot between the home and the entry stops the probe; and no other
    // entry of that home holds an equal key that the probe would find first.
    template <class Policy, class Hash>
    static const char* check_invariants(const FlatCore<Policy, Hash>& table) {
        using Core = FlatCore<Policy, Hash>;
        using Key = typename Core::key_type;
        if (table.block_ == nullptr) {
            const bool blank = table.size_ == 0 && table.class_ == 0 && table.flags_ == 0;
            return blank ? nullptr : "a table without a block is not blank";
        }
        if (table.class_ >= Core::class_count) return "capacity out of range";
        if ((table.flags_ & ~(Core::strong_flag | Core::overflow_flag)) != 0) return "unknown flag";
        if (!Core::has_overflow_room(table.capacity())) {
            if (table.has_overflow()) return "overflow in a table too small for one";
        } else if (table.has_overflow() != (table.overflow_slot() != nullptr)) {
            return "overflow flag and pointer differ";
        }
        const bool overflowing = table.has_overflow();
        if (overflowing) {
            if (table.overflow().empty()) return "an empty overflow is kept";
            if (!table.strong()) return "overflow on the primary hash";
        }
        const std::size_t cap = table.capacity();
        const std::uint8_t* ctrl = table.control();
        // From an empty slot on, so that no cluster is cut in two by the end
        // of the slots. A full table (only a small one may be full) is one
        // cluster around the ring, which begins at an entry in its home slot:
        // the walk then starts just before one.
        std::size_t start = 0;
        while (start < cap && ctrl[start] != 0) ++start;
        if (start == cap) {
            if (cap > Core::full_up_to) return "no empty slot";
            start = 0;
            while (start < cap && ctrl[start] != 1) ++start;
            if (start == cap) return "a full table with no entry in its home slot";
            start = (start + cap - 1) % cap;
        }

        // The keys of one home lie side by side, a run: two equal keys could
        // only be in one run, and a key of the overflow only in its home's.
        // A run's keys are gathered and sorted only where that matters: a
        // run of more than one key, and every run once there is an overflow.
        std::vector<Run<Key>> runs;
        std::size_t run_home = 0;
        std::size_t run_first = 0;
        std::size_t run_length = 0;
        const auto key_at = [&](std::size_t k) -> const Key& {
            return Policy::key_of(table.slots()[(run_first + k) % cap]);
        };
        const auto close_run = [&]() {
            if (run_length == 0 || (run_length == 1 && !overflowing)) return true;
            if (run_length <= 8 && !overflowing) {
                for (std::size_t a = 0; a < run_length; ++a) {
                    for (std::size_t b = a + 1; b < run_length; ++b) {
                        if (key_at(a) == key_at(b)) return false;
                    }
                }
                return true;
            }
            Run<Key> run{run_home, {}};
            run.keys.reserve(run_length);
            for (std::size_t k = 0; k < run_length; ++k) run.keys.push_back(&key_at(k));
            std::sort(run.keys.begin(), run.keys.end(), by_key<Key>);
            for (std::size_t k = 1; k < run_length; ++k) {
                if (!by_key(run.keys[k - 1], run.keys[k])) return false;
            }
            if (overflowing) runs.push_back(std::move(run));
            return true;
        };
        std::size_t occupied = 0;
        for (std::size_t step = 1; step <= cap; ++step) {
            const std::size_t i = (start + step) % cap;
            const unsigned c = ctrl[i];
            const unsigned previous = ctrl[(i + cap - 1) % cap];
            if (c > previous + 1) return "cluster out of home order";
            if (c == 0) continue;
            ++occupied;
            if (c > Core::max_distance + 1) return "entry past the probe bound";
            const std::size_t home = (i + cap - (c - 1)) % cap;
            if (home != table.home(Policy::key_of(table.slots()[i]))) {
                return "control byte is not the distance from home";
            }
            if (run_length != 0 && previous != 0 && home == run_home) {
                ++run_length;
                continue;
            }
            if (!close_run()) return "one key in two slots";
            run_home = home;
            run_first = i;
            run_length = 1;
        }
        if (!close_run()) return "one key in two slots";
        if (occupied + table.overflow_size() != table.size_) return "size is not slots plus overflow";
        if (occupied > Core::max_load(cap)) return "slots fuller than the load bound";
        if (overflowing) {
            const auto by_home = [](const Run<Key>& run, std::size_t home) { return run.home < home; };
            std::sort(runs.begin(), runs.end(),
                      [](const Run<Key>& a, const Run<Key>& b) { return a.home < b.home; });
            for (const auto& entry : table.overflow()) {
                const Key& key = Policy::key_of(entry);
                const auto run = std::lower_bound(runs.begin(), runs.end(), table.home(key), by_home);
                if (run == runs.end() || run->home != table.home(key)) continue;
                if (std::binary_search(run->keys.begin(), run->keys.end(), &key, by_key<Key>)) {
                    return "one key in a slot and in the overflow";
                }
            }
        }
        return nullptr;
    }

private:
    template <class Key>
    struct Run {
        std::size_t home;
        std::vector<const Key*> keys;
    };

    template <class Key>
    static bool by_key(const Key* a, const Key* b) {
        return *a < *b;
    }

#endif
};

}  // namespace tovra::flat_detail

namespace tovra {
using flat_detail::TableInspector;
}  // namespace tovra
