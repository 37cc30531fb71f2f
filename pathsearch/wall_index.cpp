// The plain wall scans and the uniform grid index (why it is exact: pathsearch_internal.h).
//
// Sections: contact distance and plain scans; regularity and margins; walking the cells near
// a segment; building; queries.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "pathsearch/pathsearch_internal.h"
#include "platform/system.h"

namespace {

// How many walls are listed between two looks at the stop request: listing a wall in its cells
// costs a microsecond or more, so looking only every STOP_CHECK_WALLS walls would keep a stop
// waiting for milliseconds.
constexpr int32_t STOP_CHECK_LISTED_WALLS = 128;
// Non-zero delta components below this could make the float cross product underflow.
constexpr double SMALLEST_DELTA = 9.094947017729282e-13;  // 2^-40
// Cells per regular wall at most, and listings per regular wall at most before the cells grow.
constexpr int64_t CELLS_PER_WALL = 2;
constexpr int64_t LISTINGS_PER_WALL = 24;
// Walls per cell when the walls all run one way and a cell reaches across the whole box: a
// lane is then one cell, and stepping from lane to lane costs more than a wall test.
constexpr double ONE_WAY_CELL_WALLS = 8;

// The best contact so far: smaller distance first, then the earlier wall. A NaN distance and
// one at NO_WALL_CONTACT or beyond are never taken, as in the plain scan's "strictly nearer".
struct Best {
    float distance = NO_WALL_CONTACT;
    int32_t wall = -1;
    void Offer(float d, int32_t index) {
        if (d < distance || (d == distance && wall >= 0 && index < wall)) {
            distance = d;
            wall = index;
        }
    }
};

}  // namespace

// ---- Contact distance ------------------------------------------------------

float OverlapDistance(const Wall& wall, const Vec2& origin) {
    Vec2 a = wall.origin;
    Vec2 b{static_cast<float>(double{a.x} + wall.delta.x),
           static_cast<float>(double{a.y} + wall.delta.y)};
    double dot = (double{origin.x} - a.x) * (double{origin.x} - b.x) +
                 (double{origin.y} - a.y) * (double{origin.y} - b.y);
    if (dot <= 0.0) return 0.0f;
    double ax = double{a.x} - origin.x, ay = double{a.y} - origin.y;
    double bx = double{b.x} - origin.x, by = double{b.y} - origin.y;
    double lengthA = std::sqrt(ax * ax + ay * ay);
    double lengthB = std::sqrt(bx * bx + by * by);
    return static_cast<float>(std::min(lengthA, lengthB));
}

// ---- Regularity and margins ----------------------------------------------------------------

namespace {

bool RegularPoint(double x, double y) {
    // Written so that NaN fails too.
    return std::fabs(x) <= WALL_INDEX_LIMIT && std::fabs(y) <= WALL_INDEX_LIMIT;
}

bool RegularDelta(float component) {
    double magnitude = std::fabs(double{component});
    return magnitude == 0.0 || (magnitude >= SMALLEST_DELTA && magnitude <= 2.0 * WALL_INDEX_LIMIT);
}

// A segment or a wall whose answers the grid can vouch for; *magnitude := its largest
// coordinate magnitude.
bool RegularSegment(const Vec2& origin, const Vec2& delta, double* magnitude) {
    double endX = double{origin.x} + delta.x, endY = double{origin.y} + delta.y;
    if (!RegularPoint(origin.x, origin.y) || !RegularPoint(endX, endY) || !RegularDelta(delta.x) ||
        !RegularDelta(delta.y))
        return false;
    *magnitude = std::max({std::fabs(double{origin.x}), std::fabs(double{origin.y}),
                           std::fabs(endX), std::fabs(endY)});
    return true;
}

// How far from a segment a wall that blocks it may lie, for coordinates up to magnitude.
double QueryMargin(double magnitude) { return 2.0 + magnitude * 7.62939453125e-06; }  // 2^-17
// How far from a wall its listing reaches: rounding of a contact point along it, generously.
double WallPad(double magnitude) { return 1e-3 + magnitude * 9.5367431640625e-07; }  // 2^-20

}  // namespace

