// What the shortest path and its first form (the baseline the bench and tests compare with)
// share: the distances, the walls asked through the search's index, and the budget.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>

#include "analysis/analysis.h"
#include "pathsearch/pathsearch_internal.h"
#include "platform/system.h"

namespace shortest_path_parts {

// How many visibility tests run between two looks at the clock and the stop request.
constexpr int64_t CHECK_EVERY_TESTS = 256;

inline double Distance(const Vec2& a, const Vec2& b) {
    double dx = double{a.x} - b.x;
    double dy = double{a.y} - b.y;
    return std::sqrt(dx * dx + dy * dy);
}

inline bool Finite(const Vec2& point) { return std::isfinite(point.x) && std::isfinite(point.y); }

inline uint64_t PointKey(const Vec2& point) {
    uint64_t key;
    static_assert(sizeof key == sizeof point);
    std::memcpy(&key, &point, sizeof key);
    return key;
}

// The walls as a shortest path asks them: through the search's spatial index, or by the plain
// scan when no index could be had. Either gives the plain scan's answer.
class Visibility {
  public:
    explicit Visibility(std::span<const Wall> walls) : walls_(walls) {
        if (walls.empty() || walls.size() > static_cast<size_t>(INT32_MAX)) return;
        bool stopped = false;
        index_ = CreateWallIndex(walls.data(), static_cast<int32_t>(walls.size()), &stopped);
        if (stopped) {  // a partial index answers nothing
            FreeWallIndex(index_);
            index_ = nullptr;
        }
        stopped_ = stopped;
    }
    ~Visibility() { FreeWallIndex(index_); }
    Visibility(const Visibility&) = delete;
    Visibility& operator=(const Visibility&) = delete;

    // True when the segment from `from` toward `to` meets no wall; sets stopped instead of
    // answering when the thread was asked to stop.
    bool Free(const Vec2& from, const Vec2& to) {
        if (!index_) return SegmentFree(walls_, from, to);
        bool stopped = false;
        bool hit = AnyWallHit(index_, SegmentToward(from, to), &stopped);
        stopped_ = stopped_ || stopped;
        return !hit;
    }
    bool Stopped() const { return stopped_; }

  private:
    std::span<const Wall> walls_;
    WallIndex* index_ = nullptr;
    bool stopped_ = false;
};

class Budget {
  public:
    explicit Budget(const ShortestPathBudget& budget) : budget_(budget), t0_(TickMilliseconds()) {}
    bool Spent(int64_t expanded) const {
        if (budget_.maxExpanded > 0 && expanded >= budget_.maxExpanded) return true;
        return Interrupted();
    }
    bool Interrupted() const {
        if (ThreadStopRequested()) return true;
        return budget_.maxMilliseconds > 0 &&
               int64_t{TickMilliseconds() - t0_} >= budget_.maxMilliseconds;
    }

  private:
    ShortestPathBudget budget_;
    uint32_t t0_;
};

}  // namespace shortest_path_parts
