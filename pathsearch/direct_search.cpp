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
#include <new>
#include <span>

#include "pathsearch/hash_tables.h"
#include "pathsearch/pathsearch_internal.h"

namespace {
std::vector<SearchEvent>* searchTrace = nullptr;
}  // namespace

void SetSearchTrace(std::vector<SearchEvent>* trace) { searchTrace = trace; }

namespace {

constexpr int32_t FIRST_TASK_CAPACITY = 16;
// Chunks of the work stack: 16 << 26 tasks of 24 bytes would be 24 GB.
constexpr int32_t TASK_CHUNKS = SEARCH_TASK_CHUNKS;
// Below these sizes a walk is cheaper than a hash set or a grid: the sets are made only once a
// list grows past its threshold, and small scenes are scanned plainly. Up to SHORT_WALL_LIST
// walls are copied into the search's own array (no memory request: a list walk costs a short
// search about a tenth more than an array).
constexpr int32_t HASHED_LIST_MIN = 24;
constexpr int32_t INDEXED_WALLS_MIN = 48;
constexpr int32_t SHORT_WALL_LIST = 16;

// The walls as the search reads them: a flat copy taken when the search starts (walls do not
// change while a job runs), or the list itself when no copy could be had.
struct WallView {
    const Wall* array;
    int32_t count;
    const CursorList* list;  // used when array is nullptr
    WallIndex* index;        // over array; nullptr until built, or when it could not be
    int64_t* scanned;        // walls tested by plain scans over array, counted when not nullptr
};

// The view of the search running on this thread, so ShortcutNode reads the same walls.
thread_local const WallView* activeWalls = nullptr;

WallView ListView() { return WallView{nullptr, 0, walls, nullptr, nullptr}; }

// The nearest wall that blocks the segment (the earliest of equally near ones), or nullptr.
const Wall* NearestWall(const WallView& view, const Segment& segment, bool* stopped) {
    if (view.index) {
        int32_t i = NearestWallHit(view.index, segment, stopped);
        return i >= 0 ? &view.array[i] : nullptr;
    }
    if (view.scanned) *view.scanned += view.count;
    return view.array ? ScanNearestWall(std::span(view.array, static_cast<size_t>(view.count)),
                                        segment, stopped)
                      : ScanNearestWall(ListItems<Wall>(view.list), segment, stopped);
}

bool SegmentBlocked(const WallView& view, const Segment& segment, bool* stopped) {
    if (view.index) return AnyWallHit(view.index, segment, stopped);
    if (view.scanned) *view.scanned += view.count;
    return view.array ? ScanAnyWallHit(std::span(view.array, static_cast<size_t>(view.count)),
                                       segment, stopped)
                      : ScanAnyWallHit(ListItems<Wall>(view.list), segment, stopped);
}

// The trace a search took when it started; nullptr when nobody watches.
struct Watch {
    std::vector<SearchEvent>* trace;
    PathJob* job;  // told when the trace cannot take a step
};

// A trace missing a step would tell a different search: without the memory for it the job
// ends as out of memory (false).
[[gnu::noinline, gnu::cold]] bool Report(const Watch& watch, int32_t kind, const Vec2& from,
                                         const Vec2& to, int32_t wall, float cost) {
    try {
        watch.trace->push_back(SearchEvent{kind, from, to, wall, cost});
        return true;
    } catch (const std::bad_alloc&) {
        watch.job->outOfMemory = 1;
        return false;
    }
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

// ShortcutNode on the given walls; false when stopped or out of memory part way (the node is
// still consistent).
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
        if (watch.trace) [[unlikely]]
            if (!Report(watch, SEARCH_EVENT_SHORTCUT, ancestor->point, node->point, -1, node->cost))
                return false;
        parent = ancestor;
    }
    return true;
}

// The lookups' slots: a pointer to the entry itself (the tested segment in its list, the
// node), which never moves while the search runs, and is compared and hashed by its raw bits
// (see hash_tables.h). Half the memory of slots holding the bits: a table is touched all over
// as it fills, and fresh pages cost more than the lookups' one extra read.
uint64_t BitsOf(const Vec2& point) {
    uint64_t bits;
    std::memcpy(&bits, &point, sizeof bits);
    return bits;
}

