// The path job: one search on a worker thread, its statistics and the finished path as a flat
// array. The end of the worker thread publishes the result; the frame loop only polls.

#include <atomic>

#include "pathsearch/pathsearch_internal.h"
#include "platform/assert.h"

namespace {

// How long a waiting worker sleeps between two tries of the lock, so it still sees a stop.
constexpr int32_t LOCK_RETRY_MS = 1;

// Set once a job's worker abandoned itself (it faulted and is blocked in the fault report)
// holding the search state: the registry is then never empty again, and the program ends with
// the report.
std::atomic<bool> searchStateAbandoned{false};

void MarkWorkerReturned(PathJob* job) {
    std::atomic_ref<int32_t>(job->workerReturned).store(1, std::memory_order_release);
}

bool WorkerReturned(PathJob* job) {
    return std::atomic_ref<int32_t>(job->workerReturned).load(std::memory_order_acquire) != 0;
}

// What PathJobStatus calls finished: the worker thread has ended.
[[maybe_unused]] bool JobFinished(PathJob* job) {
    return job && WorkerReturned(job) && !ThreadRunning(job->thread);
}

// The goal node's chain, start first, as a new array; nullptr when memory runs out.
Vec2* ExtractPath(const PathJob* job, int32_t* pointCount) {
    int64_t linked = 0;
    for (const SearchNode* node = job->goalNode; node->predecessor; node = node->predecessor)
        ++linked;
    int64_t count = linked + 1;
    if (count > INT32_MAX / static_cast<int64_t>(sizeof(Vec2))) return nullptr;
    auto* points = static_cast<Vec2*>(BlockAllocate(static_cast<int32_t>(count * sizeof(Vec2))));
    if (!points) return nullptr;
    int64_t index = count - 1;
    for (const SearchNode* node = job->goalNode; node->predecessor; node = node->predecessor)
        points[index--] = node->point;
    points[0] = job->startNode->point;
    *pointCount = static_cast<int32_t>(count);
    return points;
}

// A stopped search's nodes and tested segments are released on a thread of their own (in a
// SearchLeftovers record): freeing a few hundred thousand blocks takes longer than a stop may.

// How long the release waits for the worker that handed it over to return first, and then
// for the caller of the stop, which returns well within this after the worker.
constexpr int32_t RELEASE_WAIT_MS = 100;
constexpr int32_t RELEASE_AFTER_WORKER_MS = 2;

constexpr int32_t HAND_OFF_MIN_ENTRIES = 4096;

void ReleaseLeftovers(void* argument) {
    auto* leftovers = static_cast<SearchLeftovers*>(argument);
    // The caller of the stop waits for the worker, and unmapping this much holds a processor
    // (and the address space's lock) for milliseconds: started at once, it delays the worker's
    // last steps and the waiting caller's wake-up. So the worker returns first, and the caller
    // gets a moment to return too (a worker that never returns is not waited for long).
    std::atomic_ref<int32_t> workerDone(leftovers->workerDone);
    for (int32_t waited = 0;
         !workerDone.load(std::memory_order_acquire) && waited < RELEASE_WAIT_MS; ++waited)
        SleepMilliseconds(1);
    SleepMilliseconds(RELEASE_AFTER_WORKER_MS);
    ReleaseSearchLeftovers(leftovers);
}

// Puts fresh empty lists in place of the full ones and releases those, with what the search
// left (searchRest, which then takes them), on one thread apart; returns the handed-over
// record, whose workerDone the worker sets as its last act. nullptr (nothing changed, and
// searchRest still the caller's) when that cannot be done or is not worth it (few nodes and
// nothing left by the search).
SearchLeftovers* HandOffSearchNodes(SearchLeftovers* searchRest) {
    if (!searchRest && ListCount(searchNodes) + ListCount(testedSegments) < HAND_OFF_MIN_ENTRIES)
        return nullptr;
    // Zero-filled: nothing of the search's own to free.
    SearchLeftovers* made =
        searchRest ? nullptr
                   : static_cast<SearchLeftovers*>(BlockAllocate(sizeof(SearchLeftovers)));
    SearchLeftovers* leftovers = searchRest ? searchRest : made;
    if (!leftovers) return nullptr;
    CursorList* freshNodes = nullptr;
    CursorList* freshTested = nullptr;
    ListCreate(&freshNodes, sizeof(SearchNode*));
    ListCreate(&freshTested, sizeof(Segment));
    if (freshNodes && freshTested) {
        leftovers->nodes = searchNodes;
        leftovers->tested = testedSegments;
        searchNodes = freshNodes;
        testedSegments = freshTested;
        if (ThreadStart(ReleaseLeftovers, leftovers) != 0) return leftovers;
        searchNodes = leftovers->nodes;
        testedSegments = leftovers->tested;
        leftovers->nodes = leftovers->tested = nullptr;
    }
    ListRelease(&freshNodes);
    ListRelease(&freshTested);
    BlockRelease(made);
    return nullptr;
}

#if PFAD_CHECKS
std::atomic<bool> holdNextWorker{false};
std::atomic<bool> workerHeld{false};
std::atomic<bool> heldWorkerMayGo{false};

// The held worker of HoldNextWorker; true when this worker was the one held.
bool HeldAsIfFaulted() {
    // Read before the exchange: a locked exchange on every job would cost a small job dearly.
    if (!holdNextWorker.load(std::memory_order_relaxed) || !holdNextWorker.exchange(false))
        return false;
    ThreadAbandon();
    workerHeld.store(true);
    while (!heldWorkerMayGo.exchange(false)) SleepMilliseconds(1);
    workerHeld.store(false);
    return true;
}
#else
constexpr bool HeldAsIfFaulted() { return false; }
#endif

}  // namespace

