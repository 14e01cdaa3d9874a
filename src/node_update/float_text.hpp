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

// The two ways the writer finds the shortest digits of a positive, finite,
// nonzero float: the value is 0.d1...dn x 10^point, n is returned and `digits`
// needs room for shortest_digits_room. The fast one returns 0 wherever it
// cannot be sure, and the writer then asks the library: here so that the
// fuzz target can hold the fast one to the library on every float.
inline constexpr int shortest_digits_room = 20;
int fast_shortest_digits(float value, char* digits, int& point) noexcept;
int library_shortest_digits(float value, char* digits, int& point) noexcept;

}  // namespace tovra
