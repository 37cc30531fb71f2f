// The direct path search: straight segments toward the goal, detours over the corner points of
// the nearest blocking wall, depth first, each blocked segment expanded once.
//
// The search is written as a loop over an explicit stack of pending steps rather than as
// recursion: nothing that follows a step's sub-steps depends on them, so popping the steps in
// the order the recursion would have made them gives the same work in the same order, and the
// thread's stack stays flat however deeply a scene nests.

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

#include "pathsearch/pathsearch_internal.h"

// The search's shared state. Written only by the worker that holds SearchLock, and by
// CreatePathJob (the job's two nodes) while no worker exists; read by nobody else.
CursorList* searchNodes = nullptr;
CursorList* testedSegments = nullptr;
// Made once per process by CreateSharedState and never freed; taken only by workers.
Lock* SearchLock = nullptr;

namespace {
std::vector<SearchEvent>* searchTrace = nullptr;
}  // namespace

void SetSearchTrace(std::vector<SearchEvent>* trace) { searchTrace = trace; }

bool CreateSharedState() {
    if (!SearchLock) SearchLock = LockCreate();
    ListCreate(&walls, sizeof(Wall));
    ListCreate(&searchNodes, sizeof(SearchNode*));
    ListCreate(&testedSegments, sizeof(Segment));
    return SearchLock && walls && searchNodes && testedSegments;
}

namespace {

// How many walls a scan tests between two looks at the stop request.
constexpr int32_t STOP_CHECK_WALLS = 4096;
constexpr int32_t FIRST_TASK_CAPACITY = 16;
// Below these sizes a walk is cheaper than a hash set or a grid: the sets are made only once a
// list grows past its threshold, and small scenes are scanned plainly. Up to SHORT_WALL_LIST
// walls are copied into the search's own array (no memory request: a list walk costs a short
// search about a tenth more than an array).
constexpr int32_t HASHED_LIST_MIN = 24;
constexpr int32_t INDEXED_WALLS_MIN = 48;
constexpr int32_t SHORT_WALL_LIST = 16;

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
    WallIndex* index;        // over array; nullptr when it could not be built
};

// The view of the search running on this thread, so ShortcutNode reads the same walls.
thread_local const WallView* activeWalls = nullptr;

WallView ListView() { return WallView{nullptr, 0, walls, nullptr}; }

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

// The nearest wall that blocks the segment (the earliest of equally near ones), or nullptr.
const Wall* NearestWall(const WallView& view, const Segment& segment, bool* stopped) {
    if (view.array) {
        int32_t i = view.index ? NearestWallHit(view.index, segment, stopped)
                               : LinearNearestWall(view.array, view.count, segment, stopped);
        return i >= 0 ? &view.array[i] : nullptr;
    }
    float nearest = NO_WALL_CONTACT;
    const Wall* nearestWall = nullptr;
    *stopped = !ScanWalls(view, [&](const Wall& wall) {
        float distance;
        if (WallContact(wall, segment, &distance) != 0 && distance < nearest) {
            nearest = distance;
            nearestWall = &wall;
        }
        return false;
    });
    return nearestWall;
}

bool SegmentBlocked(const WallView& view, const Segment& segment, bool* stopped) {
    if (view.array) {
        return view.index ? AnyWallHit(view.index, segment, stopped)
                          : LinearAnyWallHit(view.array, view.count, segment, stopped);
    }
    bool blocked = false;
    Vec2 contact{};
    *stopped = !ScanWalls(view, [&](const Wall& wall) {
        blocked = IntersectSegments(wall, segment, contact) != 0;
        return blocked;
    });
    return blocked;
}

// The trace a search took when it started; nullptr when nobody watches.
struct Watch {
    std::vector<SearchEvent>* trace;
};

[[gnu::noinline, gnu::cold]] void Report(const Watch& watch, int32_t kind, const Vec2& from, const Vec2& to, int32_t wall,
                                         float cost) {
    watch.trace->push_back(SearchEvent{kind, from, to, wall, cost});
}

// The wall's position in list order.
int32_t WallIndexOf(const WallView& view, const Wall* wall) {
    if (view.array) return static_cast<int32_t>(wall - view.array);
    int32_t index = 0;
    for (const Wall& candidate : ListItems<Wall>(view.list)) {
        if (&candidate == wall) return index;
        ++index;
    }
    return -1;
}

