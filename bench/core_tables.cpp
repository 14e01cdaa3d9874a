// Micro-benchmark of the diff's hash tables against the standard node-based
// containers they replaced: ns per operation, bytes per stored edge, the
// longest probe random keys reach, and crafted colliding ids against random
// ones through a whole diff (build and decode). Not part of the test suite;
// built and run by bench/run_core_tables.sh. With `--colliding-ids N` it
// prints N crafted ids instead (see print_crafted_ids).
//
// Memory is glibc's count of bytes in use (mallinfo2), chunk headers and
// separately mapped large blocks included: what a process actually pays.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bytes/graph_diff_codec.hpp"
#include "bench_support.hpp"
#include "diff/graph_diff.hpp"
#include "tables/tables.hpp"
#include "flat_table_diagnostics.hpp"

namespace {

using namespace tovra;
using bench::best_seconds;
using bench::Clock;
using bench::random_id;

std::size_t heap_in_use() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

std::vector<Uuid> random_ids(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<Uuid> ids(n);
    for (Uuid& id : ids) id = random_id(rng);
    return ids;
}

std::vector<Uuid> crafted_ids(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<Uuid> ids(n);
    for (Uuid& id : ids) id = UuidHash::with_premix(rng(), 0x5eed);
    return ids;
}

volatile std::size_t sink = 0;

// ---------------------------------------------------------------------------
// ns per operation

template <class Table>
void insert_all(Table& table, const std::vector<Uuid>& keys) {
    if constexpr (requires { table.insert_or_assign(keys[0], 1.0f); }) {
        for (const Uuid& key : keys) table.insert_or_assign(key, 1.0f);
    } else {
        for (const Uuid& key : keys) table.insert(key);
    }
}

template <class Table>
void time_table(const char* name, std::size_t n, int repeats) {
    const std::vector<Uuid> keys = random_ids(n, n);
    std::vector<Uuid> shuffled = keys;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937_64(1));
    const std::vector<Uuid> misses = random_ids(n, n + 1);

    const double insert = best_seconds(repeats, [&] {
        Table table;
        insert_all(table, keys);
        sink = sink + table.size();
    });
    Table table;
    insert_all(table, keys);
    const double hit = best_seconds(repeats, [&] {
        std::size_t found = 0;
        for (const Uuid& key : shuffled) found += table.count(key);
        sink = sink + found;
    });
    const double miss = best_seconds(repeats, [&] {
        std::size_t found = 0;
        for (const Uuid& key : misses) found += table.count(key);
        sink = sink + found;
    });
    const double walk = best_seconds(repeats, [&] {
        std::size_t seen = 0;
        for (const auto& entry : table) seen += sizeof(entry);
        sink = sink + seen;
    });
    double erase = 1e300;
    for (int r = 0; r < repeats; ++r) {
        Table doomed;
        insert_all(doomed, keys);
        const auto start = Clock::now();
        for (const Uuid& key : shuffled) doomed.erase(key);
        const std::chrono::duration<double> took = Clock::now() - start;
        sink = sink + doomed.size();
        erase = std::min(erase, took.count());
    }
    const double per = 1e9 / static_cast<double>(n);
    std::printf("  %-34s n=%-8zu insert %6.1f  find-hit %6.1f  find-miss %6.1f  erase %6.1f  iterate %5.1f ns\n",
                name, n, insert * per, hit * per, miss * per, erase * per, walk * per);
}

// ---------------------------------------------------------------------------
// Bytes per edge: the two-level edge map (source -> target -> weight)

template <class Outer>
void edge_memory(const char* name, std::size_t edges, std::size_t sources) {
    const std::vector<Uuid> from = random_ids(sources, 7);
    const std::vector<Uuid> to = random_ids(sources, 8);
    std::mt19937_64 rng(9);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs(edges);
    for (auto& pair : pairs) {
        pair = {static_cast<std::uint32_t>(rng() % sources), static_cast<std::uint32_t>(rng() % sources)};
    }
    const std::size_t before = heap_in_use();
    const auto start = Clock::now();
    {
        Outer outer;
        for (const auto& [s, t] : pairs) outer[from[s]].insert_or_assign(to[t], 1.0f);
        const std::chrono::duration<double> took = Clock::now() - start;
        const std::size_t after = heap_in_use();
        std::size_t stored = 0;
        for (const auto& entry : outer) stored += entry.second.size();
        const double n = static_cast<double>(stored);
        std::printf("  %-34s %zu edges, %zu sources: %5.1f bytes/edge; build %5.1f ns/edge\n", name, stored,
                    outer.size(), static_cast<double>(after - before) / n, took.count() * 1e9 / n);
    }
}