namespace {

// Gives a block back when its owner goes: the index's arrays, and the index while it is built.
struct BlockReleaser {
    void operator()(void* block) const { BlockRelease(block); }
};
template <class T>
using OwnedBlock = std::unique_ptr<T, BlockReleaser>;

}  // namespace

struct WallIndex {
    const Wall* walls = nullptr;
    int32_t count = 0;
    bool gridded = false;  // false: no regular walls (or none fitted); every query is plain
    double originX = 0, originY = 0;
    // Cells need not be square: where most walls run one way (a comb, a staircase), cells long
    // that way and narrow across keep each wall in few cells and few walls in each cell.
    double cellWidth = 0, cellHeight = 0;
    int32_t columns = 0, rows = 0;
    double magnitude = 0;              // the largest coordinate magnitude of the gridded walls
    OwnedBlock<uint32_t[]> cellStart;  // columns * rows + 1 offsets into cellWalls
    OwnedBlock<uint32_t[]> cellWalls;  // per cell, its walls in wall order
    int64_t entries = 0;
    OwnedBlock<int32_t[]> always;  // walls outside the grid, in wall order
    int32_t alwaysCount = 0;
    OwnedBlock<uint32_t[]> stamps;  // per wall, the last query that tested it
    uint32_t stamp = 0;
    // While building: which walls are gridded, and the per-cell counts. A stopped build hands
    // them over with the index, so that the caller decides where their memory is given back.
    OwnedBlock<uint8_t[]> regular;
    OwnedBlock<uint32_t[]> counts;
};

// ---- Walking the cells near a segment ------------------------------------------------------

