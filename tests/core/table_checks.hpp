// Checks of the tables' own rules from the tests: every table of a diff,
// and ids that collide in both hashes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "check.hpp"
#include "flat_table_diagnostics.hpp"
#include "test_support.hpp"

namespace test_support {

using tovra::TableInspector;

// The first rule the table keeps that is found broken, or nullptr. The full
// check is compiled only with assertions on; without, every table passes.
template <class Table>
const char* broken_rule([[maybe_unused]] const Table& table) {
#ifndef NDEBUG
    return TableInspector::check_invariants(table);
#else
    return nullptr;
#endif
}

// Reports the first broken rule, if any, at the caller's line; false then,
// so that a loop can stop at its first report.
template <class Table>
bool check_sound(const Table& table, const char* file, int line) {
    const char* rule = broken_rule(table);
    if (rule == nullptr) return true;
    core_test::report(file, line, std::string("table rule broken: ") + rule);
    return false;
}
#define CHECK_SOUND(table) test_support::check_sound((table), __FILE__, __LINE__)

// Every table of a diff, the inner ones included.
inline bool check_diff_sound(const UuidGraphDiff& diff, const char* file, int line) {
    bool sound = check_sound(diff.new_or_updated_nodes(), file, line) && check_sound(diff.deleted_nodes(), file, line) &&
                 check_sound(diff.edges().new_or_updated_edges, file, line) &&
                 check_sound(diff.edges().deleted_edges, file, line);
    for (const auto& source : diff.edges().new_or_updated_edges) sound = sound && check_sound(source.second, file, line);
    for (const auto& source : diff.edges().deleted_edges) sound = sound && check_sound(source.second, file, line);
    return sound;
}
#define CHECK_DIFF_SOUND(diff) test_support::check_diff_sound((diff), __FILE__, __LINE__)

// Ids that also agree in the top ten bits of the strong hash: one home slot
// in any table of up to 1024 slots. Found by trying first words.
inline std::vector<Uuid> ids_colliding_in_both_hashes(std::size_t count) {
    std::vector<Uuid> ids;
    for (std::uint64_t word = 0; ids.size() < count; ++word) {
        const Uuid id = colliding_id(word, 7);
        if ((tovra::UuidHash{}.strong(id) >> 54) == 0) ids.push_back(id);
    }
    return ids;
}

}  // namespace test_support
