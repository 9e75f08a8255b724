// What each export costs beside the platform calls it makes: every export on its success path
// against its floor (export_cases.cpp), on the virtual board with nothing recorded or echoed.
//
//   export_bench [benchmark flags]   times each export and its floor; prints the ratios
//   export_bench --check [-v]        exact and repeatable: the floor makes the export's platform
//                                    calls and debug lines, and the library allocates what it
//                                    should per call; exit 1 otherwise (a CTest test runs it);
//                                    -v shows each export's trace
//   export_bench --callgrind [n]     under valgrind --tool=callgrind --collect-atstart=no:
//                                    collects n calls of each side and dumps them one by one,
//                                    for bench/callgrind-table
#include <stdio.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#define CALLGRIND_DUMP_STATS_AT(name) ((void)(name))
#define RUNNING_ON_VALGRIND 0
#endif

#include "counting_allocator.h"
#include "export_cases.h"
#include "vboard/vboard.h"

namespace {

struct SideRun {
    std::vector<std::string> trace;
    std::vector<std::string> debug;
    std::vector<std::string> misuses;
};

SideRun recordOneCall(const Side& side) {
    prepareBoard(true);
    side.setup();
    vboard::clearTrace();
    vboard::clearDebug();
    side.call();
    SideRun run{vboard::traceLines(), vboard::debugLines(), {}};
    side.teardown();
    run.misuses = vboard::misuses();
    return run;
}

void printDifference(const char* what, const std::vector<std::string>& exported,
                     const std::vector<std::string>& floor) {
    printf("  %s: the export's %zu lines, the floor's %zu\n", what, exported.size(), floor.size());
    for (size_t i = 0; i < exported.size() || i < floor.size(); ++i) {
        const std::string a = i < exported.size() ? exported[i] : "";
        const std::string b = i < floor.size() ? floor[i] : "";
        printf("  %c export %s\n    floor  %s\n", a == b ? ' ' : '!', a.c_str(), b.c_str());
    }
}

// Library allocations over `calls` calls of the export, each after its predecessor's `after`.
uint64_t allocationsPerCall(const ExportCase& c, int calls) {
    prepareBoard(false);
    c.exportSide.setup();
    uint64_t counted = 0;
    for (int i = 0; i < calls; ++i) {
        const uint64_t before = libraryAllocationCount();
        c.exportSide.call();
        counted += libraryAllocationCount() - before;
        c.exportSide.after();
    }
    c.exportSide.teardown();
    return counted / static_cast<uint64_t>(calls);
}

int check(bool verbose) {
    size_t count = 0;
    const ExportCase* cases = exportCases(&count);
    int failures = 0;
    for (size_t i = 0; i < count; ++i) {
        const ExportCase& c = cases[i];
        const SideRun exported = recordOneCall(c.exportSide);
        const SideRun floor = recordOneCall(c.floorSide);
        const uint64_t allocations = allocationsPerCall(c, 4);
        const bool same = exported.trace == floor.trace && exported.debug == floor.debug;
        const bool clean = exported.misuses.empty() && floor.misuses.empty();
        const bool allocationsRight = allocations == c.allocations;
        printf("%-4s %-24s %3zu platform calls, %2zu debug lines, %llu allocations a call\n",
               same && clean && allocationsRight ? "ok" : "FAIL", c.name, exported.trace.size(),
               exported.debug.size(), static_cast<unsigned long long>(allocations));
        if (verbose)
            for (const std::string& line : exported.trace) printf("     %s\n", line.c_str());
        if (!same) {
            printDifference("trace", exported.trace, floor.trace);
            printDifference("debug", exported.debug, floor.debug);
        }
        for (const std::string& misuse : exported.misuses) printf("  export misuse: %s\n", misuse.c_str());
        for (const std::string& misuse : floor.misuses) printf("  floor misuse: %s\n", misuse.c_str());
        if (!allocationsRight)
            printf("  expected %llu allocations a call\n",
                   static_cast<unsigned long long>(c.allocations));
        if (!(same && clean && allocationsRight)) ++failures;
    }
    printf("%zu exports, %d failed\n", count, failures);
    return failures == 0 ? 0 : 1;
}

// Collects `calls` calls of one side, its setup and `after` left out, and dumps them as one part.
void collectSide(const ExportCase& c, const Side& side, const char* kind, int calls) {
    prepareBoard(false);
    side.setup();
    // A first call outside the count: lazy binding and first-use work are no part of a call.
    side.call();
    side.after();
    for (int i = 0; i < calls; ++i) {
        CALLGRIND_TOGGLE_COLLECT;
        side.call();
        CALLGRIND_TOGGLE_COLLECT;
        side.after();
    }
    const std::string part = std::string(c.name) + " " + kind + " " + std::to_string(calls);
    CALLGRIND_DUMP_STATS_AT(part.c_str());
    side.teardown();
}

int collect(int calls) {
    if (!RUNNING_ON_VALGRIND) {
        fprintf(stderr, "export_bench --callgrind runs under valgrind --tool=callgrind "
                        "--collect-atstart=no (see bench/callgrind-table)\n");
        return 2;
    }
    size_t count = 0;
    const ExportCase* cases = exportCases(&count);
    for (size_t i = 0; i < count; ++i) {
        collectSide(cases[i], cases[i].exportSide, "export", calls);
        collectSide(cases[i], cases[i].floorSide, "floor", calls);
    }
    return 0;
}

void timeSide(benchmark::State& state, const ExportCase* c, bool floor) {
    const Side& side = floor ? c->floorSide : c->exportSide;
    prepareBoard(false);
    side.setup();
    side.call();
    side.after();
    const uint64_t before = libraryAllocationCount();
    for (auto _ : state) {
        side.call();
        side.after();
    }
    state.counters["allocs"] = benchmark::Counter(
        static_cast<double>(libraryAllocationCount() - before), benchmark::Counter::kAvgIterations);
    side.teardown();
}

// Keeps each benchmark's CPU time a call, to print the ratios once all have run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
                times[run.run_name.function_name] = run.GetAdjustedCPUTime();
    }
    std::map<std::string, double> times;
};

int timeAll(int argc, char** argv) {
    size_t count = 0;
    const ExportCase* cases = exportCases(&count);
    for (size_t i = 0; i < count; ++i) {
        const ExportCase* c = &cases[i];
        benchmark::RegisterBenchmark((std::string(c->name) + "/export").c_str(), timeSide, c, false);
        benchmark::RegisterBenchmark((std::string(c->name) + "/floor").c_str(), timeSide, c, true);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printf("\n%-24s %12s %12s %7s  %s\n", "export", "export ns", "floor ns", "ratio",
           "timed loop");
    for (size_t i = 0; i < count; ++i) {
        const ExportCase& c = cases[i];
        const auto exported = reporter.times.find(std::string(c.name) + "/export");
        const auto floor = reporter.times.find(std::string(c.name) + "/floor");
        if (exported == reporter.times.end() || floor == reporter.times.end()) continue;
        printf("%-24s %12.0f %12.0f %7.2f  %s\n", c.name, exported->second, floor->second,
               exported->second / floor->second, c.note);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!startCountingLibraryAllocations()) {
        fprintf(stderr, "export_bench: libTarvik.so's code was not found in the process\n");
        return 2;
    }
    if (argc > 1 && strcmp(argv[1], "--check") == 0) return check(argc > 2 && strcmp(argv[2], "-v") == 0);
    if (argc > 1 && strcmp(argv[1], "--callgrind") == 0) return collect(argc > 2 ? atoi(argv[2]) : 20);
    return timeAll(argc, argv);
}
