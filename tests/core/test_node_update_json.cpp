// The JSON text of a node update: exact writer output, the reader's
// acceptances and refusals, deep nesting, and write-then-read round trips.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "check.hpp"
#include "exact_rounding.hpp"
#include "node_update/json_number.hpp"
#include "node_update/node_update.hpp"
#include "node_update/node_update_json.hpp"
#include "test_support.hpp"

// Updates are spelled with designated initializers naming only the stated
// fields; g++ 12 warns about every field left to its default there, which is
// exactly the point of an optional field.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace std::literals;
using tovra::JsonError;
using tovra::NodeUpdate;
using test_support::json_of;

namespace {

constexpr float infinity = std::numeric_limits<float>::infinity();
constexpr float quiet_nan = std::numeric_limits<float>::quiet_NaN();

std::string shown(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, 80)) {
        if (static_cast<unsigned char>(c) < 0x20) {
            out += '<';
            out += std::to_string(static_cast<int>(c));
            out += '>';
        } else {
            out += c;
        }
    }
    return text.size() > 80 ? out + "..." : out;
}

struct Accepted {
    std::string_view text;
    NodeUpdate expected;
};

struct Refused {
    std::string_view text;
    JsonError error;
};

void check_row(const Accepted& row, int line) {
    const auto read = tovra::node_update_from_json(row.text);
    if (!read.ok()) {
        core_test::report(__FILE__, line, "refused " + shown(row.text) + ": " + std::string(describe(read.error().error)));
    } else if (!test_support::same_update(read.value(), row.expected)) {
        core_test::report(__FILE__, line, "read " + shown(row.text) + " as " + json_of(read.value()));
    }
}

void check_row(const Refused& row, int line) {
    const auto read = tovra::node_update_from_json(row.text);
    if (read.ok()) {
        core_test::report(__FILE__, line, "accepted " + shown(row.text));
    } else if (read.error().error != row.error) {
        core_test::report(__FILE__, line,
                          "refused " + shown(row.text) + " as \"" + std::string(describe(read.error().error)) +
                              "\", not \"" + std::string(describe(row.error)) + "\"");
    }
}

#define CHECK_ROWS(rows) \
    for (const auto& row : rows) check_row(row, __LINE__)

void check_written(const NodeUpdate& update, std::string_view expected, int line) {
    const std::string got = json_of(update);
    if (got != expected) core_test::report(__FILE__, line, "expected " + shown(expected) + ", wrote " + shown(got));
}

NodeUpdate hub() {
    return {.label = "Hub", .size = 2.5f, .url = "u", .red = 255, .green = 0, .blue = 16, .show_label = true};
}

}  // namespace

TEST_CASE("json writer: members, order and values") {
    const struct {
        NodeUpdate update;
        std::string_view text;
    } rows[] = {
        {{}, "{}"},
        {{.label = "A"}, R"({"label":"A"})"},
        {hub(), R"({"label":"Hub","size":2.5,"url":"u","red":255,"green":0,"blue":16,"showLabel":true})"},
        {{.show_label = false}, R"({"showLabel":false})"},
        {{.label = ""}, R"({"label":""})"},
        {{.url = "x", .blue = 9}, R"({"url":"x","blue":9})"},
        {{.size = -0.0f, .red = 99, .green = 100}, R"({"size":-0.0,"red":99,"green":100})"},
        // JSON has no non-finite numbers: the member stays, with null.
        {{.size = quiet_nan}, R"({"size":null})"},
        {{.size = -infinity, .red = 1}, R"({"size":null,"red":1})"},
    };
    for (const auto& row : rows) check_written(row.update, row.text, __LINE__);
}

