// pfadlotse-scene: writes one of the benchmark's scene families as a scene file, so the
// program can load it with F6 and a user can try the search on it.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "app/scene_file.h"
#include "maps/maps.h"
#include "tools/scene_families.h"

namespace {

const char* USAGE =
    "usage: pfadlotse-scene FAMILY [--walls N] [--seed S] -o FILE\n"
    "       pfadlotse-scene --from-map FILE.map [--cell N] [--scenario FILE.scen\n"
    "                       [--reference octile|euclidean]] -o FILE\n"
    "       pfadlotse-scene --from-mesh FILE.mesh [--scale S] [--scenario FILE.scen] -o FILE\n"
    "\n"
    "Writes a scene of the family as a scene file (start, goal and walls, as F5 saves them).\n"
    "Save it as PathFindLog.txt where pfadlotse looks for it and press F6 to load it.\n"
    "\n"
    "FAMILY     random-dense, random-box, grid-maze, comb, collinear-chain, staircase, start-up\n"
    "--walls N  about N walls (default 100): the smallest scene of the family that has at\n"
    "           least N; the number written is said on stderr. At most 1000000.\n"
    "--seed S   the seed, 0 to 4294967295 (default 1); the same family, N and S always give\n"
    "           the same file\n"
    "-o FILE    where to write; an existing file is replaced whole or not at all\n"
    "\n"
    "random-dense keeps one wall per 1,600 square pixels, so from about 300 walls on it\n"
    "reaches beyond the 800 x 600 window, and the staircase's stairs reach far above it.\n"
    "\n"
    "--from-map   a benchmark grid map (type octile): each cell a square of --cell N units\n"
    "             (default 100), the walls the borders between free and blocked cells and the\n"
    "             map's outer border, merged into straight runs\n"
    "--from-mesh  a navigation mesh (version 2 or 3): the walls the polygons' edges with no\n"
    "             neighbour, mesh units times --scale S (default 100)\n"
    "--scenario   start and goal from the scenario's first query (--reference: a grid query\n"
    "             is the cell's centre, octile, the default, or its top-left corner,\n"
    "             euclidean); without it, the free places nearest the map's top-left and\n"
    "             bottom-right corners\n"
    "A map that is bad or would make more walls than a scene file holds is refused with the\n"
    "file, line and problem, and nothing is written.\n"
    "\n"
    "Exit status: 0 written, 1 a map was refused or the file could not be written, 2 bad\n"
    "arguments.\n";

constexpr int64_t MAX_WALLS = 1000000;

bool ParseWhole(const char* text, int64_t low, int64_t high, int64_t* value) {
    const char* end = text + std::strlen(text);
    auto parsed = std::from_chars(text, end, *value);
    return *text != '\0' && parsed.ec == std::errc{} && parsed.ptr == end && *value >= low &&
           *value <= high;
}

int Usage(const char* problem) {
    std::fprintf(stderr, "pfadlotse-scene: %s\n\n%s", problem, USAGE);
    return 2;
}

// The family's scene with the smallest size parameter that gives at least `wanted` walls.
// Each family's wall count grows with its size, so halving the range finds it.
bool SceneWithWalls(const std::string& family, int64_t wanted, uint32_t seed, FamilyScene* scene) {
    if (!MakeFamilyScene(family, 1, seed, scene)) return false;
    if (static_cast<int64_t>(scene->walls.size()) >= wanted) return true;
    int32_t low = 1, high = 2;
    size_t lowWalls = scene->walls.size();
    for (;;) {
        MakeFamilyScene(family, high, seed, scene);
        // A family whose size does not add walls (the start-up scene) gives what it has.
        if (scene->walls.size() == lowWalls) return MakeFamilyScene(family, low, seed, scene);
        if (static_cast<int64_t>(scene->walls.size()) >= wanted || high >= MAX_WALLS) break;
        low = high;
        lowWalls = scene->walls.size();
        high = high * 2 > MAX_WALLS ? static_cast<int32_t>(MAX_WALLS) : high * 2;
    }
    // Now size `low` gives too few and `high` enough (or the most the family can give).
    while (high - low > 1) {
        int32_t middle = low + (high - low) / 2;
        MakeFamilyScene(family, middle, seed, scene);
        (static_cast<int64_t>(scene->walls.size()) >= wanted ? high : low) = middle;
    }
    return MakeFamilyScene(family, high, seed, scene);
}

struct MapRequest {
    std::string map;  // --from-map or --from-mesh
    bool mesh = false;
    std::string scenario;
    int64_t cell = DEFAULT_CELL;
    double scale = DEFAULT_MESH_SCALE;
    QueryReference reference = REFERENCE_OCTILE;
};

bool WriteScene(const std::vector<Wall>& records, const Vec2& start, const Vec2& goal,
                const std::string& output) {
    ListCreate(&walls, sizeof(Wall));  // the list SaveScene writes; no search runs here
    for (const Wall& wall : records) {
        auto* entry = walls ? static_cast<Wall*>(ListAppend(walls)) : nullptr;
        if (!entry) {
            std::fputs("pfadlotse-scene: out of memory\n", stderr);
            return false;
        }
        *entry = wall;
    }
    return SaveScene(output, start, goal);  // SaveScene says why it failed
}

// A map made into a scene file; everything is read and checked before the file is written.
int SceneFromMap(const MapRequest& request, const std::string& output) {
    const int64_t maxWalls = (SCENE_FILE_MAX_BYTES - 16) / static_cast<int64_t>(sizeof(Wall));
    MapScene scene;
    std::string error;
    if (!LoadMapScene(request.map, static_cast<int32_t>(request.cell), request.scale, maxWalls,
                      &scene, &error)) {
        std::fprintf(stderr, "pfadlotse-scene: %s\n", error.c_str());
        return 1;
    }
    if (scene.isMesh != request.mesh) {
        std::fprintf(stderr, "pfadlotse-scene: %s is %s; use %s\n", request.map.c_str(),
                     scene.isMesh ? "a mesh" : "not a mesh",
                     scene.isMesh ? "--from-mesh" : "--from-map");
        return 1;
    }
    Vec2 start, goal;
    if (!request.scenario.empty()) {
        std::string text;
        std::vector<ScenarioQuery> queries;
        if (!ReadTextFile(request.scenario, MAX_MAP_FILE_BYTES, &text, &error) ||
            !ReadScenario(text, request.scenario, &queries, &error)) {
            std::fprintf(stderr, "pfadlotse-scene: %s\n", error.c_str());
            return 1;
        }
        if (queries.empty()) {
            std::fprintf(stderr, "pfadlotse-scene: %s: no queries\n", request.scenario.c_str());
            return 1;
        }
        const ScenarioQuery& query = queries.front();
        const char* problem =
            !scene.isMesh &&
                    (query.mapWidth != scene.grid.width || query.mapHeight != scene.grid.height)
                ? "the line gives another size than the map's"
            : !QueryInMap(scene, query.startX, query.startY) ? "the start is not a place of the map"
            : !QueryInMap(scene, query.goalX, query.goalY)   ? "the goal is not a place of the map"
                                                             : nullptr;
        if (problem) {
            std::fprintf(stderr, "pfadlotse-scene: %s:%d: %s\n", request.scenario.c_str(),
                         query.line, problem);
            return 1;
        }
        QueryReference reference = scene.isMesh ? REFERENCE_EUCLIDEAN : request.reference;
        start = QueryPoint(scene, query.startX, query.startY, reference);
        goal = QueryPoint(scene, query.goalX, query.goalY, reference);
    } else if (!FarApartFreePoints(scene, &start, &goal)) {
        std::fprintf(stderr, "pfadlotse-scene: %s has no free place for a start\n",
                     request.map.c_str());
        return 1;
    }
    if (!WriteScene(scene.walls, start, goal, output)) return 1;
    std::fprintf(stderr, "pfadlotse-scene: %s: %zu walls written to %s\n", request.map.c_str(),
                 scene.walls.size(), output.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string family, output;
    int64_t wallCount = 100, seed = 1;
    MapRequest request;
    bool mapOption = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        bool hasValue = i + 1 < argc;
        if (argument == "--walls") {
            if (!hasValue || !ParseWhole(argv[++i], 1, MAX_WALLS, &wallCount))
                return Usage("--walls needs a whole number from 1 to 1000000");
        } else if (argument == "--seed") {
            if (!hasValue || !ParseWhole(argv[++i], 0, UINT32_MAX, &seed))
                return Usage("--seed needs a whole number from 0 to 4294967295");
        } else if (argument == "--from-map" || argument == "--from-mesh") {
            if (!hasValue) return Usage("--from-map and --from-mesh need a file name");
            if (!request.map.empty()) return Usage("give one map");
            request.mesh = argument == "--from-mesh";
            request.map = argv[++i];
        } else if (argument == "--scenario") {
            if (!hasValue) return Usage("--scenario needs a file name");
            request.scenario = argv[++i];
        } else if (argument == "--cell") {
            if (!hasValue || !ParseWhole(argv[++i], 1, 1 << 24, &request.cell))
                return Usage("--cell needs a whole number from 1 to 16777216");
            mapOption = true;
        } else if (argument == "--scale") {
            const char* text = hasValue ? argv[++i] : "";
            auto parsed = std::from_chars(text, text + std::strlen(text), request.scale);
            if (*text == '\0' || parsed.ec != std::errc{} || *parsed.ptr != '\0' ||
                !(request.scale > 0) || !std::isfinite(request.scale))
                return Usage("--scale needs a number above 0");
            mapOption = true;
        } else if (argument == "--reference") {
            std::string_view value = hasValue ? argv[++i] : "";
            if (value != "octile" && value != "euclidean")
                return Usage("--reference needs octile or euclidean");
            request.reference = value == "octile" ? REFERENCE_OCTILE : REFERENCE_EUCLIDEAN;
            mapOption = true;
        } else if (argument == "-o" || argument == "--output") {
            if (!hasValue) return Usage("-o needs a file name");
            output = argv[++i];
        } else if (!argument.empty() && argument[0] == '-') {
            return Usage(("unknown option " + std::string(argument)).c_str());
        } else if (family.empty()) {
            family = argument;
        } else {
            return Usage("give one family");
        }
    }
    if (!request.map.empty() || !request.scenario.empty() || mapOption) {
        if (request.map.empty())
            return Usage(
                "--scenario, --cell, --scale and --reference go with "
                "--from-map or --from-mesh");
        if (!family.empty()) return Usage("give a family or a map, not both");
        if (output.empty()) return Usage("where to? (-o FILE)");
        return SceneFromMap(request, output);
    }
    if (family.empty()) return Usage("which family?");
    if (output.empty()) return Usage("where to? (-o FILE)");

    FamilyScene scene;
    if (!SceneWithWalls(family, wallCount, static_cast<uint32_t>(seed), &scene)) {
        std::string known;
        for (const std::string& name : SceneFamilyNames()) known += " " + name;
        return Usage(("unknown family " + family + "; the families are" + known).c_str());
    }
    if (static_cast<int64_t>(scene.walls.size()) > MAX_WALLS) {
        std::fprintf(stderr,
                     "pfadlotse-scene: %s would have %zu walls, more than the program loads\n",
                     family.c_str(), scene.walls.size());
        return 1;
    }

    ListCreate(&walls, sizeof(Wall));  // the list SaveScene writes; no search runs here
    for (const Wall& wall : scene.walls) {
        auto* entry = walls ? static_cast<Wall*>(ListAppend(walls)) : nullptr;
        if (!entry) {
            std::fputs("pfadlotse-scene: out of memory\n", stderr);
            return 1;
        }
        *entry = wall;
    }
    if (!SaveScene(output, scene.start, scene.goal)) return 1;  // SaveScene said why
    std::fprintf(stderr, "pfadlotse-scene: %s, size %d, seed %u: %zu walls written to %s\n",
                 family.c_str(), scene.size, scene.seed, scene.walls.size(), output.c_str());
    return 0;
}