// ShortcutNode on the given walls; false when stopped part way (the node is still consistent).
bool Shortcut(const WallView& view, SearchNode* node, const Watch& watch) {
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
        if (watch.trace) [[unlikely]] Report(watch, SEARCH_EVENT_SHORTCUT, ancestor->point, node->point, -1, node->cost);
        parent = ancestor;
    }
    return true;
}

// Raw bits as hash keys: 0.0 and -0.0 stay apart and a NaN matches its own bits, exactly as
// the byte comparison of the lists does.
using PointKey = uint64_t;
using SegmentKey = std::pair<uint64_t, uint64_t>;

PointKey KeyOf(const Vec2& point) {
    PointKey key;
    std::memcpy(&key, &point, sizeof key);
    return key;
}

SegmentKey KeyOf(const Segment& segment) {
    SegmentKey key;
    std::memcpy(&key.first, &segment.origin, sizeof key.first);
    std::memcpy(&key.second, &segment.delta, sizeof key.second);
    return key;
}

// One pending call of the recursive formulation: a step from a node toward a target.
struct Task {
    SearchNode* from;
    Vec2 target;
    int32_t targetIsCorner;
};

// The lists stay the record of the search (order, counting, release); the sets answer "is it
// there" without walking them. The node map keeps the first node for each point, as the walk
// from the registry's first entry finds it.
struct Search {
    PathJob* job = nullptr;
    WallView walls{};
    Watch watch{};
    Wall* wallCopy = nullptr;
    int32_t checks = 0;  // segments checked against the walls so far
    Task* tasks = firstTasks;  // firstTasks until the stack outgrows it
    int32_t taskCount = 0;
    int32_t taskCapacity = FIRST_TASK_CAPACITY;
    absl::flat_hash_set<SegmentKey> tested;
    absl::flat_hash_map<PointKey, SearchNode*> nodes;
    // Left unset: only pushed tasks and copied walls are read, and clearing them would cost a
    // small search more than its walls do.
    Task firstTasks[FIRST_TASK_CAPACITY];
    Wall shortWalls[SHORT_WALL_LIST];
};

bool AlreadyTested(Search& search, const Segment& segment) {
    if (search.tested.empty()) {
        if (ListCount(testedSegments) < HASHED_LIST_MIN) {
            for (const Segment& tested : ListItems<Segment>(testedSegments))
                if (std::memcmp(&tested, &segment, sizeof(Segment)) == 0) return true;
            return false;
        }
        // Room for about as many blocked segments as walls up front: growing a set of hundreds
        // of thousands rehashes for milliseconds, with no look at a stop request.
        search.tested.reserve(static_cast<size_t>(std::max(search.walls.count, 2 * HASHED_LIST_MIN)));
        for (const Segment& tested : ListItems<Segment>(testedSegments)) search.tested.insert(KeyOf(tested));
    }
    return search.tested.contains(KeyOf(segment));
}

void NoteTested(Search& search, const Segment& segment) {
    if (!search.tested.empty()) search.tested.insert(KeyOf(segment));
}

SearchNode* FindNode(Search& search, const Vec2& point) {
    if (search.nodes.empty()) {
        if (ListCount(searchNodes) < HASHED_LIST_MIN) {
            for (SearchNode* node : ListItems<SearchNode*>(searchNodes))
                if (std::memcmp(&node->point, &point, sizeof(Vec2)) == 0) return node;
            return nullptr;
        }
        search.nodes.reserve(static_cast<size_t>(std::max(search.walls.count / 4, 2 * HASHED_LIST_MIN)));
        // In registry order, so each point keeps its first node.
        for (SearchNode* node : ListItems<SearchNode*>(searchNodes)) search.nodes.emplace(KeyOf(node->point), node);
    }
    auto found = search.nodes.find(KeyOf(point));
    return found == search.nodes.end() ? nullptr : found->second;
}

void NoteNode(Search& search, SearchNode* node) {
    if (!search.nodes.empty()) search.nodes.emplace(KeyOf(node->point), node);
}

