// Scenario files, and a map made into a scene that their queries are asked on.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "maps/map_text.h"
#include "maps/maps.h"

bool ReadScenario(std::string_view text, const std::string& name,
                  std::vector<ScenarioQuery>* queries, std::string* error) {
    TextLines lines{text};
    std::string_view line;
    auto refuse = [&](const std::string& what) {
        *error = Problem(name, lines.number, what);
        return false;
    };
    std::vector<std::string_view> header;
    if (lines.Next(&line)) header = SplitBlanks(line);
    double version = 0;
    if (header.size() != 2 || header[0] != "version" || !ParseNumber(header[1], &version) ||
        (version != 1 && version != 3))
        return refuse("expected \"version 1\", \"version 1.0\" or \"version 3\" as the first line");

    std::vector<ScenarioQuery> read;
    while (lines.NextFilled(&line)) {
        // Tabs part the columns where there are any (a map's path may hold spaces then).
        std::vector<std::string_view> fields = line.find('\t') != std::string_view::npos
                                                   ? SplitTabs(TrimBlanks(line))
                                                   : SplitBlanks(line);
        if (fields.size() != 9)
            return refuse(
                "a query has 9 columns (bucket, map, width, height, start x, start y, "
                "goal x, goal y, optimal length); this line has " +
                std::to_string(fields.size()));
        ScenarioQuery query;
        query.line = lines.number;
        int64_t bucket, width, height;
        if (!ParseInteger(fields[0], 0, std::numeric_limits<int32_t>::max(), &bucket))
            return refuse("the bucket must be a whole number of 0 or more");
        if (fields[1].empty()) return refuse("the map's name is empty");
        if (!ParseInteger(fields[2], 0, std::numeric_limits<int32_t>::max(), &width) ||
            !ParseInteger(fields[3], 0, std::numeric_limits<int32_t>::max(), &height))
            return refuse("the map's width and height must be whole numbers of 0 or more");
        double* numbers[] = {&query.startX, &query.startY, &query.goalX, &query.goalY,
                             &query.optimal};
        for (size_t i = 0; i < 5; ++i)
            if (!ParseNumber(fields[4 + i], numbers[i])) {
                // Appended, not joined with +: GCC 12 warns falsely (-Wrestrict) on that at -O3.
                std::string what(1, '"');
                what.append(fields[4 + i]).append("\" is not a number");
                return refuse(what);
            }
        if (query.optimal < 0) return refuse("the optimal length is negative");
        query.bucket = static_cast<int32_t>(bucket);
        query.map = std::string(fields[1]);
        query.mapWidth = static_cast<int32_t>(width);
        query.mapHeight = static_cast<int32_t>(height);
        read.push_back(std::move(query));
    }
    *queries = std::move(read);
    return true;
}

bool LoadMapScene(const std::string& path, int32_t cell, double scale, int64_t maxWalls,
                  MapScene* scene, std::string* error) {
    std::string text;
    if (!ReadTextFile(path, MAX_MAP_FILE_BYTES, &text, error)) return false;
    MapScene made;
    TextLines first{text};
    std::string_view line;
    made.isMesh = first.NextFilled(&line) && TrimBlanks(line) == "mesh";
    int64_t wallCount = 0;
    if (made.isMesh) {
        if (!(scale > 0) || !std::isfinite(scale)) {
            *error = Problem(path, 0, "the scale must be a number above 0");
            return false;
        }
        if (!ReadMesh(text, path, &made.mesh, error)) return false;
        made.unit = scale;
        for (size_t v = 0; v < made.mesh.x.size(); ++v)
            if (std::fabs(made.mesh.x[v] * scale) >= MAX_SCENE_COORDINATE ||
                std::fabs(made.mesh.y[v] * scale) >= MAX_SCENE_COORDINATE) {
                *error = Problem(path, 0,
                                 "vertex " + std::to_string(v) + " lies beyond " +
                                     std::to_string(static_cast<int64_t>(MAX_SCENE_COORDINATE)) +
                                     " scene units at this scale");
                return false;
            }
        wallCount = static_cast<int64_t>(made.mesh.wallFrom.size());
    } else {
        if (cell < 1) {
            *error = Problem(path, 0, "the cell size must be 1 or more");
            return false;
        }
        if (!ReadGridMap(text, path, &made.grid, error)) return false;
        made.unit = cell;
        if (static_cast<double>(std::max(made.grid.width, made.grid.height)) * cell >
            MAX_SCENE_COORDINATE) {
            *error = Problem(
                path, 0,
                "at " + std::to_string(cell) + " units a cell the map reaches beyond " +
                    std::to_string(static_cast<int64_t>(MAX_SCENE_COORDINATE)) + " scene units");
            return false;
        }
        wallCount = GridMapWallCount(made.grid);
    }
    if (wallCount > maxWalls) {
        *error =
            Problem(path, 0,
                    "the scene would have " + std::to_string(wallCount) + " walls, more than the " +
                        std::to_string(maxWalls) + " a scene file holds");
        return false;
    }
    made.walls = made.isMesh ? MeshWalls(made.mesh, scale) : GridMapWalls(made.grid, cell);
    *scene = std::move(made);
    return true;
}