namespace {

// std::floor as an integer, inline: a long segment's walk takes it twice per lane. Only for
// the grid's cell numbers of regular segments and walls, far inside the range of int64_t.
inline int64_t FloorToInt(double x) {
    auto truncated = static_cast<int64_t>(x);
    return truncated - (static_cast<double>(truncated) > x ? 1 : 0);
}

// Calls visit(cellRowStart, firstCell, lastCell, remaining) for every lane of cells within
// margin of the segment from a to b, lane by lane from a's side to b's; a lane is a column
// when the segment runs more across than down, else a row. cellRowStart..: the cell numbers
// are first..last (inclusive) stepping by `stride`, passed as (first, last, stride).
// remaining is a lower bound of the distance from a to any point of the lanes not yet visited.
// Stops early when visit returns false; returns false then.
template <class Visit>
bool WalkLanes(const WallIndex& index, double ax, double ay, double bx, double by, double margin,
               Visit&& visit) {
    // Lanes run across the axis along which the segment passes more cells: then a lane holds
    // few cells of it, and the nearest-wall query can stop after few lanes.
    bool across = std::fabs(bx - ax) / index.cellWidth >= std::fabs(by - ay) / index.cellHeight;
    double su = across ? index.cellWidth : index.cellHeight;
    double sv = across ? index.cellHeight : index.cellWidth;
    double au = ((across ? ax : ay) - (across ? index.originX : index.originY)) / su;
    double av = ((across ? ay : ax) - (across ? index.originY : index.originX)) / sv;
    double bu = ((across ? bx : by) - (across ? index.originX : index.originY)) / su;
    double bv = ((across ? by : bx) - (across ? index.originY : index.originX)) / sv;
    // The margin in cells, along and across the lanes.
    double ru = margin / su, rv = margin / sv;
    int64_t laneCount = across ? index.columns : index.rows;
    int64_t minorCount = across ? index.rows : index.columns;
    double uLow = std::min(au, bu), uHigh = std::max(au, bu);
    int64_t first = FloorToInt(uLow - ru);
    int64_t last = FloorToInt(uHigh + ru);
    first = std::max<int64_t>(first, 0);
    last = std::min<int64_t>(last, laneCount - 1);
    if (first > last) return true;
    bool ascending = bu >= au;
    if (minorCount == 1) {
        // One cell per lane (walls that all run one way): the cell number is the lane's, and
        // visiting each lane's cell whether or not the segment's margin reaches it only tests
        // a few walls more, which changes no answer.
        for (int64_t step = 0; step <= last - first; ++step) {
            int64_t lane = ascending ? first + step : last - step;
            double remaining = ascending ? (static_cast<double>(lane) + 1.0 - au) * su
                                         : (au - static_cast<double>(lane)) * su;
            if (!visit(lane, lane, int64_t{1}, remaining < 0.0 ? 0.0 : remaining)) return false;
        }
        return true;
    }
    double slope = bu != au ? (bv - av) / (bu - au) : 0.0;
    for (int64_t step = 0; step <= last - first; ++step) {
        int64_t lane = ascending ? first + step : last - step;
        double q0 = std::max(static_cast<double>(lane) - ru, uLow);
        double q1 = std::min(static_cast<double>(lane) + 1.0 + ru, uHigh);
        double v0, v1;
        if (bu == au || q0 > q1) {
            v0 = std::min(av, bv);
            v1 = std::max(av, bv);
        } else {
            v0 = av + (q0 - au) * slope;
            v1 = av + (q1 - au) * slope;
            if (v0 > v1) std::swap(v0, v1);
        }
        int64_t low = std::max<int64_t>(FloorToInt(v0 - rv), 0);
        int64_t high = std::min<int64_t>(FloorToInt(v1 + rv), minorCount - 1);
        double remaining = ascending ? (static_cast<double>(lane) + 1.0 - au) * su
                                     : (au - static_cast<double>(lane)) * su;
        if (remaining < 0.0) remaining = 0.0;
        int64_t firstCell, lastCell, stride;
        if (across) {
            firstCell = low * index.columns + lane;
            lastCell = high * index.columns + lane;
            stride = index.columns;
        } else {
            firstCell = lane * index.columns + low;
            lastCell = lane * index.columns + high;
            stride = 1;
        }
        if (!visit(firstCell, low <= high ? lastCell : firstCell - stride, stride, remaining))
            return false;
    }
    return true;
}

// A zero-filled array of count elements (at least one); empty when memory runs out.
template <class T>
OwnedBlock<T[]> AllocateArray(int64_t count) {
    if (count <= 0) count = 1;
    if (count > INT32_MAX / static_cast<int64_t>(sizeof(T))) return nullptr;
    return OwnedBlock<T[]>(static_cast<T*>(
        BlockAllocate(static_cast<int32_t>(count * static_cast<int64_t>(sizeof(T))))));
}

}  // namespace

// ---- Building ------------------------------------------------------------------------------

