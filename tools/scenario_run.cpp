// The scenario mode of pfadlotse-solve: maps are read and checked against every query before
// the first line is printed, then each map's walls are loaded once and its queries run as
// path jobs, as the window would run them.
#include "tools/scenario_run.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "app/scene_file.h"
#include "pathsearch/pathsearch.h"

const char* SCENARIO_USAGE =
    "usage: pfadlotse-solve --scenario FILE.scen [--optimal [--budget-nodes N] [--budget-ms MS]]\n"
    "                       [--limit N] [--reference octile|euclidean] [--cell N] [--scale S]\n"
    "\n"
    "Runs every query of a benchmark scenario file. Each line names a map: the path as\n"
    "written, else its base name beside the scenario file; a .map grid map (its size must be\n"
    "the one the line gives) or a mesh. Each map becomes walls once (--cell N units a grid\n"
    "cell, default 100; --scale S scene units a mesh unit, default 100). One JSON line per\n"
    "query:\n"
    "  "
    "{\"query\":I,\"line\":L,\"map\":M,\"start\":[x,y],\"goal\":[x,y],\"onWall\":B,\"status\":S,\n"
    "   \"collisionChecks\":N,\"nodeCount\":N,\"timeMs\":T,\"length\":D,\"optimum\":O,\n"
    "   \"optimumKind\":K,\"ratio\":R}\n"
    "in scene units; status 1 found, -1 unreachable; length and ratio (length / optimum) null\n"
    "when not found. optimum is the file's optimal length in scene units; kind \"octile\" is a\n"
    "path on the 8-connected grid between cell centres (an any-angle path may be shorter: the\n"
    "ratio can be below 1), \"euclidean\" the shortest path in the plane. onWall: the start or\n"
    "the goal lies on a wall (a grid corner touching a blocked cell); every segment from or to\n"
    "such a point meets that wall, so the search cannot leave or reach it. Those queries are\n"
    "counted apart and not as misses.\n"
    "Then a summary line: "
    "{\"summary\":true,\"queries\":N,\"found\":N,\"misses\":N,\"onWall\":N,...}\n"
    "with the mean and worst ratio over the queries found and the time per query.\n"
    "\n"
    "--reference K  octile: a grid query is the cell's centre (the 8-connected benchmarks, the\n"
    "               default); euclidean: the cell's top-left corner (the any-angle ones).\n"
    "               Mesh queries are points either way, their optimum euclidean.\n"
    "--limit N      only the first N queries\n"
    "--optimal      also our shortest path over the same corner points (\"shortest\",\n"
    "               \"shortestStatus\", \"shortestRatio\" to the optimum, \"shortestTimeMs\")\n";

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void AppendNumber(std::string& out, double value) {
    char digits[32];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

void AppendPoint(std::string& out, const Vec2& point) {
    char digits[32];
    out += '[';
    out.append(digits, std::to_chars(digits, digits + sizeof digits, point.x).ptr);
    out += ',';
    out.append(digits, std::to_chars(digits, digits + sizeof digits, point.y).ptr);
    out += ']';
}

// Bytes outside ASCII are written as the Latin-1 characters of the same number: valid JSON
// whatever the name's encoding.
void AppendString(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
}

void AppendOptional(std::string& out, const char* key, bool present, double value) {
    out += ",\"";
    out += key;
    out += "\":";
    if (present)
        AppendNumber(out, value);
    else
        out += "null";
}

struct LoadedMap {
    std::string written;  // as the scenario names it
    std::string path;     // where it was found
    MapScene scene;
};

// The map a scenario line names: the path as written, else its base name beside the scenario.
std::string FindMap(const std::string& scenario, const std::string& written) {
    if (FileExists(written)) return written;
    std::filesystem::path beside =
        std::filesystem::path(scenario).parent_path() / std::filesystem::path(written).filename();
    return beside.string();
}

bool LoadWalls(const std::vector<Wall>& records) {
    ListClear(walls);
    for (const Wall& wall : records) {
        auto* entry = static_cast<Wall*>(ListAppend(walls));
        if (!entry) return false;
        *entry = wall;
    }
    return true;
}

struct Summary {
    int64_t queries = 0, found = 0, misses = 0, onWall = 0, onWallFound = 0;
    double ratioSum = 0, worstRatio = 0, directMs = 0;
    int64_t ratioCount = 0, worstQuery = -1;
    int64_t shortestFound = 0, shortestNotFinished = 0, shortestRatioCount = 0;
    double shortestRatioSum = 0, worstShortestRatio = 0, shortestMs = 0;
};

// Runs one job to its end; its status, or PATH_JOB_OUT_OF_MEMORY also when it cannot start.
int32_t RunJob(const Vec2& start, const Vec2& goal, int32_t* checks, int32_t* nodes,
               std::vector<Vec2>* path) {
    PathJob* job = CreatePathJob(start, goal);
    if (!job) return PATH_JOB_OUT_OF_MEMORY;
    int32_t status;
    // A searching worker is measured in milliseconds: yielding, not sleeping, keeps the wait
    // out of the figures.
    while ((status = PathJobStatus(job)) == 0) std::this_thread::yield();
    *checks = PathJobCollisionChecks(job);
    *nodes = PathJobNodeCount(job);
    if (status == 1)
        while (NextPathPoint(job)) path->push_back(*CurrentPathPoint(job));
    FreePathJob(job);
    return status;
}

}  // namespace

