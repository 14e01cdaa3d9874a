// What delete_node's two ways of finding the sources of a node cost, in one
// unit, so that the index of sources by target (sources_by_target.hpp) is
// built once the scans it replaces have cost what building it would.
//
// The unit is a tenth of a nanosecond on the machine the constants were
// measured on; only their ratios matter. bench/run_delete_node_sweep.sh
// measures them (its lines "scan: ... ns per source; build: ... ns per
// edge") on 1e6 random edges over 1e5 and over 1e6 ids; the constants are
// fitted to three runs of it (bench/delete_node_sweep.md):
//
//   - a scan visits every source and probes the targets of those whose
//     summary of targets may hold the node (inline_first.hpp), more of them
//     the more targets a source has: `scan_per_source` per source with
//     pending edges and `scan_per_edge` per pending edge;
//   - counting the edges (to price the build) walks the sources without
//     probing: `count_per_source`;
//   - building gathers, sorts and lays out every pending edge
//     (index_gathering.hpp): `build_per_edge` per edge and
//     `build_per_source` per source.
//
// The decision depends on these counts alone, never on a clock, so whether
// a diff has its index is a function of the ids and the operations.
#pragma once

#include <cstdint>

namespace tovra {

struct IndexCost {
    // Tenths of a nanosecond.
    static constexpr std::uint64_t scan_per_source = 168;
    static constexpr std::uint64_t scan_per_edge = 7;
    static constexpr std::uint64_t count_per_source = 150;
    static constexpr std::uint64_t build_per_source = 489;
    static constexpr std::uint64_t build_per_edge = 1290;

    static constexpr std::uint64_t scan(std::uint64_t sources, std::uint64_t edges) noexcept {
        return scan_per_source * sources + scan_per_edge * edges;
    }
    static constexpr std::uint64_t count(std::uint64_t sources) noexcept { return count_per_source * sources; }
    static constexpr std::uint64_t build(std::uint64_t sources, std::uint64_t edges) noexcept {
        return build_per_source * sources + build_per_edge * edges;
    }
};

}  // namespace tovra