struct SegmentSlot {
    const Segment* segment;  // nullptr: empty
    bool Empty() const { return segment == nullptr; }
    uint64_t Hash() const {
        return MixBits(BitsOf(segment->origin) * 0x9e3779b97f4a7c15ULL ^ BitsOf(segment->delta));
    }
    bool Same(const SegmentSlot& other) const {
        return BitsOf(segment->origin) == BitsOf(other.segment->origin) &&
               BitsOf(segment->delta) == BitsOf(other.segment->delta);
    }
};

struct PointSlot {
    SearchNode* node;  // nullptr: empty
    bool Empty() const { return node == nullptr; }
    uint64_t Hash() const { return MixBits(BitsOf(node->point)); }
    bool Same(const PointSlot& other) const {
        return BitsOf(node->point) == BitsOf(other.node->point);
    }
};

// The lookups' arrays from the last finished search, for the next; like the registry, used
// only by the search that holds SearchLock.
KeptSlots<SegmentSlot> keptTested;
KeptSlots<PointSlot> keptNodes;

// The blocked segments, by their entries in the tested-segment list.
struct SegmentSet {
    HashTable<SegmentSlot> table;
};

bool SetHolds(const SegmentSet& set, const Segment& segment) {
    return FindSlot(set.table, SegmentSlot{&segment}) != nullptr;
}

// entry: in the tested-segment list. False when the set could not grow.
bool AddToSet(SegmentSet& set, const Segment* entry) {
    return FindSlot(set.table, SegmentSlot{entry}) || AddNewSlot(set.table, SegmentSlot{entry});
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
    // The index is built once the plain scans have tested half as many walls as building it
    // would cost: a search of a few checks builds none, and a long one loses little before it.
    int64_t scannedWalls = 0;
    double indexCost = -1;  // in wall tests; negative: no index wanted (or built already)
    double indexBytes = 0;  // the memory the copy and the index take
    int32_t checks = 0;     // segments checked against the walls so far
    // The work stack, in chunks that double in size and are never moved (growing by copying
    // would touch twice the memory): chunk 0 is firstTasks, tasks the current one.
    Task* tasks = firstTasks;
    int32_t taskCount = 0;  // in the current chunk
    int32_t taskCapacity = FIRST_TASK_CAPACITY;
    int32_t taskChunk = 0;
    int32_t taskChunksMade = 1;                    // firstTasks and those made since
    Task* taskChunks[TASK_CHUNKS] = {firstTasks};  // made as the stack first reaches them
    SegmentSet tested;  // made once the list is long enough (table.slots set)
    HashTable<PointSlot> nodes;
    // Left unset: only pushed tasks and copied walls are read, and clearing them would cost a
    // small search more than its walls do.
    Task firstTasks[FIRST_TASK_CAPACITY];
    Wall shortWalls[SHORT_WALL_LIST];
};

// Out of memory ends the search: the job then says so instead of giving a different answer.
[[gnu::cold]] bool OutOfMemory(Search& search) {
    search.job->outOfMemory = 1;
    return false;
}

// Whether the segment was found blocked before. False with the job marked out of memory when
// the set the lookup needs could not be made.
bool AlreadyTested(Search& search, const Segment& segment, bool* tested) {
    if (!search.tested.table.slots) {
        if (ListCount(testedSegments) < HASHED_LIST_MIN) {
            *tested = false;
            for (const Segment& entry : ListItems<Segment>(testedSegments))
                if (std::memcmp(&entry, &segment, sizeof(Segment)) == 0) {
                    *tested = true;
                    break;
                }
            return true;
        }
        // Room for half as many blocked segments as walls up front (a dense scene blocks about
        // two in five): growing a set of hundreds of thousands rehashes for milliseconds, with
        // no look at a stop request.
        if (!ReserveKeptSlots(search.tested.table, keptTested,
                              std::max(search.walls.count / 2, 2 * HASHED_LIST_MIN)))
            return OutOfMemory(search);
        for (const Segment& entry : ListItems<Segment>(testedSegments))
            if (!AddToSet(search.tested, &entry)) return OutOfMemory(search);
    }
    *tested = SetHolds(search.tested, segment);
    return true;
}

// entry: the segment's new entry in the tested-segment list.
bool NoteTested(Search& search, const Segment* entry) {
    return !search.tested.table.slots || AddToSet(search.tested, entry) || OutOfMemory(search);
}

