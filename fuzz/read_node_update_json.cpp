// Fuzz target: the node update JSON reader. The reader is only ever given
// valid UTF-8 (the byte decoder checks first), so it reads the input's longest
// valid prefix. A refused text fails at a position inside it; an accepted one
// holds valid UTF-8 texts, and written and read again gives an equal update
// (as far as JSON carries it), whose text is then a fixed point. On the input
// and on the written text alike, the shortcut for the writer's layout and the
// general reader agree (test_support::read_paths_disagreement).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovra;
    using namespace test_support;
    const std::string_view text(reinterpret_cast<const char*>(data), utf8_valid_prefix(data, size));
    FUZZ_REQUIRE(read_paths_disagreement(text).empty());
    auto first = node_update_from_json(text);
    if (!first) {
        FUZZ_REQUIRE(first.error().offset <= text.size());
        FUZZ_REQUIRE(!describe(first.error().error).empty());
        return 0;
    }
    const NodeUpdate& update = first.value();
    if (update.label) FUZZ_REQUIRE(valid_utf8(*update.label));
    if (update.url) FUZZ_REQUIRE(valid_utf8(*update.url));

    const std::string written = json_of(update);
    FUZZ_REQUIRE(valid_utf8(written));
    FUZZ_REQUIRE(read_paths_disagreement(written).empty());
    auto second = node_update_from_json(written);
    FUZZ_REQUIRE(second.ok());
    FUZZ_REQUIRE(same_update(second.value(), as_carried_by_json(update)));
    FUZZ_REQUIRE(json_of(second.value()) == json_of(as_carried_by_json(update)));
    return 0;
}
