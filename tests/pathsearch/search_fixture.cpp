// Shared helpers of the search tests: the shared state, setting walls, running a job.
#include "search_fixture.h"

#include <string>

void EnsureSearchState() {
    if (walls) return;
    CreateSharedState();
}

void SetWalls(const std::vector<Wall>& records) {
    ListClear(walls);
    for (const Wall& record : records) *static_cast<Wall*>(ListAppend(walls)) = record;
}

std::vector<Wall> CurrentWalls() {
    std::vector<Wall> records;
    for (const Wall& wall : ListItems<Wall>(walls)) records.push_back(wall);
    return records;
}

Wall MakeWall(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    return WallBetween(x1, y1, x2, y2);
}

std::vector<Wall> BorderWalls() {
    return {MakeWall(10, 80, 790, 80), MakeWall(10, 80, 10, 590), MakeWall(790, 80, 790, 590),
            MakeWall(10, 590, 790, 590)};
}

std::vector<Wall> Staircase(int32_t stairs) {
    std::vector<Wall> records;
    for (int32_t k = 1; k <= stairs; ++k)
        records.push_back(MakeWall(10 * k, 3 * k, 10 * k, -100000));
    return records;
}

JobResult ReadJob(PathJob* job) {
    JobResult result;
    result.status = PathJobStatus(job);
    result.collisionChecks = PathJobCollisionChecks(job);
    result.nodeCount = PathJobNodeCount(job);
    result.timeMs = PathJobTime(job);
    if (result.status == 1)
        while (NextPathPoint(job)) result.path.push_back(*CurrentPathPoint(job));
    return result;
}

JobResult RunJob(Vec2 start, Vec2 goal) {
    PathJob* job = CreatePathJob(start, goal);
    EXPECT_NE(job, nullptr);
    if (!job) return {};
    while (PathJobStatus(job) == 0) SleepMilliseconds(1);
    JobResult result = ReadJob(job);
    FreePathJob(job);
    return result;
}

static std::string Text(Vec2 point) {
    return "(" + std::to_string(point.x) + ", " + std::to_string(point.y) + ")";
}

testing::AssertionResult SamePath(const std::vector<Vec2>& expected,
                                  const std::vector<Vec2>& actual) {
    if (expected.size() != actual.size())
        return testing::AssertionFailure()
               << "path of " << actual.size() << " points, expected " << expected.size();
    for (size_t i = 0; i < expected.size(); ++i)
        if (!SameBits(expected[i].x, actual[i].x) || !SameBits(expected[i].y, actual[i].y))
            return testing::AssertionFailure() << "point " << i << " is " << Text(actual[i])
                                               << ", expected " << Text(expected[i]);
    return testing::AssertionSuccess();
}

testing::AssertionResult SameAsPlain(const PlainResult& plain, const JobResult& job) {
    if (plain.status != job.status || plain.collisionChecks != job.collisionChecks ||
        plain.nodeCount != job.nodeCount)
        return testing::AssertionFailure()
               << "status/checks/nodes " << job.status << "/" << job.collisionChecks << "/"
               << job.nodeCount << ", plain search " << plain.status << "/" << plain.collisionChecks
               << "/" << plain.nodeCount;
    return SamePath(plain.path, job.path);
}

testing::AssertionResult SearchStateIsClean() {
    if (!LockTry(SearchLock)) return testing::AssertionFailure() << "SearchLock is held";
    LockRelease(SearchLock);
    if (ListCount(searchNodes) != 0)
        return testing::AssertionFailure()
               << ListCount(searchNodes) << " nodes left in the registry";
    if (ListCount(testedSegments) != 0)
        return testing::AssertionFailure() << ListCount(testedSegments) << " tested segments left";
    return testing::AssertionSuccess();
}