// The first node made for the point, or nullptr; false with the job marked out of memory when
// the map the lookup needs could not be made.
bool FindNode(Search& search, const Vec2& point, SearchNode** found) {
    if (!search.nodes.slots) {
        if (ListCount(searchNodes) < HASHED_LIST_MIN) {
            *found = nullptr;
            for (SearchNode* node : ListItems<SearchNode*>(searchNodes))
                if (std::memcmp(&node->point, &point, sizeof(Vec2)) == 0) {
                    *found = node;
                    break;
                }
            return true;
        }
        if (!ReserveKeptSlots(search.nodes, keptNodes,
                              std::max(search.walls.count / 8, 2 * HASHED_LIST_MIN)))
            return OutOfMemory(search);
        // In registry order, so each point keeps its first node.
        for (SearchNode* node : ListItems<SearchNode*>(searchNodes)) {
            PointSlot slot{node};
            if (!FindSlot(search.nodes, slot) && !AddNewSlot(search.nodes, slot))
                return OutOfMemory(search);
        }
    }
    SearchNode probe{point, 0, nullptr};
    PointSlot* slot = FindSlot(search.nodes, PointSlot{&probe});
    *found = slot ? slot->node : nullptr;
    return true;
}

// Only called for a point that had no node.
bool NoteNode(Search& search, SearchNode* node) {
    return !search.nodes.slots || AddNewSlot(search.nodes, PointSlot{node}) || OutOfMemory(search);
}

// Moves to the next chunk of the task stack, made when first needed; false (nothing changed)
// when memory ran out.
[[gnu::noinline]] bool GrowTasks(Search& search) {
    int32_t next = search.taskChunk + 1;
    if (next == TASK_CHUNKS) return false;
    int32_t capacity = FIRST_TASK_CAPACITY << next;
    if (!search.taskChunks[next]) {
        search.taskChunks[next] =
            static_cast<Task*>(BlockAllocate(capacity * static_cast<int32_t>(sizeof(Task))));
        if (!search.taskChunks[next]) return false;
        search.taskChunksMade = next + 1;
    }
    search.taskChunk = next;
    search.tasks = search.taskChunks[next];
    search.taskCapacity = capacity;
    search.taskCount = 0;
    return true;
}

// Back to the full chunk below, when the current one is empty; false when it is the first. The
// emptied chunk is kept for the next growth.
inline bool ShrinkTasks(Search& search) {
    if (search.taskCount > 0 || search.taskChunk == 0) return search.taskCount > 0;
    --search.taskChunk;
    search.tasks = search.taskChunks[search.taskChunk];
    search.taskCapacity = FIRST_TASK_CAPACITY << search.taskChunk;
    search.taskCount = search.taskCapacity;
    return true;
}

// False with the job marked out of memory when the stack could not grow.
inline bool Push(Search& search, SearchNode* from, const Vec2& target, int32_t targetIsCorner) {
    if (search.taskCount == search.taskCapacity && !GrowTasks(search)) return OutOfMemory(search);
    search.tasks[search.taskCount++] = Task{from, target, targetIsCorner};
    return true;
}

// The walls as one flat array, so the hot loops do not walk the list. False when the thread
// was asked to stop on the way; without memory for the copy the search reads the list.
bool CopyWalls(Search& search) {
    int32_t wallCount = search.walls.count;
    if (wallCount <= INT32_MAX / static_cast<int32_t>(sizeof(Wall)))
        search.wallCopy =
            static_cast<Wall*>(BlockAllocate(wallCount * static_cast<int32_t>(sizeof(Wall))));
    if (!search.wallCopy) return !ThreadStopRequested();
    int32_t i = 0;
    StopPoll poll;
    for (const Wall& wall : ListItems<Wall>(walls)) {
        if (poll.Asked()) return false;
        search.wallCopy[i++] = wall;
    }
    search.walls.array = search.wallCopy;
    search.walls.list = nullptr;
    return true;
}

// Sizes up the walls for the index (IndexWhenWorthIt), which the scans until then read from
// the list: a search of a few checks copies nothing. Up to INDEXED_WALLS_MIN walls, which get
// no index, are copied into a flat array at once. False when the thread was asked to stop on
// the way.
bool PrepareWalls(Search& search) {
    int32_t wallCount = ListCount(walls);
    if (wallCount <= SHORT_WALL_LIST) {
        // Too few for a stop to wait on.
        int32_t i = 0;
        for (const Wall& wall : ListItems<Wall>(walls)) search.shortWalls[i++] = wall;
        search.walls = WallView{search.shortWalls, wallCount, nullptr, nullptr, nullptr};
        return true;
    }
    search.walls = WallView{nullptr, wallCount, walls, nullptr, &search.scannedWalls};
    if (wallCount < INDEXED_WALLS_MIN) return CopyWalls(search);
    StopPoll poll;
    WallExtent extent;
    for (const Wall& wall : ListItems<Wall>(walls)) {
        if (poll.Asked()) return false;
        AddWallExtent(extent, wall);
    }
    // The copy, 32 bytes a wall, takes memory too.
    double indexBytes = 0;
    double cost = WallIndexCost(extent, &indexBytes);
    search.indexBytes = indexBytes + 32.0 * wallCount;
    search.indexCost = cost + PageCost(search.indexBytes);
    return true;
}

