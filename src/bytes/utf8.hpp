// Strict UTF-8 checking of node texts before they reach the JSON reader: the
// reader, and every string that ends up in a node update, may then assume
// well-formed text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tovra {

// Number of leading bytes of `data` that form well-formed UTF-8 sequences:
// `size` when all are, otherwise the offset of the first that is not.
// Well-formed means the shortest encoding of a scalar value up to U+10FFFF:
// no overlong forms, no surrogates (U+D800..U+DFFF), no stray continuation
// bytes, no sequence cut short by the end of the input.
std::size_t utf8_valid_prefix(const std::uint8_t* data, std::size_t size) noexcept;

}  // namespace tovra
