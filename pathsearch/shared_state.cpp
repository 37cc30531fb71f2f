#include "pathsearch/shared_state.h"

#include "geometry/geometry.h"

SharedState sharedState;

bool CreateSharedState() {
    if (!SearchLock) SearchLock = LockCreate();
    ListCreate(&walls, sizeof(Wall));
    ListCreate(&searchNodes, sizeof(SearchNode*));
    ListCreate(&testedSegments, sizeof(Segment));
    return SearchLock && walls && searchNodes && testedSegments;
}

void CountWallReader(int32_t change) {
    sharedState.wallReaders.fetch_add(change, std::memory_order_acq_rel);
}

int32_t WallReaderCount() { return sharedState.wallReaders.load(std::memory_order_acquire); }