// Builds the index once the plain scans have cost half of what it and the copy it reads would.
// False when the thread was asked to stop during the copy or the build; without memory for
// either the scans go on.
bool IndexWhenWorthIt(Search& search) {
    if (search.indexCost < 0 || 2.0 * static_cast<double>(search.scannedWalls) < search.indexCost)
        return true;
    search.indexCost = -1;
    if (!CopyWalls(search)) return false;
    if (!search.wallCopy) return true;
    bool stopped = false;
    // A stopped build's partial index goes to ReleaseSearch with the rest, never to a query.
    search.walls.index = CreateWallIndex(search.wallCopy, search.walls.count, &stopped);
    if (search.walls.index && !stopped) NoteSearchMemory(search.indexBytes);
    return !stopped;
}

// One step: everything the recursive call does before its own sub-calls, which are pushed.
// False when the search must end now: the thread was asked to stop, or memory ran out (the job
// is then marked out of memory).
bool Step(Search& search, const Task& task) {
    PathJob* job = search.job;
    SearchNode* from = task.from;
    Segment segment = SegmentToward(from->point, task.target);
    bool tested;
    if (!AlreadyTested(search, segment, &tested)) return false;
    if (tested) return true;
    job->collisionChecks++;
    // The walls are copied only for a second check, and indexed only once the scans have cost
    // half the index: a search whose first segment is free then costs one walk over the list,
    // not a copy, and one of a few checks no index build many times as long; a longer search
    // pays that one walk and a few scans more.
    if (++search.checks == 2 && !PrepareWalls(search)) [[unlikely]]
        return false;
    if (!IndexWhenWorthIt(search)) [[unlikely]]
        return false;

    bool stopped = false;
    const Wall* wall = NearestWall(search.walls, segment, &stopped);
    if (stopped) return false;
    if (search.watch.trace) [[unlikely]]
        if (!Report(search.watch, SEARCH_EVENT_TESTED, from->point, task.target,
                    wall ? WallIndexOf(search.walls, wall) : -1, 0))
            return false;
    if (wall) {
        // A blocked segment is expanded once only, so it is recorded before its corners.
        auto* entry = static_cast<Segment*>(ListAppend(testedSegments));
        if (!entry) return OutOfMemory(search);
        *entry = segment;
        // Last in, first out: the outerA branch runs to its end before the outerB one.
        return NoteTested(search, entry) && Push(search, from, wall->outerB, 1) &&
               Push(search, from, wall->outerA, 1);
    }

    if (task.targetIsCorner == 1) {
        SearchNode* node;
        if (!FindNode(search, task.target, &node)) return false;
        if (node) {
            float cost = static_cast<float>(double{from->cost} + NodeDistance(from, node));
            if (cost < node->cost) {
                node->predecessor = from;
                node->cost = cost;
                if (search.watch.trace) [[unlikely]]
                    if (!Report(search.watch, SEARCH_EVENT_RELINKED, from->point, node->point, -1,
                                cost))
                        return false;
            }
        } else {
            node = CreateSearchNode(from, &task.target);
            if (!node || !NoteNode(search, node)) return OutOfMemory(search);
            if (search.watch.trace) [[unlikely]]
                if (!Report(search.watch, SEARCH_EVENT_NODE_MADE, from->point, node->point, -1,
                            node->cost))
                    return false;
        }
        return Shortcut(search.walls, node, search.watch) && Push(search, node, job->goal, 0);
    }

    SearchNode* goal = job->goalNode;
    float cost = static_cast<float>(double{from->cost} + NodeDistance(from, goal));
    if (!goal->predecessor || cost < goal->cost) {
        if (search.watch.trace) [[unlikely]]
            if (!Report(search.watch,
                        goal->predecessor ? SEARCH_EVENT_RELINKED : SEARCH_EVENT_GOAL_REACHED,
                        from->point, goal->point, -1, cost))
                return false;
        goal->predecessor = from;
        goal->cost = cost;
    }
    return Shortcut(search.walls, goal, search.watch);
}

}  // namespace

