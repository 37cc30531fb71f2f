// The direct path search: straight segments toward the goal, detours over the corner points of
// the nearest blocking wall, depth first, each blocked segment expanded once.
//
// The search is written as a loop over an explicit stack of pending steps rather than as
// recursion: nothing that follows a step's sub-steps depends on them, so popping the steps in
// the order the recursion would have made them gives the same work in the same order, and the
// thread's stack stays flat however deeply a scene nests.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "pathsearch/pathsearch.h"

CursorList* searchNodes = nullptr;
CursorList* testedSegments = nullptr;
Lock* SearchLock = nullptr;

void CreateSearchLists() {
    ListCreate(&searchNodes, sizeof(SearchNode*));
    ListCreate(&testedSegments, sizeof(Segment));
}

void CreateSearchState() {
    if (!SearchLock) SearchLock = LockCreate();
    CreateSearchLists();
}

namespace {

// The contact distance nothing reaches; also the answer when nothing blocks.
constexpr float NO_CONTACT = 1e10f;
// How many walls a scan tests between two looks at the stop request.
constexpr int32_t STOP_CHECK_WALLS = 4096;
constexpr int32_t FIRST_TASK_CAPACITY = 256;

bool SamePoint(const Vec2& a, const Vec2& b) { return std::memcmp(&a, &b, sizeof(Vec2)) == 0; }
bool SameSegment(const Segment& a, const Segment& b) { return std::memcmp(&a, &b, sizeof(Segment)) == 0; }

float Distance(const Vec2& a, const Vec2& b) {
    double dx = double{a.x} - b.x;
    double dy = double{a.y} - b.y;
    return static_cast<float>(std::sqrt(dx * dx + dy * dy));
}

Segment SegmentToward(const Vec2& from, const Vec2& to) {
    return Segment{from, Vec2{static_cast<float>(double{to.x} - from.x),
                              static_cast<float>(double{to.y} - from.y)}};
}

// The walls as the search reads them: a flat copy taken when the search starts (walls do not
// change while a job runs), or the list itself when no copy could be had.
struct WallView {
    const Wall* array;
    int32_t count;
    const CursorList* list;  // used when array is nullptr
};

// The view of the search running on this thread, so ShortcutNode reads the same walls.
thread_local const WallView* activeWalls = nullptr;

WallView ListView() { return WallView{nullptr, 0, walls}; }

// Calls visit(wall) for every wall in list order until it returns true. Returns false when the
// thread was asked to stop during the scan (looked at every STOP_CHECK_WALLS walls).
template <class Visit>
bool ScanWalls(const WallView& view, Visit&& visit) {
    if (view.array) {
        for (int32_t begin = 0; begin < view.count; begin += STOP_CHECK_WALLS) {
            if (begin > 0 && ThreadStopRequested()) return false;
            int32_t end = view.count - begin < STOP_CHECK_WALLS ? view.count : begin + STOP_CHECK_WALLS;
            for (int32_t i = begin; i < end; ++i)
                if (visit(view.array[i])) return true;
        }
        return true;
    }
    int32_t sinceCheck = 0;
    for (const Wall& wall : ListItems<Wall>(view.list)) {
        if (++sinceCheck == STOP_CHECK_WALLS) {
            sinceCheck = 0;
            if (ThreadStopRequested()) return false;
        }
        if (visit(wall)) return true;
    }
    return true;
}

// How far from the segment's origin a collinear overlap begins: 0 when the origin lies on the
// wall, else the distance to the nearer wall end.
float OverlapDistance(const Wall& wall, const Vec2& origin) {
    Vec2 a = wall.origin;
    Vec2 b{static_cast<float>(double{a.x} + wall.delta.x), static_cast<float>(double{a.y} + wall.delta.y)};
    double dot = (double{origin.x} - a.x) * (double{origin.x} - b.x) +
                 (double{origin.y} - a.y) * (double{origin.y} - b.y);
    if (dot <= 0.0) return 0.0f;
    double ax = double{a.x} - origin.x, ay = double{a.y} - origin.y;
    double bx = double{b.x} - origin.x, by = double{b.y} - origin.y;
    double lengthA = std::sqrt(ax * ax + ay * ay);
    double lengthB = std::sqrt(bx * bx + by * by);
    return static_cast<float>(std::min(lengthA, lengthB));
}

// The nearest wall that blocks the segment (the earliest of equally near ones), or nullptr.
const Wall* NearestWall(const WallView& view, const Segment& segment, bool* stopped) {
    float nearest = NO_CONTACT;
    const Wall* nearestWall = nullptr;
    Vec2 contact{};
    *stopped = !ScanWalls(view, [&](const Wall& wall) {
        int32_t result = IntersectSegments(wall, segment, contact);
        if (result != 0) {
            float distance = result == 1 ? Distance(segment.origin, contact) : OverlapDistance(wall, segment.origin);
            if (distance < nearest) {
                nearest = distance;
                nearestWall = &wall;
            }
        }
        return false;
    });
    return nearestWall;
}

bool SegmentBlocked(const WallView& view, const Segment& segment, bool* stopped) {
    bool blocked = false;
    Vec2 contact{};
    *stopped = !ScanWalls(view, [&](const Wall& wall) {
        blocked = IntersectSegments(wall, segment, contact) != 0;
        return blocked;
    });
    return blocked;
}

// ShortcutNode on the given walls; false when stopped part way (the node is still consistent).
bool Shortcut(const WallView& view, SearchNode* node) {
    if (!node->predecessor) return true;
    SearchNode* parent = node->predecessor;
    while (parent->predecessor) {
        if (ThreadStopRequested()) return false;
        SearchNode* ancestor = parent->predecessor;
        bool stopped = false;
        bool blocked = SegmentBlocked(view, SegmentToward(ancestor->point, node->point), &stopped);
        if (stopped) return false;
        if (blocked) return true;
        node->predecessor = ancestor;
        node->cost = static_cast<float>(double{ancestor->cost} + NodeDistance(node, ancestor));
        parent = ancestor;
    }
    return true;
}

bool AlreadyTested(const Segment& segment) {
    for (const Segment& tested : ListItems<Segment>(testedSegments))
        if (SameSegment(tested, segment)) return true;
    return false;
}

SearchNode* FindNode(const Vec2& point) {
    for (SearchNode* node : ListItems<SearchNode*>(searchNodes))
        if (SamePoint(node->point, point)) return node;
    return nullptr;
}

// One pending call of the recursive formulation: a step from a node toward a target.
struct Task {
    SearchNode* from;
    Vec2 target;
    int32_t targetIsCorner;
};

struct Search {
    PathJob* job;
    WallView walls;
    Wall* wallCopy;
    Task* tasks;
    int32_t taskCount;
    int32_t taskCapacity;
};

// A task that cannot be stored (memory ran out) is dropped: its branch ends, the rest goes on.
void Push(Search& search, SearchNode* from, const Vec2& target, int32_t targetIsCorner) {
    if (search.taskCount == search.taskCapacity) {
        if (search.taskCapacity > INT32_MAX / 2 / static_cast<int32_t>(sizeof(Task))) return;
        int32_t capacity = search.taskCapacity * 2;
        auto* grown = static_cast<Task*>(BlockAllocate(capacity * static_cast<int32_t>(sizeof(Task))));
        if (!grown) return;
        BlockCopy(search.tasks, grown, search.taskCount * static_cast<int32_t>(sizeof(Task)));
        BlockRelease(search.tasks);
        search.tasks = grown;
        search.taskCapacity = capacity;
    }
    search.tasks[search.taskCount++] = Task{from, target, targetIsCorner};
}

// One step: everything the recursive call does before its own sub-calls, which are pushed.
// False when the thread was asked to stop.
bool Step(Search& search, const Task& task) {
    PathJob* job = search.job;
    SearchNode* from = task.from;
    Segment segment = SegmentToward(from->point, task.target);
    if (AlreadyTested(segment)) return true;
    job->collisionChecks++;

    bool stopped = false;
    const Wall* wall = NearestWall(search.walls, segment, &stopped);
    if (stopped) return false;
    if (wall) {
        // A blocked segment is expanded once only; one that cannot be recorded is not expanded,
        // or the search might never end.
        auto* entry = static_cast<Segment*>(ListAppend(testedSegments));
        if (!entry) return true;
        *entry = segment;
        // Last in, first out: the outerA branch runs to its end before the outerB one.
        Push(search, from, wall->outerB, 1);
        Push(search, from, wall->outerA, 1);
        return true;
    }

    if (task.targetIsCorner == 1) {
        SearchNode* node = FindNode(task.target);
        if (node) {
            float cost = static_cast<float>(double{from->cost} + NodeDistance(from, node));
            if (cost < node->cost) {
                node->predecessor = from;
                node->cost = cost;
            }
        } else {
            node = CreateSearchNode(from, &task.target);
            if (!node) return true;  // no memory for the corner: this branch ends here
        }
        if (!Shortcut(search.walls, node)) return false;
        Push(search, node, job->goal, 0);
        return true;
    }

    SearchNode* goal = job->goalNode;
    float cost = static_cast<float>(double{from->cost} + NodeDistance(from, goal));
    if (!goal->predecessor || cost < goal->cost) {
        goal->predecessor = from;
        goal->cost = cost;
    }
    return Shortcut(search.walls, goal);
}

}  // namespace

