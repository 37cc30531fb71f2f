// The first FindShortestPath, which scans every waypoint at every expansion: the baseline for the
// bench and the differential tests. Same answers, same budget and stop rules, same statistics
// except that it tests more segments.
#pragma once

#include <span>

#include "analysis/analysis.h"

ShortestPath FindShortestPathByScan(std::span<const Wall> walls, const Vec2& start,
                                    const Vec2& goal, const ShortestPathBudget& budget = {});