// Doubles the task stack; false (nothing changed) when memory ran out.
[[gnu::noinline]] bool GrowTasks(Search& search) {
    if (search.taskCapacity > INT32_MAX / 2 / static_cast<int32_t>(sizeof(Task))) return false;
    int32_t capacity = search.taskCapacity * 2;
    auto* grown = static_cast<Task*>(BlockAllocate(capacity * static_cast<int32_t>(sizeof(Task))));
    if (!grown) return false;
    BlockCopy(search.tasks, grown, search.taskCount * static_cast<int32_t>(sizeof(Task)));
    if (search.tasks != search.firstTasks) BlockRelease(search.tasks);
    search.tasks = grown;
    search.taskCapacity = capacity;
    return true;
}

// A task that cannot be stored (memory ran out) is dropped: its branch ends, the rest goes on.
inline void Push(Search& search, SearchNode* from, const Vec2& target, int32_t targetIsCorner) {
    if (search.taskCount == search.taskCapacity && !GrowTasks(search)) return;
    search.tasks[search.taskCount++] = Task{from, target, targetIsCorner};
}

// The walls as one flat array with its index, so the hot loop neither walks the list nor tests
// every wall. False when the thread was asked to stop on the way; without memory for the copy
// or the index the search falls back to the list or to plain scans.
bool PrepareWalls(Search& search) {
    int32_t wallCount = ListCount(walls);
    if (wallCount <= SHORT_WALL_LIST) {
        // Too few for a stop to wait on.
        int32_t i = 0;
        for (const Wall& wall : ListItems<Wall>(walls)) search.shortWalls[i++] = wall;
        search.walls = WallView{search.shortWalls, wallCount, nullptr, nullptr};
        return true;
    }
    if (wallCount > 0 && wallCount <= INT32_MAX / static_cast<int32_t>(sizeof(Wall)))
        search.wallCopy = static_cast<Wall*>(BlockAllocate(wallCount * static_cast<int32_t>(sizeof(Wall))));
    if (!search.wallCopy) return !ThreadStopRequested();
    // Counted before the copy, so that a stop during it releases the copy as a large one.
    search.walls = WallView{search.wallCopy, wallCount, nullptr, nullptr};
    int32_t i = 0;
    for (const Wall& wall : ListItems<Wall>(walls)) {
        if (i % STOP_CHECK_WALLS == STOP_CHECK_WALLS - 1 && ThreadStopRequested()) return false;
        search.wallCopy[i++] = wall;
    }
    bool stopped = false;
    // A stopped build's partial index goes to ReleaseSearch with the rest, never to a query.
    search.walls.index = wallCount >= INDEXED_WALLS_MIN ? CreateWallIndex(search.wallCopy, wallCount, &stopped) : nullptr;
    return !stopped;
}

// One step: everything the recursive call does before its own sub-calls, which are pushed.
// False when the thread was asked to stop.
bool Step(Search& search, const Task& task) {
    PathJob* job = search.job;
    SearchNode* from = task.from;
    Segment segment = SegmentToward(from->point, task.target);
    if (AlreadyTested(search, segment)) return true;
    job->collisionChecks++;
    // The walls are copied (and indexed) only for a second check: a search whose first segment
    // is free then costs one walk over the list, not a copy, and on many walls not an index
    // build many times as long; a longer search pays that one walk more.
    if (++search.checks == 2 && !PrepareWalls(search)) [[unlikely]]
        return false;

    bool stopped = false;
    const Wall* wall = NearestWall(search.walls, segment, &stopped);
    if (stopped) return false;
    if (search.watch.trace) [[unlikely]]
        Report(search.watch, SEARCH_EVENT_TESTED, from->point, task.target, wall ? WallIndexOf(search.walls, wall) : -1, 0);
    if (wall) {
        // A blocked segment is expanded once only; one that cannot be recorded is not expanded,
        // or the search might never end.
        auto* entry = static_cast<Segment*>(ListAppend(testedSegments));
        if (!entry) return true;
        *entry = segment;
        NoteTested(search, segment);
        // Last in, first out: the outerA branch runs to its end before the outerB one.
        Push(search, from, wall->outerB, 1);
        Push(search, from, wall->outerA, 1);
        return true;
    }

    if (task.targetIsCorner == 1) {
        SearchNode* node = FindNode(search, task.target);
        if (node) {
            float cost = static_cast<float>(double{from->cost} + NodeDistance(from, node));
            if (cost < node->cost) {
                node->predecessor = from;
                node->cost = cost;
                if (search.watch.trace) [[unlikely]]
                    Report(search.watch, SEARCH_EVENT_RELINKED, from->point, node->point, -1, cost);
            }
        } else {
            node = CreateSearchNode(from, &task.target);
            if (!node) return true;  // no memory for the corner: this branch ends here
            NoteNode(search, node);
            if (search.watch.trace) [[unlikely]]
                Report(search.watch, SEARCH_EVENT_NODE_MADE, from->point, node->point, -1, node->cost);
        }
        if (!Shortcut(search.walls, node, search.watch)) return false;
        Push(search, node, job->goal, 0);
        return true;
    }

    SearchNode* goal = job->goalNode;
    float cost = static_cast<float>(double{from->cost} + NodeDistance(from, goal));
    if (!goal->predecessor || cost < goal->cost) {
        if (search.watch.trace) [[unlikely]]
            Report(search.watch, goal->predecessor ? SEARCH_EVENT_RELINKED : SEARCH_EVENT_GOAL_REACHED, from->point,
                   goal->point, -1, cost);
        goal->predecessor = from;
        goal->cost = cost;
    }
    return Shortcut(search.walls, goal, search.watch);
}

}  // namespace

