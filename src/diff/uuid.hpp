// A node id: 16 bytes kept exactly as the caller gave them. Nothing in them is
// interpreted; they are compared and hashed as raw bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tovra {

struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    static Uuid from_raw(const void* data) noexcept {
        Uuid id;
        std::memcpy(id.bytes.data(), data, 16);
        return id;
    }

    friend bool operator==(const Uuid& a, const Uuid& b) noexcept {
        return std::memcmp(a.bytes.data(), b.bytes.data(), 16) == 0;
    }
};

// Hash of the 16 raw bytes under fixed keys. There is deliberately no
// per-process seed: iteration order of every collection, and so the order of
// listings and encoded bytes, must depend only on the keys and the sequence of
// operations, identical in every run and process.
struct UuidHash {
    std::size_t operator()(const Uuid& id) const noexcept {
        std::uint64_t lo;
        std::uint64_t hi;
        std::memcpy(&lo, id.bytes.data(), 8);
        std::memcpy(&hi, id.bytes.data() + 8, 8);
        std::uint64_t h = (lo ^ 0x243f6a8885a308d3ULL) * 0x9e3779b97f4a7c15ULL;
        h ^= hi ^ 0x13198a2e03707344ULL;
        h ^= h >> 32;
        h *= 0xbf58476d1ce4e5b9ULL;
        h ^= h >> 29;
        h *= 0x94d049bb133111ebULL;
        h ^= h >> 32;
        return static_cast<std::size_t>(h);
    }
};

// The 36-character lowercase text form, 8-4-4-4-12, byte 0 first. `out` must
// have room for 36 characters; nothing else is written.
inline void write_uuid_text(const Uuid& id, char* out) noexcept {
    static constexpr char digits[] = "0123456789abcdef";
    std::size_t pos = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out[pos++] = '-';
        out[pos++] = digits[id.bytes[i] >> 4];
        out[pos++] = digits[id.bytes[i] & 0x0f];
    }
}

}  // namespace tovra
