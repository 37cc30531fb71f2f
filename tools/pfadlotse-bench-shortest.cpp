// pfadlotse-bench-shortest: the shortest path over the corner points (FindShortestPath) against
// the first form of it (FindShortestPathByScan, every waypoint at every expansion) on large
// generated scenes, in one run: times, peak memory, and whether the answers are the same.

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/shortest_path_baseline.h"
#include "tools/peak_memory.h"
#include "tools/scene_families.h"

namespace {

const char* const HELP =
    "usage: pfadlotse-bench-shortest [--quick] [--walls N,N,...] [--family NAME]\n"
    "                                [--baseline-ms MS] [--seed S]\n"
    "\n"
    "Times the shortest path over the corner points (as pfadlotse-solve --optimal finds it)\n"
    "against its first form, which looks at every waypoint at every expansion, on generated\n"
    "scenes of about N walls: random-dense (as pfadlotse-bench makes them) and grid-maze (the\n"
    "cells chosen for about N walls). One run each, the baseline first; each row gives the\n"
    "wall-clock and the processor time of each (on a busy machine the second is the steadier),\n"
    "whether both found the same path (length and points, bit for bit, after as many\n"
    "expansions) and the process's peak memory during each run.\n"
    "\n"
    "  --quick          10,000 walls only\n"
    "  --walls LIST     wall counts, comma-separated (default 10000,100000,1000000)\n"
    "  --family NAME    random-dense or grid-maze only (default both)\n"
    "  --baseline-ms MS the baseline's time budget per scene (default 30000; 0: skip it)\n"
    "  --seed S         the scenes' seed (default 1)\n";

struct Options {
    std::vector<int32_t> walls{10000, 100000, 1000000};
    std::vector<std::string> families{"random-dense", "grid-maze"};
    int64_t baselineMs = 30000;
    uint32_t seed = 1;
};

bool ParseCount(const std::string& text, int64_t low, int64_t high, int64_t* value) {
    char* end = nullptr;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

// 0 to go on, else the exit status.
int ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "pfadlotse-bench-shortest: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(HELP, stdout);
            return -1;
        } else if (arg == "--quick") {
            options->walls = {10000};
        } else if (arg == "--walls") {
            const char* list = value("--walls");
            if (!list) return 2;
            options->walls.clear();
            std::string text = list;
            size_t from = 0;
            while (from <= text.size()) {
                size_t comma = text.find(',', from);
                if (comma == std::string::npos) comma = text.size();
                int64_t count;
                if (!ParseCount(text.substr(from, comma - from), 1, 1000000, &count)) {
                    std::fprintf(stderr,
                                 "pfadlotse-bench-shortest: --walls wants counts from 1 to "
                                 "1000000, comma-separated: %s\n",
                                 list);
                    return 2;
                }
                options->walls.push_back(static_cast<int32_t>(count));
                from = comma + 1;
            }
        } else if (arg == "--family") {
            const char* name = value("--family");
            if (!name) return 2;
            if (std::strcmp(name, "random-dense") != 0 && std::strcmp(name, "grid-maze") != 0) {
                std::fprintf(stderr,
                             "pfadlotse-bench-shortest: --family is random-dense or grid-maze, "
                             "not %s\n",
                             name);
                return 2;
            }
            options->families = {name};
        } else if (arg == "--baseline-ms") {
            const char* text = value("--baseline-ms");
            if (!text) return 2;
            if (!ParseCount(text, 0, 86400000, &options->baselineMs)) {
                std::fprintf(stderr, "pfadlotse-bench-shortest: bad --baseline-ms: %s\n", text);
                return 2;
            }
        } else if (arg == "--seed") {
            const char* text = value("--seed");
            if (!text) return 2;
            int64_t seed;
            if (!ParseCount(text, 0, UINT32_MAX, &seed)) {
                std::fprintf(stderr, "pfadlotse-bench-shortest: bad --seed: %s\n", text);
                return 2;
            }
            options->seed = static_cast<uint32_t>(seed);
        } else {
            std::fprintf(stderr, "pfadlotse-bench-shortest: unknown option %s (see --help)\n",
                         arg.c_str());
            return 2;
        }
    }
    return 0;
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string a, b, c;
    if (!(file >> a >> b >> c)) return "unknown";
    return a + " " + b + " " + c;
}

struct Run {
    ShortestPath path;
    double ms = 0;
    double cpuMs = 0;  // processor time of the process: what a busy machine does not stretch
    double peakMb = 0;
};

