// pfadlotse-scene: writes one of the benchmark's scene families as a scene file, so the
// program can load it with F6 and a user can try the search on it.

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "app/scene_file.h"
#include "tools/scene_families.h"

namespace {

const char* USAGE =
    "usage: pfadlotse-scene FAMILY [--walls N] [--seed S] -o FILE\n"
    "\n"
    "Writes a scene of the family as a scene file (start, goal and walls, as F5 saves them).\n"
    "Save it as PathFindLog.txt where pfadlotse looks for it and press F6 to load it.\n"
    "\n"
    "FAMILY     random-dense, random-box, grid-maze, comb, collinear-chain, staircase, start-up,\n"
    "           tall-comb (teeth 40,000 long), low-staircase (stairs up to y = -60,000)\n"
    "--walls N  about N walls (default 100): the smallest scene of the family that has at\n"
    "           least N; the number written is said on stderr. At most 1000000.\n"
    "--seed S   the seed, 0 to 4294967295 (default 1); the same family, N and S always give\n"
    "           the same file\n"
    "-o FILE    where to write; an existing file is replaced whole or not at all\n"
    "\n"
    "random-dense keeps one wall per 1,600 square pixels, so from about 300 walls on it\n"
    "reaches beyond the 800 x 600 window, and the staircase's stairs reach far above it.\n"
    "\n"
    "Exit status: 0 written, 1 the file could not be written, 2 bad arguments.\n";

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

}  // namespace

int main(int argc, char** argv) {
    std::string family, output;
    int64_t wallCount = 100, seed = 1;
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
