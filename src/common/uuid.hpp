// A node id: 16 bytes kept exactly as the caller gave them. Nothing in them is
// interpreted; they are compared and hashed as raw bytes.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/little_endian.hpp"

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

    // Byte order: the order of the keys a hash table keeps outside its slots.
    friend bool operator<(const Uuid& a, const Uuid& b) noexcept {
        return std::memcmp(a.bytes.data(), b.bytes.data(), 16) < 0;
    }
};

namespace uuid_detail {

inline void sip_round(std::uint64_t& v0, std::uint64_t& v1, std::uint64_t& v2, std::uint64_t& v3) noexcept {
    v0 += v1; v1 = std::rotl(v1, 13); v1 ^= v0; v0 = std::rotl(v0, 32);
    v2 += v3; v3 = std::rotl(v3, 16); v3 ^= v2;
    v0 += v3; v3 = std::rotl(v3, 21); v3 ^= v0;
    v2 += v1; v1 = std::rotl(v1, 17); v1 ^= v2; v2 = std::rotl(v2, 32);
}

// SipHash-1-3 of exactly two 64-bit words (a 16-byte message).
inline std::uint64_t siphash13_16(std::uint64_t k0, std::uint64_t k1, std::uint64_t m0,
                                  std::uint64_t m1) noexcept {
    std::uint64_t v0 = k0 ^ 0x736f6d6570736575ULL;
    std::uint64_t v1 = k1 ^ 0x646f72616e646f6dULL;
    std::uint64_t v2 = k0 ^ 0x6c7967656e657261ULL;
    std::uint64_t v3 = k1 ^ 0x7465646279746573ULL;
    for (std::uint64_t m : {m0, m1, std::uint64_t{16} << 56}) {
        v3 ^= m;
        sip_round(v0, v1, v2, v3);
        v0 ^= m;
    }
    v2 ^= 0xff;
    sip_round(v0, v1, v2, v3);
    sip_round(v0, v1, v2, v3);
    sip_round(v0, v1, v2, v3);
    return v0 ^ v1 ^ v2 ^ v3;
}

}  // namespace uuid_detail

// Hashes of the 16 raw bytes under fixed keys, deliberately with no
// per-process seed: the order of listings and encoded bytes must depend only
// on the keys and the sequence of operations, in every run and process.
//
// Without a secret a caller can choose ids that collide, and `primary` is
// even invertible. The hash tables therefore bound every probe sequence, and
// a table whose keys break that bound under `primary` switches to `strong`
// for good (see flat_table_core.hpp): SipHash-1-3 under constant keys,
// several times dearer, with no shortcut to collisions but trying ids one
// after another. Keys that collide even so go to an ordered structure.
struct UuidHash {
    // The words are read little-endian on every host, so that the hashes, and
    // with them the iteration order, do not depend on the host.
    std::uint64_t primary(const Uuid& id) const noexcept {
        std::uint64_t h = premix(load_le<std::uint64_t>(id.bytes.data()), load_le<std::uint64_t>(id.bytes.data() + 8));
        h ^= h >> 32;
        h *= 0xbf58476d1ce4e5b9ULL;
        h ^= h >> 29;
        h *= 0x94d049bb133111ebULL;
        h ^= h >> 32;
        return h;
    }

    // The primary hash's first step, of the two words, before its final
    // mixing (a bijection): ids with one premix share one primary hash.
    static constexpr std::uint64_t premix(std::uint64_t lo, std::uint64_t hi) noexcept {
        return ((lo ^ 0x243f6a8885a308d3ULL) * 0x9e3779b97f4a7c15ULL) ^ hi ^ 0x13198a2e03707344ULL;
    }

    // The premix inverted on the second word: the id whose first word is
    // `lo` and whose premix is `state`. Ids made with one `state` collide
    // under `primary`, as a hostile caller's would (for tests and benchmarks).
    static Uuid with_premix(std::uint64_t lo, std::uint64_t state) noexcept {
        Uuid id;
        store_le(store_le(id.bytes.data(), lo), premix(lo, 0) ^ state);
        return id;
    }

    std::uint64_t strong(const Uuid& id) const noexcept {
        return uuid_detail::siphash13_16(0xa4093822299f31d0ULL, 0x082efa98ec4e6c89ULL,
                                         load_le<std::uint64_t>(id.bytes.data()),
                                         load_le<std::uint64_t>(id.bytes.data() + 8));
    }

    // For the standard containers (benchmarks and tests compare against them).
    std::size_t operator()(const Uuid& id) const noexcept {
        return static_cast<std::size_t>(primary(id));
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