bool ScenarioOption(int argc, char** argv, int* i, ScenarioRunOptions* options) {
    std::string_view option = argv[*i];
    if (option != "--scenario" && option != "--limit" && option != "--reference" &&
        option != "--cell" && option != "--scale")
        return false;
    std::string_view value = *i + 1 < argc ? argv[*i + 1] : "";
    auto bad = [&](const char* what) {
        std::fprintf(stderr, "pfadlotse-solve: %s needs %s\n\n%s", argv[*i], what, SCENARIO_USAGE);
        *i = -1;
        return true;
    };
    int64_t whole = 0;
    auto parseWhole = [&](int64_t low, int64_t high) {
        auto parsed = std::from_chars(value.data(), value.data() + value.size(), whole);
        return !value.empty() && parsed.ec == std::errc{} &&
               parsed.ptr == value.data() + value.size() && whole >= low && whole <= high;
    };
    if (option == "--scenario") {
        if (value.empty()) return bad("a file name");
        options->scenario = std::string(value);
    } else if (option == "--limit") {
        if (!parseWhole(1, INT64_MAX)) return bad("a whole number of 1 or more");
        options->limit = whole;
    } else if (option == "--reference") {
        if (value != "octile" && value != "euclidean") return bad("octile or euclidean");
        options->reference = value == "octile" ? REFERENCE_OCTILE : REFERENCE_EUCLIDEAN;
    } else if (option == "--cell") {
        if (!parseWhole(1, 1 << 24)) return bad("a whole number from 1 to 16777216");
        options->cell = static_cast<int32_t>(whole);
    } else {
        double scale = 0;
        auto parsed = std::from_chars(value.data(), value.data() + value.size(), scale);
        if (value.empty() || parsed.ec != std::errc{} ||
            parsed.ptr != value.data() + value.size() || !(scale > 0) || !std::isfinite(scale))
            return bad("a number above 0");
        options->scale = scale;
    }
    if (option != "--scenario") options->modeOptions = true;
    ++*i;
    return true;
}

int RunScenarioFromArguments(const ScenarioRunOptions& options, bool otherOperands) {
    if (options.scenario.empty() || otherOperands) {
        std::fprintf(stderr, "pfadlotse-solve: %s\n\n%s",
                     options.scenario.empty()
                         ? "--limit, --reference, --cell and --scale go with --scenario"
                         : "--scenario takes no scene files and no --trace",
                     SCENARIO_USAGE);
        return 2;
    }
    if (!CreateSharedState()) {
        std::fputs("pfadlotse-solve: out of memory\n", stderr);
        return 1;
    }
    return RunScenario(options);
}

