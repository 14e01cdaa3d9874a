// The number text of a finite float: the shortest digits that read back as
// the same float, laid out as plain decimal or with an exponent.
#pragma once

#include <cstddef>

namespace tovra {

// Longest text the writer can produce ("-1.17549435e-38" and the like).
inline constexpr std::size_t max_float_text_length = 24;

// Writes the text of a finite `value` to `out` (room for
// max_float_text_length characters) and returns its length.
std::size_t write_float_text(float value, char* out) noexcept;

}  // namespace tovra
