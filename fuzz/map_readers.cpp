// Fuzz target: the grid map, mesh and scenario readers on any bytes. What they must do: refuse
// with the file's name first, or give a map whose walls are exactly the maximal runs of
// borders between free and blocked cells, a mesh whose walls name its own vertices, and
// queries in the order of their lines.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "maps/maps.h"

namespace {

// Whether the unit edge at (x, y) along the line is a border: horizontal edges lie between
// cells (x, y - 1) and (x, y), vertical ones between (x - 1, y) and (x, y).
bool Border(const GridMap& map, bool horizontal, int64_t x, int64_t y) {
    if (horizontal)
        return x >= 0 && x < map.width &&
               GridCellBlocked(map, x, y - 1) != GridCellBlocked(map, x, y);
    return y >= 0 && y < map.height && GridCellBlocked(map, x - 1, y) != GridCellBlocked(map, x, y);
}

void CheckGrid(const GridMap& map) {
    FUZZ_CHECK(static_cast<int64_t>(map.blocked.size()) == int64_t{map.width} * map.height);
    int64_t count = GridMapWallCount(map);
    if (count > 100000) return;
    std::vector<Wall> walls = GridMapWalls(map, 1);
    FUZZ_CHECK(static_cast<int64_t>(walls.size()) == count);
    int64_t borderEdges = 0, wallEdges = 0;
    for (int64_t y = 0; y <= map.height; ++y)
        for (int64_t x = 0; x <= map.width; ++x)
            borderEdges += Border(map, true, x, y) + Border(map, false, x, y);
    for (const Wall& wall : walls) {
        bool horizontal = wall.delta.y == 0;
        FUZZ_CHECK(horizontal ? wall.delta.x > 0 : wall.delta.x == 0 && wall.delta.y > 0);
        auto x = static_cast<int64_t>(wall.origin.x), y = static_cast<int64_t>(wall.origin.y);
        auto length = static_cast<int64_t>(horizontal ? wall.delta.x : wall.delta.y);
        // Every unit of the run a border, and none just before or after it.
        for (int64_t i = 0; i < length; ++i)
            FUZZ_CHECK(Border(map, horizontal, x + (horizontal ? i : 0), y + (horizontal ? 0 : i)));
        FUZZ_CHECK(!Border(map, horizontal, x - horizontal, y - !horizontal));
        FUZZ_CHECK(
            !Border(map, horizontal, x + (horizontal ? length : 0), y + (horizontal ? 0 : length)));
        wallEdges += length;
    }
    FUZZ_CHECK(wallEdges == borderEdges);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto refusedByName = [&](const char* name) {
        FUZZ_CHECK(error.rfind(std::string(name) + ":", 0) == 0);
    };

    GridMap map;
    if (ReadGridMap(text, "in.map", &map, &error))
        CheckGrid(map);
    else
        refusedByName("in.map");

    MeshMap mesh;
    if (ReadMesh(text, "in.mesh", &mesh, &error)) {
        FUZZ_CHECK(mesh.wallFrom.size() == mesh.wallTo.size());
        for (size_t i = 0; i < mesh.wallFrom.size(); ++i)
            FUZZ_CHECK(mesh.wallFrom[i] >= 0 &&
                       static_cast<size_t>(mesh.wallFrom[i]) < mesh.x.size() &&
                       mesh.wallTo[i] >= 0 && static_cast<size_t>(mesh.wallTo[i]) < mesh.x.size());
        FUZZ_CHECK(MeshWalls(mesh, 1).size() == mesh.wallFrom.size());
    } else {
        refusedByName("in.mesh");
    }

    std::vector<ScenarioQuery> queries;
    if (ReadScenario(text, "in.scen", &queries, &error)) {
        int32_t line = 1;
        for (const ScenarioQuery& query : queries) {
            FUZZ_CHECK(query.line > line && query.optimal >= 0);
            line = query.line;
        }
    } else {
        refusedByName("in.scen");
    }
    return 0;
}