int RunScenario(const ScenarioRunOptions& options) {
    std::string text, error;
    std::vector<ScenarioQuery> queries;
    if (!ReadTextFile(options.scenario, MAX_MAP_FILE_BYTES, &text, &error) ||
        !ReadScenario(text, options.scenario, &queries, &error)) {
        std::fprintf(stderr, "pfadlotse-solve: %s\n", error.c_str());
        return 1;
    }
    if (options.limit > 0 && static_cast<int64_t>(queries.size()) > options.limit)
        queries.resize(static_cast<size_t>(options.limit));

    // Every map read and every query checked before the first line: a bad file costs no output.
    const int64_t maxWalls = (SCENE_FILE_MAX_BYTES - 16) / static_cast<int64_t>(sizeof(Wall));
    std::vector<std::unique_ptr<LoadedMap>> maps;
    std::vector<LoadedMap*> mapOf;
    for (const ScenarioQuery& query : queries) {
        auto known = std::find_if(maps.begin(), maps.end(),
                                  [&](const auto& map) { return map->written == query.map; });
        if (known == maps.end()) {
            auto map = std::make_unique<LoadedMap>();
            map->written = query.map;
            map->path = FindMap(options.scenario, query.map);
            if (!LoadMapScene(map->path, options.cell, options.scale, maxWalls, &map->scene,
                              &error)) {
                std::fprintf(stderr, "pfadlotse-solve: %s:%d: map %s: %s\n",
                             options.scenario.c_str(), query.line, query.map.c_str(),
                             error.c_str());
                return 1;
            }
            maps.push_back(std::move(map));
            known = maps.end() - 1;
        }
        const MapScene& scene = (*known)->scene;
        std::string problem;
        if (!scene.isMesh &&
            (query.mapWidth != scene.grid.width || query.mapHeight != scene.grid.height))
            problem = "the line gives the map as " + std::to_string(query.mapWidth) + " x " +
                      std::to_string(query.mapHeight) + " cells, " + (*known)->path + " is " +
                      std::to_string(scene.grid.width) + " x " + std::to_string(scene.grid.height);
        else if (!QueryInMap(scene, query.startX, query.startY))
            problem = "the start is not a place of " + (*known)->path;
        else if (!QueryInMap(scene, query.goalX, query.goalY))
            problem = "the goal is not a place of " + (*known)->path;
        if (!problem.empty()) {
            std::fprintf(stderr, "pfadlotse-solve: %s:%d: %s\n", options.scenario.c_str(),
                         query.line, problem.c_str());
            return 1;
        }
        mapOf.push_back(known->get());
    }

    Summary summary;
    bool outOfMemory = false;
    const LoadedMap* loaded = nullptr;
    for (size_t i = 0; i < queries.size(); ++i) {
        const ScenarioQuery& query = queries[i];
        const MapScene& scene = mapOf[i]->scene;
        if (mapOf[i] != loaded) {
            if (!LoadWalls(scene.walls)) {
                std::fputs("pfadlotse-solve: out of memory for the map's walls\n", stderr);
                return 3;
            }
            loaded = mapOf[i];
        }
        QueryReference reference = scene.isMesh ? REFERENCE_EUCLIDEAN : options.reference;
        Vec2 start = QueryPoint(scene, query.startX, query.startY, reference);
        Vec2 goal = QueryPoint(scene, query.goalX, query.goalY, reference);
        bool onWall = PointOnWall(scene.walls, start) || PointOnWall(scene.walls, goal);
        double optimum = query.optimal * scene.unit;

        int32_t checks = 0, nodes = 0;
        std::vector<Vec2> path;
        auto t0 = Clock::now();
        int32_t status = RunJob(start, goal, &checks, &nodes, &path);
        double ms = MsSince(t0);
        double length = PathLength(path);
        bool compared = status == 1 && optimum > 0;

        std::string line = "{\"query\":" + std::to_string(i) +
                           ",\"line\":" + std::to_string(query.line) + ",\"map\":";
        AppendString(line, query.map);
        line += ",\"start\":";
        AppendPoint(line, start);
        line += ",\"goal\":";
        AppendPoint(line, goal);
        line += onWall ? ",\"onWall\":true" : ",\"onWall\":false";
        line += ",\"status\":" + std::to_string(status);
        if (status == PATH_JOB_OUT_OF_MEMORY) {
            outOfMemory = true;
            line += ",\"error\":\"out of memory\"}\n";
            std::fwrite(line.data(), 1, line.size(), stdout);
            continue;
        }
        line += ",\"collisionChecks\":" + std::to_string(checks) +
                ",\"nodeCount\":" + std::to_string(nodes) + ",\"timeMs\":";
        AppendNumber(line, ms);
        AppendOptional(line, "length", status == 1, length);
        line += ",\"optimum\":";
        AppendNumber(line, optimum);
        line += reference == REFERENCE_OCTILE ? ",\"optimumKind\":\"octile\""
                                              : ",\"optimumKind\":\"euclidean\"";
        AppendOptional(line, "ratio", compared, compared ? length / optimum : 0);

        ++summary.queries;
        summary.directMs += ms;
        if (onWall) {
            ++summary.onWall;
            summary.onWallFound += status == 1;
        } else if (status == 1) {
            ++summary.found;
        } else {
            ++summary.misses;
        }
        if (compared && !onWall) {
            double ratio = length / optimum;
            summary.ratioSum += ratio;
            ++summary.ratioCount;
            if (summary.worstQuery < 0 || ratio > summary.worstRatio) {
                summary.worstRatio = ratio;
                summary.worstQuery = static_cast<int64_t>(i);
            }
        }

        if (options.optimal) {
            auto s0 = Clock::now();
            ShortestPath shortest = FindShortestPath(scene.walls, start, goal, options.budget);
            double shortestMs = MsSince(s0);
            bool shortestCompared = shortest.status == SHORTEST_FOUND && optimum > 0;
            AppendOptional(line, "shortest", shortest.status == SHORTEST_FOUND, shortest.length);
            line += ",\"shortestStatus\":" + std::to_string(shortest.status);
            AppendOptional(line, "shortestRatio", shortestCompared,
                           shortestCompared ? shortest.length / optimum : 0);
            line += ",\"shortestTimeMs\":";
            AppendNumber(line, shortestMs);
            summary.shortestMs += shortestMs;
            summary.shortestNotFinished += shortest.status == SHORTEST_NOT_FINISHED;
            summary.shortestFound += shortest.status == SHORTEST_FOUND;
            if (shortestCompared && !onWall) {
                double ratio = shortest.length / optimum;
                summary.shortestRatioSum += ratio;
                ++summary.shortestRatioCount;
                summary.worstShortestRatio = std::max(summary.worstShortestRatio, ratio);
            }
        }
        line += "}\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }

    std::string line = "{\"summary\":true,\"queries\":" + std::to_string(summary.queries) +
                       ",\"found\":" + std::to_string(summary.found) +
                       ",\"misses\":" + std::to_string(summary.misses) +
                       ",\"onWall\":" + std::to_string(summary.onWall) +
                       ",\"onWallFound\":" + std::to_string(summary.onWallFound);
    bool anyRatio = summary.ratioCount > 0;
    AppendOptional(line, "meanRatio", anyRatio,
                   anyRatio ? summary.ratioSum / static_cast<double>(summary.ratioCount) : 0);
    AppendOptional(line, "worstRatio", anyRatio, summary.worstRatio);
    line += ",\"worstQuery\":" + std::to_string(summary.worstQuery);
    AppendOptional(line, "msPerQuery", summary.queries > 0,
                   summary.directMs / static_cast<double>(std::max<int64_t>(summary.queries, 1)));
    if (options.optimal) {
        bool anyShortest = summary.shortestRatioCount > 0;
        line += ",\"shortestFound\":" + std::to_string(summary.shortestFound) +
                ",\"shortestNotFinished\":" + std::to_string(summary.shortestNotFinished);
        AppendOptional(
            line, "meanShortestRatio", anyShortest,
            anyShortest ? summary.shortestRatioSum / static_cast<double>(summary.shortestRatioCount)
                        : 0);
        AppendOptional(line, "worstShortestRatio", anyShortest, summary.worstShortestRatio);
        AppendOptional(
            line, "shortestMsPerQuery", summary.queries > 0,
            summary.shortestMs / static_cast<double>(std::max<int64_t>(summary.queries, 1)));
    }
    line += "}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return outOfMemory ? 3 : 0;
}