TEST_CASE("json writer: string escaping") {
    const std::string_view rows[][2] = {
        {"\"", R"(\")"},        {"\\", R"(\\)"},        {"\b", R"(\b)"},        {"\t", R"(\t)"},
        {"\n", R"(\n)"},        {"\f", R"(\f)"},        {"\r", R"(\r)"},        {"\0"sv, R"(\u0000)"},
        {"\x01", R"(\u0001)"},  {"\x0b", R"(\u000b)"},  {"\x1a", R"(\u001a)"},  {"\x1f", R"(\u001f)"},
        // Nothing else: solidus, DEL and non-ASCII stay raw.
        {"/", "/"}, {"\x7f", "\x7f"}, {"\xc3\xa9", "\xc3\xa9"}, {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
    };
    for (const auto& row : rows) {
        // Built by appending: g++ 12 warns falsely about "a" + std::string.
        std::string label = "a";
        label.append(row[0]).append("b");
        std::string json = R"({"label":"a)";
        json.append(row[1]).append(R"(b"})");
        check_written({.label = label}, json, __LINE__);
    }
    for (char c = 0x20; c < 0x7F; ++c) {
        if (c != '"' && c != '\\') check_written({.url = std::string(1, c)}, R"({"url":")" + std::string(1, c) + "\"}", __LINE__);
    }
}

TEST_CASE("json reader: accepted forms") {
    const Accepted rows[] = {
        {"{}", {}},
        {"[null,null,null,null,null,null,null]", {}},
        {R"({"label":"Hub","size":2.5,"url":"u","red":255,"green":0,"blue":16,"showLabel":true})", hub()},
        {R"(["Hub",2.5,"u",255,0,16,true])", hub()},
        {R"({"showLabel":false,"red":0,"label":null,"size":null})", {.red = 0, .show_label = false}},
        // Unknown members are skipped, may repeat, and may hold anything.
        {R"({"show_label":true,"Label":"x","labels":1})", {}},
        {R"({"x":1,"x":[{}],"y":{"a":[1,-2.5e-3,"s",true,false,null,{}]},"red":3})", {.red = 3}},
        // Names compare after their escapes are decoded.
        {R"({"\u006cabel":"x"})", {.label = "x"}},
        {" \t\n\r{ \"label\" :\t\"a\" ,\r\n\"x\" : [ 1 , { } ] , \"red\" : 1 }\n ", {.label = "a", .red = 1}},
        // Escapes, surrogate pairs in either case, raw UTF-8 and DEL.
        {R"({"label":"\"\\\/\b\f\n\r\t\u0041\u00e9\u00E9"})", {.label = "\"\\/\b\f\n\r\tA\xc3\xa9\xc3\xa9"}},
        {R"({"label":"\ud83d\ude00","url":"\uDBFF\uDFFF\u0000"})",
         {.label = "\xf0\x9f\x98\x80", .url = "\xf4\x8f\xbf\xbf\0"s}},
        {"{\"label\":\"\xc3\xa9\x7f\"}", {.label = "\xc3\xa9\x7f"}},
        // Inside skipped values only the form of an escape counts.
        {R"({"x":["\udc00\ud800",{"\udfff":"\ud800x"}]})", {}},
        {R"({"red":0,"green":7,"blue":255})", {.red = 0, .green = 7, .blue = 255}},
    };
    CHECK_ROWS(rows);
}

