// A text that may be absent, in 16 bytes: a text of up to 15 bytes is kept in
// place, a longer one in a heap block of its own. Node updates hold two
// texts, and the node table holds updates by value, so this sets the size of
// a node's slot (std::optional<std::string> takes 40 bytes). A text is set as
// a whole and read as a view; moving one copies its 16 bytes and leaves the
// source absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace tovra {

class OptionalText {
public:
    OptionalText() noexcept { raw_[tag_at] = absent_tag; }
    OptionalText(std::nullopt_t) noexcept : OptionalText() {}
    OptionalText(std::string_view text) { set(text); }
    OptionalText(const char* text) : OptionalText(std::string_view(text)) {}
    OptionalText(const std::string& text) : OptionalText(std::string_view(text)) {}

    OptionalText(const OptionalText& other) : OptionalText() {
        if (other) set(*other);
    }
    OptionalText(OptionalText&& other) noexcept {
        std::memcpy(raw_, other.raw_, sizeof raw_);
        other.raw_[tag_at] = absent_tag;
    }
    OptionalText& operator=(const OptionalText& other) { return *this = OptionalText(other); }
    OptionalText& operator=(OptionalText&& other) noexcept {
        if (this != &other) {
            release();
            std::memcpy(raw_, other.raw_, sizeof raw_);
            other.raw_[tag_at] = absent_tag;
        }
        return *this;
    }
    ~OptionalText() { release(); }

    bool has_value() const noexcept { return raw_[tag_at] != absent_tag; }
    explicit operator bool() const noexcept { return has_value(); }

    // The text; only for one that is present.
    std::string_view operator*() const noexcept {
        if (on_heap()) return {heap_data(), heap_size()};
        return {reinterpret_cast<const char*>(raw_), raw_[tag_at]};
    }

    // As `*this = text`, written in place: no temporary to copy in, whose
    // byte-wise stores a 16-byte load right after would have to wait for.
    void assign(std::string_view text) {
        release();
        set(text);
    }

    // Absent equals absent; present texts compare byte for byte.
    friend bool operator==(const OptionalText& a, const OptionalText& b) noexcept {
        if (a.has_value() != b.has_value()) return false;
        return !a.has_value() || *a == *b;
    }

private:
    // raw_[15] says what the rest holds: a text of raw_[15] bytes in place
    // (0 to 15), or the address of a heap block (raw_[0..8)) and its length
    // (raw_[8..15), little-endian), or nothing.
    static constexpr std::size_t tag_at = 15;
    static constexpr std::size_t in_place = 15;
    static constexpr unsigned char heap_tag = 0xFE;
    static constexpr unsigned char absent_tag = 0xFF;
    static_assert(sizeof(char*) <= 8);

    bool on_heap() const noexcept { return raw_[tag_at] == heap_tag; }

    const char* heap_data() const noexcept {
        const char* data;
        std::memcpy(&data, raw_, sizeof data);
        return data;
    }

    std::size_t heap_size() const noexcept {
        std::uint64_t size = 0;
        for (std::size_t i = 0; i < 7; ++i) size |= std::uint64_t{raw_[8 + i]} << (8 * i);
        return static_cast<std::size_t>(size);
    }

    // Leaves the object absent if the allocation throws.
    void set(std::string_view text) {
        raw_[tag_at] = absent_tag;
        if (text.size() <= in_place) {
            if (!text.empty()) std::memcpy(raw_, text.data(), text.size());
            raw_[tag_at] = static_cast<unsigned char>(text.size());
            return;
        }
        char* data = static_cast<char*>(::operator new(text.size()));
        std::memcpy(data, text.data(), text.size());
        std::memcpy(raw_, &data, sizeof data);
        const auto size = static_cast<std::uint64_t>(text.size());
        for (std::size_t i = 0; i < 7; ++i) raw_[8 + i] = static_cast<unsigned char>(size >> (8 * i));
        raw_[tag_at] = heap_tag;
    }

    void release() noexcept {
        if (on_heap()) ::operator delete(const_cast<char*>(heap_data()));
    }

    alignas(8) unsigned char raw_[16];
};

static_assert(sizeof(OptionalText) == 16);

}  // namespace tovra
