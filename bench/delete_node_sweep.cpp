// k delete_node calls on a diff of random edges, k swept from 1 to 300: the
// module's choice of when to build its index of sources by target against
// the two fixed strategies on the same tables, built into this program with
// a build-time switch: scanning every source at every call, and building the
// index at the first call (its building counted). The ratio of the module to
// the cheaper of the two is the algorithm's, not the tables'. Also, where
// Boost 1.81 or newer is found, the same scan on Boost's flat tables (the
// same-work yardstick), for the pre-index scan's ratio; and the measured
// costs the module's decision is built on (a scan per source, a build per
// pending edge and per source), beside the constants it uses.
//
// Each repeat builds a fresh diff per subject (not timed) and times each of
// the k calls; a row's figure is the best over the repeats of the sum of its
// first k calls. The subjects take turns, in an order that rotates.
//
// Built and run by bench/run_delete_node_sweep.sh.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "diff/graph_diff.hpp"

#if __has_include(<boost/unordered/unordered_flat_map.hpp>)
#include "same_work/boost_tables.hpp"
#define TOVRA_SWEEP_BOOST 1
#endif

namespace {

using namespace tovra;
using bench::Clock;

struct ScanOnlyTables : UuidTables {
    static constexpr IndexBuild index_build = IndexBuild::never;
};
struct BuildFirstTables : UuidTables {
    static constexpr IndexBuild index_build = IndexBuild::at_first_call;
};

#ifdef TOVRA_SWEEP_BOOST
struct BoostScanOnlyTables : same_work::BoostTables {
    static constexpr IndexBuild index_build = IndexBuild::never;
};
#endif

struct Graph {
    std::vector<Uuid> pool;
    std::vector<std::pair<std::size_t, std::size_t>> edges;  // positions in the pool
    std::vector<Uuid> victims;
};

Graph random_graph(std::size_t edges, std::size_t ids, std::size_t victims, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    Graph g;
    g.pool.resize(ids);
    for (Uuid& id : g.pool) id = bench::random_id(rng);
    g.edges.resize(edges);
    for (auto& [a, b] : g.edges) {
        a = rng() % ids;
        b = rng() % ids;
    }
    std::vector<std::size_t> order(ids);
    for (std::size_t i = 0; i < ids; ++i) order[i] = i;
    for (std::size_t i = 0; i < victims && i < ids; ++i) std::swap(order[i], order[i + rng() % (ids - i)]);
    for (std::size_t i = 0; i < victims && i < ids; ++i) g.victims.push_back(g.pool[order[i]]);
    return g;
}

struct Run {
    std::vector<double> calls;  // seconds of each delete_node
    std::size_t sources = 0;
    bool indexed_at_end = false;
    std::size_t build_call = 0;  // the call after which the index first existed (0: never)
};

template <class Diff>
Run time_calls(const Graph& g, std::size_t calls) {
    Diff diff;
    for (const auto& [a, b] : g.edges) (void)diff.add_edge(g.pool[a], g.pool[b], 1.0f);
    Run run;
    run.sources = diff.edges().new_or_updated_edges.size();
    run.calls.reserve(calls);
    for (std::size_t i = 0; i < calls; ++i) {
        const auto start = Clock::now();
        diff.delete_node(g.victims[i]);
        const std::chrono::duration<double> took = Clock::now() - start;
        run.calls.push_back(took.count());
        if (run.build_call == 0 && diff.indexes_sources_by_target()) run.build_call = i + 1;
    }
    run.indexed_at_end = diff.indexes_sources_by_target();
    return run;
}

// The best over repeats of the sum of the first k calls, for every k.
struct Best {
    std::vector<double> prefix;
    void take(const Run& run) {
        double sum = 0;
        if (prefix.empty()) prefix.assign(run.calls.size(), 1e300);
        for (std::size_t k = 0; k < run.calls.size(); ++k) {
            sum += run.calls[k];
            prefix[k] = std::min(prefix[k], sum);
        }
    }
    double at(std::size_t k) const { return prefix[k - 1]; }
};

struct Subject {
    const char* name;
    std::function<Run(const Graph&, std::size_t)> run;
    std::size_t calls;
    Best best;
    Run last;
};

bool printed_k(std::size_t k, std::size_t build_call) {
    if (k <= 40) return true;
    if (build_call != 0 && k + 6 >= build_call && k <= build_call + 6) return true;
    if (k <= 100) return k % 5 == 0;
    return k % 25 == 0;
}

void sweep(std::size_t edges, std::size_t ids, std::size_t max_k, int repeats, std::size_t boost_k) {
    const Graph g = random_graph(edges, ids, max_k, 25 + ids);
    std::vector<Subject> subjects;
    subjects.push_back({"module", time_calls<UuidGraphDiff>, max_k, {}, {}});
    subjects.push_back({"scan", time_calls<GraphDiff<Uuid, NodeUpdate, float, ScanOnlyTables>>, max_k, {}, {}});
    subjects.push_back({"first", time_calls<GraphDiff<Uuid, NodeUpdate, float, BuildFirstTables>>, max_k, {}, {}});
#ifdef TOVRA_SWEEP_BOOST
    subjects.push_back({"boost scan", time_calls<GraphDiff<Uuid, NodeUpdate, float, BoostScanOnlyTables>>,
                        std::min(boost_k, max_k), {}, {}});
#else
    (void)boost_k;
#endif
    for (int r = 0; r < repeats; ++r) {
        for (std::size_t s = 0; s < subjects.size(); ++s) {
            Subject& subject = subjects[(s + r) % subjects.size()];
            subject.last = subject.run(g, subject.calls);
            subject.best.take(subject.last);
        }
    }
    const Subject& module = subjects[0];
    const Subject& scan = subjects[1];
    const Subject& first = subjects[2];
    const std::size_t sources = module.last.sources;
    std::printf("\n# %zu random edges over %zu ids: %zu sources, %.2f edges per source; best of %d\n", edges, ids,
                sources, double(edges) / double(sources), repeats);
    std::printf("the module built its index at call %zu\n", module.last.build_call);
    // What the decision rests on, as measured here: a scan's cost per source
    // (the scan-only subject's mean call), and the build's per pending edge
    // (the build-first subject's first call, less one indexed call).
    double scan_mean = 0;
    for (double t : scan.last.calls) scan_mean += t;
    scan_mean /= double(scan.last.calls.size());
    const double later = first.best.at(max_k) - first.best.at(1);
    const double indexed_call = max_k > 1 ? later / double(max_k - 1) : 0;
    const double build = first.best.at(1) - indexed_call;
    std::printf("scan: %.3f ms per call, %.1f ns per source; build: %.1f ms, %.1f ns per edge "
                "(%.1f scans); indexed call %.2f us\n",
                scan_mean * 1e3, scan_mean * 1e9 / double(sources), build * 1e3, build * 1e9 / double(edges),
                build / scan_mean, indexed_call * 1e6);
    std::printf("%5s %11s %11s %11s %9s", "k", "module ms", "scan ms", "first ms", "x cheaper");
    const bool boost = subjects.size() > 3;
    if (boost) std::printf(" %12s %9s", "boost scan", "scan/boost");
    std::printf("\n");
    double worst = 0;
    std::size_t worst_k = 0;
    for (std::size_t k = 1; k <= max_k; ++k) {
        const double cheaper = std::min(scan.best.at(k), first.best.at(k));
        const double ratio = module.best.at(k) / cheaper;
        if (ratio > worst) {
            worst = ratio;
            worst_k = k;
        }
        if (!printed_k(k, module.last.build_call)) continue;
        std::printf("%5zu %11.2f %11.2f %11.2f %9.2f", k, module.best.at(k) * 1e3, scan.best.at(k) * 1e3,
                    first.best.at(k) * 1e3, ratio);
        if (boost && k <= subjects[3].calls) {
            std::printf(" %12.2f %9.2f", subjects[3].best.at(k) * 1e3, scan.best.at(k) / subjects[3].best.at(k));
        }
        std::printf("\n");
    }
    std::printf("worst over k = 1..%zu: %.2f at k = %zu\n", max_k, worst, worst_k);
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t edges = 1000000;
    std::vector<std::size_t> ids = {100000, 1000000};
    std::size_t max_k = 300;
    std::size_t boost_k = 10;
    int repeats = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const char* value = argv[i + 1];
        if (flag == "--edges") {
            edges = std::strtoull(value, nullptr, 10);
        } else if (flag == "--ids") {
            ids.clear();
            for (const char* p = value; *p != '\0';) {
                char* end = nullptr;
                ids.push_back(std::strtoull(p, &end, 10));
                p = *end == ',' ? end + 1 : end;
            }
        } else if (flag == "--max-k") {
            max_k = std::strtoull(value, nullptr, 10);
        } else if (flag == "--boost-k") {
            boost_k = std::strtoull(value, nullptr, 10);
        } else if (flag == "--repeats") {
            repeats = std::atoi(value);
        } else {
            std::fprintf(stderr, "unknown flag %s\n", flag.c_str());
            return 2;
        }
    }
    std::printf("delete_node sweep: module against scanning every call and building at the first call\n");
#ifndef TOVRA_SWEEP_BOOST
    std::printf("(no Boost 1.81 headers: the yardstick's scan is left out)\n");
#endif
    for (std::size_t n : ids) sweep(edges, n, max_k, repeats, boost_k);
}
