// One fixed sequence of operations on a diff, for comparing machines: the
// bytes it encodes to, and the listing a decoder makes of any such bytes, must
// be the same on every architecture, whatever its word size or byte order.
//
// The sequence is a scripted part, in which every merge, cancel and refusal
// rule of the diff fires at least once and is checked as it fires, then a long
// seeded part on a small pool of ids, so that the tables grow, shrink and
// collide. Only std::mt19937's raw output is used: the standard fixes it
// exactly, while the distributions are left to each library.
//
// Usage:
//   cross_arch_bytes write FILE   the sequence's bytes into FILE
//   cross_arch_bytes list FILE    decodes FILE and prints every collection in
//                                 the decoder's iteration order
// Exit status 0 on success, 1 when a rule did not fire as it should or FILE
// does not decode, 2 on a usage or file error.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.hpp"

namespace {

using namespace test_support;

int failures = 0;

void expect(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "cross_arch_bytes: %s\n", what);
        ++failures;
    }
}

bool has_target(const UuidGraphDiff::TargetWeights& targets, const Uuid& id) {
    return targets.find(id) != targets.end();
}

NodeUpdate labelled(std::string label, float size) {
    NodeUpdate update;
    update.label = std::move(label);
    update.size = size;
    return update;
}

// Every rule, in an order where each one meets state left by the others.
void scripted(UuidGraphDiff& diff) {
    const Uuid a = node(1), b = node(2), c = node(3), d = node(4), e = node(5);
    const auto& nodes = diff.new_or_updated_nodes();
    const auto& deleted = diff.deleted_nodes();
    const auto& edges = diff.edges().new_or_updated_edges;
    const auto& deleted_edges = diff.edges().deleted_edges;

    // A second update merges into the first: its fields win, absent ones stay.
    diff.add_or_update_node(a, labelled("first", 1.0f));
    NodeUpdate later;
    later.size = 2.5f;
    later.red = 200;
    diff.add_or_update_node(a, later);
    const auto merged = nodes.find(a);
    expect(merged != nodes.end() && merged->second.label && *merged->second.label == "first" &&
               merged->second.size == 2.5f && merged->second.red == 200,
           "a later update did not merge into the earlier one");

    // Weights of every kind, stored as they are; a second add overwrites.
    expect(diff.add_edge(a, b, 1.0f).ok() && diff.add_edge(a, b, 2.0f).ok(), "add_edge refused");
    expect(diff.add_edge(a, c, float_of(0x7FC00001)).ok() && diff.add_edge(a, a, float_of(0xFF800000)).ok() &&
               diff.add_edge(c, b, float_of(0x80000000)).ok() && diff.add_edge(b, c, float_of(0x00000001)).ok(),
           "add_edge refused");
    expect(bits_of(edges.find(a)->second.find(b)->second) == bits_of(2.0f), "a second add_edge did not overwrite");

    // Deleting a node: its update and its out-edges (the self edge too) go,
    // an edge into it becomes a recorded deletion and leaves its source's
    // emptied map in place.
    diff.delete_node(a);
    expect(nodes.find(a) == nodes.end() && deleted.find(a) != deleted.end(), "delete_node kept the update");
    expect(edges.find(a) == edges.end() && deleted_edges.find(a) == deleted_edges.end(),
           "delete_node kept or recorded the out-edges");
    diff.delete_node(c);
    const auto emptied = edges.find(b);
    expect(emptied != edges.end() && emptied->second.size() == 0, "delete_node removed the emptied source");
    expect(deleted_edges.find(b) != deleted_edges.end(), "an edge into a deleted node was not recorded");

    // Refused both ways round, and the diff is unchanged.
    const std::size_t edge_count = edges.size() + deleted_edges.size();
    expect(!diff.add_edge(a, d, 1.0f).ok() && !diff.add_edge(d, c, 1.0f).ok() && !diff.add_edge(c, c, 1.0f).ok(),
           "add_edge accepted a deleted end node");
    expect(edges.size() + deleted_edges.size() == edge_count && edges.find(d) == edges.end(),
           "a refused add_edge changed the diff");

    // A node deleted and then updated holds only the new update.
    diff.add_or_update_node(c, labelled("back", 3.0f));
    expect(deleted.find(c) == deleted.end() && !nodes.find(c)->second.red, "a deleted node did not come back");

    // delete_edge on a source whose map delete_node emptied drops that map.
    diff.delete_edge(b, e);
    expect(edges.find(b) == edges.end(), "delete_edge kept an emptied source");

    // Deleting an edge that was never added is recorded; adding it back takes
    // it out again, and the source's entry with it once its set is empty.
    diff.delete_edge(d, e);
    diff.delete_edge(d, b);
    expect(diff.add_edge(d, e, 0.5f).ok(), "add_edge refused");
    expect(deleted_edges.find(d) != deleted_edges.end(), "add_edge dropped the other deleted target");
    expect(diff.add_edge(d, b, 0.25f).ok() && deleted_edges.find(d) == deleted_edges.end(),
           "add_edge kept an empty deleted set");

    // Deleting the last target of a source removes the source.
    expect(diff.add_edge(e, a, 4.0f).ok() == false, "add_edge accepted a deleted target");
    expect(diff.add_edge(e, d, 4.0f).ok(), "add_edge refused");
    diff.delete_edge(e, d);
    expect(edges.find(e) == edges.end() && deleted_edges.find(e) != deleted_edges.end(),
           "delete_edge kept the emptied source");

    // An id never seen, deleted; a node updated with nothing.
    diff.delete_node(node(6));
    diff.add_or_update_node(node(7), NodeUpdate{});
    expect(has_target(edges.find(d)->second, e), "an earlier edge was lost");
}