TEST_CASE("json reader: refusals") {
    const Refused rows[] = {
        {"", JsonError::empty_text}, {" \t\r\n", JsonError::empty_text},
        {"\f{}", JsonError::unexpected_character},  // form feed is no JSON whitespace
        {"{} x", JsonError::trailing_text}, {"{}{}", JsonError::trailing_text},
        {"null", JsonError::not_a_node_update}, {"1", JsonError::not_a_node_update},
        {R"("a")", JsonError::not_a_node_update},
        {"{", JsonError::unexpected_end}, {R"({"label":"a")", JsonError::unexpected_end},
        {R"({"label":"a",})", JsonError::unexpected_character}, {"{,}", JsonError::unexpected_character},
        {R"({"label" "a"})", JsonError::unexpected_character}, {R"({label:"a"})", JsonError::unexpected_character},
        {R"({"red":1 "blue":2})", JsonError::unexpected_character},
        {"[]", JsonError::wrong_array_length}, {"[null,2.5]", JsonError::wrong_array_length},
        {"[null,null,null,null,null,null,null,null]", JsonError::wrong_array_length},
        {R"({"showLabel":true,"showLabel":false})", JsonError::duplicate_member},
        {R"({"label":null,"label":"x"})", JsonError::duplicate_member},
        {R"({"label":"a","\u006cabel":"b"})", JsonError::duplicate_member},
        {R"({"label":1})", JsonError::wrong_value_kind}, {R"({"url":["a"]})", JsonError::wrong_value_kind},
        {R"({"size":"1"})", JsonError::wrong_value_kind}, {R"({"showLabel":1})", JsonError::wrong_value_kind},
        {R"({"red":"1"})", JsonError::wrong_value_kind}, {R"([null,null,null,null,null,null,0])", JsonError::wrong_value_kind},
        // Channels take bare digits only.
        {R"({"red":256})", JsonError::channel_out_of_range}, {R"({"red":-1})", JsonError::channel_out_of_range},
        {R"({"red":-0})", JsonError::channel_out_of_range}, {R"({"red":1.0})", JsonError::channel_out_of_range},
        {R"({"red":1e2})", JsonError::channel_out_of_range},
        {R"({"red":99999999999999999999999})", JsonError::channel_out_of_range},
        {R"({"red":01})", JsonError::invalid_number},
        // Skipped values are still held to the grammar.
        {R"({"x":[1,]})", JsonError::unexpected_character}, {R"({"x":{"a":1,}})", JsonError::unexpected_character},
        {R"({"x":{1:2}})", JsonError::unexpected_character}, {R"({"x":[}})", JsonError::unexpected_character},
        {R"({"x":tru})", JsonError::unexpected_character}, {R"({"x":nulll})", JsonError::unexpected_character},
        {R"({"x":.5})", JsonError::unexpected_character}, {R"({"x":+1})", JsonError::unexpected_character},
        {R"({"x":01})", JsonError::invalid_number}, {R"({"x":1.})", JsonError::invalid_number},
        {R"({"x":-})", JsonError::invalid_number}, {R"({"x":1e+})", JsonError::invalid_number},
        {R"({"x":[)", JsonError::unexpected_end},
        // Strings.
        {"{\"x\":\"a\x1f\"}", JsonError::control_character}, {"{\"label\":\"\t\"}", JsonError::control_character},
        {"{\"x\":\"\0\"}"sv, JsonError::control_character},
        {R"({"x":"\x41"})", JsonError::invalid_escape}, {R"({"x":"\U0041"})", JsonError::invalid_escape},
        {R"({"x":"\u12G4"})", JsonError::invalid_escape}, {R"({"x":"\u)", JsonError::unexpected_end},
        {R"({"label":"\ud800"})", JsonError::unpaired_surrogate}, {R"({"url":"\udc00"})", JsonError::unpaired_surrogate},
        {R"({"label":"\ud800\u0041"})", JsonError::unpaired_surrogate},
        {R"({"label":"\ud800\n"})", JsonError::unpaired_surrogate},
        {R"({"\ud800":1})", JsonError::unpaired_surrogate},
    };
    CHECK_ROWS(rows);

    // Where it went wrong: the second "red", the backslash, the number.
    const auto offset = [](std::string_view text) {
        const auto read = tovra::node_update_from_json(text);
        return read.ok() ? std::string_view::npos : read.error().offset;
    };
    CHECK_EQ(offset(R"({"red":1,"red":2})"), std::size_t{9});
    CHECK_EQ(offset(R"({"label":"ab\q"})"), std::size_t{12});
    CHECK_EQ(offset(R"({"size":1e400})"), std::size_t{8});
}

