// Little-endian fields at any alignment, whatever the host's byte order: the
// byte format, and the hashes that fix iteration order, must not depend on
// the host. The bytes are moved with memcpy, which g++ and clang turn into
// one load or store on a little-endian host; g++ 12 leaves a loop of shifted
// bytes as one access per byte.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tovra {

template <class Unsigned>
inline Unsigned host_to_little_endian(Unsigned value) noexcept {
    static_assert(std::is_unsigned_v<Unsigned>);
    if constexpr (std::endian::native == std::endian::big) {
        Unsigned swapped = 0;
        for (std::size_t i = 0; i < sizeof value; ++i) {
            swapped = static_cast<Unsigned>((swapped << 8) | ((value >> (8 * i)) & 0xff));
        }
        value = swapped;
    }
    return value;
}

template <class Unsigned>
inline Unsigned load_le(const std::uint8_t* in) noexcept {
    Unsigned value;
    std::memcpy(&value, in, sizeof value);
    return host_to_little_endian(value);  // the swap is its own inverse
}

// Returns the end of what was written.
template <class Unsigned>
inline std::uint8_t* store_le(std::uint8_t* out, Unsigned value) noexcept {
    value = host_to_little_endian(value);
    std::memcpy(out, &value, sizeof value);
    return out + sizeof value;
}

}  // namespace tovra
