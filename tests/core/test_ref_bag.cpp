// The one-word set of sources per target against std::set, through every
// form it takes: none, one in place, an array, a table past 32, and back.
#include <cstdint>
#include <random>
#include <set>

#include "check.hpp"
#include "diff/ref_bag.hpp"

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