namespace {

struct IndexFreer {
    void operator()(WallIndex* index) const { FreeWallIndex(index); }
};
using IndexOwner = std::unique_ptr<WallIndex, IndexFreer>;

// How a build step ended. A stopped build keeps what it made, for FreeWallIndex only.
enum class Built { DONE, STOPPED, OUT_OF_MEMORY };

// The box the regular walls span, and how many there are.
struct WallBox {
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    int64_t regularCount = 0;
    double spanX = 0, spanY = 0;  // the walls' extents along each axis, summed
};

// Calls visit(firstCell, lastCell, stride) for the cells within pad of wall w. A short wall
// (most of a dense scene) is listed in every cell of its padded box, a few at most: a
// superset of those within pad, found without walking lanes.
template <class Visit>
void WalkWallCells(const WallIndex& index, const Wall& w, double pad, Visit&& visit) {
    double ax = w.origin.x, ay = w.origin.y;
    double bx = ax + w.delta.x, by = ay + w.delta.y;
    int64_t x0 = std::max<int64_t>(
        FloorToInt((std::min(ax, bx) - pad - index.originX) / index.cellWidth), 0);
    int64_t x1 = std::min<int64_t>(
        FloorToInt((std::max(ax, bx) + pad - index.originX) / index.cellWidth), index.columns - 1);
    int64_t y0 = std::max<int64_t>(
        FloorToInt((std::min(ay, by) - pad - index.originY) / index.cellHeight), 0);
    int64_t y1 = std::min<int64_t>(
        FloorToInt((std::max(ay, by) + pad - index.originY) / index.cellHeight), index.rows - 1);
    if ((x1 - x0 + 1) * (y1 - y0 + 1) <= 4) {
        for (int64_t y = y0; y <= y1; ++y)
            visit(y * index.columns + x0, y * index.columns + x1, int64_t{1});
        return;
    }
    WalkLanes(index, ax, ay, bx, by, pad,
              [&](int64_t firstCell, int64_t lastCell, int64_t stride, double) {
                  visit(firstCell, lastCell, stride);
                  return true;
              });
}

// Marks the walls the grid can vouch for, spans their box, and lists the others as tested by
// every query.
Built SortWalls(WallIndex& index, WallBox& box) {
    index.regular = AllocateArray<uint8_t>(index.count);
    if (!index.regular) return Built::OUT_OF_MEMORY;
    StopPoll poll;
    for (int32_t i = 0; i < index.count; ++i) {
        if (poll.Asked()) return Built::STOPPED;
        const Wall& wall = index.walls[i];
        double magnitude;
        if (!RegularSegment(wall.origin, wall.delta, &magnitude)) continue;
        index.regular[i] = 1;
        ++box.regularCount;
        double endX = double{wall.origin.x} + wall.delta.x,
               endY = double{wall.origin.y} + wall.delta.y;
        box.minX = std::min({box.minX, double{wall.origin.x}, endX});
        box.maxX = std::max({box.maxX, double{wall.origin.x}, endX});
        box.minY = std::min({box.minY, double{wall.origin.y}, endY});
        box.maxY = std::max({box.maxY, double{wall.origin.y}, endY});
        index.magnitude = std::max(index.magnitude, magnitude);
        box.spanX += std::fabs(double{wall.delta.x});
        box.spanY += std::fabs(double{wall.delta.y});
    }
    index.alwaysCount = static_cast<int32_t>(index.count - box.regularCount);
    index.always = AllocateArray<int32_t>(index.alwaysCount);
    if (!index.always) return Built::OUT_OF_MEMORY;
    for (int32_t i = 0, n = 0; i < index.count; ++i)
        if (!index.regular[i]) index.always[n++] = i;
    return Built::DONE;
}

// About one cell per wall over the walls' box; larger cells when long walls would be listed
// too often. A wall of extent (dx, dy) lies in about (dx / w + 1) (dy / h + 1) cells of w × h;
// at a given cell area that sum over the walls is least for w / h = spanX / spanY, so the cells
// take that shape, within the box. Cell borders fall on whole multiples of the cell sides.
// Leaves each cell's listing count in index.counts.
Built SizeGrid(WallIndex& index, const WallBox& box, double cellSizeWanted, double pad) {
    double low = pad + 0.5;
    double width = box.maxX - box.minX + 2 * low, height = box.maxY - box.minY + 2 * low;
    double count = static_cast<double>(box.regularCount);
    double cellWidth = cellSizeWanted, cellHeight = cellSizeWanted;
    if (cellSizeWanted <= 0) {
        double area = width * height / count;
        // A unit more on each side, for the walls' thickness in cells and so neither sum is 0.
        double aspect = (box.spanX + count) / (box.spanY + count);
        cellWidth = std::sqrt(area * aspect);
        if (cellWidth <= area / height) {
            cellHeight = height;
            cellWidth = ONE_WAY_CELL_WALLS * area / height;
        } else if (cellWidth >= width) {
            cellWidth = width;
            cellHeight = ONE_WAY_CELL_WALLS * area / width;
        } else {
            cellHeight = area / cellWidth;
        }
    }
    for (;;) {
        index.originX = std::floor((box.minX - low) / cellWidth) * cellWidth;
        index.originY = std::floor((box.minY - low) / cellHeight) * cellHeight;
        int64_t columns =
            static_cast<int64_t>(std::floor((box.maxX + low - index.originX) / cellWidth)) + 1;
        int64_t rows =
            static_cast<int64_t>(std::floor((box.maxY + low - index.originY) / cellHeight)) + 1;
        if (columns * rows > CELLS_PER_WALL * box.regularCount + 64) {
            cellWidth *= 1.25;
            cellHeight *= 1.25;
            continue;
        }
        index.cellWidth = cellWidth;
        index.cellHeight = cellHeight;
        index.columns = static_cast<int32_t>(columns);
        index.rows = static_cast<int32_t>(rows);
        index.counts.reset();  // before the next, so two never coexist
        index.counts = AllocateArray<uint32_t>(columns * rows + 1);
        if (!index.counts) return Built::OUT_OF_MEMORY;
        int64_t entries = 0;
        int64_t allowed = LISTINGS_PER_WALL * box.regularCount + 4096;
        StopPoll poll(STOP_CHECK_LISTED_WALLS);
        for (int32_t i = 0; i < index.count && entries <= allowed; ++i) {
            if (poll.Asked()) return Built::STOPPED;
            if (!index.regular[i]) continue;
            WalkWallCells(index, index.walls[i], pad,
                          [&](int64_t firstCell, int64_t lastCell, int64_t stride) {
                              for (int64_t cell = firstCell; cell <= lastCell; cell += stride)
                                  index.counts[cell]++;
                              entries +=
                                  lastCell >= firstCell ? (lastCell - firstCell) / stride + 1 : 0;
                          });
        }
        if (entries <= allowed) {
            index.entries = entries;
            return Built::DONE;
        }
        cellWidth *= 2.0;
        cellHeight *= 2.0;
    }
}

// The offsets from the counts, then the listings in wall order.
Built FillGrid(WallIndex& index, double pad) {
    int64_t cells = int64_t{index.columns} * index.rows;
    index.cellStart = AllocateArray<uint32_t>(cells + 1);
    index.cellWalls = AllocateArray<uint32_t>(index.entries);
    if (!index.cellStart || !index.cellWalls) return Built::OUT_OF_MEMORY;
    uint32_t* counts = index.counts.get();
    uint32_t offset = 0;
    StopPoll cellPoll(16 * STOP_CHECK_WALLS);  // a cell costs a sixteenth of a wall test
    for (int64_t cell = 0; cell < cells; ++cell) {
        if (cellPoll.Asked()) return Built::STOPPED;
        index.cellStart[cell] = offset;
        offset += counts[cell];
        counts[cell] = index.cellStart[cell];  // now the next free slot of the cell
    }
    index.cellStart[cells] = offset;
    StopPoll poll(STOP_CHECK_LISTED_WALLS);
    for (int32_t i = 0; i < index.count; ++i) {
        if (poll.Asked()) return Built::STOPPED;
        if (!index.regular[i]) continue;
        WalkWallCells(index, index.walls[i], pad,
                      [&](int64_t firstCell, int64_t lastCell, int64_t stride) {
                          for (int64_t cell = firstCell; cell <= lastCell; cell += stride)
                              index.cellWalls[counts[cell]++] = static_cast<uint32_t>(i);
                      });
    }
    return Built::DONE;
}

}  // namespace

