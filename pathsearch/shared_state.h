// The state the frame loop and the path job's worker share: the scene's walls, the search's
// node registry and tested segments, and the lock over them. All of it lives in one record
// here, with the rules of who may touch what and when; the familiar names (walls, searchNodes,
// testedSegments, SearchLock) are references into the record, so callers read as before.
//
// Threads: the main thread (start-up, frame loop, edits, F6) and at most one worker, that of
// the one path job that exists (see pathsearch.h).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/memory.h"
#include "platform/system.h"

struct SearchNode;  // the search's own record (pathsearch_internal.h)

struct SharedState {
    // The scene's walls (Wall elements), in insertion order: the order of drawing, searching
    // and saving. Written by the main thread only (the scene reader, F6, the edits), and only
    // while no path job exists. Read by the main thread (every frame) and by the job's worker,
    // each walk with a position of its own (ListItems / ListWalk), so the two never disturb
    // each other's walk.
    CursorList* walls = nullptr;
    // Path jobs that exist now, each of which may have a worker reading walls: CreatePathJob
    // counts 1 in, FreePathJob 1 out (any thread). AddWall asserts it is 0.
    std::atomic<int32_t> wallReaders{0};
    // Every node of the running job, in order of creation (start, goal, corners), as
    // SearchNode* elements; the registry owns the nodes. Written by the worker holding
    // searchLock, and by CreatePathJob (the job's two nodes) without the lock: sound because
    // the previous job has been freed first. Nobody else reads it.
    CursorList* searchNodes = nullptr;
    // Segments found blocked and expanded by the running search (Segment elements): the same
    // rules as searchNodes.
    CursorList* testedSegments = nullptr;
    // Held by a worker from before its search until its nodes are released; only workers take
    // it. Made once per process and never freed.
    Lock* searchLock = nullptr;
};

extern SharedState sharedState;

inline CursorList*& walls = sharedState.walls;
inline CursorList*& searchNodes = sharedState.searchNodes;
inline CursorList*& testedSegments = sharedState.testedSegments;
inline Lock*& SearchLock = sharedState.searchLock;

// Makes the shared state, in this order: SearchLock (once per process; a second start-up keeps
// it), then walls, the node registry and the tested-segment list, each new and empty (a list
// made before is released). The program's start-up, the tools, the bench and the tests all make
// it here. False when memory ran out for any of them.
bool CreateSharedState();

// Counts path jobs in (1) and out (-1) as readers of walls; see SharedState::wallReaders.
void CountWallReader(int32_t change);
int32_t WallReaderCount();