TEST_CASE("json reader: where containers, literals and escapes go wrong") {
    const struct {
        std::string_view text;
        JsonError error;
        std::size_t offset;
    } rows[] = {
        // An array of other than seven elements: at its closing bracket, or
        // at the eighth element.
        {"[]", JsonError::wrong_array_length, 1}, {"[ \n]", JsonError::wrong_array_length, 3},
        {"[null,2.5 ]", JsonError::wrong_array_length, 10},
        {"[null,null,null,null,null,null,null,null]", JsonError::wrong_array_length, 36},
        // After a member or an element: the token that is neither comma nor closer.
        {R"({"red":1 "blue":2})", JsonError::unexpected_character, 9},
        {R"({"label":"a",})", JsonError::unexpected_character, 13},
        {R"({"x":[1,]})", JsonError::unexpected_character, 8},
        {R"({"x":{"a":1,}})", JsonError::unexpected_character, 12},
        {R"({"x" 1})", JsonError::unexpected_character, 5},
        {R"({"x":[{},[]] 1})", JsonError::unexpected_character, 13},
        {"{", JsonError::unexpected_end, 1}, {R"({"x":[)", JsonError::unexpected_end, 6},
        {R"({"x":[1 )", JsonError::unexpected_end, 8},
        {R"({"x":tru})", JsonError::unexpected_character, 8}, {R"({"x":nul)", JsonError::unexpected_end, 8},
        {R"({"x":"\q"})", JsonError::invalid_escape, 6}, {R"({"label":"a\/\q"})", JsonError::invalid_escape, 13},
        {R"({"label":"a","\u006cabel":"b"})", JsonError::duplicate_member, 13},
    };
    for (const auto& row : rows) {
        const auto read = tovra::node_update_from_json(row.text);
        CHECK(!read.ok());
        if (!read.ok()) {
            CHECK_EQ(static_cast<int>(read.error().error), static_cast<int>(row.error));
            CHECK_EQ(read.error().offset, row.offset);
        }
    }
}

TEST_CASE("json reader: size literals") {
    const struct {
        std::string_view literal;
        float expected;
    } rows[] = {
        {"1", 1.0f}, {"-0", -0.0f}, {"-0.0", -0.0f}, {"-0e5", -0.0f}, {"0e99999", 0.0f}, {"1E+2", 100.0f},
        {"25e-1", 2.5f}, {"0.1", 0.1f},
        {"16777217", 16777216.0f},  // a tie between floats goes to the even one
        // 2^60 + 2^36 + 1 sits just above the midpoint of two floats. As an
        // integer it is rounded once and goes up; with a fraction it goes
        // through the nearest double, which is the midpoint, and to even.
        {"1152921573326323713", 0x1.000002p60f}, {"-1152921573326323713", -0x1.000002p60f},
        {"1152921573326323713.0", 0x1p60f},
        {"9223372586610589697", 0x1.000002p63f},  // 2^63 + 2^39 + 1: unsigned only
        {"18446744073709551615", 0x1p64f}, {"-9223372036854775808", -0x1p63f},
        // Past 19 digits or 10^22 the direct conversion is taken, which keeps
        // the writer's texts exact: via a double this one lands on a midpoint.
        {"7.038531e-26", std::bit_cast<float>(0x15ae43fdu)},
        {"123456789012345678901234567890", 123456789012345678901234567890.0f},
        // Beyond the float range but within a double: infinity of the sign;
        // below a double's: zero of the sign.
        {"1e39", infinity}, {"-1e39", -infinity}, {"3.4028236e38", infinity},
        {"3.40282356e38", std::numeric_limits<float>::max()},  // just below the rounding midpoint
        {"1e-400", 0.0f}, {"-1e-400", -0.0f}, {"-1e-46", -0.0f}, {"1e-99999999999999999999", 0.0f},
    };
    for (const auto& row : rows) {
        const auto read = tovra::node_update_from_json("{\"size\":" + std::string(row.literal) + "}");
        if (!read.ok() || !read.value().size ||
            std::bit_cast<std::uint32_t>(*read.value().size) != std::bit_cast<std::uint32_t>(row.expected)) {
            core_test::report(__FILE__, __LINE__, "size " + std::string(row.literal));
        }
    }
    const Refused refused[] = {
        {R"({"size":1e400})", JsonError::number_overflow}, {R"({"size":-1e400})", JsonError::number_overflow},
        {R"({"size":0.0001e313})", JsonError::number_overflow},
        {R"({"size":1e99999999999999999999})", JsonError::number_overflow},
        {R"({"size":NaN})", JsonError::unexpected_character}, {R"({"size":-Infinity})", JsonError::invalid_number},
    };
    CHECK_ROWS(refused);
    check_row(Refused{"{\"size\":1" + std::string(400, '0') + "}", JsonError::number_overflow}, __LINE__);
    check_row(Accepted{"{\"size\":0." + std::string(400, '0') + "1}", {.size = 0.0f}}, __LINE__);
}