template <class Find>
Run Measure(Find&& find) {
    Run run;
    ResetPeakMemory();
    auto t0 = std::chrono::steady_clock::now();
    std::clock_t c0 = std::clock();
    run.path = find();
    run.cpuMs = static_cast<double>(std::clock() - c0) * 1000.0 / CLOCKS_PER_SEC;
    run.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    run.peakMb = PeakMemoryMb();
    return run;
}

bool SamePath(const ShortestPath& a, const ShortestPath& b) {
    return a.status == b.status && std::memcmp(&a.length, &b.length, sizeof a.length) == 0 &&
           a.points.size() == b.points.size() &&
           (a.points.empty() ||
            std::memcmp(a.points.data(), b.points.data(), a.points.size() * sizeof(Vec2)) == 0);
}

const char* StatusText(int32_t status) {
    return status == SHORTEST_FOUND ? "found" : status == SHORTEST_NONE ? "none" : "not finished";
}

FamilyScene SceneOfAbout(const std::string& family, int32_t walls, uint32_t seed) {
    FamilyScene scene;
    if (family == "grid-maze") {
        // A maze of c cells a side has about 0.87 c^2 walls.
        auto cells = static_cast<int32_t>(std::lround(std::sqrt(walls / 0.87)));
        MakeFamilyScene(family, std::max(cells, 2), seed, &scene);
    } else {
        MakeFamilyScene(family, walls, seed, &scene);
    }
    return scene;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int parsed = ParseOptions(argc, argv, &options);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;

    std::printf("load average at start: %s\n\n", LoadAverage().c_str());
    std::printf(
        "| family | size | walls | waypoints | expanded | baseline ms | product ms | ratio | "
        "baseline cpu ms | product cpu ms | cpu ratio | baseline peak MB | product peak MB | "
        "product tests | same |\n"
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    int status = 0;
    for (const std::string& family : options.families) {
        for (int32_t walls : options.walls) {
            FamilyScene scene = SceneOfAbout(family, walls, options.seed);
            Run baseline;
            bool baselineRan = options.baselineMs > 0;
            if (baselineRan)
                baseline = Measure([&] {
                    return FindShortestPathByScan(scene.walls, scene.start, scene.goal,
                                                  ShortestPathBudget{0, options.baselineMs});
                });
            Run product =
                Measure([&] { return FindShortestPath(scene.walls, scene.start, scene.goal); });
            std::string baselineMs = "-", ratio = "-", baselinePeak = "-", same = "-",
                        baselineCpu = "-", cpuRatio = "-";
            if (baselineRan) {
                char text[64];
                if (baseline.path.status == SHORTEST_NOT_FINISHED) {
                    std::snprintf(text, sizeof text, "> %.0f (stopped)", baseline.ms);
                    baselineMs = text;
                    std::snprintf(text, sizeof text, "> %.0f", baseline.ms / product.ms);
                    ratio = text;
                } else {
                    std::snprintf(text, sizeof text, "%.1f", baseline.ms);
                    baselineMs = text;
                    std::snprintf(text, sizeof text, "%.1f", baseline.ms / product.ms);
                    ratio = text;
                    bool identical = SamePath(baseline.path, product.path) &&
                                     baseline.path.expanded == product.path.expanded;
                    same = identical ? "yes" : "NO";
                    if (!identical) status = 1;
                }
                std::snprintf(text, sizeof text, "%.0f", baseline.peakMb);
                baselinePeak = text;
                std::snprintf(text, sizeof text, "%.0f", baseline.cpuMs);
                baselineCpu = text;
                bool stopped = baseline.path.status == SHORTEST_NOT_FINISHED;
                std::snprintf(text, sizeof text, stopped ? "> %.0f" : "%.1f",
                              baseline.cpuMs / std::max(product.cpuMs, 1.0));
                cpuRatio = text;
            }
            std::printf("| %s | %d | %zu | %" PRId64 " | %" PRId64
                        " | %s | %.1f | %s | %s | %.0f | %s | %s | %.0f | %" PRId64 " | %s |\n",
                        family.c_str(), scene.size, scene.walls.size(), product.path.waypoints,
                        product.path.expanded, baselineMs.c_str(), product.ms, ratio.c_str(),
                        baselineCpu.c_str(), product.cpuMs, cpuRatio.c_str(), baselinePeak.c_str(),
                        product.peakMb, product.path.visibilityTests, same.c_str());
            if (product.path.status != SHORTEST_FOUND)
                std::printf("|   | product: %s |\n", StatusText(product.path.status));
            std::fflush(stdout);
        }
    }
    std::printf("\nload average at end: %s\n", LoadAverage().c_str());
    return status;
}
