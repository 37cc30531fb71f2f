// pfadlotse-bench: the product's search against the plain reference search on the scene
// families and the conformance scenes, in one run, answers checked bit for bit; and the
// frame loop's drawing time with many walls; and how far the search's paths are from the
// shortest ones over the same corner points.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/plain_search.h"
#include "app/app.h"
#include "app/scene_file.h"
#include "maps/maps.h"
#include "pathsearch/pathsearch_internal.h"
#include "platform/display.h"
#include "platform/system.h"
#include "tools/bench_process.h"
#include "tools/peak_memory.h"
#include "tools/scene_families.h"

namespace {

const char* USAGE =
    "usage: pfadlotse-bench [--json] [--quick] [--only FAMILY] [--reference-limit N]\n"
    "                       [--conformance DIR] [--no-frames] [--no-gaps] [--gap-seeds N]\n"
    "                       [--bare-reference] [--no-processes]\n"
    "       pfadlotse-bench --save-scene FAMILY SIZE SEED FILE\n"
    "\n"
    "Runs the product's path search and the plain reference search (linear wall scans and\n"
    "list lookups, recursion) on each scene, several times, and prints one row per scene:\n"
    "family, size, walls, collision checks, nodes, median reference and product times, their\n"
    "ratio, and the process's peak memory while the product searched. Status, checks, node\n"
    "count and every path point must agree bit for bit; a difference is reported on stderr\n"
    "and ends the run with status 1.\n"
    "\n"
    "  --json               one JSON object per row instead of the table\n"
    "  --quick              only scenes up to 10,000 walls\n"
    "  --only FAMILY        only this family (random-dense, random-box, grid-maze, comb,\n"
    "                       tall-comb, collinear-chain, staircase, low-staircase,\n"
    "                       start-up, conformance, maps,\n"
    "                       free-job, frame, f6-load, process), or gaps: the gap table\n"
    "                       alone\n"
    "  --reference-limit N  skip the reference above N walls (default 100000); its columns\n"
    "                       then read \"-\"\n"
    "  --conformance DIR    the conformance scenes' folder (default: the source tree's)\n"
    "  --no-frames          skip the frame drawing rows\n"
    "  --no-gaps            skip the gap table\n"
    "  --gap-seeds N        scenes per family and size in the gap table (default 20)\n"
    "  --no-processes       skip the whole-process rows\n"
    "  --bare-reference     time the reference search alone; by default it runs in the\n"
    "                       frame of the product's job (a record, the lock, the clock)\n"
    "  --save-scene ...     write that family scene as a scene file (as F5 saves) and exit\n"
    "\n"
    "Maps rows run every query of a benchmark map's scenario (tests/data/maps) one after\n"
    "the other; the checks, nodes and times are those of all its queries together\n"
    "(--quick: the smallest map only).\n"
    "The free-job row gives the longest FreePathJob of a job still running on that many walls,\n"
    "freed after delays from 0 to 1000 ms, and in the nodes column the delay of that one.\n"
    "Frame rows (family \"frame\") give the median time of DrawFrame on the null platform\n"
    "with that many walls loaded, in the reference column the first frame after the walls\n"
    "changed and in the product column the frames after it. The f6-load row gives, in the\n"
    "product column, the longest frame from F6 of a scene of that many walls until its walls\n"
    "are drawn (the nodes column counts those frames) and, in the reference column, the same\n"
    "load done within one frame.\n"
    "The gap table compares, per family over several sizes and seeds, the search's path with\n"
    "the shortest path over the same corner points whose segments pass the same wall test:\n"
    "the mean and the worst of length / shortest - 1 where both found a way, the misses\n"
    "(the search found no way, the shortest path did), the scenes whose shortest path ran out\n"
    "of its 10 s budget, and the mean time per scene of each. A search path shorter than the\n"
    "shortest (beyond rounding) is a defect and ends the run with status 1.\n"
    "The whole-process table times pfadlotse-solve against the two reference solvers beside\n"
    "the bench (pfadlotse-reference-plain: the plain reference search; -hashset: a plain C\n"
    "search with hash sets for tested segments and corner nodes), each started as a process\n"
    "of its own on the same scene file, in turn: median wall time from start to end and, in\n"
    "brackets, median CPU time (user and system; the steadier figure on a busy machine),\n"
    "the ratios reference / solver of both, and each program's own peak memory (read from\n"
    "it as it exits; \"-\" where that cannot be read); answers must agree bit for bit. The\n"
    "first row is a process that does nothing, the floor of every row.\n"
    "Progress goes to stderr. Exit status: 0 all answers agree, 1 a difference or a failure,\n"
    "2 bad arguments.\n";

struct Options {
    bool json = false;
    bool quick = false;
    bool frames = true;
    bool gaps = true;
    bool bareReference = false;
    bool processes = true;
    int32_t gapSeeds = 20;
    std::string only;
    int64_t referenceLimit = 100000;
    std::string conformance = PFAD_SOURCE_DIR "/tests/data/conformance";
};

struct Row {
    std::string family;
    std::string name;  // size or file name
    int32_t walls = 0;
    int32_t checks = 0;
    int32_t nodes = 0;
    double referenceMs = -1;  // -1: not run
    double productMs = 0;
    double peakMb = 0;
};

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The median times of one call of each, in batches of at least 5 ms, the two alternating so
// that both see the same machine; nine batches of each, three of a call over 200 ms and the
// first call alone of one over a second.
// firstKnownMs, when not negative, is a time of first measured already (not run again when
// over a second).
template <class First, class Second>
void MedianMs(First&& first, Second&& second, bool withFirst, double* firstMs, double* secondMs,
              double firstKnownMs = -1) {
    auto once = [](auto& call) {
        auto start = Clock::now();
        call();
        return MillisecondsSince(start);
    };
    double firstOnce = !withFirst ? 0 : firstKnownMs > 1000 ? firstKnownMs : once(first);
    double secondOnce = once(second);
    auto batchesOf = [](double ms) { return ms > 1000 ? 0 : ms > 200 ? 3 : 9; };
    auto batchOf = [](double ms) {
        return std::max(1, static_cast<int32_t>(5.0 / std::max(ms, 1e-4)));
    };
    int32_t firstBatches = withFirst ? batchesOf(firstOnce) : 0,
            secondBatches = batchesOf(secondOnce);
    int32_t firstBatch = batchOf(firstOnce), secondBatch = batchOf(secondOnce);
    std::vector<double> firstTimes, secondTimes;
    for (int32_t b = 0; b < std::max(firstBatches, secondBatches); ++b) {
        if (b < firstBatches) {
            auto begin = Clock::now();
            for (int32_t i = 0; i < firstBatch; ++i) first();
            firstTimes.push_back(MillisecondsSince(begin) / firstBatch);
        }
        if (b < secondBatches) {
            auto begin = Clock::now();
            for (int32_t i = 0; i < secondBatch; ++i) second();
            secondTimes.push_back(MillisecondsSince(begin) / secondBatch);
        }
    }
    auto median = [](std::vector<double>& times, double single) {
        if (times.empty()) return single;
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    if (withFirst) *firstMs = median(firstTimes, firstOnce);
    *secondMs = median(secondTimes, secondOnce);
}

void SetWallList(const std::vector<Wall>& records) {
    EditScene(SceneEdit{.kind = EDIT_SET_WALLS,
                        .wallRecords = records.data(),
                        .wallCount = static_cast<int32_t>(records.size()),
                        .withoutJob = 1});
}

// One job of the product: the record and the two nodes CreatePathJob makes, then the worker's
// whole run (lock, clock, search, path, release) on this thread, so the figures hold no thread
// start or polling. The caller frees it with FreeProductJob.
// Without the memory for a job or its answer the figures mean nothing: the run ends.
PathJob* RunProductJob(Vec2 start, Vec2 goal) {
    PathJob* job = MakePathJobRecord(start, goal);
    if (job) PathJobWorker(job);
    if (!job || job->outOfMemory) {
        std::fputs("pfadlotse-bench: out of memory for the product's search\n", stderr);
        std::exit(1);
    }
    return job;
}

void FreeProductJob(PathJob* job) {
    BlockRelease(job->points);
    BlockRelease(job);
}

PlainResult RunProduct(Vec2 start, Vec2 goal) {
    PathJob* job = RunProductJob(start, goal);
    PlainResult result;
    result.status = job->points ? 1 : -1;
    result.collisionChecks = job->collisionChecks;
    result.nodeCount = job->nodeCount;
    if (job->points) result.path.assign(job->points, job->points + job->pointCount);
    FreeProductJob(job);
    return result;
}

// The reference search in the frame the product's job has around its search: a record of the
// same size, a lock tried and released, the clock read before and after. Without it the
// ratio of a small scene would compare the job's bookkeeping, not the searches (--bare-reference
// times the search alone).
Lock* referenceLock = nullptr;

PlainResult RunReferenceJob(const std::vector<Wall>& records, Vec2 start, Vec2 goal) {
    auto record = std::make_unique<PathJob>();
    if (!LockTry(referenceLock)) std::abort();  // only this thread takes it
    uint32_t t0 = TickMilliseconds();
    PlainResult result = PlainSearch(records, start, goal);
    record->timeMs = static_cast<int32_t>(TickMilliseconds() - t0);
    LockRelease(referenceLock);
    return result;
}

bool SameResult(const PlainResult& a, const PlainResult& b) {
    return a.status == b.status && a.collisionChecks == b.collisionChecks &&
           a.nodeCount == b.nodeCount && a.path.size() == b.path.size() &&
           (a.path.empty() ||
            std::memcmp(a.path.data(), b.path.data(), a.path.size() * sizeof(Vec2)) == 0);
}

void Progress(const char* what, const std::string& family, const std::string& name) {
    std::fprintf(stderr, "pfadlotse-bench: %s %s %s\n", family.c_str(), name.c_str(), what);
    std::fflush(stderr);
}

// Runs both searches on the scene; false when their answers differ.
bool BenchScene(const Options& options, const std::string& family, const std::string& name,
                const std::vector<Wall>& records, Vec2 start, Vec2 goal, Row* row) {
    row->family = family;
    row->name = name;
    row->walls = static_cast<int32_t>(records.size());
    SetWallList(records);

    Progress("product", family, name);
    ResetPeakMemory();
    PlainResult product = RunProduct(start, goal);
    row->peakMb = PeakMemoryMb();
    row->checks = product.collisionChecks;
    row->nodes = product.nodeCount;

    bool withReference = static_cast<int64_t>(records.size()) <= options.referenceLimit;
    double referenceOnceMs = -1;
    if (withReference) {
        Progress("reference", family, name);
        auto referenceStart = Clock::now();
        PlainResult reference = PlainSearch(records, start, goal);
        referenceOnceMs = MillisecondsSince(referenceStart);
        if (!SameResult(reference, product)) {
            std::fprintf(
                stderr,
                "pfadlotse-bench: DIFFERENT ANSWERS on %s %s: product status/checks/nodes/points "
                "%d/%d/%d/%zu, reference %d/%d/%d/%zu\n",
                family.c_str(), name.c_str(), product.status, product.collisionChecks,
                product.nodeCount, product.path.size(), reference.status, reference.collisionChecks,
                reference.nodeCount, reference.path.size());
            return false;
        }
    }
    Progress("timing", family, name);
    // Each side's timing holds its own work only: the product's answer stays in its job record.
    auto reference = [&] {
        if (options.bareReference)
            PlainSearch(records, start, goal);
        else
            RunReferenceJob(records, start, goal);
    };
    MedianMs(
        reference, [&] { FreeProductJob(RunProductJob(start, goal)); }, withReference,
        &row->referenceMs, &row->productMs, referenceOnceMs);
    return true;
}

// Frame drawing with count walls of the dense family: the first frame after the walls changed
// (it draws them into the layer) and the frames after it.
void BenchFrames(int32_t count, Row* row) {
    FamilyScene scene = RandomDenseScene(count, 1);
    SetWallList(scene.walls);  // and no job: the frames are timed without a worker beside them
    row->family = "frame";
    row->name = std::to_string(count);
    row->walls = count;
    Progress("frames", row->family, row->name);
    auto first = Clock::now();
    DrawFrame();
    row->referenceMs = MillisecondsSince(first);
    double unused;
    MedianMs([] {}, [] { DrawFrame(); }, false, &unused, &row->productMs);
    row->peakMb = PeakMemoryMb();
}

// How long FreePathJob takes on a job running on count walls, freed after each of several
// delays (copying the walls, building the index, searching): the longest and the delay.
void BenchFreeJob(int32_t count, Row* row) {
    FamilyScene scene = RandomDenseScene(count, 1);
    SetWallList(scene.walls);
    row->family = "free-job";
    row->name = std::to_string(count);
    row->walls = count;
    row->productMs = 0;
    for (int32_t delay : {0, 2, 5, 10, 20, 40, 80, 150, 300, 600, 1000}) {
        Progress(("free after " + std::to_string(delay) + " ms").c_str(), row->family, row->name);
        PathJob* job = CreatePathJob(scene.start, scene.goal);
        if (!job) continue;
        SleepMilliseconds(delay);
        bool running = PathJobStatus(job) == 0;
        auto start = Clock::now();
        FreePathJob(job);
        double ms = MillisecondsSince(start);
        if (running) std::fprintf(stderr, "pfadlotse-bench: freed in %.3f ms\n", ms);
        if (running && ms > row->productMs) {
            row->productMs = ms;
            row->nodes = delay;  // the delay of the slowest free, shown in the nodes column
        }
    }
    row->peakMb = PeakMemoryMb();
}

// F6 of a scene file at the cap in the window: every frame from the key until the new walls
// are on the surface, each as the frame loop makes it (the drawing, then the queued edits). The
// product column is the longest of them and the nodes column their count; the reference column
// is the same load done within one frame, as F6 did before loading was spread over frames.
void BenchSceneLoad(int32_t count, Row* row) {
    FamilyScene scene = RandomDenseScene(count, 1);
    SetWallList(scene.walls);
    std::string path = (std::filesystem::temp_directory_path() /
                        ("pfadlotse-bench-" + std::to_string(ClockNanoseconds()) + ".scene"))
                           .string();
    row->family = "f6-load";
    row->name = std::to_string(count);
    row->walls = count;
    Progress("loading", row->family, row->name);
    if (!SaveScene(path, scene.start, scene.goal)) return;
    auto toStartUpScene = [] {
        EditScene(SceneEdit{.kind = EDIT_SET_WALLS, .withoutJob = 1});
        AddBox(10, 80, 780, 510);
        DrawFrame();
    };

    toStartUpScene();
    auto start = Clock::now();
    if (OpenSceneFile(path)) EditScene(SceneEdit{.kind = EDIT_LOAD_SCENE});
    row->referenceMs = MillisecondsSince(start);

    toStartUpScene();
    int32_t frames = 0;
    double longest = 0;
    if (OpenSceneFile(path)) {
        QueueEdit(SceneEdit{.kind = EDIT_LOAD_SCENE});
        do {
            start = Clock::now();
            DrawFrame();
            ApplyQueuedEdits();
            longest = std::max(longest, MillisecondsSince(start));
            ++frames;
        } while ((EditsQueued() || !WallLayerCurrent()) && frames < 100000);
    }
    row->productMs = longest;
    row->nodes = frames;
    FreePathJob(::scene.job);
    ::scene.job = nullptr;
    std::filesystem::remove(path);
    row->peakMb = PeakMemoryMb();
}

std::string Format(double ms) {
    if (ms < 0) return "-";
    char text[32];
    // Three significant digits below 10 ms: a small scene's job takes a fraction of a microsecond.
    std::snprintf(text, sizeof text, ms < 10 ? "%.3g" : ms < 1000 ? "%.1f" : "%.0f", ms);
    return text;
}

void PrintRows(const std::vector<Row>& rows, bool json) {
    if (json) {
        for (const Row& row : rows) {
            std::printf(
                "{\"family\":\"%s\",\"scene\":\"%s\",\"walls\":%d,\"checks\":%d,\"nodes\":%d,",
                row.family.c_str(), row.name.c_str(), row.walls, row.checks, row.nodes);
            if (row.referenceMs >= 0 && row.family != "frame")
                std::printf("\"referenceMs\":%.6f,\"ratio\":%.3f,", row.referenceMs,
                            row.referenceMs / row.productMs);
            else if (row.referenceMs >= 0)
                std::printf("\"firstFrameMs\":%.6f,", row.referenceMs);
            else
                std::printf("\"referenceMs\":null,\"ratio\":null,");
            std::printf("\"productMs\":%.6f,\"peakMb\":%.1f}\n", row.productMs, row.peakMb);
        }
        return;
    }
    std::printf(
        "| family | scene | walls | checks | nodes | reference ms | product ms | ratio | peak MB "
        "|\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Row& row : rows) {
        bool compared = row.family != "frame";
        std::string ratio =
            compared && row.referenceMs >= 0 ? Format(row.referenceMs / row.productMs) + "x" : "-";
        std::printf("| %s | %s | %d | %d | %d | %s | %s | %s | %.0f |\n", row.family.c_str(),
                    row.name.c_str(), row.walls, row.checks, row.nodes,
                    Format(row.referenceMs).c_str(), Format(row.productMs).c_str(), ratio.c_str(),
                    row.peakMb);
    }
}

// ---- How far from the shortest path the search's path is ------------------------------------

struct GapRow {
    std::string family;
    std::string sizes;
    int32_t scenes = 0;
    int32_t compared = 0;  // both found a way
    double meanGap = 0;
    double worstGap = 0;
    std::string worstScene;  // size/seed of the worst
    int32_t misses = 0;      // the search said unreachable, the shortest path found a way
    int32_t unfinished = 0;  // the shortest path ran out of its budget
    int32_t defects = 0;     // the search's path shorter than the shortest: must never happen
    double directMs = 0;     // mean per scene
    double optimalMs = 0;
};

// A gap below this is the rounding of two sums of the same length, not a shorter path.
constexpr double GAP_ROUNDING = 1e-9;
constexpr int64_t GAP_BUDGET_MS = 10000;

GapRow GapsOfFamily(const char* family, const std::vector<int32_t>& sizes, int32_t seeds) {
    GapRow row;
    row.family = family;
    for (int32_t size : sizes) row.sizes += (row.sizes.empty() ? "" : ",") + std::to_string(size);
    double gapSum = 0;
    for (int32_t size : sizes)
        for (int32_t seed = 1; seed <= seeds; ++seed) {
            FamilyScene scene;
            MakeFamilyScene(family, size, static_cast<uint32_t>(seed), &scene);
            SetWallList(scene.walls);
            auto t0 = Clock::now();
            PlainResult direct = RunProduct(scene.start, scene.goal);
            row.directMs += MillisecondsSince(t0);
            t0 = Clock::now();
            ShortestPath optimal = FindShortestPath(scene.walls, scene.start, scene.goal,
                                                    ShortestPathBudget{0, GAP_BUDGET_MS});
            row.optimalMs += MillisecondsSince(t0);
            ++row.scenes;
            if (optimal.status == SHORTEST_NOT_FINISHED) {
                ++row.unfinished;
                continue;
            }
            if (direct.status != 1) {
                if (optimal.status == SHORTEST_FOUND) ++row.misses;
                continue;
            }
            if (optimal.status != SHORTEST_FOUND) {
                ++row.defects;  // a path over the waypoints where the shortest path sees none
                continue;
            }
            double gap = PathGap(PathLength(direct.path), optimal.length);
            if (gap < -GAP_ROUNDING) ++row.defects;
            ++row.compared;
            gapSum += gap;
            if (row.compared == 1 || gap > row.worstGap) {
                row.worstGap = gap;
                row.worstScene = std::to_string(size) + "/" + std::to_string(seed);
            }
        }
    if (row.compared > 0) row.meanGap = gapSum / row.compared;
    if (row.scenes > 0) {
        row.directMs /= row.scenes;
        row.optimalMs /= row.scenes;
    }
    return row;
}

void PrintGapRows(const std::vector<GapRow>& rows, bool json) {
    if (json) {
        for (const GapRow& row : rows)
            std::printf(
                "{\"gapFamily\":\"%s\",\"sizes\":\"%s\",\"scenes\":%d,\"compared\":%d,\"meanGap\":%"
                ".6g,"
                "\"worstGap\":%.6g,\"worstScene\":\"%s\",\"misses\":%d,\"unfinished\":%d,"
                "\"defects\":%d,"
                "\"directMs\":%.6f,\"optimalMs\":%.6f}\n",
                row.family.c_str(), row.sizes.c_str(), row.scenes, row.compared, row.meanGap,
                row.worstGap, row.worstScene.c_str(), row.misses, row.unfinished, row.defects,
                row.directMs, row.optimalMs);
        return;
    }
    std::printf(
        "\n| family | sizes | scenes | compared | mean gap | worst gap (size/seed) | misses | "
        "unfinished | "
        "defects | search ms | shortest ms |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const GapRow& row : rows)
        std::printf("| %s | %s | %d | %d | %.3f %% | %.3f %% (%s) | %d | %d | %d | %s | %s |\n",
                    row.family.c_str(), row.sizes.c_str(), row.scenes, row.compared,
                    100 * row.meanGap, 100 * row.worstGap,
                    row.worstScene.empty() ? "-" : row.worstScene.c_str(), row.misses,
                    row.unfinished, row.defects, Format(row.directMs).c_str(),
                    Format(row.optimalMs).c_str());
}

// ---- Whole processes -------------------------------------------------------------------------
// pfadlotse-solve against the two reference solvers (programs beside the bench), each started
// as a process of its own on the same scene file, in turn, so all see the same machine.

// Per program (the solver, the plain reference, the hash-set reference): median wall and CPU
// times, peak memory; -1 when not run.
struct ProcessRow {
    std::string scene;
    int32_t walls = 0;
    double ms[3] = {-1, -1, -1};
    double cpuMs[3] = {-1, -1, -1};
    double peakMb[3] = {-1, -1, -1};
};

// What a solver printed: status, statistics and the path's floats.
struct Answer {
    bool read = false;
    int32_t status = 0, checks = 0, nodes = 0;
    std::vector<float> path;
};

Answer ParseAnswer(const std::string& line) {
    Answer answer;
    auto field = [&](const char* name, int32_t* value) {
        size_t at = line.find(name);
        if (at == std::string::npos) return false;
        *value =
            static_cast<int32_t>(std::strtol(line.c_str() + at + std::strlen(name), nullptr, 10));
        return true;
    };
    if (!field("\"status\":", &answer.status) || !field("\"collisionChecks\":", &answer.checks) ||
        !field("\"nodeCount\":", &answer.nodes))
        return answer;
    size_t at = line.find("\"path\":[");
    if (at == std::string::npos) return answer;
    const char* p = line.c_str() + at + 8;
    // Numbers as the solvers write them: decimals that read back exactly, or quoted NaN and
    // infinities.
    while (*p == '[' || *p == ',' || *p == '"' || *p == 'N' || *p == 'I' || *p == '-' ||
           (*p >= '0' && *p <= '9')) {
        if (*p == '[' || *p == ',') {
            ++p;
            continue;
        }
        if (*p == '"') {
            const char* text = p + 1;
            answer.path.push_back(std::strncmp(text, "NaN", 3) == 0        ? NAN
                                  : std::strncmp(text, "Infinity", 8) == 0 ? INFINITY
                                                                           : -INFINITY);
            p = std::strchr(text, '"');
            if (!p) return answer;
            ++p;
        } else {
            char* end = nullptr;
            answer.path.push_back(std::strtof(p, &end));
            if (end == p) return answer;
            p = end;
        }
        while (*p == ']') {
            ++p;
            if (*p == ']' || *p == '}') {
                answer.read = true;
                return answer;
            }
        }
    }
    answer.read = *p == ']';  // an empty path
    return answer;
}

bool SameAnswer(const Answer& a, const Answer& b) {
    return a.read && b.read && a.status == b.status && a.checks == b.checks && a.nodes == b.nodes &&
           a.path.size() == b.path.size() &&
           (a.path.empty() ||
            std::memcmp(a.path.data(), b.path.data(), a.path.size() * sizeof(float)) == 0);
}

// Times the solver and the references on one scene file: median wall times, each program run
// nine times, three when a run takes over 200 ms, once over two seconds. False when a program
// failed or the answers differ.
bool BenchProcesses(const Options& options, const std::string& folder, const std::string& name,
                    const std::string& file, int32_t wallCount, ProcessRow* row) {
    row->scene = name;
    row->walls = wallCount;
    struct Program {
        std::string path;
        bool wanted = false;
        std::vector<double> ms;
        std::vector<double> cpuMs;
        double peakMb = -1;  // none read
        int32_t runs = 1;
        Answer answer;
    };
    bool withReference = wallCount <= options.referenceLimit;
    Program programs[3];
    const char* names[] = {"/pfadlotse-solve", "/pfadlotse-reference-plain",
                           "/pfadlotse-reference-hashset"};
    for (int32_t k = 0; k < 3; ++k) {
        programs[k].path = folder + names[k];
        programs[k].wanted = k == 0 || withReference;
    }
    for (int32_t round = 0;; ++round) {
        bool ran = false;
        for (Program& program : programs) {
            if (!program.wanted || round >= program.runs) continue;
            ProcessRun run;
            if (!RunProcess({program.path, file}, &run) || run.exitStatus != 0) {
                std::fprintf(stderr, "pfadlotse-bench: %s %s failed\n", program.path.c_str(),
                             file.c_str());
                return false;
            }
            ran = true;
            program.ms.push_back(run.wallMs);
            program.cpuMs.push_back(run.cpuMs);
            program.peakMb = std::max(program.peakMb, run.peakMb);
            if (round == 0) {
                program.runs = run.wallMs > 2000 ? 1 : run.wallMs > 200 ? 3 : 9;
                program.answer = ParseAnswer(run.output);
            }
        }
        if (!ran) break;
    }
    auto median = [](std::vector<double> times) {
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    bool agreed = programs[0].answer.read;
    for (int32_t k = 0; k < 3; ++k) {
        if (!programs[k].wanted) continue;
        row->ms[k] = median(programs[k].ms);
        row->cpuMs[k] = median(programs[k].cpuMs);
        row->peakMb[k] = programs[k].peakMb;
        if (k > 0 && !SameAnswer(programs[0].answer, programs[k].answer)) {
            std::fprintf(stderr, "pfadlotse-bench: DIFFERENT ANSWERS on %s from %s\n", name.c_str(),
                         programs[k].path.c_str());
            agreed = false;
        }
    }
    return agreed;
}

// The scenes of the whole-process rows, written as scene files to a folder of their own.
bool RunProcessRows(const Options& options, std::vector<ProcessRow>* rows) {
    std::string folder = BenchFolder();
    ProcessRun probe;
    if (folder.empty() ||
        !RunProcess({folder + "/pfadlotse-reference-hashset", "--help"}, &probe)) {
        std::fputs(
            "pfadlotse-bench: no whole-process rows: the reference solvers cannot be "
            "run here\n",
            stderr);
        return true;
    }
    std::filesystem::path work = std::filesystem::temp_directory_path() /
                                 ("pfadlotse-bench-" + std::to_string(ClockNanoseconds()));
    std::error_code error;
    std::filesystem::create_directories(work, error);
    // How long starting a program that does nothing takes here: the floor of every row.
    {
        std::vector<double> ms, cpuMs;
        for (int32_t i = 0; i < 9; ++i)
            if (RunProcess({folder + "/pfadlotse-reference-hashset", "--help"}, &probe)) {
                ms.push_back(probe.wallMs);
                cpuMs.push_back(probe.cpuMs);
            }
        std::sort(ms.begin(), ms.end());
        std::sort(cpuMs.begin(), cpuMs.end());
        ProcessRow row;
        row.scene = "a process that does nothing (a reference's --help)";
        row.ms[0] = ms.empty() ? 0 : ms[ms.size() / 2];
        row.cpuMs[0] = cpuMs.empty() ? 0 : cpuMs[cpuMs.size() / 2];
        row.peakMb[0] = probe.peakMb;
        rows->push_back(row);
    }
    struct Planned {
        const char* family;
        int32_t size;
    };
    const Planned planned[] = {
        {"empty", 0},
        {"start-up", 0},
        {"random-dense", 1000},
        {"random-box", 1000},
        {"comb", 1000},
        {"tall-comb", 1000},
        {"staircase", 3000},
        {"low-staircase", 3000},
        {"collinear-chain", 5000},
        {"grid-maze", 100},
        {"random-dense", 10000},
        {"random-dense", 30000},
        {"random-dense", 1000000},
    };
    bool agreed = true;
    for (const Planned& plan : planned) {
        FamilyScene scene;
        if (std::string(plan.family) == "empty")
            scene = FamilyScene{"empty", 0, 1, {}, Vec2{50, 340}, Vec2{750, 340}};
        else
            MakeFamilyScene(plan.family, plan.size, 1, &scene);
        if (options.quick && scene.walls.size() > 10000) continue;
        std::string name = scene.family + " " + std::to_string(plan.size);
        std::string file =
            (work / (scene.family + "-" + std::to_string(plan.size) + ".scene")).string();
        SetWallList(scene.walls);
        if (!SaveScene(file, scene.start, scene.goal)) {
            std::fprintf(stderr, "pfadlotse-bench: cannot write %s\n", file.c_str());
            agreed = false;
            continue;
        }
        Progress("whole processes", scene.family, std::to_string(plan.size));
        // A child starts as a copy of the bench: the scene's memory goes first, so that its
        // peak is its own.
        auto wallCount = static_cast<int32_t>(scene.walls.size());
        SetWallList({});
        scene.walls = std::vector<Wall>();
        ProcessRow row;
        agreed = BenchProcesses(options, folder, name, file, wallCount, &row) && agreed;
        rows->push_back(row);
        std::filesystem::remove(file, error);
    }
    std::filesystem::remove_all(work, error);
    return agreed;
}

void PrintProcessRows(const std::vector<ProcessRow>& rows, bool json) {
    // "wall (CPU)" of one program, and the ratios of a reference to the solver.
    auto times = [](const ProcessRow& row, int32_t k) {
        return row.ms[k] < 0 ? std::string("-")
                             : Format(row.ms[k]) + " (" + Format(row.cpuMs[k]) + ")";
    };
    auto ratios = [](const ProcessRow& row, int32_t k) {
        return row.ms[k] < 0 ? std::string("-")
                             : Format(row.ms[k] / row.ms[0]) + "x (" +
                                   Format(row.cpuMs[k] / row.cpuMs[0]) + "x)";
    };
    if (!json)
        std::printf(
            "\n| whole process | walls | solver ms (CPU) | plain ms (CPU) | ratio (CPU) | "
            "hash-set ms (CPU) | ratio (CPU) | peak MB: solver / plain / hash-set |\n"
            "|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const ProcessRow& row : rows) {
        if (json) {
            std::printf("{\"process\":\"%s\",\"walls\":%d", row.scene.c_str(), row.walls);
            const char* names[] = {"solver", "plain", "hashset"};
            for (int32_t k = 0; k < 3; ++k)
                if (row.ms[k] >= 0)
                    std::printf(",\"%sMs\":%.3f,\"%sCpuMs\":%.3f,\"%sPeakMb\":%.1f", names[k],
                                row.ms[k], names[k], row.cpuMs[k], names[k], row.peakMb[k]);
            std::printf("}\n");
            continue;
        }
        std::string peaks = Format(row.peakMb[0]);
        for (int32_t k : {1, 2})
            if (row.ms[k] >= 0) peaks += " / " + Format(row.peakMb[k]);
        std::printf("| %s | %d | %s | %s | %s | %s | %s | %s |\n", row.scene.c_str(), row.walls,
                    times(row, 0).c_str(), times(row, 1).c_str(), ratios(row, 1).c_str(),
                    times(row, 2).c_str(), ratios(row, 2).c_str(), peaks.c_str());
    }
}

struct Job {
    Options options;
    std::vector<Row> rows;
    std::vector<GapRow> gapRows;
    std::vector<ProcessRow> processRows;
    bool agreed = true;
};

// ---- Benchmark maps ---------------------------------------------------------------------------

// Every query of each sample scenario, both searches, one row a map: the sums of checks and
// nodes and the time of all queries together.
bool BenchMaps(bool quick, std::vector<Row>* rows) {
    struct MapPlan {
        const char* scenario;
        QueryReference reference;
    };
    const MapPlan plans[] = {{"arena.map.scen", REFERENCE_OCTILE},
                             {"arena2.map.scen", REFERENCE_OCTILE},
                             {"AcrosstheCape.map.scen", REFERENCE_EUCLIDEAN}};
    const std::string folder = PFAD_SOURCE_DIR "/tests/data/maps/";
    bool agreed = true;
    for (const MapPlan& plan : plans) {
        if (quick && &plan != plans) break;  // the small map only
        std::string text, error;
        std::vector<ScenarioQuery> queries;
        MapScene scene;
        if (!ReadTextFile(folder + plan.scenario, MAX_MAP_FILE_BYTES, &text, &error) ||
            !ReadScenario(text, plan.scenario, &queries, &error) || queries.empty() ||
            !LoadMapScene(folder + std::filesystem::path(queries[0].map).filename().string(),
                          DEFAULT_CELL, DEFAULT_MESH_SCALE, 1000000, &scene, &error)) {
            std::fprintf(stderr, "pfadlotse-bench: no map for %s: %s\n", plan.scenario,
                         error.c_str());
            agreed = false;
            continue;
        }
        std::vector<std::pair<Vec2, Vec2>> ends;
        for (const ScenarioQuery& q : queries)
            ends.emplace_back(QueryPoint(scene, q.startX, q.startY, plan.reference),
                              QueryPoint(scene, q.goalX, q.goalY, plan.reference));
        std::string name = std::filesystem::path(plan.scenario).stem().stem().string() + ", " +
                           std::to_string(queries.size()) + " queries";
        Row row;
        row.family = "maps";
        row.name = name;
        row.walls = static_cast<int32_t>(scene.walls.size());
        SetWallList(scene.walls);
        Progress("answers", row.family, name);
        ResetPeakMemory();
        double referenceOnceMs = 0;
        for (const auto& [start, goal] : ends) {
            PlainResult product = RunProduct(start, goal);
            auto referenceStart = Clock::now();
            PlainResult reference = PlainSearch(scene.walls, start, goal);
            referenceOnceMs += MillisecondsSince(referenceStart);
            if (!SameResult(product, reference)) {
                std::fprintf(stderr,
                             "pfadlotse-bench: DIFFERENT ANSWERS on %s, (%g, %g) to (%g, %g)\n",
                             name.c_str(), start.x, start.y, goal.x, goal.y);
                agreed = false;
            }
            row.checks += product.collisionChecks;
            row.nodes += product.nodeCount;
        }
        Progress("timing", row.family, name);
        MedianMs(
            [&] {
                for (const auto& [start, goal] : ends) RunReferenceJob(scene.walls, start, goal);
            },
            [&] {
                for (const auto& [start, goal] : ends) FreeProductJob(RunProductJob(start, goal));
            },
            true, &row.referenceMs, &row.productMs, referenceOnceMs);
        row.peakMb = PeakMemoryMb();
        rows->push_back(row);
    }
    return agreed;
}

bool Wanted(const Options& options, const std::string& family, int64_t walls) {
    if (!options.only.empty() && options.only != family) return false;
    return !options.quick || walls <= 10000;
}

void RunAll(void* argument) {
    auto* job = static_cast<Job*>(argument);
    const Options& options = job->options;
    struct Planned {
        const char* family;
        int32_t size;
    };
    const Planned planned[] = {
        {"start-up", 0},
        {"random-box", 10},
        {"random-box", 100},
        {"random-box", 1000},
        {"random-dense", 1000},
        {"random-dense", 10000},
        {"random-dense", 100000},
        {"random-dense", 1000000},
        {"grid-maze", 20},
        {"grid-maze", 100},
        {"comb", 50},
        {"comb", 500},
        {"comb", 1000},
        {"tall-comb", 1000},
        {"collinear-chain", 200},
        {"collinear-chain", 5000},
        {"staircase", 1000},
        {"staircase", 3000},
        {"low-staircase", 3000},
    };
    for (const Planned& plan : planned) {
        if (!Wanted(options, plan.family, plan.size)) continue;
        FamilyScene scene;
        MakeFamilyScene(plan.family, plan.size, 1, &scene);
        Row row;
        if (!BenchScene(options, plan.family, std::to_string(plan.size), scene.walls, scene.start,
                        scene.goal, &row))
            job->agreed = false;
        job->rows.push_back(row);
    }

    if (Wanted(options, "conformance", 0)) {
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(options.conformance, error))
            if (entry.path().extension() == ".scene") files.push_back(entry.path());
        if (error)
            std::fprintf(stderr, "pfadlotse-bench: no conformance scenes in %s\n",
                         options.conformance.c_str());
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            Vec2 start{50, 340}, goal{750, 340};
            ListClear(walls);
            AddBox(10, 80, 780, 510);
            if (!OpenSceneFile(file.string())) continue;
            LoadScene(start, goal);
            std::vector<Wall> records;
            for (const Wall& wall : ListItems<Wall>(walls)) records.push_back(wall);
            Row row;
            if (!BenchScene(options, "conformance", file.stem().string(), records, start, goal,
                            &row))
                job->agreed = false;
            job->rows.push_back(row);
        }
    }

    if (Wanted(options, "maps", 0) && !BenchMaps(options.quick, &job->rows)) job->agreed = false;
    if (options.processes && (options.only.empty() || options.only == "process"))
        job->agreed = RunProcessRows(options, &job->processRows) && job->agreed;

    if (options.only.empty() || options.only == "free-job") {
        Row row;
        BenchFreeJob(options.quick ? 10000 : 1000000, &row);
        job->rows.push_back(row);
    }

    if (options.frames &&
        (options.only.empty() || options.only == "frame" || options.only == "f6-load")) {
        for (int32_t count : {4, 10000, 1000000}) {
            if (options.quick && count > 10000) continue;
            Row row;
            BenchFrames(count, &row);
            job->rows.push_back(row);
        }
        Row row;
        BenchSceneLoad(options.quick ? 10000 : 1000000, &row);
        job->rows.push_back(row);
    }

    if (options.gaps) {
        struct Sizes {
            const char* family;
            std::vector<int32_t> sizes;  // the last is left out with --quick
        };
        const Sizes gapPlan[] = {
            {"random-box", {10, 30, 100}},  {"random-dense", {100, 1000}},
            {"grid-maze", {5, 10, 20}},     {"comb", {10, 50}},
            {"collinear-chain", {50, 200}}, {"staircase", {100, 500}},
        };
        for (const Sizes& plan : gapPlan) {
            if (!options.only.empty() && options.only != plan.family && options.only != "gaps")
                continue;
            std::vector<int32_t> sizes = plan.sizes;
            if (options.quick && sizes.size() > 1) sizes.pop_back();
            Progress("gaps", plan.family, "");
            GapRow row = GapsOfFamily(plan.family, sizes, options.gapSeeds);
            if (row.defects > 0) {
                std::fprintf(stderr,
                             "pfadlotse-bench: DEFECT in %s: %d search paths shorter than the "
                             "shortest path\n",
                             plan.family, row.defects);
                job->agreed = false;
            }
            job->gapRows.push_back(row);
        }
    }
}

int SaveFamilyScene(char** argv) {
    FamilyScene scene;
    char* end = nullptr;
    long size = std::strtol(argv[1], &end, 10);
    if (*end || size < 0 || size > 100000000) {
        std::fprintf(stderr, "pfadlotse-bench: bad size %s\n", argv[1]);
        return 2;
    }
    unsigned long seed = std::strtoul(argv[2], &end, 10);
    if (*end) {
        std::fprintf(stderr, "pfadlotse-bench: bad seed %s\n", argv[2]);
        return 2;
    }
    if (!MakeFamilyScene(argv[0], static_cast<int32_t>(size), static_cast<uint32_t>(seed),
                         &scene)) {
        std::fprintf(stderr, "pfadlotse-bench: unknown family %s\n", argv[0]);
        return 2;
    }
    SetWallList(scene.walls);
    return SaveScene(argv[3], scene.start, scene.goal) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Job job;
    Options& options = job.options;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (argument == "--help" || argument == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--quick") {
            options.quick = true;
        } else if (argument == "--no-frames") {
            options.frames = false;
        } else if (argument == "--bare-reference") {
            options.bareReference = true;
        } else if (argument == "--no-processes") {
            options.processes = false;
        } else if (argument == "--no-gaps") {
            options.gaps = false;
        } else if (argument == "--gap-seeds") {
            const char* count = value();
            char* end = nullptr;
            long seeds = count ? std::strtol(count, &end, 10) : -1;
            if (!count || *end || seeds < 1 || seeds > 100000) {
                std::fprintf(stderr,
                             "pfadlotse-bench: --gap-seeds needs a number from 1 to 100000\n");
                return 2;
            }
            options.gapSeeds = static_cast<int32_t>(seeds);
        } else if (argument == "--only") {
            const char* family = value();
            if (!family) break;
            options.only = family;
        } else if (argument == "--conformance") {
            const char* folder = value();
            if (!folder) break;
            options.conformance = folder;
        } else if (argument == "--reference-limit") {
            const char* limit = value();
            char* end = nullptr;
            options.referenceLimit = limit ? std::strtoll(limit, &end, 10) : -1;
            if (!limit || *end || options.referenceLimit < 0) {
                std::fprintf(stderr,
                             "pfadlotse-bench: --reference-limit needs a number of walls\n");
                return 2;
            }
        } else if (argument == "--save-scene") {
            if (argc - i - 1 != 4) {
                std::fputs(USAGE, stderr);
                return 2;
            }
            CreateSharedState();
            return SaveFamilyScene(argv + i + 1);
        } else {
            std::fprintf(stderr, "pfadlotse-bench: unknown argument %s\n\n%s", argv[i], USAGE);
            return 2;
        }
    }

    // The frame rows draw with the program's own frame code on the null platform.
    if (!StartPlatform(false)) {
        std::fprintf(stderr, "pfadlotse-bench: %s\n", PlatformOpenError());
        return 1;
    }
    referenceLock = LockCreate();
    if (!referenceLock) {
        std::fputs("pfadlotse-bench: cannot make a lock\n", stderr);
        return 1;
    }
    // The reference recurses as deep as the scene nests.
    int32_t thread = ThreadStartWithStack(RunAll, &job, size_t{1} << 30);
    if (thread == 0) {
        std::fputs("pfadlotse-bench: cannot start the bench thread\n", stderr);
        return 1;
    }
    while (ThreadRunning(thread)) SleepMilliseconds(20);
    if (!job.rows.empty()) PrintRows(job.rows, options.json);
    if (!job.gapRows.empty()) PrintGapRows(job.gapRows, options.json);
    if (!job.processRows.empty()) PrintProcessRows(job.processRows, options.json);
    if (!job.agreed) {
        std::fputs("pfadlotse-bench: the product and the reference disagree (see above)\n", stderr);
        return 1;
    }
    return 0;
}