TEST_CASE("json reader: nesting a million deep in a skipped value") {
    constexpr std::size_t depth = 1000000;
    std::string objects = "{\"x\":";
    std::string mixed = "{\"x\":";
    for (std::size_t i = 0; i < depth; ++i) objects += "{\"a\":";
    for (std::size_t i = 0; i < depth / 2; ++i) mixed += "[ {\"a\" : ";
    objects += "null" + std::string(depth, '}') + "}";
    mixed += "1";
    for (std::size_t i = 0; i < depth / 2; ++i) mixed += "} , 2 ]";
    mixed += "}";
    const std::string open(depth, '[');
    const std::string close(depth, ']');

    check_row(Accepted{"{\"x\":" + open + close + ",\"red\":1}", {.red = 1}}, __LINE__);
    check_row(Accepted{objects, {}}, __LINE__);
    check_row(Accepted{mixed, {}}, __LINE__);
    check_row(Refused{"{\"x\":" + open, JsonError::unexpected_end}, __LINE__);
    check_row(Refused{"{\"x\":" + open + close.substr(1) + "}", JsonError::unexpected_character}, __LINE__);
}

namespace {

// A small deterministic generator, so a failure can be replayed.
struct SplitMix {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    bool coin() { return next() & 1; }
};

// Valid UTF-8 pieces, weighted towards what needs escaping.
std::string random_text(SplitMix& rng) {
    static constexpr std::string_view pieces[] = {
        "a", "Z", " ", "\"", "\\", "/", "\x7f", "\0"sv, "\x01", "\b", "\t", "\n", "\x0b", "\f", "\r", "\x1f",
        "\xc3\xa9", "\xe2\x82\xac", "\xef\xbf\xbf", "\xf0\x9f\x98\x80", "\xf4\x8f\xbf\xbf", "\\u0041",
    };
    std::string text;
    for (auto n = rng.next() % 10; n > 0; --n) text += pieces[rng.next() % std::size(pieces)];
    return text;
}

}  // namespace

TEST_CASE("json round trip: written updates read back equal") {
    SplitMix rng{20240601};
    int failed = 0;
    for (int i = 0; i < 20000 && failed < 10; ++i) {
        NodeUpdate update;
        if (rng.coin()) update.label = random_text(rng);
        if (rng.coin()) update.size = std::bit_cast<float>(static_cast<std::uint32_t>(rng.next()));
        if (rng.coin()) update.url = random_text(rng);
        if (rng.coin()) update.red = static_cast<std::uint8_t>(rng.next());
        if (rng.coin()) update.green = static_cast<std::uint8_t>(rng.next());
        if (rng.coin()) update.blue = static_cast<std::uint8_t>(rng.next());
        if (rng.coin()) update.show_label = rng.coin();

        // A non-finite size is written as null and comes back absent.
        NodeUpdate expected = update;
        if (expected.size && !std::isfinite(*expected.size)) expected.size.reset();
        const int before = core_test::failures();
        check_row(Accepted{json_of(update), expected}, __LINE__);
        if (core_test::failures() != before) ++failed;
    }
}

