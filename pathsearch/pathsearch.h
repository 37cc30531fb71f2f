// The direct path search among the walls, and the path job that runs it on a worker thread.
//
// In order of use: the program makes the search state once at start-up; the frame loop creates
// a job for the current start and goal, polls it once per frame, reads the statistics and walks
// the path once it has finished, and frees it before the scene changes.
//
// The rule a caller keeps: at most one job at a time, and `walls` changes only while no job
// exists (free the job, change the scene, create the next one). The search reads `walls` on
// the worker thread; its own state, the worker and the acceleration are in
// pathsearch_internal.h, for the search's sources, its tests and the bench.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/geometry.h"
#include "pathsearch/shared_state.h"
#include "platform/system.h"

struct SearchNode;  // the search's own record (pathsearch_internal.h)

// ---- Start-up --------------------------------------------------------------------------------
// CreateSharedState (shared_state.h) makes walls and the search's lists and lock.

// ---- Recording the search -------------------------------------------------------------------
// For tools that show what the search did. A trace is a list the search appends its steps to
// as it takes them; it changes nothing in the search, and without one the search only tests a
// null pointer at each step.

constexpr int32_t SEARCH_EVENT_TESTED =
    1;  // from -> to tested; wall: nearest blocking wall's index, or -1
constexpr int32_t SEARCH_EVENT_NODE_MADE = 2;  // corner node `to` made, linked to `from` at cost
constexpr int32_t SEARCH_EVENT_RELINKED =
    3;  // a strictly cheaper arrival links node `to` to `from`
constexpr int32_t SEARCH_EVENT_GOAL_REACHED =
    4;                                        // the goal `to` linked to `from` for the first time
constexpr int32_t SEARCH_EVENT_SHORTCUT = 5;  // node `to` linked to its ancestor `from` at cost

struct SearchEvent {
    int32_t kind;
    Vec2 from;
    Vec2 to;
    int32_t wall;  // SEARCH_EVENT_TESTED only; -1 otherwise
    float cost;    // the node's new cost; 0 for SEARCH_EVENT_TESTED
};
// Every search started after this call appends each of its steps, in order, to *trace
// (nullptr: none). Set it before the job is created and clear it, and read the trace, only
// after the job has finished: a running search keeps the trace it started with and appends to
// it on its worker thread.
void SetSearchTrace(std::vector<SearchEvent>* trace);

// ---- The path job ----------------------------------------------------------------------------

struct PathJob {
    int32_t thread;  // the worker's thread number, never 0 in a job handed out
    Vec2 start;      // copies taken at creation; never change
    Vec2 goal;
    int32_t collisionChecks;  // segments tested against the walls
    int32_t nodeCount;        // search nodes made, start and goal included
    int32_t timeMs;           // search, path extraction and release; not the wait for the lock
    SearchNode* startNode;    // in the registry, released by the worker at its end
    SearchNode* goalNode;
    int32_t cursor;          // index of the current path point, -1 before the first
    int32_t pointCount;      // points in `points`; 0 while running and when unreachable
    Vec2* points;            // the path, start first; nullptr while running or unreachable
    int32_t workerReturned;  // set (atomically) as the worker's last act on the job
    int32_t outOfMemory;     // set when memory ran out for the search or the path: no answer
};

// PathJobStatus of a job that ran out of memory: no answer, neither a path nor "unreachable".
constexpr int32_t PATH_JOB_OUT_OF_MEMORY = -2;

// Copies start and goal, makes their two nodes and starts the worker. nullptr when the record,
// a node or the thread cannot be had; what was made is released then. Call only when no other
// job exists (free the previous one first).
PathJob* CreatePathJob(const Vec2& start, const Vec2& goal);
// Stops the worker if it still runs (it releases its nodes and the lock) and frees the job.
// nullptr is ignored. A worker that abandoned itself (blocked in the fault report) is not
// waited for, and its job record is left alone for the rest of the program.
void FreePathJob(PathJob* job);
// Asks the job's worker to stop and returns at once: for a caller that may not wait, which
// frees the job once PathJobWorkerEnded says so. nullptr is ignored.
void RequestPathJobStop(PathJob* job);
// True when FreePathJob of the job would not wait: no job, or its worker has ended.
bool PathJobWorkerEnded(PathJob* job);
// 1 path found, -1 goal unreachable, 0 still running or no job, PATH_JOB_OUT_OF_MEMORY (-2)
// memory ran out before the answer was complete (the statistics are then those of the part
// searched, and there is no path). Only a job whose worker thread has ended counts as finished;
// then it also rewinds the path walk.
int32_t PathJobStatus(PathJob* job);
// Statistics of a finished job.
int32_t PathJobCollisionChecks(PathJob* job);
int32_t PathJobNodeCount(PathJob* job);
int32_t PathJobTime(PathJob* job);
// Walks the path of a job whose status was 1: non-zero while the cursor stands on a point.
int32_t NextPathPoint(PathJob* job);
// The point under the cursor, valid after NextPathPoint returned non-zero.
const Vec2* CurrentPathPoint(PathJob* job);
