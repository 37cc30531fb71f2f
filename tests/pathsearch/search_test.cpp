// The search and the path job on small scenes, case by case.
#include <cmath>

#include "search_fixture.h"
#include "tools/scene_families.h"

namespace {

const Vec2 START{50, 340};
const Vec2 GOAL{750, 340};

// Runs the search on this thread and keeps its nodes for inspection until destroyed.
struct DirectSearch {
    PathJob* job;
    DirectSearch(Vec2 start, Vec2 goal) { job = MakePathJobRecord(start, goal); }
    void Run() { EXPECT_TRUE(SearchToward(job, job->startNode, &job->goal, 0)); }
    ~DirectSearch() {
        ReleaseSearchNodes();
        BlockRelease(job);
    }
    // The registry's nodes in order of creation.
    std::vector<SearchNode*> Nodes() const {
        std::vector<SearchNode*> nodes;
        for (SearchNode* node : ListItems<SearchNode*>(searchNodes)) nodes.push_back(node);
        return nodes;
    }
};

bool SamePoint(Vec2 a, Vec2 b) { return SameBits(a.x, b.x) && SameBits(a.y, b.y); }

}  // namespace

// ---- The examples every implementation must reproduce ----------------------------------------

TEST_F(SearchSteps, WithoutWallsOneCheckLinksTheGoalToTheStart) {
    SetWalls({});
    DirectSearch search(START, GOAL);
    search.Run();
    EXPECT_EQ(search.job->collisionChecks, 1);
    EXPECT_EQ(ListCount(searchNodes), 2);
    EXPECT_EQ(search.job->goalNode->predecessor, search.job->startNode);
    EXPECT_EQ(search.job->goalNode->cost, 700.0f);
}

TEST_F(SearchSteps, ASingleWallIsPassedAtItsUpperCornerAndTheEqualLowerWayIsNotTaken) {
    SetWalls({MakeWall(400, 200, 400, 480)});
    JobResult result = RunJob(START, GOAL);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.collisionChecks, 5);
    EXPECT_EQ(result.nodeCount, 4);
    EXPECT_TRUE(SamePath({START, {400, 199}, GOAL}, result.path));
}

TEST_F(SearchSteps, StartEqualToGoalGivesTwoEqualPoints) {
    SetWalls(BorderWalls());
    DirectSearch search(Vec2{300, 300}, Vec2{300, 300});
    search.Run();
    EXPECT_EQ(search.job->collisionChecks, 1);
    EXPECT_EQ(ListCount(searchNodes), 2);
    EXPECT_EQ(search.job->goalNode->predecessor, search.job->startNode);
    EXPECT_EQ(search.job->goalNode->cost, 0.0f);
}

TEST_F(SearchSteps, AnEnclosedGoalIsUnreachableWithItsStatisticsSet) {
    std::vector<Wall> scene = BorderWalls();
    for (Wall wall : {MakeWall(600, 300, 700, 300), MakeWall(700, 300, 700, 380),
                      MakeWall(700, 380, 600, 380), MakeWall(600, 380, 600, 300)})
        scene.push_back(wall);
    SetWalls(scene);
    JobResult result = RunJob(START, Vec2{650, 340});
    EXPECT_EQ(result.status, -1);
    EXPECT_GT(result.collisionChecks, 1);
    EXPECT_GE(result.nodeCount, 2);
    EXPECT_TRUE(result.path.empty());
}

TEST_F(SearchSteps, ASegmentAlreadyFoundBlockedIsRefusedUncounted) {
    SetWalls({MakeWall(400, 200, 400, 480)});
    DirectSearch search(START, GOAL);
    search.Run();
    ASSERT_EQ(search.job->collisionChecks, 5);
    search.Run();
    EXPECT_EQ(search.job->collisionChecks, 5);
    EXPECT_EQ(ListCount(searchNodes), 4);
}

// ---- ShortcutNode --------------------------------------------------------------------------

TEST_F(ShortcutLinks, ShortcutLinksANodeToTheStartWhenTheStartSeesIt) {
    SetWalls({});
    Vec2 s{0, 0}, c1{10, 10}, c2{20, 0};
    SearchNode* start = CreateSearchNode(nullptr, &s);
    SearchNode* first = CreateSearchNode(start, &c1);
    SearchNode* second = CreateSearchNode(first, &c2);
    ShortcutNode(second);
    EXPECT_EQ(second->predecessor, start);
    EXPECT_EQ(second->cost, 20.0f);
    EXPECT_EQ(first->predecessor, start);
    ShortcutNode(start);  // no predecessor: nothing to do
    EXPECT_EQ(start->predecessor, nullptr);
    ReleaseSearchNodes();
}