TEST_CASE("json node update: same_update compares sizes by their bits") {
    CHECK(test_support::same_update(NodeUpdate{.size = quiet_nan}, NodeUpdate{.size = quiet_nan}));
    CHECK(!test_support::same_update(NodeUpdate{.size = 0.0f}, NodeUpdate{.size = -0.0f}));
    CHECK(!test_support::same_update(NodeUpdate{.size = 0.0f}, NodeUpdate{}));
    CHECK(!test_support::same_update(NodeUpdate{.label = ""}, NodeUpdate{}));
    CHECK(!test_support::same_update(NodeUpdate{.blue = 0}, NodeUpdate{.green = 0}));
    CHECK(!test_support::same_update(hub(), NodeUpdate{.label = "Hub", .size = 2.5f, .url = "u", .red = 255, .green = 0,
                                                .blue = 16, .show_label = false}));
    CHECK(test_support::same_update(hub(), hub()));
}

namespace {

void check_both_paths(const std::string& text, int line) {
    const std::string_view disagreement = test_support::read_paths_disagreement(text);
    if (!disagreement.empty()) {
        core_test::report(__FILE__, line, "paths disagree on " + std::string(disagreement) + " for " + shown(text));
    }
}

}  // namespace

TEST_CASE("json reader: the writer's layout reads as the general reader reads it") {
    const char* const texts[] = {
        "{}", R"({"label":"node 1"})", R"({"label":""})", R"({"label":"caf\u00e9"})", R"({"label":"a\"b"})",
        "{\"label\":\"tab\there\"}", R"({"label":"é ü"})", R"({"label":"x","size":1.5})",
        R"({"size":null})", R"({"size":null,"red":1})",
        R"({"label":"a","size":2.5,"url":"http://x","red":0,"green":10,"blue":255,"showLabel":true})",
        R"({"showLabel":false})", R"({"showLabel":nul})", R"({"red":256})", R"({"red":00})", R"({"red":-1})",
        R"({"red":1.0})", R"({"blue":1000})", R"({"green":99})",
        // Out of order, repeated, unknown, cut short, trailing bytes.
        R"({"size":1.0,"label":"a"})", R"({"label":"a","label":"b"})", R"({"other":1})", R"({"label":"a")",
        R"({"label":"a"} )", R"({"label":"a"}x)", R"({"label":"a",})", R"({"label":"a" ,"size":1.0})", "{",
        R"({"label)",
        // Size literals: integer and fraction forms, signs, exponents,
        // zeros, and the edges of the shortcut's range.
        R"({"size":0})", R"({"size":-0})", R"({"size":0.0})", R"({"size":-0.0})", R"({"size":0e5})",
        R"({"size":01})", R"({"size":1.})", R"({"size":.5})", R"({"size":-})", R"({"size":1e})",
        R"({"size":1e+})", R"({"size":+1})", R"({"size":16777217})", R"({"size":-16777217})",
        R"({"size":9223372036854775807})", R"({"size":-9223372036854775808})",
        R"({"size":-9223372036854775809})",
        // 2^63 + 2^39 + 1: one above a midpoint between two floats, which a
        // detour through double would round onto the midpoint.
        R"({"size":9223372586610589697})", R"({"size":-9223372586610589697})", R"({"size":9999999999999999999})",
        R"({"size":-9999999999999999999})", R"({"size":18446744073709551615})",
        R"({"size":123456789012345678901})", R"({"size":0.1})", R"({"size":0.3})", R"({"size":1.0E2})",
        R"({"size":1e22})", R"({"size":1e23})", R"({"size":1e-22})", R"({"size":1e-23})",
        R"({"size":9007199254740993e-22})", R"({"size":9007199254740992e-22})",
        R"({"size":1.234567890123456789})", R"({"size":12345678901234567.89})", R"({"size":3.4028235e38})",
        R"({"size":3.4028236e38})", R"({"size":1e39})", R"({"size":1e-46})", R"({"size":7.038531e-26})",
        R"({"size":100000000000000000000.0e-10})", R"({"size":0.00000000000000000000000001e30})",
        R"({"size":1e999})", R"({"size":1e1000})", R"({"size":2.5e-7})", R"({"size":1.00000005960464477539})",
    };
    for (const char* text : texts) check_both_paths(text, __LINE__);

    // Every size text the writer produces for a spread of floats.
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (int i = 0; i < 20000; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const auto bits = static_cast<std::uint32_t>(state >> 32);
        const float size = std::bit_cast<float>(bits);
        const float scaled = static_cast<float>(static_cast<double>(state >> 40) / (1 << 24) * 10);
        for (const float value : {size, scaled}) {
            check_both_paths(json_of(NodeUpdate{.label = "node", .size = value}), __LINE__);
        }
    }
}

