// The byte codec of a whole diff: golden bytes, every rejection with its kind
// and position, repeated keys, weights bit for bit, and random diffs that must
// survive a round trip. The UTF-8 check it relies on is tested in
// test_utf8.cpp.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "bytes/graph_diff_codec.hpp"
#include "check.hpp"
#include "tables/table_memory.hpp"
#include "test_support.hpp"

// The decoder must never size anything on the strength of a count or length
// alone. Outside sanitizer builds (which need their own allocator to see
// misuse) every allocation in this binary goes through here, so a test can see
// how many bytes were requested while it decodes hostile input. Both stay
// out of line: inlined, GCC pairs malloc() or free() with the other side's
// operator and warns of a mismatch that is not there.
#if defined(__SANITIZE_ADDRESS__)
#define CODEC_TEST_TRACKS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CODEC_TEST_TRACKS_ALLOCATIONS 0
#endif
#endif
#ifndef CODEC_TEST_TRACKS_ALLOCATIONS
#define CODEC_TEST_TRACKS_ALLOCATIONS 1
#endif

namespace {
std::size_t allocated_bytes = 0;  // requested of operator new since last reset, frees not deducted
std::size_t mapped_at_reset = 0;

void reset_allocations() {
    allocated_bytes = 0;
    mapped_at_reset = tovra::table_memory::mapped_so_far();
}

// Large table blocks are mapped straight from the kernel, past operator new.
std::size_t allocated_since_reset() {
    return allocated_bytes + (tovra::table_memory::mapped_so_far() - mapped_at_reset);
}
}  // namespace

// A test may make the n-th allocation from now fail by setting this to n
// (0: none fails). Only where allocations are tracked; a test can find out
// by arming it and allocating.
namespace core_test {
std::size_t allocations_until_failure = 0;
}