// Many operations on a pool of ids, with a clear now and then.
void seeded(UuidGraphDiff& diff, std::uint32_t seed, unsigned operations, unsigned pool) {
    std::mt19937 rng(seed);
    for (unsigned n = 0; n < operations; ++n) {
        const Uuid a = node(rng() % pool);
        const Uuid b = node(rng() % pool);
        switch (rng() % 16) {
            case 0: case 1: case 2: diff.add_or_update_node(a, random_update(rng)); break;
            case 3: case 4: diff.delete_node(a); break;
            case 5: case 6: case 7: case 8: case 9: (void)diff.add_edge(a, b, random_float(rng)); break;
            case 10: case 11: case 12: case 13: diff.delete_edge(a, b); break;
            case 14: diff.add_or_update_node(b, random_update(rng)); break;
            default:
                if (rng() % 64 == 0) diff.clear();
                break;
        }
    }
}

UuidGraphDiff the_sequence() {
    UuidGraphDiff diff;
    scripted(diff);
    UuidGraphDiff scratch;
    scripted(scratch);
    scratch.clear();
    expect(scratch.new_or_updated_nodes().size() == 0 && scratch.deleted_nodes().size() == 0 &&
               scratch.edges().new_or_updated_edges.size() == 0 && scratch.edges().deleted_edges.size() == 0,
           "clear left something behind");
    // node() spreads ids over one byte: 200 of them, dense enough that
    // operations meet, many enough that the tables grow past their first size.
    seeded(diff, 20240611u, 30000, 200);
    return diff;
}

std::string hex(const Uuid& id) {
    std::string text;
    for (std::uint8_t byte : id.bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

void list(const UuidGraphDiff& diff) {
    for (const auto& [id, update] : diff.new_or_updated_nodes())
        std::printf("node %s %s\n", hex(id).c_str(), json_of(update).c_str());
    for (const auto& id : diff.deleted_nodes()) std::printf("deleted node %s\n", hex(id).c_str());
    for (const auto& [source, targets] : diff.edges().new_or_updated_edges) {
        std::printf("edges from %s (%zu)\n", hex(source).c_str(), targets.size());
        for (const auto& [target, weight] : targets)
            std::printf("  to %s weight %08" PRIx32 "\n", hex(target).c_str(), bits_of(weight));
    }
    for (const auto& [source, targets] : diff.edges().deleted_edges) {
        std::printf("deleted edges from %s (%zu)\n", hex(source).c_str(), targets.size());
        for (const auto& target : targets) std::printf("  to %s\n", hex(target).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: cross_arch_bytes write|list FILE\n");
        return 2;
    }
    const std::string_view command = argv[1];
    if (command == "write") {
        const UuidGraphDiff diff = the_sequence();
        auto bytes = bytes_of(diff);
        expect(bytes.ok(), "the encoder failed");
        if (failures > 0) return 1;
        std::ofstream out(argv[2], std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.value().data()),
                  static_cast<std::streamsize>(bytes.value().size()));
        if (!out) {
            std::fprintf(stderr, "cross_arch_bytes: cannot write %s\n", argv[2]);
            return 2;
        }
        return 0;
    }
    if (command == "list") {
        std::ifstream in(argv[2], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cross_arch_bytes: cannot read %s\n", argv[2]);
            return 2;
        }
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto diff = tovra::bytes_to_graph_diff(bytes);
        if (!diff) {
            std::fprintf(stderr, "cross_arch_bytes: %s\n", tovra::describe(diff.error()).c_str());
            return 1;
        }
        list(diff.value());
        return 0;
    }
    std::fprintf(stderr, "usage: cross_arch_bytes write|list FILE\n");
    return 2;
}
