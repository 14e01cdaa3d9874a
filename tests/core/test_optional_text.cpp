// The 16-byte optional text of node updates: texts on both sides of the
// in-place limit, bytes that a C string would cut, and every way of copying,
// moving and replacing one, each checked against std::optional<std::string>.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.hpp"
#include "node_update/node_update.hpp"
#include "node_update/optional_text.hpp"

namespace {

using tovra::OptionalText;
using namespace std::string_literals;

bool same(const OptionalText& text, const std::optional<std::string>& model) {
    if (text.has_value() != model.has_value()) return false;
    return !model || *text == std::string_view(*model);
}

std::vector<std::optional<std::string>> samples() {
    std::vector<std::optional<std::string>> out = {std::nullopt, ""s, "a"s, "\0"s, "x\0y"s};
    // Around the in-place limit of 15 bytes, and well past it.
    for (std::size_t size : {14u, 15u, 16u, 17u, 100u}) {
        std::string text(size, 'q');
        text[size / 2] = '\0';
        text.back() = 'z';
        out.emplace_back(text);
    }
    return out;
}

}  // namespace

TEST_CASE("optional text: holds what it was given, absent apart from empty") {
    for (const auto& model : samples()) {
        const OptionalText text = model ? OptionalText(std::string_view(*model)) : OptionalText();
        CHECK(same(text, model));
        CHECK_EQ(static_cast<bool>(text), model.has_value());
    }
    CHECK(OptionalText("") != OptionalText());
    CHECK(OptionalText(std::string(20, 'a')) != OptionalText(std::string(21, 'a')));
    CHECK(OptionalText(std::string(20, 'a')) == OptionalText(std::string(20, 'a')));
    CHECK(OptionalText("ab") != OptionalText("ac"));
}

TEST_CASE("optional text: copies, moves and assignments between every pair of states") {
    for (const auto& from : samples()) {
        for (const auto& to : samples()) {
            const OptionalText source = from ? OptionalText(*from) : OptionalText();

            OptionalText copied(source);
            CHECK(same(copied, from) && same(source, from));

            OptionalText assigned = to ? OptionalText(*to) : OptionalText();
            assigned = source;
            CHECK(same(assigned, from) && same(source, from));

            OptionalText moved_from(source);
            OptionalText moved_to = to ? OptionalText(*to) : OptionalText();
            moved_to = std::move(moved_from);
            CHECK(same(moved_to, from));
            CHECK(!moved_from.has_value());

            OptionalText constructed(std::move(moved_to));
            CHECK(same(constructed, from) && !moved_to.has_value());

            OptionalText self(source);
            const OptionalText& alias = self;
            self = alias;
            CHECK(same(self, from));

            self = std::nullopt;
            CHECK(!self.has_value());
        }
    }
}

TEST_CASE("optional text: a merge moves texts and keeps what the source does not state") {
    tovra::NodeUpdate target;
    target.label = std::string(40, 'L');
    target.url = "short";
    tovra::NodeUpdate source;
    source.url = std::string(30, 'U');
    target += std::move(source);
    CHECK(*target.label == std::string(40, 'L'));
    CHECK(*target.url == std::string(30, 'U'));
    CHECK(!source.url.has_value());
}
