#include "node_update/node_update.hpp"

#include <bit>

namespace tovra {

bool same_update(const NodeUpdate& a, const NodeUpdate& b) noexcept {
    // Sizes by their bits: == would call NaN unequal to itself and 0.0 equal
    // to -0.0, both wrong for "did the value survive unchanged".
    const bool same_size =
        a.size.has_value() == b.size.has_value() &&
        (!a.size || std::bit_cast<std::uint32_t>(*a.size) == std::bit_cast<std::uint32_t>(*b.size));
    return same_size && a.label == b.label && a.url == b.url && a.red == b.red &&
           a.green == b.green && a.blue == b.blue && a.show_label == b.show_label;
}

}  // namespace tovra