void diff_memory(std::size_t edges, std::size_t sources) {
    const std::vector<Uuid> from = random_ids(sources, 7);
    const std::vector<Uuid> to = random_ids(sources, 8);
    std::mt19937_64 rng(9);
    const std::size_t before = heap_in_use();
    UuidGraphDiff diff;
    const auto start = Clock::now();
    for (std::size_t i = 0; i < edges; ++i) (void)diff.add_edge(from[rng() % sources], to[rng() % sources], 1.0f);
    const std::chrono::duration<double> took = Clock::now() - start;
    const std::size_t after = heap_in_use();
    std::size_t stored = 0;
    for (const auto& entry : diff.edges().new_or_updated_edges) stored += entry.second.size();
    const double n = static_cast<double>(stored);
    std::printf("  %-34s %zu edges, %zu sources: %5.1f bytes/edge; add_edge %5.1f ns\n",
                "UuidGraphDiff::add_edge", stored, diff.edges().new_or_updated_edges.size(),
                static_cast<double>(after - before) / n, took.count() * 1e9 / n);
}

// ---------------------------------------------------------------------------
// How far random keys get from home: the margin below the bound at which a
// table gives up on its hash.

void probe_lengths() {
    using Set = FlatSet<Uuid, UuidHash>;
    std::printf("  longest distance from home, random keys, table filled to 7/8 (bound %u):\n", Set::max_distance);
    std::mt19937_64 rng(12);
    for (unsigned log2 = 10; log2 <= 24; log2 += 2) {
        const std::size_t cap = std::size_t{1} << log2;
        unsigned worst = 0;
        const int trials = log2 <= 16 ? 20 : 2;
        for (int trial = 0; trial < trials; ++trial) {
            Set set;
            set.reserve(cap - cap / 8);
            for (std::size_t i = 0; i < cap - cap / 8; ++i) set.insert(random_id(rng));
            worst = std::max(worst, TableInspector::longest_distance(set));
            if (TableInspector::strong_hash_in_use(set)) std::printf("    (switched to the strong hash!)\n");
        }
        std::printf("    2^%-2u slots, worst of %2d tables: %u\n", log2, trials, worst);
    }
    // Churn at full load: erase one, insert another, many times over.
    Set set;
    const std::size_t cap = std::size_t{1} << 16;
    std::vector<Uuid> live;
    for (std::size_t i = 0; i < cap - cap / 8; ++i) {
        live.push_back(random_id(rng));
        set.insert(live.back());
    }
    unsigned worst = 0;
    for (std::size_t round = 0; round < 50 * cap; ++round) {
        const std::size_t victim = rng() % live.size();
        set.erase(live[victim]);
        live[victim] = random_id(rng);
        set.insert(live[victim]);
        if (round % 1024 == 0) worst = std::max(worst, TableInspector::longest_distance(set));
    }
    std::printf("    2^16 slots at 7/8 after %zu erase+insert: %u%s\n", 50 * cap, worst,
                TableInspector::strong_hash_in_use(set) ? " (switched!)" : "");
}

// ---------------------------------------------------------------------------
// Crafted against random ids, through a whole diff