#if PFAD_CHECKS
void HoldNextWorker() {
    heldWorkerMayGo.store(false);
    holdNextWorker.store(true);
}
bool WorkerHeld() { return workerHeld.load(); }
void LetHeldWorkerGo() { heldWorkerMayGo.store(true); }
#endif

PathJob* CreatePathJob(const Vec2& start, const Vec2& goal) {
    PFAD_ASSERT(WallReaderCount() == 0,
                "CreatePathJob while another path job exists: free the current job first");
    PFAD_ASSERT(searchStateAbandoned.load() || ListCount(searchNodes) == 0,
                "CreatePathJob with search nodes left in the registry: only a finished or freed "
                "job's worker empties it; free the previous job before creating the next");
    PathJob* job = MakePathJobRecord(start, goal);
    if (!job) return nullptr;
    job->thread = ThreadStart(PathJobWorker, job);
    if (job->thread == 0) {
        // No other job exists, so the registry holds only what was made here.
        ReleaseSearchNodes();
        BlockRelease(job);
        return nullptr;
    }
    CountWallReader(1);
    return job;
}

PathJob* MakePathJobRecord(const Vec2& start, const Vec2& goal) {
    auto* job = static_cast<PathJob*>(BlockAllocate(sizeof(PathJob)));
    if (!job) return nullptr;
    job->start = start;
    job->goal = goal;
    job->startNode = CreateSearchNode(nullptr, &job->start);
    if (job->startNode) job->goalNode = CreateSearchNode(nullptr, &job->goal);
    if (!job->goalNode) {
        ReleaseSearchNodes();
        BlockRelease(job);
        return nullptr;
    }
    return job;
}

void FreePathJob(PathJob* job) {
    if (!job) return;
    if (ThreadRunning(job->thread)) ThreadKill(job->thread);
    // Stopped or ended, or blocked for good: the worker reads no more walls either way.
    CountWallReader(-1);
    // A worker that abandoned itself may still hold pointers into the job: leave it be.
    if (!WorkerReturned(job)) {
        searchStateAbandoned.store(true);
        return;
    }
    BlockRelease(job->points);
    BlockRelease(job);
}

void RequestPathJobStop(PathJob* job) {
    if (job) ThreadRequestStop(job->thread);
}