TEST_F(ShortcutLinks, ShortcutStopsAtTheFirstAncestorItCannotSee) {
    // The small wall blocks both diagonals of the square, not its bottom edge.
    Vec2 s{0, 0}, c1{0, 10}, c2{10, 10}, c3{10, 0};
    for (bool blocked : {true, false}) {
        SetWalls(blocked ? std::vector<Wall>{MakeWall(5, 4, 5, 6)} : std::vector<Wall>{});
        SearchNode* start = CreateSearchNode(nullptr, &s);
        SearchNode* first = CreateSearchNode(start, &c1);
        SearchNode* second = CreateSearchNode(first, &c2);
        SearchNode* third = CreateSearchNode(second, &c3);
        ShortcutNode(third);
        if (blocked) {
            EXPECT_EQ(third->predecessor, second);
            EXPECT_EQ(third->cost, 30.0f);
        } else {
            EXPECT_EQ(third->predecessor, start);
            EXPECT_EQ(third->cost, 10.0f);
        }
        ReleaseSearchNodes();
    }
}

// ---- Walls reported as collinear overlaps -------------------------------------------------

// On the line through (0, 0) in direction (3, 4), the wall from 150 to 300 units out overlaps
// the way to (300, 400) and counts at its nearer end, 150 away. (A diagonal line: on an axis the
// signed zeros keep IntersectSegments from reporting this overlap at all.) Its outerA is moved
// off the line, as a scene file may store it, so the way to it does not cross the other wall.
TEST_F(SearchSteps, ACollinearOverlapRanksByItsNearerEnd) {
    Wall collinear = MakeWall(90, 120, 180, 240);
    collinear.outerA = Vec2{200, 0};
    struct Case {
        Wall crossing;  // across the line, at right angles
        Vec2 firstCorner;
    } cases[] = {
        {MakeWall(20, 110, 100, 50), {}},   // 100 out: nearer, its corner comes first
        {MakeWall(80, 190, 160, 130), {}},  // 200 out: the overlap is nearer
    };
    cases[0].firstCorner = cases[0].crossing.outerA;
    cases[1].firstCorner = collinear.outerA;
    for (const Case& c : cases) {
        SetWalls({collinear, c.crossing});
        DirectSearch search(Vec2{0, 0}, Vec2{300, 400});
        search.Run();
        std::vector<SearchNode*> nodes = search.Nodes();
        ASSERT_GE(nodes.size(), 3u);
        EXPECT_TRUE(SamePoint(nodes[2]->point, c.firstCorner))
            << "first corner (" << nodes[2]->point.x << ", " << nodes[2]->point.y << ")";
    }
}

TEST_F(SearchSteps, ACollinearWallUnderTheOriginRanksAtDistanceZero) {
    // The crossing wall comes first in the list and is 5 away, but the origin lies on the
    // collinear wall, which then wins, and every way around it runs along it: unreachable.
    SetWalls({MakeWall(50, -10, 50, 10), MakeWall(30, 0, 60, 0)});
    JobResult result = RunJob(Vec2{45, 0}, Vec2{100, 0});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.nodeCount, 2);
}

// ---- Memory and thread failures ------------------------------------------------------------

class SearchFailureTest : public SearchTest {
  protected:
    void TearDown() override {
        FailBlockAllocate(0, 0);
        FailThreadStart(0);
        SearchTest::TearDown();
    }
};

TEST_F(SearchFailureTest, MemoryRunningOutForTheSearchOrThePathGivesNoAnswer) {
    // One block the search or the job needs, failed once: the job ends as out of memory, never
    // with a path or "unreachable" that is not the search's, and the state is left clean.
    static_assert(3 * sizeof(Vec2) == sizeof(SearchNode));
    struct Case {
        const char* what;
        std::vector<Wall> walls;
        Vec2 start, goal;
        int32_t size, count;
    };
    const std::vector<Wall> oneWall{MakeWall(400, 200, 400, 480)};
    const Case cases[] = {
        {"the upper corner's node", oneWall, START, GOAL, sizeof(SearchNode), 3},
        {"the path's three points", oneWall, START, GOAL, 3 * sizeof(Vec2),
         5},  // after the four nodes
        {"the work stack grown to 32 tasks of 24 bytes", Staircase(40), STAIRCASE_START,
         StaircaseGoal(40), 768, 1},
        {"a lookup table of 128 slots", Staircase(40), STAIRCASE_START, StaircaseGoal(40),
         128 * sizeof(void*), 1},
    };
    for (const Case& c : cases) {
        SetWalls(c.walls);
        ReleaseKeptLookups();  // else the last search's tables would serve this one
        FailBlockAllocate(c.size, c.count);
        JobResult result = RunJob(c.start, c.goal);
        FailBlockAllocate(0, 0);
        EXPECT_EQ(result.status, PATH_JOB_OUT_OF_MEMORY) << c.what;
        EXPECT_TRUE(result.path.empty()) << c.what;
        EXPECT_TRUE(SearchStateIsClean()) << c.what;
        EXPECT_EQ(RunJob(c.start, c.goal).status, 1) << c.what;
    }
}