// Both readers convert a size with decimal_to_float. What it must give is
// worked out here from the rules of docs/format.md ("Reading a size"), each
// value rounded exactly from the literal's full ratio (exact_rounding.hpp),
// never through a library conversion or the code's own constants.
namespace {

using exact::binary32;
using exact::binary64;
using exact::Natural;

float nearest_float(const Natural& numerator, const Natural& denominator, bool negative) {
    return exact::float_of(exact::round_ratio(numerator, denominator, binary32), negative);
}

// size.pinned's two roundings, the first to a double.
float through_the_double(const exact::Decimal& d) {
    Natural numerator, denominator;
    exact::ratio_of(d, numerator, denominator);
    exact::round_ratio(numerator, denominator, binary64).as_ratio(numerator, denominator);
    return nearest_float(numerator, denominator, d.negative);
}

// size.direct's one rounding; nullopt for size.overflow's refusal.
std::optional<float> directly(const exact::Decimal& d) {
    const float zero = d.negative ? -0.0f : 0.0f;
    const long long magnitude = static_cast<long long>(d.digits.size()) + d.exponent;  // |value| < 10^magnitude
    if (magnitude > 400) return std::nullopt;  // at least 10^399, far past the bound
    if (magnitude < -400) return zero;         // below 10^-400, far below 2^-150
    Natural numerator, denominator;
    exact::ratio_of(d, numerator, denominator);
    Natural bound = exact::power_of_two(1024);
    bound.subtract(exact::power_of_two(970));
    if (exact::compare(numerator, exact::multiply(denominator, bound)) >= 0) return std::nullopt;
    return nearest_float(numerator, denominator, d.negative);
}

std::optional<float> size_by_the_format(std::string_view literal) {
    const exact::Decimal d = exact::decimal_of(literal);
    const long long n = static_cast<long long>(d.digits.size());
    if (d.integer && n + d.exponent <= 20) {  // size.integer: below 2^64, at most 2^63 when negative
        Natural magnitude, one;
        exact::ratio_of(d, magnitude, one);
        const int against = exact::compare(magnitude, exact::power_of_two(d.negative ? 63 : 64));
        if (d.negative ? against <= 0 : against < 0) return nearest_float(magnitude, one, d.negative);
    }
    if (d.digits.empty()) return d.negative ? -0.0f : 0.0f;  // size.zero
    if (n <= 19 && d.exponent >= -22 && d.exponent <= 22) return through_the_double(d);  // size.pinned
    return directly(d);  // size.direct, or size.overflow's refusal
}

void check_size(std::string_view literal, int line) {
    tovra::NumberSpan span;
    tovra::JsonFailure failure;
    if (!tovra::scan_json_number(literal, 0, span, failure) || span.end != literal.size()) {
        core_test::report(__FILE__, line, "grammar refused " + std::string(literal));
        return;
    }
    float read = 0.0f;
    const bool read_ok = tovra::decimal_to_float(literal, span, read);
    const std::optional<float> rule = size_by_the_format(literal);
    const bool same = read_ok == rule.has_value() &&
                      (!read_ok || std::bit_cast<std::uint32_t>(read) == std::bit_cast<std::uint32_t>(*rule));
    if (!same) core_test::report(__FILE__, line, "decimal_to_float breaks the format's rules for " + std::string(literal));
}

}  // namespace

