// The search's trace: the steps as they happened, and answers
// that do not change whether anyone watches.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "analysis_fixture.h"

namespace {

bool Same(Vec2 a, Vec2 b) { return std::memcmp(&a, &b, sizeof a) == 0; }
uint64_t Key(Vec2 point) {
    uint64_t key;
    std::memcpy(&key, &point, sizeof key);
    return key;
}

DirectResult TracedSearch(const std::vector<Wall>& walls, Vec2 start, Vec2 goal,
                          std::vector<SearchEvent>* trace) {
    StartSearchTrace(trace);
    DirectResult result = RunDirectSearch(walls, start, goal);
    StopSearchTrace();
    return result;
}

TEST(SearchTrace, OneWallGivesTheStepsInTheOrderTheSearchTookThem) {
    std::vector<Wall> walls{MakeWall(400, 200, 400, 480)};
    std::vector<SearchEvent> trace;
    DirectResult result = TracedSearch(walls, Vec2{50, 340}, Vec2{750, 340}, &trace);
    ASSERT_EQ(result.collisionChecks, 5);

    struct Expected {
        int32_t kind;
        Vec2 from, to;
        int32_t wall;
    };
    const Vec2 start{50, 340}, goal{750, 340}, upper{400, 199}, lower{400, 481};
    const Expected expected[] = {
        {SEARCH_EVENT_TESTED, start, goal, 0},        {SEARCH_EVENT_TESTED, start, upper, -1},
        {SEARCH_EVENT_NODE_MADE, start, upper, -1},   {SEARCH_EVENT_TESTED, upper, goal, -1},
        {SEARCH_EVENT_GOAL_REACHED, upper, goal, -1}, {SEARCH_EVENT_TESTED, start, lower, -1},
        {SEARCH_EVENT_NODE_MADE, start, lower, -1},   {SEARCH_EVENT_TESTED, lower, goal, -1},
    };
    ASSERT_EQ(trace.size(), std::size(expected));
    for (size_t i = 0; i < trace.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        EXPECT_EQ(trace[i].kind, expected[i].kind);
        EXPECT_TRUE(Same(trace[i].from, expected[i].from));
        EXPECT_TRUE(Same(trace[i].to, expected[i].to));
        EXPECT_EQ(trace[i].wall, expected[i].wall);
    }
    EXPECT_EQ(trace[4].cost, static_cast<float>(PathLength(std::vector<Vec2>{start, upper, goal})));
}

TEST(SearchTrace, AShortcutIsReportedWithTheAncestorTaken) {
    // Two walls: the start sees the second corner directly once the first is passed.
    std::vector<Wall> walls{MakeWall(200, 300, 200, 400), MakeWall(300, 250, 300, 500)};
    std::vector<SearchEvent> trace;
    TracedSearch(walls, Vec2{100, 350}, Vec2{400, 350}, &trace);
    bool shortcut = false;
    for (const SearchEvent& event : trace) shortcut |= event.kind == SEARCH_EVENT_SHORTCUT;
    EXPECT_TRUE(shortcut);
}

// Replays the links of a trace and follows the goal's chain back to the start.
std::vector<Vec2> ReplayPath(const std::vector<SearchEvent>& trace, Vec2 start, Vec2 goal) {
    std::map<uint64_t, Vec2> predecessor;
    for (const SearchEvent& event : trace)
        if (event.kind != SEARCH_EVENT_TESTED) predecessor[Key(event.to)] = event.from;
    std::vector<Vec2> path;
    if (!predecessor.count(Key(goal))) return path;
    // The goal may share its point with the start: take it from the goal's own link first.
    path.push_back(goal);
    Vec2 at = predecessor[Key(goal)];
    for (size_t guard = 0; guard <= trace.size(); ++guard) {
        path.insert(path.begin(), at);
        if (Same(at, start)) return path;
        at = predecessor[Key(at)];
    }
    return {};
}

TEST(SearchTrace, GeneratedScenesGiveTheSameAnswersAndATraceThatAddsUp) {
    std::mt19937 random(4242);
    auto number = [&](int32_t low, int32_t high) {
        return std::uniform_int_distribution<int32_t>(low, high)(random);
    };
    for (int32_t i = 0; i < 60; ++i) {
        SCOPED_TRACE("scene " + std::to_string(i));
        std::vector<Wall> walls = BoxWalls(10, 80, 780, 510);
        for (int32_t n = number(1, 25); n > 0; --n)
            walls.push_back(
                MakeWall(number(20, 780), number(90, 580), number(20, 780), number(90, 580)));
        Vec2 start{static_cast<float>(number(20, 780)), static_cast<float>(number(90, 580))};
        Vec2 goal{static_cast<float>(number(20, 780)), static_cast<float>(number(90, 580))};

        DirectResult plain = RunDirectSearch(walls, start, goal);
        std::vector<SearchEvent> trace;
        DirectResult watched = TracedSearch(walls, start, goal, &trace);
        ASSERT_EQ(watched.status, plain.status);
        ASSERT_EQ(watched.collisionChecks, plain.collisionChecks);
        ASSERT_EQ(watched.nodeCount, plain.nodeCount);
        ASSERT_EQ(watched.path.size(), plain.path.size());
        for (size_t k = 0; k < plain.path.size(); ++k)
            ASSERT_TRUE(Same(watched.path[k], plain.path[k]));

        int32_t tested = 0, made = 0, reached = 0;
        for (const SearchEvent& event : trace) {
            if (event.kind == SEARCH_EVENT_TESTED) {
                ++tested;
                // The wall named is one that blocks; -1 means nothing does.
                if (event.wall < 0) {
                    EXPECT_TRUE(SegmentFree(walls, event.from, event.to));
                } else {
                    ASSERT_LT(event.wall, static_cast<int32_t>(walls.size()));
                    EXPECT_FALSE(
                        SegmentFree(std::vector<Wall>{walls[event.wall]}, event.from, event.to));
                }
            }
            made += event.kind == SEARCH_EVENT_NODE_MADE;
            reached += event.kind == SEARCH_EVENT_GOAL_REACHED;
        }
        EXPECT_EQ(tested, plain.collisionChecks);
        EXPECT_EQ(made, plain.nodeCount - 2);
        EXPECT_EQ(reached, plain.status == 1 ? 1 : 0);
        if (plain.status == 1) {
            std::vector<Vec2> replayed = ReplayPath(trace, start, goal);
            ASSERT_EQ(replayed.size(), plain.path.size());
            for (size_t k = 0; k < replayed.size(); ++k)
                EXPECT_TRUE(Same(replayed[k], plain.path[k]));
        }
    }
}

}  // namespace
