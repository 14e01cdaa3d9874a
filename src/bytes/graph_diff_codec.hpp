// The byte string of a whole diff: four sections of little-endian counts,
// length-prefixed ids and texts, and float weights, with each node update as
// its JSON text. No header, no version, no checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/result.hpp"
#include "diff/graph_diff.hpp"
#include "node_update/node_update_json.hpp"

namespace tovra {

enum class CodecError {
    end_of_input,         // a field or entry runs past the end of the input
    size_out_of_range,    // a count or length of 2^32 or more
    bad_uuid_length,      // an id whose length field is not 16
    invalid_utf8,         // a node text that is not UTF-8
    invalid_node_update,  // a node text the JSON reader refused (see json)
    encode_failed,        // the encoder's own failure (no diff produces it)
};

struct CodecFailure {
    CodecError error;
    std::size_t offset;                // where in the input (decoder) it went wrong
    std::optional<JsonFailure> json;   // set for invalid_node_update
};

std::string describe(const CodecFailure& failure);

// What the encoder knows before it writes a byte: the node texts, rendered
// once, and the exact length of the output, so that the caller can allocate
// the destination (a Python bytes object) and have it filled in place.
class EncodePlan {
public:
    std::size_t size() const noexcept { return size_; }
    // Fills exactly size() bytes at `out`.
    void write(std::uint8_t* out) const noexcept;

private:
    friend Result<EncodePlan, CodecFailure> plan_encoding(const UuidGraphDiff& diff);
    EncodePlan(const UuidGraphDiff& diff) : diff_(&diff) {}

    // Room for `count` more bytes of text at the end of the arena.
    char* text_room(std::size_t count);

    const UuidGraphDiff* diff_;
    // Every node's JSON, back to back: one growing buffer instead of one
    // string per node, and never zero-filled ahead of the writing.
    std::unique_ptr<char[]> texts_;
    std::size_t texts_size_ = 0;
    std::size_t texts_capacity_ = 0;
    std::vector<std::size_t> text_ends_; // end offset of each text, node order
    std::size_t size_ = 0;
};

// The diff must outlive the plan and stay unchanged while it is used.
Result<EncodePlan, CodecFailure> plan_encoding(const UuidGraphDiff& diff);

Result<UuidGraphDiff, CodecFailure> bytes_to_graph_diff(std::span<const std::uint8_t> data);

}  // namespace tovra