TEST_CASE("json numbers: each edge of size.pinned, where its two roundings and one differ") {
    // Each literal lies so near a midpoint between two floats that its
    // nearest double is that midpoint: read through the double it goes to the
    // even float, read directly to the other side. So a rule applied one
    // digit or one power of ten too far shows on it. (Found by an exact
    // search over such midpoints.)
    const struct {
        const char* literal;
        bool pinned;
    } edges[] = {
        {"9223372586610589697.0", true},      // 19 digits
        {"9223372586610589696.1", false},     // 20 digits
        {"-9223372586610589697", true},       // past 2^63: no size.integer when negative
        {"12270935390425995e22", true},       // E = 22
        {"881354007276112e23", false},        // E = 23
        {"3876618138747289777e-22", true},    // E = -22
        {"457400005871022586e-23", false},    // E = -23
    };
    for (const auto& edge : edges) {
        const exact::Decimal d = exact::decimal_of(edge.literal);
        const float pinned = through_the_double(d);
        const std::optional<float> direct = directly(d);
        CHECK(direct && std::bit_cast<std::uint32_t>(pinned) != std::bit_cast<std::uint32_t>(*direct));
        const std::optional<float> rule = size_by_the_format(edge.literal);
        CHECK(rule && std::bit_cast<std::uint32_t>(*rule) == std::bit_cast<std::uint32_t>(edge.pinned ? pinned : *direct));
        check_size(edge.literal, __LINE__);
    }
    // The range's edges, in size.direct: 2^128 - 2^103 (the float overflow
    // threshold) and the double bound 2^1024 - 2^970, exactly and one less.
    const std::string float_threshold = "340282356779733661637539395458142568448";
    const std::string double_bound =
        "179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017"
        "977587207096330286416692887910946555547851940402630657488671505820681908902000708383676273"
        "854845817711531764475730270069855571366959622842914819860834936475292719074168444365510704"
        "342711559699508093042880177904174497792";
    const auto less_one = [](std::string digits) {
        std::size_t i = digits.size() - 1;
        while (digits[i] == '0') digits[i--] = '9';
        --digits[i];
        return digits;
    };
    for (const std::string& literal : {float_threshold, less_one(float_threshold), double_bound, less_one(double_bound),
                                       "-" + double_bound, "-" + less_one(double_bound)}) {
        check_size(literal, __LINE__);
    }
    CHECK(!size_by_the_format(double_bound));
    CHECK(size_by_the_format(less_one(double_bound)) == std::numeric_limits<float>::infinity());
    CHECK(size_by_the_format(less_one(float_threshold)) == std::numeric_limits<float>::max());
    CHECK(size_by_the_format(float_threshold) == std::numeric_limits<float>::infinity());
}

TEST_CASE("json numbers: decimal_to_float follows the format's rules on chosen and random literals") {
    // Integers around 2^63 and 2^64 that lie one above a midpoint between two
    // floats, where a detour through double lands on the midpoint; a size
    // whose double lies exactly between two floats; a deep underflow.
    const char* const chosen[] = {"9223372586610589697", "-9223372586610589697", "18446745173221179393",
                                  "-18446745173221179393", "9007199254740993e-22", "7.038531e-26",
                                  "1e400", "-1e-400", "0.000e999", "100000000000000000000.0e-10"};
    std::mt19937_64 rng(20);
    std::string literal;
    for (int i = 0; i < 300000; ++i) {
        literal.clear();
        if (i < static_cast<int>(std::size(chosen))) {
            literal = chosen[i];
        } else {
            if (rng() % 2) literal += '-';
            const int digits = 1 + static_cast<int>(rng() % 24);
            const int point = static_cast<int>(rng() % (digits + 2));  // past the last digit: none
            for (int d = 0; d < digits; ++d) {
                if (d == point && d > 0) literal += '.';
                // Mostly small digits and zeros, so that trailing zeros and
                // short mantissas are common.
                const bool leading = d == 0 && digits > 1;
                literal += static_cast<char>('0' + (leading ? 1 + rng() % 9 : rng() % 4 == 0 ? 0 : rng() % 10));
            }
            if (rng() % 3 == 0) literal += "e" + std::to_string(static_cast<int>(rng() % 90) - 45);
        }
        check_size(literal, __LINE__);
    }
}