float NodeDistance(const SearchNode* a, const SearchNode* b) { return PointDistance(a->point, b->point); }

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
    Shortcut(view, node, Watch{nullptr});
}

// What a stopped search leaves to free: apart from the stop when it is large, since the caller
// of the stop is waiting (unmapping a million walls' worth takes milliseconds).
struct SearchLeftovers {
    Wall* wallCopy = nullptr;
    WallIndex* index = nullptr;
    Task* tasks = nullptr;
    absl::flat_hash_set<SegmentKey> tested;
    absl::flat_hash_map<PointKey, SearchNode*> nodes;
    ~SearchLeftovers() {
        FreeWallIndex(index);
        BlockRelease(wallCopy);
        BlockRelease(tasks);
    }
};

namespace {

constexpr int32_t RELEASE_APART_MIN_WALLS = 16384;

// A stopped search's leftovers until the worker takes them; one per thread.
thread_local SearchLeftovers* pendingLeftovers = nullptr;

// Frees what the search made; apart from a stopped search of many walls.
void ReleaseSearch(Search& search, bool finished) {
    Task* heapTasks = search.tasks != search.firstTasks ? search.tasks : nullptr;
    // A stop that came as the search ended waits for the release just the same.
    bool stopping = !finished || ThreadStopRequested();
    if (stopping && search.walls.count >= RELEASE_APART_MIN_WALLS) {
        auto leftovers = std::make_unique<SearchLeftovers>();
        leftovers->wallCopy = search.wallCopy;
        leftovers->index = search.walls.index;
        leftovers->tasks = heapTasks;
        leftovers->tested = std::move(search.tested);
        leftovers->nodes = std::move(search.nodes);
        ReleaseSearchLeftovers(pendingLeftovers);  // none, unless nobody took the last ones
        pendingLeftovers = leftovers.release();
        return;
    }
    BlockRelease(heapTasks);
    FreeWallIndex(search.walls.index);
    BlockRelease(search.wallCopy);
}

}  // namespace

SearchLeftovers* TakeSearchLeftovers() {
    SearchLeftovers* leftovers = pendingLeftovers;
    pendingLeftovers = nullptr;
    return leftovers;
}

void ReleaseSearchLeftovers(SearchLeftovers* leftovers) { std::unique_ptr<SearchLeftovers> owned(leftovers); }

bool SearchToward(PathJob* job, SearchNode* from, const Vec2* target, int32_t targetIsCorner) {
    Search search;
    search.job = job;
    search.walls = ListView();
    search.watch = Watch{searchTrace};
    bool finished = true;

    const WallView* outerWalls = activeWalls;
    activeWalls = &search.walls;
    Push(search, from, *target, targetIsCorner);
    while (search.taskCount > 0) {
        if (ThreadStopRequested()) {
            finished = false;
            break;
        }
        // Field by field, as Push stored them: one wide copy of the whole task would wait for
        // the stores to drain instead of taking their values from the store buffer.
        const Task& top = search.tasks[--search.taskCount];
        Task task{top.from, Vec2{top.target.x, top.target.y}, top.targetIsCorner};
        if (!Step(search, task)) {
            finished = false;
            break;
        }
    }
    activeWalls = outerWalls;
    ReleaseSearch(search, finished);
    return finished;
}