namespace {
std::atomic<int64_t> searchMemoryHighWater{0};
}  // namespace

double PageCost(double bytes) {
    double fresh =
        bytes - static_cast<double>(searchMemoryHighWater.load(std::memory_order_relaxed));
    return fresh > 0 ? fresh / 4096.0 * PAGE_WALL_TESTS : 0;
}

void NoteSearchMemory(double bytes) {
    if (!(bytes > 0)) return;  // also NaN, from walls that make no sense of an index
    auto taken = static_cast<int64_t>(std::min(bytes, 1e18));
    int64_t known = searchMemoryHighWater.load(std::memory_order_relaxed);
    while (taken > known &&
           !searchMemoryHighWater.compare_exchange_weak(known, taken, std::memory_order_relaxed)) {
    }
}

double WallIndexCost(const WallExtent& extent, double* bytes) {
    // The cells SizeGrid would start from, and the listings they would take: a wall of extent
    // (dx, dy) passes about dx / w + dy / h + 1 cells of w × h.
    *bytes = 0;
    double n = static_cast<double>(extent.count);
    if (!(n > 0)) return 0;
    double width = extent.maxX - extent.minX + 2, height = extent.maxY - extent.minY + 2;
    double area = width * height / n;
    double aspect = (extent.spanX + n) / (extent.spanY + n);
    double w = std::clamp(std::sqrt(area * aspect), area / height, width), h = area / w;
    double listings = extent.spanX / w + extent.spanY / h + n;
    // Measured: a wall costs about four wall tests to sort and walk, a listing about two.
    // Its arrays: a stamp and a mark per wall, two counts per cell (about one a wall), and the
    // listings.
    double cost = 4 * n + 2 * listings;
    *bytes = 13 * n + 4 * listings;
    // Walls far out or not finite make it meaningless: then the index is built at once.
    return cost >= 0 && cost < 64 * n ? cost : 0;
}