float NodeDistance(const SearchNode* a, const SearchNode* b) { return Distance(a->point, b->point); }

SearchNode* CreateSearchNode(SearchNode* predecessor, const Vec2* point) {
    auto* node = static_cast<SearchNode*>(BlockAllocate(sizeof(SearchNode)));
    if (!node) return nullptr;
    auto* entry = static_cast<SearchNode**>(ListAppend(searchNodes));
    if (!entry) {
        // An unregistered node would never be released or counted.
        BlockRelease(node);
        return nullptr;
    }
    *entry = node;
    node->predecessor = predecessor;
    if (point) node->point = *point;
    if (predecessor) node->cost = static_cast<float>(double{predecessor->cost} + NodeDistance(node, predecessor));
    return node;
}

void ShortcutNode(SearchNode* node) {
    WallView view = activeWalls ? *activeWalls : ListView();
    Shortcut(view, node);
}

bool SearchToward(PathJob* job, SearchNode* from, const Vec2* target, int32_t targetIsCorner) {
    Search search{job, ListView(), nullptr, nullptr, 0, 0};

    // The hot loop reads the walls from one flat array.
    int32_t wallCount = ListCount(walls);
    if (wallCount > 0 && wallCount <= INT32_MAX / static_cast<int32_t>(sizeof(Wall)))
        search.wallCopy = static_cast<Wall*>(BlockAllocate(wallCount * static_cast<int32_t>(sizeof(Wall))));
    if (search.wallCopy) {
        int32_t i = 0;
        for (const Wall& wall : ListItems<Wall>(walls)) search.wallCopy[i++] = wall;
        search.walls = WallView{search.wallCopy, wallCount, nullptr};
    }
    search.tasks = static_cast<Task*>(BlockAllocate(FIRST_TASK_CAPACITY * static_cast<int32_t>(sizeof(Task))));
    search.taskCapacity = search.tasks ? FIRST_TASK_CAPACITY : 0;

    const WallView* outerWalls = activeWalls;
    activeWalls = &search.walls;
    bool finished = true;
    if (search.tasks) {
        Push(search, from, *target, targetIsCorner);
        while (search.taskCount > 0) {
            if (ThreadStopRequested()) {
                finished = false;
                break;
            }
            Task task = search.tasks[--search.taskCount];
            if (!Step(search, task)) {
                finished = false;
                break;
            }
        }
    }
    activeWalls = outerWalls;
    BlockRelease(search.tasks);
    BlockRelease(search.wallCopy);
    return finished;
}