bool PathJobWorkerEnded(PathJob* job) { return !job || !ThreadRunning(job->thread); }

int32_t PathJobStatus(PathJob* job) {
    if (!job || ThreadRunning(job->thread)) return 0;
    job->cursor = -1;
    if (job->outOfMemory) return PATH_JOB_OUT_OF_MEMORY;
    return job->points ? 1 : -1;
}

int32_t PathJobCollisionChecks(PathJob* job) {
    PFAD_ASSERT(JobFinished(job),
                "PathJobCollisionChecks of a job still running: read the "
                "statistics only once PathJobStatus has answered 1, -1 or -2");
    return job->collisionChecks;
}
int32_t PathJobNodeCount(PathJob* job) {
    PFAD_ASSERT(JobFinished(job),
                "PathJobNodeCount of a job still running: read the statistics "
                "only once PathJobStatus has answered 1, -1 or -2");
    return job->nodeCount;
}
int32_t PathJobTime(PathJob* job) {
    PFAD_ASSERT(JobFinished(job),
                "PathJobTime of a job still running: read the statistics only "
                "once PathJobStatus has answered 1, -1 or -2");
    return job->timeMs;
}

int32_t NextPathPoint(PathJob* job) {
    PFAD_ASSERT(JobFinished(job),
                "NextPathPoint of a job still running: walk the path only once "
                "PathJobStatus has answered 1");
    // The cursor stops one past the end, so further calls keep answering 0.
    if (job->cursor < job->pointCount) job->cursor++;
    return job->cursor < job->pointCount ? 1 : 0;
}

const Vec2* CurrentPathPoint(PathJob* job) {
    PFAD_ASSERT(job->points && job->cursor >= 0 && job->cursor < job->pointCount,
                "CurrentPathPoint off the path: ask for it only after NextPathPoint answered "
                "non-zero, and after PathJobStatus answered 1");
    return &job->points[job->cursor];
}

void PathJobWorker(void* argument) {
    auto* job = static_cast<PathJob*>(argument);
    // Only a worker that faulted and was abandoned can keep the lock for long; a stop while
    // waiting for it must not hang the caller. The shared state is not ours to touch then.
    while (!LockTry(SearchLock)) {
        if (ThreadStopRequested()) {
            MarkWorkerReturned(job);
            return;
        }
        SleepMilliseconds(LOCK_RETRY_MS);
    }
    uint32_t t0 = TickMilliseconds();
    bool finished = HeldAsIfFaulted() || SearchToward(job, job->startNode, &job->goal, 0);
    if (finished && !job->outOfMemory && job->goalNode->predecessor) {
        job->points = ExtractPath(job, &job->pointCount);
        // A path that cannot be handed over is no answer, and not "unreachable" either.
        if (!job->points) job->outOfMemory = 1;
        job->cursor = -1;
    }
    job->nodeCount = ListCount(searchNodes);
    // A stopped job's caller is waiting: its nodes go at once, the memory a little later.
    // A stop may also come once the search is over; its caller waits all the same.
    SearchLeftovers* searchRest = TakeSearchLeftovers();
    SearchLeftovers* handedOff = nullptr;
    if (!(finished && !ThreadStopRequested())) handedOff = HandOffSearchNodes(searchRest);
    if (!handedOff) {
        ReleaseSearchNodes();
        ReleaseSearchLeftovers(searchRest);
    }
    job->startNode = job->goalNode = nullptr;  // released with the rest
    job->timeMs = static_cast<int32_t>(TickMilliseconds() - t0);
    LockRelease(SearchLock);
    MarkWorkerReturned(job);
    if (handedOff)
        std::atomic_ref<int32_t>(handedOff->workerDone).store(1, std::memory_order_release);
}

void ReleaseSearchNodes() {
    for (SearchNode* node : ListItems<SearchNode*>(searchNodes)) BlockRelease(node);
    ListClear(searchNodes);
    ListClear(testedSegments);
}