WallIndex* CreateWallIndex(const Wall* walls, int32_t count, bool* stopped, double cellSizeWanted) {
    *stopped = false;
    void* block = BlockAllocate(sizeof(WallIndex));
    if (!block) return nullptr;
    IndexOwner index(new (block) WallIndex{});
    index->walls = walls;
    index->count = count;
    index->stamps = AllocateArray<uint32_t>(count);
    if (!index->stamps) return nullptr;

    WallBox box;
    Built built = SortWalls(*index, box);
    if (built == Built::DONE && box.regularCount == 0) {
        index->regular.reset();
        return index.release();
    }
    double pad = WallPad(index->magnitude);
    if (built == Built::DONE) built = SizeGrid(*index, box, cellSizeWanted, pad);
    if (built == Built::DONE) built = FillGrid(*index, pad);
    switch (built) {
        case Built::OUT_OF_MEMORY:
            return nullptr;
        case Built::STOPPED:
            *stopped = true;
            return index.release();
        case Built::DONE:
            break;
    }
    index->counts.reset();
    index->regular.reset();
    index->gridded = true;
    return index.release();
}

void FreeWallIndex(WallIndex* index) {
    if (!index) return;
    index->~WallIndex();
    BlockRelease(index);
}

WallIndexShape WallIndexShapeOf(const WallIndex* index) {
    return WallIndexShape{index->columns, index->rows,    index->cellWidth, index->cellHeight,
                          index->originX, index->originY, index->entries,   index->alwaysCount};
}

// ---- Queries -------------------------------------------------------------------------------

namespace {

// A new query number; every wall counts as untested for it.
uint32_t NextStamp(WallIndex* index) {
    if (++index->stamp == 0) {
        std::memset(index->stamps.get(), 0, static_cast<size_t>(index->count) * sizeof(uint32_t));
        index->stamp = 1;
    }
    return index->stamp;
}

// The wall tests SurelyApart decided in one query, counted as tests once at its end where
// tests count how many ran.
struct QuickMisses {
    int64_t count = 0;
    QuickMisses() = default;
    QuickMisses(const QuickMisses&) = delete;
    QuickMisses& operator=(const QuickMisses&) = delete;
    ~QuickMisses() {
#if PFAD_CHECKS
        if (count) CountIntersectionTests(count);
#endif
    }
};

// Whether the segment can be answered from the grid; *margin := how far from it to look.
bool GridCanAnswer(const WallIndex* index, const Segment& segment, double* margin) {
    double magnitude;
    if (!index->gridded || !RegularSegment(segment.origin, segment.delta, &magnitude)) return false;
    *margin = QueryMargin(std::max(magnitude, index->magnitude));
    return true;
}

}  // namespace