float NodeDistance(const SearchNode* a, const SearchNode* b) {
    return PointDistance(a->point, b->point);
}

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
    if (predecessor)
        node->cost =
            static_cast<float>(double{predecessor->cost} + NodeDistance(node, predecessor));
    return node;
}

void ShortcutNode(SearchNode* node) {
    WallView view = activeWalls ? *activeWalls : ListView();
    Shortcut(view, node, Watch{nullptr, nullptr});
}

namespace {

constexpr int32_t RELEASE_APART_MIN_WALLS = 16384;

// A stopped search's leftovers until the worker takes them; one per thread.
thread_local SearchLeftovers* pendingLeftovers = nullptr;

// Frees what the search made; apart from a stopped search of many walls, when memory for the
// record of it can be had.
void ReleaseSearch(Search& search, bool finished) {
    // A stop that came as the search ended waits for the release just the same.
    bool stopping = !finished || ThreadStopRequested();
    auto* leftovers = stopping && search.walls.count >= RELEASE_APART_MIN_WALLS
                          ? static_cast<SearchLeftovers*>(BlockAllocate(sizeof(SearchLeftovers)))
                          : nullptr;
    if (leftovers) {
        leftovers->wallCopy = search.wallCopy;
        leftovers->index = search.walls.index;
        leftovers->testedSlots = search.tested.table.slots;
        leftovers->nodeSlots = search.nodes.slots;
        for (int32_t i = 1; i < TASK_CHUNKS; ++i) leftovers->tasks[i - 1] = search.taskChunks[i];
        ReleaseSearchLeftovers(pendingLeftovers);  // none, unless nobody took the last ones
        pendingLeftovers = leftovers;
        return;
    }
    // Only the chunks made: a search of a few checks releases none.
    for (int32_t i = 1; i < search.taskChunksMade; ++i) BlockRelease(search.taskChunks[i]);
    FreeWallIndex(search.walls.index);
    BlockRelease(search.wallCopy);
    KeepOrFreeSlots(search.tested.table, keptTested);
    KeepOrFreeSlots(search.nodes, keptNodes);
}

}  // namespace

void ReleaseKeptLookups() {
    BlockRelease(keptTested.slots);
    BlockRelease(keptNodes.slots);
    keptTested = KeptSlots<SegmentSlot>{};
    keptNodes = KeptSlots<PointSlot>{};
}

SearchLeftovers* TakeSearchLeftovers() {
    SearchLeftovers* leftovers = pendingLeftovers;
    pendingLeftovers = nullptr;
    return leftovers;
}

void ReleaseSearchLeftovers(SearchLeftovers* leftovers) {
    if (!leftovers) return;
    FreeWallIndex(leftovers->index);
    BlockRelease(leftovers->wallCopy);
    for (void* chunk : leftovers->tasks) BlockRelease(chunk);
    BlockRelease(leftovers->testedSlots);
    BlockRelease(leftovers->nodeSlots);
    for (SearchNode* node : ListItems<SearchNode*>(leftovers->nodes)) BlockRelease(node);
    if (leftovers->nodes) ListRelease(&leftovers->nodes);
    if (leftovers->tested) ListRelease(&leftovers->tested);
    BlockRelease(leftovers);
}

bool SearchToward(PathJob* job, SearchNode* from, const Vec2* target, int32_t targetIsCorner) {
    Search search;
    search.job = job;
    search.walls = ListView();
    search.watch = Watch{searchTrace, job};
    bool finished = true;

    const WallView* outerWalls = activeWalls;
    activeWalls = &search.walls;
    Push(search, from, *target, targetIsCorner);  // the stack has room for the first
    while (ShrinkTasks(search)) {
        if (ThreadStopRequested()) {
            finished = false;
            break;
        }
        // Field by field, as Push stored them: one wide copy of the whole task would wait for
        // the stores to drain instead of taking their values from the store buffer.
        const Task& top = search.tasks[--search.taskCount];
        Task task{top.from, Vec2{top.target.x, top.target.y}, top.targetIsCorner};
        if (!Step(search, task)) {
            // Out of memory ends the search as finished; the job tells the rest.
            finished = job->outOfMemory != 0;
            break;
        }
    }
    activeWalls = outerWalls;
    ReleaseSearch(search, finished);
    return finished;
}