#if CODEC_TEST_TRACKS_ALLOCATIONS
[[gnu::noinline]] void* operator new(std::size_t size) {
    if (core_test::allocations_until_failure != 0 && --core_test::allocations_until_failure == 0) {
        throw std::bad_alloc();
    }
    allocated_bytes += size;
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#endif

namespace {

using namespace tovra;
using namespace test_support;

constexpr std::uint64_t two_to_32 = std::uint64_t{1} << 32;

// ---------------------------------------------------------------------------
// Helpers

// Sixteen consecutive byte values from `first`: seq(0x00) is 00 01 .. 0F.
Uuid seq(std::uint8_t first) {
    Uuid id;
    for (std::size_t i = 0; i < 16; ++i) id.bytes[i] = static_cast<std::uint8_t>(first + i);
    return id;
}

NodeUpdate labelled(std::string label) {
    NodeUpdate update;
    update.label = std::move(label);
    return update;
}

// Builds inputs field by field, little-endian, independently of the encoder.
struct Builder {
    Bytes out;

    Builder& u64(std::uint64_t value) {
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        return *this;
    }
    Builder& uuid(const Uuid& id) {
        u64(16);
        out.insert(out.end(), id.bytes.begin(), id.bytes.end());
        return *this;
    }
    Builder& text(std::string_view text) {
        u64(text.size());
        out.insert(out.end(), text.begin(), text.end());
        return *this;
    }
    Builder& weight_bits(std::uint32_t bits) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
        return *this;
    }
    Builder& weight(float value) { return weight_bits(bits_of(value)); }
    Builder& raw(std::size_t count, std::uint8_t byte) {
        out.insert(out.end(), count, byte);
        return *this;
    }
    Builder& raw(std::string_view bytes) {
        out.insert(out.end(), bytes.begin(), bytes.end());
        return *this;
    }
};

Result<UuidGraphDiff, CodecFailure> decode(const Bytes& bytes) {
    return bytes_to_graph_diff(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
}

Bytes encode(const UuidGraphDiff& diff) {
    auto bytes = bytes_of(diff);
    CHECK(bytes.ok());
    return bytes ? std::move(bytes).value() : Bytes{};
}

// The length from the format's formula, from the diff and the JSON writer
// alone.
std::uint64_t formula_length(const UuidGraphDiff& diff) {
    std::uint64_t total = 32;
    for (const auto& entry : diff.new_or_updated_nodes()) {
        total += 32 + json_of(entry.second).size();
    }
    total += 24 * diff.deleted_nodes().size();
    for (const auto& source : diff.edges().new_or_updated_edges) total += 32 + 28 * source.second.size();
    for (const auto& source : diff.edges().deleted_edges) total += 32 + 24 * source.second.size();
    return total;
}

// The 137 bytes of the documented example: node 00..0F labelled "A", one edge
// from it to 10..1F with weight 0.5.
const Bytes worked_example = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 1 node
    0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // id length 16
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,  // A
    0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x0D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // text length 13
    0x7B, 0x22, 0x6C, 0x61, 0x62, 0x65, 0x6C, 0x22,  // {"label":"A"}
    0x3A, 0x22, 0x41, 0x22, 0x7D,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 0 deleted nodes
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 1 source
    0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,  // A
    0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 1 target
    0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,  // B
    0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x00, 0x00, 0x00, 0x3F,                          // 0.5
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 0 deleted-edge sources
};

UuidGraphDiff worked_example_diff() {
    UuidGraphDiff diff;
    diff.add_or_update_node(seq(0x00), labelled("A"));
    CHECK(diff.add_edge(seq(0x00), seq(0x10), 0.5f).ok());
    return diff;
}

// ---------------------------------------------------------------------------
// Golden bytes

TEST_CASE("codec: worked example encodes to its 137 golden bytes") {
    const Bytes bytes = encode(worked_example_diff());
    CHECK_EQ(worked_example.size(), std::size_t{137});
    CHECK_EQ(bytes.size(), worked_example.size());
    CHECK(bytes == worked_example);
}

TEST_CASE("codec: worked example decodes to the diff it describes") {
    auto decoded = decode(worked_example);
    CHECK(decoded.ok());
    if (!decoded) return;
    CHECK(same_content(decoded.value(), worked_example_diff()));
    const auto& nodes = decoded.value().new_or_updated_nodes();
    CHECK(nodes.size() == 1 && nodes.count(seq(0x00)) == 1);
    if (nodes.count(seq(0x00)) == 1) CHECK(nodes.at(seq(0x00)).label == OptionalText("A"));
}

TEST_CASE("codec: empty diff is 32 zero bytes and back") {
    const Bytes bytes = encode(UuidGraphDiff());
    CHECK(bytes == Bytes(32, 0));
    auto decoded = decode(Bytes(32, 0));
    CHECK(decoded.ok() && decoded.value().node_count() == 0 && decoded.value().edge_count() == 0);
}

TEST_CASE("codec: one entry in every section, byte for byte") {
    UuidGraphDiff diff;
    diff.add_or_update_node(seq(0x00), NodeUpdate{});
    diff.delete_node(seq(0x20));
    CHECK(diff.add_edge(seq(0x00), seq(0x10), -2.0f).ok());
    diff.delete_edge(seq(0x10), seq(0x20));
    const Bytes expected = Builder()
                               .u64(1).uuid(seq(0x00)).text("{}")
                               .u64(1).uuid(seq(0x20))
                               .u64(1).uuid(seq(0x00)).u64(1).uuid(seq(0x10)).weight_bits(0xC0000000)
                               .u64(1).uuid(seq(0x10)).u64(1).uuid(seq(0x20))
                               .out;
    CHECK(encode(diff) == expected);
}

TEST_CASE("codec: emptied source entries are written with a count of 0") {
    // delete_node leaves A with an empty target map; it must travel.
    UuidGraphDiff diff;
    CHECK(diff.add_edge(seq(0x00), seq(0x10), 1.0f).ok());
    diff.delete_node(seq(0x10));
    const Bytes expected = Builder()
                               .u64(0)
                               .u64(1).uuid(seq(0x10))
                               .u64(1).uuid(seq(0x00)).u64(0)
                               .u64(1).uuid(seq(0x00)).u64(1).uuid(seq(0x10))
                               .out;
    const Bytes bytes = encode(diff);
    CHECK(bytes == expected);
    auto decoded = decode(bytes);
    CHECK(decoded.ok() && same_content(decoded.value(), diff));
    if (decoded) CHECK_EQ(decoded.value().edge_count(), std::size_t{2});
}

// ---------------------------------------------------------------------------
// Planning and writing in place

TEST_CASE("codec: plan size follows the formula and write fills exactly that") {
    UuidGraphDiff diff;
    NodeUpdate rich = labelled("caf\xC3\xA9 \"quoted\"\n");
    rich.size = 2.5f;
    rich.url = "u";
    rich.red = 255;
    rich.show_label = false;
    diff.add_or_update_node(node(1), rich);
    diff.add_or_update_node(node(2), NodeUpdate{});
    diff.delete_node(node(3));
    diff.delete_node(node(4));
    CHECK(diff.add_edge(node(1), node(2), 1.0f).ok());
    CHECK(diff.add_edge(node(1), node(5), 2.0f).ok());
    CHECK(diff.add_edge(node(2), node(2), 3.0f).ok());
    diff.delete_edge(node(5), node(6));
    diff.delete_edge(node(5), node(7));

    auto plan = plan_encoding(diff);
    CHECK(plan.ok());
    if (!plan) return;
    CHECK_EQ(std::uint64_t{plan.value().size()}, formula_length(diff));

    // Canary bytes past the end show a write that overruns its size.
    Bytes buffer(plan.value().size() + 16, 0xAB);
    plan.value().write(buffer.data());
    CHECK(Bytes(buffer.end() - 16, buffer.end()) == Bytes(16, 0xAB));
    buffer.resize(plan.value().size());
    CHECK(buffer == encode(diff));
}

// ---------------------------------------------------------------------------
// Rejections

struct Rejection {
    const char* name;
    Bytes input;
    CodecError error;
    std::size_t offset;
};

// Offsets: where the failing count or length field begins; for invalid
// UTF-8, the first byte of the bad sequence.
std::vector<Rejection> rejections() {
    const Uuid a = seq(0x00);
    const Uuid b = seq(0x10);
    std::vector<Rejection> cases = {
        {"empty input", {}, CodecError::end_of_input, 0},
        {"31 zero bytes", Bytes(31, 0), CodecError::end_of_input, 24},
        {"count 1 and nothing else", Builder().u64(1).out, CodecError::end_of_input, 8},
        {"first count 2^32, nothing after", Builder().u64(two_to_32).out,
         CodecError::size_out_of_range, 0},
        {"first count 2^64-1", Builder().u64(~std::uint64_t{0}).raw(64, 0).out,
         CodecError::size_out_of_range, 0},
        {"deleted count 2^32", Builder().u64(0).u64(two_to_32).out,
         CodecError::size_out_of_range, 8},
        {"source count 2^32", Builder().u64(0).u64(0).u64(two_to_32).out,
         CodecError::size_out_of_range, 16},
        {"target count 2^32", Builder().u64(0).u64(0).u64(1).uuid(a).u64(two_to_32).out,
         CodecError::size_out_of_range, 48},
        {"deleted-edge source count 2^32", Builder().u64(0).u64(0).u64(0).u64(two_to_32).out,
         CodecError::size_out_of_range, 24},
        {"deleted-edge target count 2^32",
         Builder().u64(0).u64(0).u64(0).u64(1).uuid(a).u64(two_to_32).out,
         CodecError::size_out_of_range, 56},
        {"uuid length 2^32 (range before what remains)", Builder().u64(0).u64(1).u64(two_to_32).out,
         CodecError::size_out_of_range, 16},
        {"uuid length 15", Builder().u64(0).u64(1).u64(15).raw(15, 1).raw(16, 0).out,
         CodecError::bad_uuid_length, 16},
        {"uuid length 17", Builder().u64(0).u64(1).u64(17).raw(17, 1).raw(16, 0).out,
         CodecError::bad_uuid_length, 16},
        {"uuid length 0", Builder().u64(0).u64(1).u64(0).raw(24, 0).out,
         CodecError::bad_uuid_length, 16},
        {"uuid length 16, 15 bytes left", Builder().u64(0).u64(1).u64(16).raw(15, 1).out,
         CodecError::end_of_input, 16},
        {"uuid length 17, 16 bytes left (short before bad)",
         Builder().u64(0).u64(1).u64(17).raw(16, 1).out, CodecError::end_of_input, 16},
        {"uuid length field cut", Builder().u64(0).u64(1).raw(7, 0x10).out,
         CodecError::end_of_input, 16},
        {"text length 2^32", Builder().u64(1).uuid(a).u64(two_to_32).raw("{}").out,
         CodecError::size_out_of_range, 32},
        {"text longer than the input", Builder().u64(1).uuid(a).u64(3).raw("{}").out,
         CodecError::end_of_input, 32},
        {"text with a stray continuation byte", Builder().u64(1).uuid(a).text("{\x80}").raw(32, 0).out,
         CodecError::invalid_utf8, 41},
        {"text with an encoded surrogate",
         Builder().u64(1).uuid(a).text("{\"label\":\"\xED\xA0\x80\"}").raw(32, 0).out,
         CodecError::invalid_utf8, 50},
        {"text cut inside a sequence", Builder().u64(1).uuid(a).text("{}\xE2\x82").raw(32, 0).out,
         CodecError::invalid_utf8, 42},
        {"weight cut after 0 bytes", Builder().u64(0).u64(0).u64(1).uuid(a).u64(1).uuid(b).out,
         CodecError::end_of_input, 80},
        {"weight cut after 3 bytes",
         Builder().u64(0).u64(0).u64(1).uuid(a).u64(1).uuid(b).raw(3, 0).out,
         CodecError::end_of_input, 80},
        {"more deleted nodes promised than present",
         Builder().u64(0).u64(3).uuid(a).uuid(b).out, CodecError::end_of_input, 64},
        {"fourth section missing", Builder().u64(0).u64(0).u64(0).out, CodecError::end_of_input, 24},
        // The text is judged only after everything has been read, so a
        // truncation later in the input wins over a bad node text...
        {"bad JSON then a truncation", Builder().u64(1).uuid(a).text("nope").u64(0).out,
         CodecError::end_of_input, 52},
        // ...but UTF-8 is checked as the text is read.
        {"bad UTF-8 then a truncation", Builder().u64(1).uuid(a).text("\xFF").u64(0).out,
         CodecError::invalid_utf8, 40},
        // A text that a later entry replaces is still read, so still checked.
        {"replaced text with bad UTF-8",
         Builder().u64(2).uuid(a).text("\xC0\xAF").uuid(a).text("{}").raw(24, 0).out,
         CodecError::invalid_utf8, 40},
    };
    return cases;
}

TEST_CASE("codec: rejection table") {
    for (const Rejection& c : rejections()) {
        auto decoded = decode(c.input);
        if (decoded.ok()) {
            core_test::report(__FILE__, __LINE__, std::string("decoded: ") + c.name);
            continue;
        }
        if (decoded.error().error != c.error || decoded.error().offset != c.offset) {
            core_test::report(__FILE__, __LINE__,
                              std::string("wrong failure for '") + c.name + "': " +
                                  describe(decoded.error()));
        }
        CHECK(!decoded.error().json.has_value());
    }
}

TEST_CASE("codec: node texts the JSON reader refuses") {
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"empty text, length 0", ""},
        {"not JSON", "nope"},
        {"something after the object", "{}x"},
    };
    for (const Case& c : cases) {
        const Bytes input = Builder().u64(1).uuid(seq(0)).text(c.text).raw(24, 0).out;
        auto decoded = decode(input);
        if (decoded.ok() || decoded.error().error != CodecError::invalid_node_update ||
            !decoded.error().json.has_value()) {
            core_test::report(__FILE__, __LINE__, std::string("not refused as JSON: ") + c.name);
            continue;
        }
        // Positions are within the input: the text's bytes start at 40.
        CHECK(decoded.error().offset >= 40 && decoded.error().offset <= 40 + c.text.size());
    }
    auto empty = decode(Builder().u64(1).uuid(seq(0)).text("").raw(24, 0).out);
    CHECK(!empty.ok() && empty.error().json && empty.error().json->error == JsonError::empty_text);
}

