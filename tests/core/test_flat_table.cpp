// The flat hash tables behind every collection of a diff: random operation
// sequences against the standard containers (under hashes that force long
// clusters, wrap-around, the switch to the strong hash and the ordered
// overflow), order as a function of the operations alone, ids crafted to
// collide, failures that must leave a table as it was, and no allocation for
// an empty table.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bytes/graph_diff_codec.hpp"
#include "check.hpp"
#include "tables/tables.hpp"
#include "flat_table_diagnostics.hpp"
#include "table_checks.hpp"
#include "test_support.hpp"

namespace {

using namespace tovra;
using test_support::colliding_id;
using test_support::id_from_words;
using test_support::ids_colliding_in_both_hashes;

Uuid random_id(std::mt19937_64& rng) {
    Uuid id;
    const std::uint64_t lo = rng();
    const std::uint64_t hi = rng();
    std::memcpy(id.bytes.data(), &lo, 8);
    std::memcpy(id.bytes.data() + 8, &hi, 8);
    return id;
}

// Hashes that make the rare paths common. A home slot comes from the top bits
// of the hash: these homes lie a few slots apart at the top of the table, so
// that clusters of several homes wrap around to slot 0.
struct FewHomes {
    std::uint64_t primary(const Uuid& id) const noexcept {
        return ~(static_cast<std::uint64_t>(id.bytes[0] % 5) << 55);
    }
    std::uint64_t strong(const Uuid& id) const noexcept { return UuidHash{}.strong(id); }
};
struct Hopeless {
    std::uint64_t primary(const Uuid&) const noexcept { return 7; }
    std::uint64_t strong(const Uuid& id) const noexcept {
        return ~(static_cast<std::uint64_t>(id.bytes[1] % 3) << 55);
    }
};

template <class Table>
std::vector<Uuid> keys_in_order(const Table& table) {
    std::vector<Uuid> keys;
    for (const auto& entry : table) {
        if constexpr (requires { entry.first; }) {
            keys.push_back(entry.first);
        } else {
            keys.push_back(entry);
        }
    }
    return keys;
}

// Whether `table` holds exactly the keys of `model`, and for a map its values.
template <class Table>
bool same_as(const Table& table, const std::unordered_map<Uuid, std::string, UuidHash>& model) {
    if (table.size() != model.size()) return false;
    std::size_t walked = 0;
    for (const auto& entry : table) {
        ++walked;
        if constexpr (requires { entry.second; }) {
            auto hit = model.find(entry.first);
            if (hit == model.end() || hit->second != entry.second) return false;
        } else if (model.count(entry) != 1) {
            return false;
        }
    }
    return walked == model.size();
}

// What a run saw of the fallbacks, so a test can show it reached them.
struct Reached {
    bool strong = false;
    bool overflow = false;
};

// What a run saw of the fallbacks of a table (nothing, for a table that
// holds its first entry in place), and whether its probes stayed in bound.
template <class Table>
bool note_fallbacks(const Table& table, Reached& reached) {
    if constexpr (requires { TableInspector::strong_hash_in_use(table); }) {
        reached.strong |= TableInspector::strong_hash_in_use(table);
        reached.overflow |= TableInspector::overflow_size(table) != 0;
        return TableInspector::longest_distance(table) <= table.max_distance;
    }
    return true;
}

// Random operations from a pool of keys small enough for frequent hits, on a
// map with non-trivial values or on a set, checked against
// std::unordered_map (a set's keys with empty values). A set takes an
// insertion where a map takes an update of a value.
template <class Table>
Reached differential(std::uint64_t seed, std::size_t pool_size, int steps) {
    constexpr bool is_map = requires(Table& t) { t.begin()->second; };
    std::mt19937_64 rng(seed);
    std::vector<Uuid> pool;
    for (std::size_t i = 0; i < pool_size; ++i) pool.push_back(random_id(rng));
    Table table;
    std::unordered_map<Uuid, std::string, UuidHash> model;
    Reached reached;
    for (int step = 0; step < steps; ++step) {
        const Uuid& key = pool[rng() % pool.size()];
        // Built piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) on
        // the same text made with operator+.
        std::string text = "v";
        text += std::to_string(rng() % 1000);
        text.append(rng() % 24, 'x');
        const unsigned op = rng() % 10;
        if constexpr (!is_map) {
            if (op < 4) {
                auto [it, inserted] = table.insert(key);
                CHECK_EQ(inserted, model.try_emplace(key).second);
                CHECK(*it == key);
            }
        } else {
            switch (op) {
                case 0:
                case 1: {
                    auto [it, inserted] = table.try_emplace(key, text);
                    auto [expected, model_inserted] = model.try_emplace(key, text);
                    CHECK_EQ(inserted, model_inserted);
                    CHECK(it->first == key && it->second == expected->second);
                    break;
                }
                case 2:
                    table[key] += text;
                    model[key] += text;
                    break;
                case 3:
                    CHECK_EQ(table.insert_or_assign(key, text).second, model.insert_or_assign(key, text).second);
                    break;
            }
        }
        switch (op) {
            case 4:
            case 5:
                CHECK_EQ(table.erase(key), model.erase(key));
                break;
            case 6: {
                auto hit = table.find(key);
                CHECK_EQ(hit != table.end(), model.count(key) == 1);
                if (hit != table.end()) {
                    table.erase(hit);
                    model.erase(key);
                }
                break;
            }
            case 7:
                CHECK_EQ(table.count(key), model.count(key));
                if constexpr (is_map) {
                    if (table.contains(key)) CHECK(table.at(key) == model.at(key));
                }
                break;
            case 8:
                if (rng() % 8 == 0) table.reserve(rng() % (2 * pool_size));
                if (rng() % 16 == 0) {
                    // A copy is the same table, slot for slot.
                    const auto copy = table;
                    CHECK_SOUND(copy);
                    CHECK(keys_in_order(copy) == keys_in_order(table));
                    CHECK(copy == table && table == copy);
                    // And moving it back and forth changes nothing either.
                    Table moved(std::move(table));
                    table = std::move(moved);
                    CHECK(keys_in_order(copy) == keys_in_order(table));
                }
                break;
            case 9:
                if (rng() % 400 == 0) {
                    table.clear();
                    model.clear();
                    CHECK_EQ(TableInspector::capacity(table), std::size_t{0});
                }
                break;
        }
        // One report, not one per remaining step.
        if (!CHECK_SOUND(table)) break;
        const bool in_bound = note_fallbacks(table, reached);
        if (step % 97 == 0) {
            CHECK(same_as(table, model));
            CHECK(in_bound);
        }
    }
    CHECK(same_as(table, model));
    return reached;
}

template <class Hash>
using Map = FlatMap<Uuid, std::string, Hash>;
template <class Hash>
using Set = FlatSet<Uuid, Hash>;

// ---------------------------------------------------------------------------
// Against the standard containers

TEST_CASE("flat table: random operations agree with the standard containers") {
    const Reached random_keys[] = {
        differential<Map<UuidHash>>(1, 300, 30000),
        differential<Set<UuidHash>>(2, 3000, 30000),
        // A handful of keys keeps the table at the sizes that fill every
        // slot, where a miss must stop without an empty slot to stop at.
        differential<Map<UuidHash>>(3, 5, 5000),
        differential<Set<UuidHash>>(4, 4, 5000),
        // Pools that keep a table among the tiny sizes, where each growth
        // adds a slot or two.
        differential<Map<UuidHash>>(11, 13, 8000),
        differential<Set<UuidHash>>(12, 40, 8000),
    };
    // The fallbacks are for keys chosen to collide: random keys never take
    // them, or the primary hash spreads keys worse than it should.
    for (const Reached& run : random_keys) CHECK(!run.strong && !run.overflow);
    // With one home for all, the full table is a single run around the ring.
    differential<Map<Hopeless>>(5, 4, 5000);
}

TEST_CASE("flat table: one that holds its first entry in place agrees with the standard containers") {
    // Two or three keys pass often between none, one held in place and a
    // table; the string values catch an entry lost or freed twice on the way.
    differential<InlineFirst<FlatMap<Uuid, std::string, UuidHash>>>(6, 2, 4000);
    differential<InlineFirst<FlatMap<Uuid, std::string, UuidHash>>>(7, 3, 4000);
    differential<InlineFirst<FlatMap<Uuid, std::string, UuidHash>>>(8, 200, 10000);
    differential<InlineFirst<FlatSet<Uuid, UuidHash>>>(9, 2, 4000);
    differential<InlineFirst<FlatSet<Uuid, UuidHash>>>(10, 200, 10000);
}

TEST_CASE("flat table: long wrapping clusters switch to the strong hash and stay correct") {
    const Reached map = differential<Map<FewHomes>>(3, 700, 30000);
    const Reached set = differential<Set<FewHomes>>(4, 700, 30000);
    CHECK(map.strong && set.strong);
}

TEST_CASE("flat table: keys colliding under both hashes go to the ordered overflow and stay correct") {
    const Reached map = differential<Map<Hopeless>>(5, 700, 30000);
    const Reached set = differential<Set<Hopeless>>(6, 700, 30000);
    CHECK(map.overflow && set.overflow);
}

// Fills a table one key at a time: after every growth each key is still
// found, and the table is never much larger than what it holds (a tiny one
// at most three slots over, a larger one at most 7/8 full before it doubles;
// the megabyte table further down takes the finer steps of a large block).
template <class Table>
void grow_one_by_one(std::uint64_t seed, std::size_t count) {
    std::mt19937_64 rng(seed);
    Table table;
    std::vector<Uuid> keys;
    std::size_t last_capacity = 0;
    for (std::size_t n = 1; n <= count; ++n) {
        keys.push_back(random_id(rng));
        if constexpr (requires { table.insert(keys.back()); }) {
            table.insert(keys.back());
        } else {
            table.try_emplace(keys.back(), std::to_string(n));
        }
        const std::size_t capacity = TableInspector::capacity(table);
        if (capacity == last_capacity) continue;
        last_capacity = capacity;
        if (!CHECK_SOUND(table)) return;
        std::size_t found = 0;
        for (const Uuid& key : keys) found += table.contains(key) ? 1 : 0;
        CHECK_EQ(found, n);
        const std::size_t bound = n <= 16 ? n + 3 : (n - 1) * 8 / 7 * 2 + 2;  // a small block doubles
        if (capacity < n || capacity > bound) {
            CHECK(capacity >= n && capacity <= bound);
            return;
        }
    }
    // Erasing from the front of the slots down to a few keys shifts entries
    // back across the end of the slots again and again.
    for (std::size_t erased = 0; erased + 3 < count; ++erased) {
        if constexpr (requires { *table.begin() == keys[0]; }) {
            table.erase(Uuid(*table.begin()));
        } else {
            table.erase(Uuid(table.begin()->first));
        }
        if (erased % 61 == 0 && !CHECK_SOUND(table)) return;
    }
    CHECK_EQ(table.size(), std::size_t{3});
}

TEST_CASE("flat table: growing a key at a time keeps every key and stays close to what it holds") {
    grow_one_by_one<FlatSet<Uuid, UuidHash>>(13, 5000);
    grow_one_by_one<FlatSet<Uuid, FewHomes>>(14, 3000);
    // Entries that do not move as bytes take the other way through a rehash.
    grow_one_by_one<FlatMap<Uuid, std::string, UuidHash>>(15, 3000);
}

// ---------------------------------------------------------------------------
// Order

// Builds a table by a random sequence that passes through growth, erasure
// and clearing, with allocations in between that change every address.
template <class Hash>
std::vector<Uuid> order_after(std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<std::unique_ptr<char[]>> noise;
    FlatMap<Uuid, int, Hash> map;
    for (int step = 0; step < 4000; ++step) {
        const Uuid key = id_from_words(rng() % 900, 0);
        if (rng() % 3 == 0) {
            map.erase(key);
        } else {
            map[key] = step;
        }
        if (step == 2000) map.clear();
        if (!CHECK_SOUND(map)) break;
        noise.emplace_back(new char[rng() % 256 + 1]);
    }
    return keys_in_order(map);
}

TEST_CASE("flat table: the same operations give the same order, whatever the addresses") {
    CHECK(order_after<UuidHash>(7) == order_after<UuidHash>(7));
    CHECK(order_after<FewHomes>(8) == order_after<FewHomes>(8));
    CHECK(order_after<Hopeless>(9) == order_after<Hopeless>(9));
    // Not insertion order, not sorted: the hash decides.
    const auto order = order_after<UuidHash>(7);
    CHECK(!std::is_sorted(order.begin(), order.end()));
}

// ---------------------------------------------------------------------------
// Crafted ids

TEST_CASE("flat table: ids crafted to collide in the primary hash") {
    std::vector<Uuid> ids;
    for (std::uint64_t i = 0; i < 5000; ++i) ids.push_back(colliding_id(i * 0x9e3779b97f4a7c15ULL, 42));
    CHECK(UuidHash{}.primary(ids[0]) == UuidHash{}.primary(ids[4999]));

    FlatSet<Uuid, UuidHash> set;
    for (const Uuid& id : ids) {
        set.insert(id);
        if (!CHECK_SOUND(set)) break;
    }
    CHECK(TableInspector::strong_hash_in_use(set));
    CHECK_EQ(TableInspector::overflow_size(set), std::size_t{0});
    CHECK((TableInspector::longest_distance(set) <= FlatSet<Uuid, UuidHash>::max_distance));
    std::size_t found = 0;
    for (const Uuid& id : ids) found += set.count(id);
    CHECK_EQ(found, ids.size());

}

TEST_CASE("flat table: ids colliding in both hashes stay findable and leave no overflow once erased") {
    const std::vector<Uuid> ids = ids_colliding_in_both_hashes(400);
    FlatMap<Uuid, std::uint32_t, UuidHash> map;
    for (std::uint32_t i = 0; i < ids.size(); ++i) {
        map[ids[i]] = i;
        if (!CHECK_SOUND(map)) break;
    }
    CHECK(TableInspector::strong_hash_in_use(map));
    CHECK(TableInspector::overflow_size(map) > 0);
    CHECK_EQ(map.size(), ids.size());
    bool all_found = true;
    for (std::uint32_t i = 0; i < ids.size(); ++i) {
        auto hit = map.find(ids[i]);
        all_found = all_found && hit != map.end() && hit->second == i;
    }
    CHECK(all_found);
    // With the slots emptied, iteration starts in the overflow.
    const std::size_t in_slots = map.size() - TableInspector::overflow_size(map);
    const std::vector<Uuid> order = keys_in_order(map);
    for (std::size_t i = 0; i < in_slots; ++i) {
        map.erase(order[i]);
        if (!CHECK_SOUND(map)) break;
    }
    CHECK(keys_in_order(map) == std::vector<Uuid>(order.begin() + in_slots, order.end()));
    for (const Uuid& id : ids) {
        map.erase(id);
        if (!CHECK_SOUND(map)) break;
    }
    CHECK(map.empty());
    CHECK_EQ(TableInspector::overflow_size(map), std::size_t{0});
    CHECK(map.begin() == map.end());
}

// ---------------------------------------------------------------------------
// Failures leave the table as it was

struct Refusal {};

// Its construction from a Refusal throws: the slot opened for it must close
// again, every other entry back where it was.
struct Picky {
    std::string text;
    explicit Picky(std::string t) : text(std::move(t)) {}
    explicit Picky(Refusal) { throw std::runtime_error("refused"); }
};

// Copies allowed before the next one fails; negative: no limit.
int copies_left = -1;

// A key whose copy can be made to fail; moving never fails.
struct FragileKey {
    Uuid id;
    explicit FragileKey(const Uuid& i) : id(i) {}
    FragileKey(const FragileKey& other) : id(other.id) {
        if (copies_left == 0) throw std::runtime_error("copy failed");
        if (copies_left > 0) --copies_left;
    }
    FragileKey(FragileKey&&) noexcept = default;
    FragileKey& operator=(const FragileKey&) = default;
    friend bool operator==(const FragileKey& a, const FragileKey& b) noexcept { return a.id == b.id; }
    friend bool operator<(const FragileKey& a, const FragileKey& b) noexcept { return a.id < b.id; }
};
struct FragileHash {
    std::uint64_t primary(const FragileKey& k) const noexcept { return FewHomes{}.primary(k.id); }
    std::uint64_t strong(const FragileKey& k) const noexcept { return UuidHash{}.strong(k.id); }
};

TEST_CASE("flat table: a throwing construction or rehash leaves the table as it was") {
    std::mt19937_64 rng(10);
    FlatMap<Uuid, Picky, FewHomes> map;
    std::vector<Uuid> keys;
    for (int i = 0; i < 60; ++i) {
        keys.push_back(random_id(rng));
        map.try_emplace(keys.back(), std::to_string(i));
    }
    const auto before = keys_in_order(map);
    int thrown = 0;
    for (int i = 0; i < 20; ++i) {
        try {
            map.try_emplace(random_id(rng), Refusal{});
        } catch (const std::runtime_error&) {
            ++thrown;
        }
        CHECK_SOUND(map);
    }
    CHECK_EQ(thrown, 20);
    CHECK(keys_in_order(map) == before);
    for (int i = 0; i < 60; ++i) CHECK(map.at(keys[i]).text == std::to_string(i));

    // A set's rehash copies keys; one failing copy must abandon the rehash.
    FlatSet<FragileKey, FragileHash> set;
    for (int i = 0; i < 56; ++i) set.insert(FragileKey(random_id(rng)));  // full at 64 slots
    const std::size_t capacity = TableInspector::capacity(set);
    std::vector<Uuid> order;
    for (const FragileKey& key : set) order.push_back(key.id);
    copies_left = 30;  // fails halfway through
    bool failed = false;
    try {
        set.reserve(1000);
    } catch (const std::runtime_error&) {
        failed = true;
    }
    copies_left = -1;
    CHECK(failed);
    CHECK_SOUND(set);
    CHECK_EQ(TableInspector::capacity(set), capacity);
    std::vector<Uuid> after;
    for (const FragileKey& key : set) after.push_back(key.id);
    CHECK(after == order);
}

// ---------------------------------------------------------------------------
// Memory

TEST_CASE("flat table: an empty table holds no memory, and clear gives it all back") {
    UuidGraphDiff diff;
    CHECK_EQ(TableInspector::capacity(diff.new_or_updated_nodes()), std::size_t{0});
    CHECK_EQ(TableInspector::capacity(diff.deleted_nodes()), std::size_t{0});
    CHECK_EQ(TableInspector::capacity(diff.edges().new_or_updated_edges), std::size_t{0});
    CHECK_EQ(TableInspector::capacity(diff.edges().deleted_edges), std::size_t{0});

    std::mt19937_64 rng(11);
    const Uuid a = random_id(rng);
    const Uuid b = random_id(rng);
    CHECK(diff.add_edge(a, b, 1.0f).ok());
    diff.delete_edge(b, a);
    CHECK_DIFF_SOUND(diff);
    // A source's first target is held in its own entry; a second makes a
    // table sized for what it holds.
    CHECK_EQ(TableInspector::capacity(diff.edges().new_or_updated_edges.at(a)), std::size_t{0});
    CHECK(diff.add_edge(a, a, 2.0f).ok());
    CHECK_DIFF_SOUND(diff);
    CHECK_EQ(TableInspector::capacity(diff.edges().new_or_updated_edges.at(a)), std::size_t{2});
    diff.clear();
    CHECK_DIFF_SOUND(diff);
    CHECK_EQ(TableInspector::capacity(diff.edges().new_or_updated_edges), std::size_t{0});
    CHECK_EQ(TableInspector::capacity(diff.edges().deleted_edges), std::size_t{0});

    FlatSet<Uuid, UuidHash> set;
    set.reserve(0);
    CHECK_EQ(TableInspector::capacity(set), std::size_t{0});
    // A small table may fill every slot...
    set.reserve(16);
    CHECK_EQ(TableInspector::capacity(set), std::size_t{16});
    set.reserve(28);
    CHECK_EQ(TableInspector::capacity(set), std::size_t{32});
    // ...a larger one at most 7/8 of them: the 29th key grows the table,
    // whose block is small, to twice the slots.
    for (std::uint64_t i = 0; i < 28; ++i) set.insert(id_from_words(i, 0));
    CHECK_SOUND(set);
    CHECK_EQ(TableInspector::capacity(set), std::size_t{32});
    set.insert(id_from_words(28, 0));
    CHECK_SOUND(set);
    CHECK_EQ(TableInspector::capacity(set), std::size_t{64});
}

TEST_CASE("flat table: a table too large for the general heap works like a small one") {
    // A block over a huge-page multiple: every byte of it must be there, and
    // on Linux it starts at a huge-page boundary (else it gets no huge pages).
    const std::size_t bytes = 3 * table_memory::large_block + 12345;
    auto* block = static_cast<unsigned char*>(table_memory::allocate(bytes));
    std::memset(block, 0x5A, bytes);
    CHECK(block[0] == 0x5A && block[bytes - 1] == 0x5A);
#if defined(__linux__)
    CHECK_EQ(reinterpret_cast<std::uintptr_t>(block) % table_memory::large_block, std::uintptr_t{0});
#endif
    table_memory::release(block, bytes);

    // 300000 keys: megabytes, reached through every size below them.
    FlatSet<Uuid, UuidHash> set;
    std::mt19937_64 rng(5);
    std::vector<Uuid> keys(300000);
    for (Uuid& key : keys) key = random_id(rng);
    for (const Uuid& key : keys) set.insert(key);
    CHECK_EQ(set.size(), keys.size());
    CHECK(TableInspector::capacity(set) * (sizeof(Uuid) + 1) >= table_memory::large_block);
    CHECK_SOUND(set);
    FlatSet<Uuid, UuidHash> copy(set);
    CHECK_SOUND(copy);
    CHECK(copy == set);
    for (std::size_t i = 0; i < keys.size(); i += 2) set.erase(keys[i]);
    CHECK_SOUND(set);
    std::size_t found = 0;
    for (const Uuid& key : keys) found += set.contains(key) ? 1 : 0;
    CHECK_EQ(found, keys.size() / 2);
    CHECK_EQ(copy.size(), keys.size());
    set.clear();
    CHECK_SOUND(set);
    CHECK_EQ(TableInspector::capacity(set), std::size_t{0});
}

}  // namespace
