// The display attributes of one node, every one optional (an absent field
// says nothing about that attribute; it never means "clear it"), and the
// table of its fields, the one place that names a field. The merge below,
// the dictionary conversions, the JSON writer and both JSON readers are
// written over the table, so a new field is a member and a table entry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

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
    NodeUpdate& operator+=(NodeUpdate source) noexcept;
    bool empty() const noexcept;
};

// What a field holds; each form reads and writes a kind one way (a member
// of another type than its kind's does not compile there).
enum class FieldKind {
    text,     // OptionalText: a str, a JSON string
    size,     // std::optional<float>: a real number, any JSON number
    channel,  // std::optional<std::uint8_t>: an integer 0..255, bare JSON digits
    flag,     // std::optional<bool>: True or False, true or false
};

template <auto Member, FieldKind Kind>
struct Field {
    static constexpr auto member = Member;
    static constexpr FieldKind kind = Kind;
    std::string_view dict_name;  // the key of the dictionary form
    std::string_view json_name;  // the member name of the JSON form
    std::size_t position;        // in the JSON form: the writer's order, the array form's index
};

// In the order of the dictionary form: the order of a listed update's keys,
// and the order in which a dict's keys are converted (so which refusal wins).
inline constexpr std::tuple node_update_fields{
    Field<&NodeUpdate::label, FieldKind::text>{"label", "label", 0},
    Field<&NodeUpdate::url, FieldKind::text>{"url", "url", 2},
    Field<&NodeUpdate::size, FieldKind::size>{"size", "size", 1},
    Field<&NodeUpdate::red, FieldKind::channel>{"red", "red", 3},
    Field<&NodeUpdate::green, FieldKind::channel>{"green", "green", 4},
    Field<&NodeUpdate::blue, FieldKind::channel>{"blue", "blue", 5},
    Field<&NodeUpdate::show_label, FieldKind::flag>{"show_label", "showLabel", 6},
};

inline constexpr std::size_t field_count = std::tuple_size_v<decltype(node_update_fields)>;

template <std::size_t I>
inline constexpr auto field_at = std::get<I>(node_update_fields);

// The table index of the field at each place of the JSON form; the build
// fails unless the positions are 0 to field_count - 1, each once.
inline constexpr std::array<std::size_t, field_count> field_at_position = [] {
    std::array<std::size_t, field_count> at{};
    at.fill(field_count);
    [&]<std::size_t... I>(std::index_sequence<I...>) { ((at.at(field_at<I>.position) = I), ...); }(
        std::make_index_sequence<field_count>{});
    for (const std::size_t field : at) static_cast<void>(at.at(field));  // throws, so fails the build, if unset
    return at;
}();

// Whether `visit(index)` holds for every field in table order, stopping at a false.
template <class Visit>
constexpr bool all_fields(Visit&& visit) {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        return (visit(std::integral_constant<std::size_t, I>{}) && ...);
    }(std::make_index_sequence<field_count>{});
}

// `visit(index)` for each field, `index` a std::integral_constant so that
// `field_at<index>` is a constant; in table order, or in the JSON form's.
template <class Visit>
constexpr void for_each_field(Visit&& visit) {
    all_fields([&](auto index) { return visit(index), true; });
}

template <class Visit>
constexpr void for_each_json_field(Visit&& visit) {
    [&]<std::size_t... P>(std::index_sequence<P...>) {
        (visit(std::integral_constant<std::size_t, field_at_position[P]>{}), ...);
    }(std::make_index_sequence<field_count>{});
}

inline NodeUpdate& NodeUpdate::operator+=(NodeUpdate source) noexcept {
    for_each_field([&](auto index) {
        constexpr auto member = field_at<index>.member;
        if (source.*member) this->*member = std::move(source.*member);
    });
    return *this;
}

inline bool NodeUpdate::empty() const noexcept {
    return all_fields([&](auto index) { return !(this->*field_at<index>.member); });
}

}  // namespace tovra