Vec2 QueryPoint(const MapScene& scene, double x, double y, QueryReference reference) {
    if (scene.isMesh) {
        if (scene.mesh.version == 3) y = scene.mesh.flipY - y;
        return Vec2{static_cast<float>(x * scene.unit), static_cast<float>(y * scene.unit)};
    }
    double offset = reference == REFERENCE_OCTILE ? 0.5 : 0.0;
    return Vec2{static_cast<float>((x + offset) * scene.unit),
                static_cast<float>((y + offset) * scene.unit)};
}

bool QueryInMap(const MapScene& scene, double x, double y) {
    if (scene.isMesh)
        return std::fabs(x * scene.unit) < MAX_SCENE_COORDINATE &&
               std::fabs(y * scene.unit) < MAX_SCENE_COORDINATE;
    return x == std::floor(x) && y == std::floor(y) && x >= 0 && y >= 0 && x < scene.grid.width &&
           y < scene.grid.height;
}

bool FarApartFreePoints(const MapScene& scene, Vec2* start, Vec2* goal) {
    // The free places with the least and the most x + y; the first found wins a tie.
    double low = 0, high = 0, lowX = 0, lowY = 0, highX = 0, highY = 0;
    bool any = false;
    auto consider = [&](double x, double y) {
        double sum = x + y;
        if (!any || sum < low) low = sum, lowX = x, lowY = y;
        if (!any || sum > high) high = sum, highX = x, highY = y;
        any = true;
    };
    if (scene.isMesh) {
        for (size_t i = 0; i < scene.mesh.insideX.size(); ++i)
            consider(scene.mesh.insideX[i], scene.mesh.insideY[i]);
        if (!any) return false;
        *start = Vec2{static_cast<float>(lowX * scene.unit), static_cast<float>(lowY * scene.unit)};
        *goal =
            Vec2{static_cast<float>(highX * scene.unit), static_cast<float>(highY * scene.unit)};
        return true;
    }
    for (int32_t y = 0; y < scene.grid.height; ++y)
        for (int32_t x = 0; x < scene.grid.width; ++x)
            if (!GridCellBlocked(scene.grid, x, y)) consider(x, y);
    if (!any) return false;
    *start = QueryPoint(scene, lowX, lowY, REFERENCE_OCTILE);
    *goal = QueryPoint(scene, highX, highY, REFERENCE_OCTILE);
    return true;
}

bool PointOnWall(std::span<const Wall> walls, const Vec2& point) {
    const double px = point.x, py = point.y;
    for (const Wall& wall : walls) {
        const double ax = wall.origin.x, ay = wall.origin.y;
        const double dx = wall.delta.x, dy = wall.delta.y;
        // Exact in double for float inputs of this size: on the line, and between the ends.
        double cross = dx * (py - ay) - dy * (px - ax);
        double along = dx * (px - ax) + dy * (py - ay);
        if (cross == 0 && along >= 0 && along <= dx * dx + dy * dy) return true;
    }
    return false;
}