TEST_CASE("codec: the first refused text in the input is the one reported") {
    const Bytes input = Builder()
                            .u64(3)
                            .uuid(node(1)).text("{}")
                            .uuid(node(2)).text("[1]")
                            .uuid(node(3)).text("")
                            .raw(24, 0)
                            .out;
    auto decoded = decode(input);
    CHECK(!decoded.ok());
    if (!decoded.ok()) {
        CHECK(decoded.error().error == CodecError::invalid_node_update);
        // node(2)'s text starts after 8 + (24 + 8 + 2) + 24 + 8 bytes.
        CHECK(decoded.error().offset >= 74 && decoded.error().offset <= 77);
    }
}

TEST_CASE("codec: every truncation of a valid encoding runs out of input") {
    for (std::size_t cut = 0; cut < worked_example.size(); ++cut) {
        auto decoded = decode(Bytes(worked_example.begin(), worked_example.begin() + cut));
        if (decoded.ok() || decoded.error().error != CodecError::end_of_input) {
            core_test::report(__FILE__, __LINE__,
                              "truncation to " + std::to_string(cut) + " bytes not end_of_input");
        }
    }
}

TEST_CASE("codec: hostile counts and lengths cost memory in proportion to the input") {
    if (!CODEC_TEST_TRACKS_ALLOCATIONS) {
        core_test::skipped("the bytes a decoding allocates (a sanitizer build brings its own allocator)");
    }
    // Every count and length promises 2^32 - 1 entries or bytes, and the input
    // ends early: after nothing, after a few entries, or after thousands.
    const std::uint64_t huge = two_to_32 - 1;
    const Uuid a = seq(0x00);
    // n entries of distinct ids, so that every one is kept.
    auto repeated = [](std::size_t n, auto entry) {
        Builder b;
        for (std::size_t i = 0; i < n; ++i) {
            Uuid id = seq(0x40);
            std::memcpy(id.bytes.data(), &i, sizeof i);
            entry(b, id);
        }
        return b;
    };
    auto node_entries = [&](std::size_t n) {
        return repeated(n, [](Builder& b, const Uuid& id) { b.uuid(id).text("{}"); }).out;
    };
    auto ids = [&](std::size_t n) {
        return repeated(n, [](Builder& b, const Uuid& id) { b.uuid(id); }).out;
    };
    auto sources = [&](std::size_t n) {
        return repeated(n, [](Builder& b, const Uuid& id) { b.uuid(id).u64(0); }).out;
    };
    auto weighted = [&](std::size_t n) {
        return repeated(n, [](Builder& b, const Uuid& id) { b.uuid(id).weight(1.0f); }).out;
    };
    auto join = [](Bytes head, const Bytes& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    std::vector<Bytes> inputs = {
        Builder().u64(huge).out,
        Builder().u64(huge).uuid(a).text("{}").uuid(seq(0x10)).text("{}").out,
        Builder().u64(0).u64(huge).uuid(a).out,
        Builder().u64(0).u64(0).u64(huge).uuid(a).u64(0).out,
        Builder().u64(0).u64(0).u64(1).uuid(a).u64(huge).uuid(a).weight(1.0f).out,
        Builder().u64(0).u64(0).u64(0).u64(huge).out,
        Builder().u64(0).u64(0).u64(0).u64(1).uuid(a).u64(huge).uuid(a).out,
        Builder().u64(1).u64(huge).raw(64, 0).out,              // uuid length
        Builder().u64(1).uuid(a).u64(huge).raw(64, '{').out,    // text length
    };
    // A count the rest of the input could hold, were every entry as small as
    // can be, pre-sizes exactly: here it promises a third more entries than
    // are present.
    auto plausible = [](const Bytes& entries) { return entries.size() / 24; };
    for (std::size_t n : {100u, 5000u}) {
        const Bytes nodes = node_entries(n), heads = sources(n), targets = weighted(n);
        inputs.push_back(join(Builder().u64(plausible(nodes)).out, nodes));
        inputs.push_back(join(Builder().u64(0).u64(0).u64(plausible(heads)).out, heads));
        inputs.push_back(
            join(Builder().u64(0).u64(0).u64(1).uuid(a).u64(plausible(targets)).out, targets));
    }
    for (std::size_t n : {1u, 100u, 5000u}) {
        inputs.push_back(join(Builder().u64(huge).out, node_entries(n)));
        inputs.push_back(join(Builder().u64(0).u64(huge).out, ids(n)));
        inputs.push_back(join(Builder().u64(0).u64(0).u64(huge).out, sources(n)));
        inputs.push_back(join(Builder().u64(0).u64(0).u64(1).uuid(a).u64(huge).out, weighted(n)));
        inputs.push_back(join(Builder().u64(0).u64(0).u64(0).u64(1).uuid(a).u64(huge).out, ids(n)));
    }
    for (const Bytes& input : inputs) {
        reset_allocations();
        try {
            auto decoded = decode(input);
            CHECK(!decoded.ok() && decoded.error().error == CodecError::end_of_input);
        } catch (const std::exception& thrown) {
            core_test::report(__FILE__, __LINE__, std::string("decoding threw: ") + thrown.what());
        }
        // Measured: at most about 3.7 times; before the bound on what the
        // input could hold, 196608 bytes for the 8-byte input.
        if (CODEC_TEST_TRACKS_ALLOCATIONS) CHECK(allocated_since_reset() <= 8 * input.size());
    }
}

TEST_CASE("codec: a count the input could hold sizes nothing until its entries are there") {
    if (!CODEC_TEST_TRACKS_ALLOCATIONS) {
        core_test::skipped("the bytes a decoding allocates (a sanitizer build brings its own allocator)");
    }
    // Each of the six counts promises as many entries as the rest of the
    // input could hold, were each a bare id; a few real entries follow, then
    // junk. Sizing for the count would take several times the input.
    const Uuid a = seq(0x00);
    const std::size_t junk = std::size_t{3} << 20;
    struct Case {
        Bytes head;
        void (*entry)(Builder&, const Uuid&);
    };
    const Case cases[] = {
        {{}, [](Builder& b, const Uuid& id) { b.uuid(id).text("{}"); }},
        {Builder().u64(0).out, [](Builder& b, const Uuid& id) { b.uuid(id); }},
        {Builder().u64(0).u64(0).out, [](Builder& b, const Uuid& id) { b.uuid(id).u64(0); }},
        {Builder().u64(0).u64(0).u64(1).uuid(a).out,
         [](Builder& b, const Uuid& id) { b.uuid(id).weight(1.0f); }},
        {Builder().u64(0).u64(0).u64(0).out, [](Builder& b, const Uuid& id) { b.uuid(id).u64(0); }},
        {Builder().u64(0).u64(0).u64(0).u64(1).uuid(a).out, [](Builder& b, const Uuid& id) { b.uuid(id); }},
    };
    for (const Case& c : cases) {
        for (std::size_t present : {0u, 1000u}) {
            Builder entries;
            for (std::size_t i = 0; i < present; ++i) c.entry(entries, node(static_cast<unsigned>(i)));
            entries.raw(junk, 0);
            Builder input;
            input.out = c.head;
            input.u64(entries.out.size() / 24).raw(std::string_view(
                reinterpret_cast<const char*>(entries.out.data()), entries.out.size()));
            reset_allocations();
            auto decoded = decode(input.out);
            CHECK(!decoded.ok() && decoded.error().error == CodecError::bad_uuid_length);
            // What 4096 entries of any collection cost, with the real ones:
            // measured at most 0.26 MiB, against 4 to 8 MiB when the count
            // sized the collection.
            if (CODEC_TEST_TRACKS_ALLOCATIONS) CHECK(allocated_since_reset() <= (std::size_t{1} << 20));
        }
    }
}

// ---------------------------------------------------------------------------
// Repeated keys

TEST_CASE("codec: repeated node text: the later one wins and the earlier is never parsed") {
    // The later update replaces the earlier whole: no field of it remains.
    const Bytes input = Builder()
                            .u64(3)
                            .uuid(node(1)).text("{\"label\":\"first\",\"red\":1}")
                            .uuid(node(1)).text("not JSON at all")
                            .uuid(node(1)).text("{\"green\":2}")
                            .raw(24, 0)
                            .out;
    auto decoded = decode(input);
    CHECK(decoded.ok());
    if (!decoded) return;
    const auto& nodes = decoded.value().new_or_updated_nodes();
    NodeUpdate expected;
    expected.green = 2;
    CHECK(nodes.size() == 1 && same_update(nodes.at(node(1)), expected));

    // The other way round the surviving text is the bad one.
    const Bytes reversed = Builder()
                               .u64(2)
                               .uuid(node(1)).text("{}")
                               .uuid(node(1)).text("not JSON at all")
                               .raw(24, 0)
                               .out;
    auto refused = decode(reversed);
    CHECK(!refused.ok() && refused.error().error == CodecError::invalid_node_update);
}

TEST_CASE("codec: repeated sources replace their whole inner map or set") {
    const Bytes input = Builder()
                            .u64(0)
                            .u64(3).uuid(node(9)).uuid(node(8)).uuid(node(9))  // set: 9 once
                            .u64(2)
                            .uuid(node(1)).u64(2).uuid(node(2)).weight(1.0f).uuid(node(3)).weight(2.0f)
                            .uuid(node(1)).u64(2).uuid(node(4)).weight(3.0f).uuid(node(4)).weight(4.0f)
                            .u64(2)
                            .uuid(node(5)).u64(1).uuid(node(6))
                            .uuid(node(5)).u64(3).uuid(node(7)).uuid(node(8)).uuid(node(7))
                            .out;
    auto decoded = decode(input);
    CHECK(decoded.ok());
    if (!decoded) return;
    const auto& diff = decoded.value();
    CHECK(diff.deleted_nodes() == UuidGraphDiff::NodeSet({node(8), node(9)}));

    const auto& pending = diff.edges().new_or_updated_edges;
    CHECK_EQ(pending.size(), std::size_t{1});
    CHECK_EQ(pending.at(node(1)).size(), std::size_t{1});
    CHECK_EQ(bits_of(pending.at(node(1)).at(node(4))), bits_of(4.0f));  // later weight wins

    const auto& deleted = diff.edges().deleted_edges;
    CHECK_EQ(deleted.size(), std::size_t{1});
    CHECK(deleted.at(node(5)) == UuidEdgeDiff::TargetSet({node(7), node(8)}));
}

// ---------------------------------------------------------------------------
// Weights and decoded content

TEST_CASE("codec: weights survive bit for bit, little-endian on the wire") {
    const std::uint32_t patterns[] = {
        0x7FC12345,  // quiet NaN with a payload
        0x7F800001,  // signalling NaN
        0xFFC00001,  // negative NaN
        0x7F800000,  // +inf
        0xFF800000,  // -inf
        0x80000000,  // -0
        0x00000001,  // smallest subnormal
        0x3F000000,  // 0.5
        0x12345678,  // distinct bytes catch a byte-order slip
    };
    for (std::uint32_t bits : patterns) {
        // Placed by the builder, not by add_edge, so no float value carries
        // the bits on their way in.
        const Bytes input =
            Builder().u64(0).u64(0).u64(1).uuid(node(1)).u64(1).uuid(node(2)).weight_bits(bits).u64(0).out;
        auto decoded = decode(input);
        CHECK(decoded.ok());
        if (!decoded) continue;
        const float& stored = decoded.value().edges().new_or_updated_edges.at(node(1)).at(node(2));
        CHECK_EQ(bits_of(stored), bits);
        CHECK(encode(decoded.value()) == input);
    }
}

TEST_CASE("codec: decoded diffs are taken as they are, not normalised") {
    const Bytes input = Builder()
                            .u64(1).uuid(node(1)).text(" \t{\"label\":\"x\"}\r\n")
                            .u64(2).uuid(node(1)).uuid(node(2))
                            .u64(2)
                            .uuid(node(2)).u64(1).uuid(node(1)).weight(1.0f)  // from a deleted node
                            .uuid(node(3)).u64(0)                             // empty map
                            .u64(2)
                            .uuid(node(2)).u64(1).uuid(node(1))  // also pending
                            .uuid(node(4)).u64(0)                // empty set
                            .out;
    auto decoded = decode(input);
    CHECK(decoded.ok());
    if (!decoded) return;
    const auto& diff = decoded.value();
    CHECK(diff.new_or_updated_nodes().count(node(1)) == 1);
    CHECK(diff.deleted_nodes().count(node(1)) == 1);
    CHECK_EQ(diff.node_count(), std::size_t{3});
    CHECK_EQ(diff.edge_count(), std::size_t{4});
    CHECK(diff.edges().new_or_updated_edges.at(node(3)).empty());
    CHECK(diff.edges().deleted_edges.at(node(4)).empty());
    CHECK(diff.edges().deleted_edges.at(node(2)).count(node(1)) == 1);
    CHECK(diff.new_or_updated_nodes().at(node(1)).label == OptionalText("x"));
}

TEST_CASE("codec: bytes after the fourth section are ignored") {
    Bytes input = worked_example;
    input.insert(input.end(), {'x', 'y', 'z', 0xFF});
    auto decoded = decode(input);
    CHECK(decoded.ok() && same_content(decoded.value(), worked_example_diff()));
    Bytes zeros(32, 0);
    zeros.push_back(0x01);
    auto empty = decode(zeros);
    CHECK(empty.ok() && empty.value().node_count() == 0);
}

// ---------------------------------------------------------------------------
// Random diffs

TEST_CASE("codec: random diffs round trip to equal content") {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 400; ++round) {
        const UuidGraphDiff diff = random_diff(rng, 60);
        const Bytes bytes = encode(diff);
        CHECK_EQ(std::uint64_t{bytes.size()}, formula_length(diff));
        auto decoded = decode(bytes);
        if (!decoded.ok()) {
            core_test::report(__FILE__, __LINE__, "round " + std::to_string(round) + ": " +
                                                       describe(decoded.error()));
            continue;
        }
        const UuidGraphDiff expected = as_carried_by_json(diff);
        CHECK(same_content(decoded.value(), expected));
        CHECK_EQ(decoded.value().node_count(), diff.node_count());
        CHECK_EQ(decoded.value().edge_count(), diff.edge_count());
        // Encoding again may reorder but never changes the length, except
        // where a non-finite size became absent ("size":null is 12 bytes).
        CHECK_EQ(encode(decoded.value()).size(), encode(expected).size());

        // A few cut points: a proper prefix of a valid encoding always runs
        // out of input, whatever the content.
        for (int k = 0; k < 3; ++k) {
            const std::size_t cut = rng() % bytes.size();
            auto truncated = decode(Bytes(bytes.begin(), bytes.begin() + cut));
            CHECK(!truncated.ok() && truncated.error().error == CodecError::end_of_input);
        }
    }
}

}  // namespace