int32_t NearestWallHit(WallIndex* index, const Segment& segment, bool* stopped) {
    double margin;
    if (!GridCanAnswer(index, segment, &margin))
        return LinearNearestWall(index->walls, index->count, segment, stopped);
    *stopped = false;
    Best best;
    StopPoll poll;
    for (int32_t n = 0; n < index->alwaysCount; ++n) {
        if (poll.Asked()) {
            *stopped = true;
            return -1;
        }
        float d;
        int32_t i = index->always[n];
        if (WallContact(index->walls[i], segment, &d) != 0) best.Offer(d, i);
    }
    uint32_t stamp = NextStamp(index);
    QuickMisses quick;
    const ApartSegment apart(segment);
    const double ox = segment.origin.x, oy = segment.origin.y;
    bool finished = WalkLanes(
        *index, ox, oy, ox + segment.delta.x, oy + segment.delta.y, margin,
        [&](int64_t firstCell, int64_t lastCell, int64_t stride, double remaining) {
            for (int64_t cell = firstCell; cell <= lastCell; cell += stride) {
                for (uint32_t k = index->cellStart[cell], end = index->cellStart[cell + 1]; k < end;
                     ++k) {
                    uint32_t i = index->cellWalls[k];
                    if (index->stamps[i] == stamp) continue;
                    index->stamps[i] = stamp;
                    if (poll.Asked()) {
                        *stopped = true;
                        return false;
                    }
                    const Wall& wall = index->walls[i];
                    if (SurelyApart(wall, apart)) {
                        ++quick.count;
                        continue;
                    }
                    float d;
                    if (WallContact(wall, segment, &d) != 0) best.Offer(d, static_cast<int32_t>(i));
                }
            }
            // Every wall not yet tested lies at least `remaining - margin` away (its contact
            // no nearer); shrunk a little for the float rounding of distances.
            return !(best.wall >= 0 &&
                     double{best.distance} < (remaining - margin) * (1.0 - 1.0 / 1048576.0));
        });
    if (*stopped) return -1;
    (void)finished;
    return best.wall;
}

bool AnyWallHit(WallIndex* index, const Segment& segment, bool* stopped) {
    double margin;
    if (!GridCanAnswer(index, segment, &margin))
        return LinearAnyWallHit(index->walls, index->count, segment, stopped);
    *stopped = false;
    Vec2 contact{};
    StopPoll poll;
    for (int32_t n = 0; n < index->alwaysCount; ++n) {
        if (poll.Asked()) {
            *stopped = true;
            return false;
        }
        if (IntersectSegments(index->walls[index->always[n]], segment, contact) != 0) return true;
    }
    uint32_t stamp = NextStamp(index);
    QuickMisses quick;
    const ApartSegment apart(segment);
    bool hit = false;
    const double ox = segment.origin.x, oy = segment.origin.y;
    WalkLanes(*index, ox, oy, ox + segment.delta.x, oy + segment.delta.y, margin,
              [&](int64_t firstCell, int64_t lastCell, int64_t stride, double) {
                  for (int64_t cell = firstCell; cell <= lastCell; cell += stride) {
                      for (uint32_t k = index->cellStart[cell], end = index->cellStart[cell + 1];
                           k < end; ++k) {
                          uint32_t i = index->cellWalls[k];
                          if (index->stamps[i] == stamp) continue;
                          index->stamps[i] = stamp;
                          if (poll.Asked()) {
                              *stopped = true;
                              return false;
                          }
                          const Wall& wall = index->walls[i];
                          if (SurelyApart(wall, apart)) {
                              ++quick.count;
                              continue;
                          }
                          if (IntersectSegments(wall, segment, contact) != 0) {
                              hit = true;
                              return false;
                          }
                      }
                  }
                  return true;
              });
    return hit && !*stopped;
}
