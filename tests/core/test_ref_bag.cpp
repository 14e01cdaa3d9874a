// The one-word set of sources per target against std::set, through every
// form it takes: none, one in place, an array, a table past 32, and back.
#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "check.hpp"
#include "tables/ref_bag.hpp"

using tovra::RefBag;

namespace {

std::set<std::uint64_t> contents(const RefBag& bag) {
    std::set<std::uint64_t> seen;
    bag.for_each([&](std::uint64_t ref) { seen.insert(ref); });
    return seen;
}

}  // namespace

TEST_CASE("ref bag: the same numbers as a set, through every form and back") {
    std::mt19937_64 rng(18);
    for (int round = 0; round < 40; ++round) {
        // Pools from a few numbers to well past the array's 32.
        const std::uint64_t pool = 2 + rng() % (round % 2 == 0 ? 6 : 90);
        RefBag bag;
        std::set<std::uint64_t> model;
        for (int step = 0; step < 600; ++step) {
            const std::uint64_t ref = (rng() % pool) * 0x9e3779b97f4a7c16ULL | 1;
            if (rng() % 100 < 55) {
                CHECK_EQ(bag.insert(ref), model.insert(ref).second);
            } else {
                CHECK_EQ(bag.erase(ref), model.erase(ref));
            }
            CHECK_EQ(bag.contains(ref), model.count(ref) == 1);
            CHECK_EQ(contents(bag).size(), model.size());
            CHECK_EQ(bag.empty(), model.empty());
            if (step % 50 == 0) {
                const RefBag copy(bag);
                CHECK(contents(copy) == model);
            }
        }
        CHECK(contents(bag) == model);
        // Emptied one at a time: a table or an array goes back to one in place.
        while (!model.empty()) {
            CHECK_EQ(bag.erase(*model.begin()), std::size_t{1});
            model.erase(model.begin());
            CHECK(contents(bag) == model);
        }
        CHECK(bag.empty());
    }
}

TEST_CASE("ref bag: gathered into a shared block, then changed like any other") {
    // Counts from one to past the array's 32, with repeats; the block is
    // filled with junk once the bags have grown or shrunk out of it, so a
    // bag still reading it, or one that freed it, shows.
    std::mt19937_64 rng(25);
    for (std::size_t count : {1, 2, 3, 7, 31, 32, 33, 80}) {
        for (int repeats = 0; repeats < 2; ++repeats) {
            std::vector<std::uint64_t> refs;
            for (std::size_t i = 0; i < count; ++i) {
                refs.push_back(repeats != 0 && i % 3 == 2 ? refs[i - 1] : (rng() | 1));
            }
            std::vector<std::uint64_t> block(RefBag::block_words(count) + 1, 0);
            RefBag bag = RefBag::gathered(count, [&](std::size_t i) { return refs[i]; }, block.data());
            std::set<std::uint64_t> model(refs.begin(), refs.end());
            CHECK(contents(bag) == model);
            // The order of first appearance, while an array.
            if (count <= 32) {
                std::vector<std::uint64_t> order;
                bag.for_each([&](std::uint64_t ref) { order.push_back(ref); });
                std::vector<std::uint64_t> first;
                for (std::uint64_t ref : refs) {
                    if (std::find(first.begin(), first.end(), ref) == first.end()) first.push_back(ref);
                }
                CHECK(order == first);
            }
            const RefBag copy(bag);
            // Grown past its room, then emptied to one: out of the block.
            for (int i = 0; i < 40; ++i) {
                const std::uint64_t more = rng() | 1;
                CHECK_EQ(bag.insert(more), model.insert(more).second);
            }
            CHECK(contents(bag) == model);
            std::fill(block.begin(), block.end(), 2);
            CHECK(contents(bag) == model);
            CHECK(contents(copy) == std::set<std::uint64_t>(refs.begin(), refs.end()));
            while (model.size() > 1) {
                CHECK_EQ(bag.erase(*model.begin()), std::size_t{1});
                model.erase(model.begin());
            }
            CHECK(contents(bag) == model);
        }
    }
    // All repeats of one: the number itself, no array.
    std::uint64_t block[40];
    const RefBag one = RefBag::gathered(40, [](std::size_t) { return std::uint64_t{7}; }, block);
    CHECK(contents(one) == std::set<std::uint64_t>{7});
}
