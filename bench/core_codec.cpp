// Micro-benchmark of the byte codec on the data of bench/run.py: 1e5 nodes
// with a label and a size, and 1e5 or 1e6 random edges over them. Reports ns
// per entry (nodes plus edges) for planning + writing, for decoding, and for
// a plain copy of as many bytes, which is what the module is judged against.
// Not part of the test suite; built and run by bench/run_core_codec.sh.
//
//   core_codec [--quick]          timings, best of several runs
//   core_codec --once encode N    one encode of the N-edge diff (for callgrind)
//   core_codec --once decode N    one decode of its bytes
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bytes/graph_diff_codec.hpp"
#include "bench_support.hpp"
#include "diff/graph_diff.hpp"

namespace {

using namespace tovra;
using bench::best_seconds;
using bench::Clock;
using bench::random_id;

volatile std::size_t sink = 0;

double unit(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * 0x1.0p-53; }

struct Workload {
    UuidGraphDiff diff;
    std::size_t entries = 0;  // nodes + edges, what run.py divides by
};

// Distinct random (source, target) pairs, as run.py draws them; a repeated
// pair is drawn again so the diff holds exactly `edges` edges.
Workload make_workload(std::size_t edges) {
    std::mt19937_64 rng(7);
    const std::size_t n = std::min<std::size_t>(edges, 100000);
    std::vector<Uuid> ids(n);
    for (Uuid& id : ids) id = random_id(rng);
    Workload work;
    for (std::size_t k = 0; k < n; ++k) {
        NodeUpdate update;
        update.label = "node " + std::to_string(k);
        update.size = static_cast<float>(unit(rng) * 10);
        work.diff.add_or_update_node(ids[k], std::move(update));
    }
    std::size_t stored = 0;
    while (stored < edges) {
        const Uuid& from = ids[rng() % n];
        const Uuid& to = ids[rng() % n];
        auto& targets = work.diff.edges().new_or_updated_edges;
        const auto source = targets.find(from);
        if (source != targets.end() && source->second.contains(to)) continue;
        (void)work.diff.add_edge(from, to, static_cast<float>(unit(rng)));
        ++stored;
    }
    work.entries = n + edges;
    return work;
}

std::vector<std::uint8_t> encode(const UuidGraphDiff& diff) {
    auto plan = plan_encoding(diff);
    if (!plan) std::abort();
    std::vector<std::uint8_t> bytes(plan.value().size());
    plan.value().write(bytes.data());
    return bytes;
}

void time_size(std::size_t edges, int repeats) {
    const Workload work = make_workload(edges);
    const std::vector<std::uint8_t> bytes = encode(work.diff);
    const std::size_t size = bytes.size();

    // The destination is allocated once, as the extension fills a bytes
    // object it allocated: the copy below pays for its buffer the same way.
    std::vector<std::uint8_t> out(size);
    const double encode_s = best_seconds(repeats, [&] {
        auto plan = plan_encoding(work.diff);
        if (!plan) std::abort();
        plan.value().write(out.data());
        sink = sink + out[size / 2];
    });
    const double decode_s = best_seconds(repeats, [&] {
        auto decoded = bytes_to_graph_diff(bytes);
        if (!decoded) std::abort();
        sink = sink + decoded.value().node_count();
    });
    const double copy_s = best_seconds(repeats, [&] {
        std::memcpy(out.data(), bytes.data(), size);
        sink = sink + out[size / 3];
    });

    const double per = 1e9 / static_cast<double>(work.entries);
    const double mb = static_cast<double>(size) / 1e6;
    std::printf("%8zu edges, %zu bytes\n", edges, size);
    std::printf("  encode %7.1f ns/entry %7.0f MB/s  %5.2fx copy\n", encode_s * per, mb / encode_s, encode_s / copy_s);
    std::printf("  decode %7.1f ns/entry %7.0f MB/s  %5.2fx copy\n", decode_s * per, mb / decode_s, decode_s / copy_s);
    std::printf("  copy   %7.1f ns/entry %7.0f MB/s\n", copy_s * per, mb / copy_s);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--once") == 0) {
        const auto edges = static_cast<std::size_t>(std::strtoull(argv[3], nullptr, 10));
        const Workload work = make_workload(edges);
        if (std::strcmp(argv[2], "encode") == 0) {
            sink = sink + encode(work.diff).size();
        } else {
            const std::vector<std::uint8_t> bytes = encode(work.diff);
            auto decoded = bytes_to_graph_diff(bytes);
            if (!decoded) std::abort();
            sink = sink + decoded.value().node_count();
        }
        return 0;
    }
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int repeats = quick ? 3 : 9;
    time_size(100000, repeats);
    if (!quick) time_size(1000000, repeats);
    return 0;
}