// The bytes of a diff with one node entry per id, a ring of edges through
// them, a star from the first id to all of them, and every third id deleted
// (as a node) and deleted as an edge target.
std::vector<std::uint8_t> diff_bytes(const std::vector<Uuid>& ids) {
    std::vector<std::uint8_t> out;
    auto u64 = [&](std::uint64_t v) {
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto uuid = [&](const Uuid& id) {
        u64(16);
        out.insert(out.end(), id.bytes.begin(), id.bytes.end());
    };
    auto weight = [&] { u64(0x3f800000); out.resize(out.size() - 4); };
    const std::size_t n = ids.size();
    u64(n);
    for (const Uuid& id : ids) {
        uuid(id);
        u64(2);
        out.push_back('{');
        out.push_back('}');
    }
    const std::size_t thirds = (n + 2) / 3;
    u64(thirds);
    for (std::size_t i = 0; i < n; i += 3) uuid(ids[i]);
    u64(n);  // sources: the star's centre first, then the ring
    uuid(ids[0]);
    u64(n);
    for (const Uuid& id : ids) {
        uuid(id);
        weight();
    }
    for (std::size_t i = 1; i < n; ++i) {
        uuid(ids[i]);
        u64(1);
        uuid(ids[(i + 1) % n]);
        weight();
    }
    u64(1);
    uuid(ids[1]);
    u64(thirds);
    for (std::size_t i = 0; i < n; i += 3) uuid(ids[i]);
    return out;
}

double decode_seconds(const std::vector<Uuid>& ids) {
    const std::vector<std::uint8_t> bytes = diff_bytes(ids);
    return best_seconds(5, [&] {
        auto decoded = bytes_to_graph_diff(bytes);
        if (!decoded) std::abort();
        sink = sink + decoded.value().node_count();
    });
}

double build_seconds(const std::vector<Uuid>& ids) {
    return best_seconds(5, [&] {
        UuidGraphDiff diff;
        const std::size_t n = ids.size();
        for (const Uuid& id : ids) diff.add_or_update_node(id, NodeUpdate{});
        for (std::size_t i = 0; i < n; ++i) {
            (void)diff.add_edge(ids[i], ids[(i + 1) % n], 1.0f);
            (void)diff.add_edge(ids[0], ids[i], 2.0f);
        }
        for (std::size_t i = 0; i < n; i += 5) diff.delete_edge(ids[i], ids[(i + 7) % n]);
        // Each one walks every source, as it must: a few are enough.
        for (std::size_t i = 1; i < 20; ++i) diff.delete_node(ids[i * 13]);
        sink = sink + diff.edge_count();
    });
}

// The standard containers under the same attack, at a size they survive.
double std_set_seconds(const std::vector<Uuid>& ids) {
    return best_seconds(3, [&] {
        std::unordered_set<Uuid, UuidHash> set;
        for (const Uuid& id : ids) set.insert(id);
        sink = sink + set.size();
    });
}

double flat_set_seconds(const std::vector<Uuid>& ids) {
    return best_seconds(3, [&] {
        FlatSet<Uuid, UuidHash> set;
        for (const Uuid& id : ids) set.insert(id);
        sink = sink + set.size();
    });
}

void crafted_against_random(std::size_t n) {
    const std::vector<Uuid> random = random_ids(n, 21);
    const std::vector<Uuid> crafted = crafted_ids(n, 22);
    const double decode_r = decode_seconds(random);
    const double decode_c = decode_seconds(crafted);
    const double build_r = build_seconds(random);
    const double build_c = build_seconds(crafted);
    std::printf("  %zu ids, every one sharing one primary hash vs random:\n", n);
    std::printf("    decode (bytes_to_graph_diff): random %7.2f ms, crafted %7.2f ms, ratio %.2f\n",
                decode_r * 1e3, decode_c * 1e3, decode_c / decode_r);
    std::printf("    build (add_node, add_edge, delete_edge, 19 delete_node): random %7.2f ms, crafted %7.2f ms, ratio %.2f\n",
                build_r * 1e3, build_c * 1e3, build_c / build_r);
    const std::size_t small = 20000;
    const std::vector<Uuid> random_small(random.begin(), random.begin() + small);
    const std::vector<Uuid> crafted_small(crafted.begin(), crafted.begin() + small);
    std::printf("    set of %zu ids: std::unordered_set random %.2f ms, crafted %.2f ms; FlatSet random %.2f ms, crafted %.2f ms\n",
                small, std_set_seconds(random_small) * 1e3, std_set_seconds(crafted_small) * 1e3,
                flat_set_seconds(random_small) * 1e3, flat_set_seconds(crafted_small) * 1e3);
}

}  // namespace

// `--colliding-ids N`: N crafted ids, one per line in hex, for
// bench/crafted_collisions.py, which times them through the module.
int print_crafted_ids(std::size_t n) {
    for (const Uuid& id : crafted_ids(n, 22)) {
        for (std::uint8_t byte : id.bytes) std::printf("%02x", byte);
        std::printf("\n");
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--colliding-ids") == 0) {
        return print_crafted_ids(std::strtoull(argv[2], nullptr, 10));
    }
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int repeats = quick ? 2 : 5;

    std::printf("ns per operation (best of %d)\n", repeats);
    for (std::size_t n : {std::size_t{1000}, std::size_t{100000}, std::size_t{1000000}}) {
        time_table<std::unordered_map<Uuid, float, UuidHash>>("std::unordered_map<Uuid,float>", n, repeats);
        time_table<FlatMap<Uuid, float, UuidHash>>("FlatMap<Uuid,float>", n, repeats);
        time_table<std::unordered_set<Uuid, UuidHash>>("std::unordered_set<Uuid>", n, repeats);
        time_table<FlatSet<Uuid, UuidHash>>("FlatSet<Uuid>", n, repeats);
    }

    std::printf("\nedge maps (source -> target -> weight), random ids\n");
    const std::size_t edges = quick ? 100000 : 1000000;
    const std::size_t sources = edges / 10;
    edge_memory<std::unordered_map<Uuid, std::unordered_map<Uuid, float, UuidHash>, UuidHash>>(
        "std::unordered_map of maps", edges, sources);
    edge_memory<FlatMap<Uuid, FlatMap<Uuid, float, UuidHash>, UuidHash>>("FlatMap of FlatMaps", edges, sources);
    diff_memory(edges, sources);
    std::printf("  sizeof: FlatMap %zu, std::unordered_map %zu; slot of an inner map %zu + 1 control byte\n",
                sizeof(FlatMap<Uuid, float, UuidHash>), sizeof(std::unordered_map<Uuid, float, UuidHash>),
                sizeof(std::pair<const Uuid, float>));

    std::printf("\nprobe lengths\n");
    if (!quick) probe_lengths();

    std::printf("\ncrafted ids\n");
    crafted_against_random(quick ? 20000 : 100000);
    return 0;
}
