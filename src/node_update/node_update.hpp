// The display attributes of one node, every one optional. An absent field says
// nothing about that attribute; it never means "clear it".
#pragma once

#include <cstdint>
#include <optional>

#include "node_update/optional_text.hpp"

namespace tovra {

struct NodeUpdate {
    OptionalText label;
    std::optional<float> size;
    OptionalText url;
    std::optional<std::uint8_t> red;
    std::optional<std::uint8_t> green;
    std::optional<std::uint8_t> blue;
    std::optional<bool> show_label;

    // Field by field, a stated value in `source` wins; an absent one leaves
    // the target alone. Texts are moved, so merging allocates nothing.
    NodeUpdate& operator+=(NodeUpdate source) noexcept {
        if (source.label) label = std::move(source.label);
        if (source.size) size = source.size;
        if (source.url) url = std::move(source.url);
        if (source.red) red = source.red;
        if (source.green) green = source.green;
        if (source.blue) blue = source.blue;
        if (source.show_label) show_label = source.show_label;
        return *this;
    }

    bool empty() const noexcept {
        return !label && !size && !url && !red && !green && !blue && !show_label;
    }
};

// Equality with sizes compared bit for bit, so NaN equals the same NaN and
// 0.0 differs from -0.0: what a round trip must preserve.
bool same_update(const NodeUpdate& a, const NodeUpdate& b) noexcept;

}  // namespace tovra
