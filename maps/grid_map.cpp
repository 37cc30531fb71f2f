// Grid maps: reading the octile format and turning the borders of blocked cells into walls.
#include <string>

#include "maps/map_text.h"
#include "maps/maps.h"

namespace {
// Larger maps than this are not grid maps anyone draws; it keeps width × height far from
// overflowing.
constexpr int64_t MAX_GRID_SIDE = 1 << 20;

bool FreeCell(char c) { return c == '.' || c == 'G' || c == 'S'; }

// Calls emit(x1, y1, x2, y2) in cell corners for every maximal straight run of borders, in the
// order GridMapWalls promises.
template <class Emit>
void ForEachBorderRun(const GridMap& map, Emit&& emit) {
    for (int64_t y = 0; y <= map.height; ++y) {
        int64_t runStart = -1;
        for (int64_t x = 0; x <= map.width; ++x) {
            bool border =
                x < map.width && GridCellBlocked(map, x, y - 1) != GridCellBlocked(map, x, y);
            if (border && runStart < 0) runStart = x;
            if (!border && runStart >= 0) {
                emit(runStart, y, x, y);
                runStart = -1;
            }
        }
    }
    for (int64_t x = 0; x <= map.width; ++x) {
        int64_t runStart = -1;
        for (int64_t y = 0; y <= map.height; ++y) {
            bool border =
                y < map.height && GridCellBlocked(map, x - 1, y) != GridCellBlocked(map, x, y);
            if (border && runStart < 0) runStart = y;
            if (!border && runStart >= 0) {
                emit(x, runStart, x, y);
                runStart = -1;
            }
        }
    }
}
}  // namespace

bool ReadGridMap(std::string_view text, const std::string& name, GridMap* map, std::string* error) {
    TextLines lines{text};
    std::string_view line;
    auto refuse = [&](const std::string& what) {
        *error = Problem(name, lines.number, what);
        return false;
    };
    if (!lines.Next(&line) || TrimBlanks(line) != "type octile")
        return refuse("expected \"type octile\" as the first line");
    int64_t height = -1, width = -1;
    // Height and width in either order, as map writers have them.
    for (int32_t i = 0; i < 2; ++i) {
        if (!lines.Next(&line)) return refuse("the file ends before the map's size");
        std::vector<std::string_view> fields = SplitBlanks(line);
        int64_t* side = fields.size() == 2 && fields[0] == "height"  ? &height
                        : fields.size() == 2 && fields[0] == "width" ? &width
                                                                     : nullptr;
        if (!side || *side >= 0) return refuse("expected \"height H\" and \"width W\"");
        if (!ParseInteger(fields[1], 1, MAX_GRID_SIDE, side))
            return refuse("the " + std::string(fields[0]) + " must be a whole number from 1 to " +
                          std::to_string(MAX_GRID_SIDE));
    }
    if (!lines.Next(&line) || TrimBlanks(line) != "map")
        return refuse("expected \"map\" before the rows");

    GridMap read;
    read.width = static_cast<int32_t>(width);
    read.height = static_cast<int32_t>(height);
    // Rows that are not there are refused before anything of their size is allocated.
    if (static_cast<double>(width) * static_cast<double>(height) > static_cast<double>(text.size()))
        return refuse("the map is " + std::to_string(width) + " x " + std::to_string(height) +
                      " cells, more than the file holds");
    read.blocked.resize(static_cast<size_t>(width * height));
    for (int64_t y = 0; y < height; ++y) {
        if (!lines.Next(&line))
            return refuse("the file ends after " + std::to_string(y) + " of " +
                          std::to_string(height) + " rows");
        if (static_cast<int64_t>(line.size()) != width)
            return refuse("a row of " + std::to_string(line.size()) + " cells; the map is " +
                          std::to_string(width) + " wide");
        for (int64_t x = 0; x < width; ++x)
            read.blocked[static_cast<size_t>(y * width + x)] = FreeCell(line[x]) ? 0 : 1;
    }
    *map = std::move(read);
    return true;
}

bool GridCellBlocked(const GridMap& map, int64_t x, int64_t y) {
    if (x < 0 || y < 0 || x >= map.width || y >= map.height) return true;
    return map.blocked[static_cast<size_t>(y * map.width + x)] != 0;
}

int64_t GridMapWallCount(const GridMap& map) {
    int64_t count = 0;
    ForEachBorderRun(map, [&](int64_t, int64_t, int64_t, int64_t) { ++count; });
    return count;
}

std::vector<Wall> GridMapWalls(const GridMap& map, int32_t cell) {
    std::vector<Wall> walls;
    ForEachBorderRun(map, [&](int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
        walls.push_back(
            WallBetween(static_cast<int32_t>(x1 * cell), static_cast<int32_t>(y1 * cell),
                        static_cast<int32_t>(x2 * cell), static_cast<int32_t>(y2 * cell)));
    });
    return walls;
}
