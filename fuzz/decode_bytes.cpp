// Fuzz target: the byte decoder. Any input either fails with a position inside
// the input, or decodes to a diff that encodes at the length its content
// dictates and decodes again to an equal diff (as far as the JSON form carries
// a node update: a size that is not a finite number comes back absent).
#include <cstddef>
#include <cstdint>
#include <span>

#include "bytes/graph_diff_codec.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovra;
    using namespace test_support;
    auto first = bytes_to_graph_diff(std::span<const std::uint8_t>(data, size));
    if (!first) {
        FUZZ_REQUIRE(first.error().offset <= size);
        FUZZ_REQUIRE(!describe(first.error()).empty());
        return 0;
    }
    const UuidGraphDiff& decoded = first.value();
    for (const auto& entry : decoded.new_or_updated_nodes()) {
        if (entry.second.label) FUZZ_REQUIRE(valid_utf8(*entry.second.label));
        if (entry.second.url) FUZZ_REQUIRE(valid_utf8(*entry.second.url));
    }

    auto bytes = bytes_of(decoded);
    FUZZ_REQUIRE(bytes.ok());
    auto second = bytes_to_graph_diff(bytes.value());
    FUZZ_REQUIRE(second.ok());
    const UuidGraphDiff expected = as_carried_by_json(decoded);
    FUZZ_REQUIRE(same_content(second.value(), expected));
    FUZZ_REQUIRE(second.value().node_count() == decoded.node_count());
    FUZZ_REQUIRE(second.value().edge_count() == decoded.edge_count());

    // Once carried, the content is a fixed point: its bytes have its length.
    auto again = bytes_of(second.value());
    auto expected_bytes = bytes_of(expected);
    FUZZ_REQUIRE(again.ok() && expected_bytes.ok());
    FUZZ_REQUIRE(again.value().size() == expected_bytes.value().size());
    return 0;
}
