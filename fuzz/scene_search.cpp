// Fuzz target: a scene read from any bytes, then one path job on it under a budget of wall
// tests. A finished job must hand out a path from its start to its goal, leave the shared
// search state clean, and, on small scenes, agree bit for bit with the plain restatement of
// the search; a job over the budget must stop and leave the state just as clean.
#include <cstring>
#include <vector>

#include "analysis/plain_search.h"
#include "app/scene_file.h"
#include "fuzz/fuzz_support.h"
#include "pathsearch/pathsearch_internal.h"

namespace {
// The plain search has no stop and no budget: only scenes this small go to it.
constexpr int32_t PLAIN_SEARCH_MAX_WALLS = 12;

bool Same(const Vec2& a, const Vec2& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!walls) CreateSharedState();
    ListClear(walls);
    AddBox(10, 80, 780, 510);
    Vec2 start{50, 340};
    Vec2 goal{750, 340};
    FUZZ_CHECK(ParseScene(std::span<const uint8_t>(data, size), start, goal, walls));

    bool stopped = false;
    PathJob* job = RunJobWithinBudget(start, goal, &stopped);
    if (!job) return 0;
    int32_t status = PathJobStatus(job);
    FUZZ_CHECK(status == 1 || status == -1);
    std::vector<Vec2> path;
    if (status == 1) {
        while (NextPathPoint(job)) path.push_back(*CurrentPathPoint(job));
        FUZZ_CHECK(path.size() >= 2);
        FUZZ_CHECK(Same(path.front(), start));
        FUZZ_CHECK(Same(path.back(), goal));
    }
    FUZZ_CHECK(PathJobNodeCount(job) >= 2);

    if (ListCount(walls) <= PLAIN_SEARCH_MAX_WALLS) {
        std::vector<Wall> records;
        for (const Wall& wall : ListItems<Wall>(walls)) records.push_back(wall);
        PlainResult plain = PlainSearch(records, start, goal);
        FUZZ_CHECK(plain.status == status);
        FUZZ_CHECK(plain.collisionChecks == PathJobCollisionChecks(job));
        FUZZ_CHECK(plain.nodeCount == PathJobNodeCount(job));
        FUZZ_CHECK(plain.path.size() == path.size());
        for (size_t i = 0; i < path.size(); ++i) FUZZ_CHECK(Same(plain.path[i], path[i]));
    }
    FreePathJob(job);
    return 0;
}