TEST_F(SearchFailureTest, WithoutMemoryForTheWallCopyTheSearchReadsTheWallListToTheSameAnswer) {
    // A few walls are copied without a memory request; above that the copy is a block, and
    // without it the search reads the list itself (and builds no index: there is nothing to
    // index). Sizes just above the short list and past the index threshold.
    for (int32_t count : {8, 13, 30, 60}) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            FamilyScene scene = RandomBoxScene(count, seed);
            SetWalls(scene.walls);
            PlainResult plain = PlainSearch(scene.walls, scene.start, scene.goal);
            int32_t copySize = static_cast<int32_t>(scene.walls.size() * sizeof(Wall));
            FailBlockAllocate(copySize, 1);
            JobResult result = RunJob(scene.start, scene.goal);
            EXPECT_TRUE(SameAsPlain(plain, result))
                << scene.walls.size() << " walls, seed " << seed;
            // The failure was spent on the copy exactly when the walls were too many for the
            // search's own array (and a second check asked for a copy): then this block comes;
            // else the armed failure takes it.
            ASSERT_GT(result.collisionChecks, 1);
            void* probe = BlockAllocate(copySize);
            EXPECT_EQ(probe != nullptr, scene.walls.size() > 16) << scene.walls.size() << " walls";
            BlockRelease(probe);
            FailBlockAllocate(0, 0);
        }
    }
}

TEST_F(SearchFailureTest, ASearchOfOneCheckCopiesNoWallsAndALongerOneDoes) {
    // Enough walls for the index; once with start and goal in the open beside them (one check,
    // answered from the list), once across them. The copy's block is set to fail: a search that
    // makes it runs on from the list, and one that never asks leaves the failure unspent.
    FamilyScene scene = RandomDenseScene(1000, 1);
    SetWalls(scene.walls);
    const int32_t copySize = static_cast<int32_t>(scene.walls.size() * sizeof(Wall));
    struct Case {
        Vec2 start, goal;
        bool oneCheck;
    };
    for (const Case& c :
         {Case{{-500, -500}, {-400, -450}, true}, Case{scene.start, scene.goal, false}}) {
        PlainResult plain = PlainSearch(scene.walls, c.start, c.goal);
        FailBlockAllocate(copySize, 1);
        JobResult result = RunJob(c.start, c.goal);
        EXPECT_TRUE(SameAsPlain(plain, result));
        EXPECT_EQ(result.collisionChecks == 1, c.oneCheck) << result.collisionChecks << " checks";
        void* probe = BlockAllocate(copySize);
        EXPECT_EQ(probe == nullptr, c.oneCheck)
            << "the wall copy was " << (probe ? "" : "not ") << "asked for";
        BlockRelease(probe);
        FailBlockAllocate(0, 0);
    }
}

TEST_F(SearchFailureTest, AJobThatCannotStartLeavesNothingBehind) {
    SetWalls({MakeWall(400, 200, 400, 480)});
    FailThreadStart(1);
    EXPECT_EQ(CreatePathJob(START, GOAL), nullptr);
    EXPECT_TRUE(SearchStateIsClean());
    FailBlockAllocate(sizeof(SearchNode), 2);  // the goal node
    EXPECT_EQ(CreatePathJob(START, GOAL), nullptr);
    EXPECT_TRUE(SearchStateIsClean());
    FailBlockAllocate(sizeof(PathJob), 1);
    EXPECT_EQ(CreatePathJob(START, GOAL), nullptr);
    EXPECT_TRUE(SearchStateIsClean());

    JobResult result = RunJob(START, GOAL);
    EXPECT_EQ(result.nodeCount, 4);
    EXPECT_TRUE(SamePath({START, {400, 199}, GOAL}, result.path));
}
