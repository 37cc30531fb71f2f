// Navigation meshes: their walls are the polygon edges with nothing to cross into.
#include <algorithm>
#include <string>

#include "maps/map_text.h"
#include "maps/maps.h"

namespace {
// Keeps counts far from overflowing; the lines must be there anyway.
constexpr int64_t MAX_MESH_COUNT = int64_t{1} << 28;
}  // namespace

bool ReadMesh(std::string_view text, const std::string& name, MeshMap* mesh, std::string* error) {
    TextLines lines{text};
    std::string_view line;
    std::vector<std::string_view> fields;
    auto refuse = [&](const std::string& what) {
        *error = Problem(name, lines.number, what);
        return false;
    };
    // The next non-blank line's fields; false at the end of the file.
    auto next = [&] {
        if (!lines.NextFilled(&line)) return false;
        fields = SplitBlanks(line);
        return true;
    };
    if (!next() || fields.size() != 1 || fields[0] != "mesh")
        return refuse("expected \"mesh\" as the first line");
    MeshMap read;
    if (!next() || fields.size() != 1 || (fields[0] != "2" && fields[0] != "3"))
        return refuse("expected the mesh version, 2 or 3");
    read.version = fields[0] == "2" ? 2 : 3;
    int64_t vertexCount = 0, polygonCount = 0;
    if (!next() || fields.size() != 2 ||
        !ParseInteger(fields[0], 0, MAX_MESH_COUNT, &vertexCount) ||
        !ParseInteger(fields[1], 0, MAX_MESH_COUNT, &polygonCount))
        return refuse("expected the numbers of vertices and polygons");
    if (vertexCount + polygonCount > static_cast<int64_t>(text.size()))
        return refuse("more vertices and polygons than the file has lines");

    // Version 3 counts from 1 and marks a border with 0; version 2 counts from 0 and marks it
    // with -1.
    const int64_t base = read.version == 2 ? 0 : 1;
    for (int64_t v = 0; v < vertexCount; ++v) {
        if (!next())
            return refuse("the file ends after " + std::to_string(v) + " of " +
                          std::to_string(vertexCount) + " vertices");
        double x, y;
        if (fields.size() < 2 || !ParseNumber(fields[0], &x) || !ParseNumber(fields[1], &y))
            return refuse("a vertex needs two numbers, x and y");
        if (read.version == 2) {
            int64_t count = 0;
            if (fields.size() < 3 || !ParseInteger(fields[2], 0, polygonCount, &count) ||
                static_cast<int64_t>(fields.size()) != 3 + count)
                return refuse("the vertex's count of polygons does not match the polygons listed");
            for (size_t i = 3; i < fields.size(); ++i) {
                int64_t polygon;
                if (!ParseInteger(fields[i], -1, polygonCount - 1, &polygon))
                    return refuse("a polygon index must be -1 or from 0 to " +
                                  std::to_string(polygonCount - 1));
            }
        } else if (fields.size() != 2) {
            return refuse("a vertex line holds x and y only");
        }
        read.x.push_back(x);
        read.y.push_back(y);
    }
    for (int64_t p = 0; p < polygonCount; ++p) {
        if (!next())
            return refuse("the file ends after " + std::to_string(p) + " of " +
                          std::to_string(polygonCount) + " polygons");
        size_t at = 0;
        bool traversable = true;
        if (read.version == 3) {
            int64_t flag;
            if (!ParseInteger(fields[at++], 0, 1, &flag))
                return refuse("a face's first number, traversable, must be 0 or 1");
            traversable = flag == 1;
        }
        int64_t n = 0;
        if (at >= fields.size() || !ParseInteger(fields[at++], 3, vertexCount, &n))
            return refuse("a polygon needs from 3 to " + std::to_string(vertexCount) + " vertices");
        if (fields.size() - at != static_cast<size_t>(2 * n))
            return refuse("a polygon of " + std::to_string(n) + " vertices needs " +
                          std::to_string(n) + " vertex and " + std::to_string(n) +
                          " neighbour entries, the line has " + std::to_string(fields.size() - at));
        std::vector<int32_t> corners;
        double sumX = 0, sumY = 0;
        for (int64_t i = 0; i < n; ++i) {
            int64_t vertex;
            if (!ParseInteger(fields[at + i], base, vertexCount - 1 + base, &vertex))
                return refuse("a vertex index must be from " + std::to_string(base) + " to " +
                              std::to_string(vertexCount - 1 + base));
            corners.push_back(static_cast<int32_t>(vertex - base));
            sumX += read.x[corners.back()];
            sumY += read.y[corners.back()];
        }
        for (int64_t i = 0; i < n; ++i) {
            int64_t neighbour;
            bool fits =
                read.version == 2
                    ? ParseInteger(fields[at + n + i], -1, polygonCount - 1, &neighbour)
                    : ParseInteger(fields[at + n + i], -polygonCount, polygonCount, &neighbour);
            if (!fits)
                return refuse(
                    read.version == 2
                        ? "a neighbour must be -1 or from 0 to " + std::to_string(polygonCount - 1)
                        : "a neighbour entry must be from " + std::to_string(-polygonCount) +
                              " to " + std::to_string(polygonCount));
            // Entry i belongs to the edge from corner i - 1 to corner i.
            bool wall = read.version == 2 ? neighbour == -1 : neighbour <= 0;
            if (traversable && wall) {
                read.wallFrom.push_back(corners[(i + n - 1) % n]);
                read.wallTo.push_back(corners[i]);
            }
        }
        if (traversable) {
            read.insideX.push_back(sumX / static_cast<double>(n));
            read.insideY.push_back(sumY / static_cast<double>(n));
        }
    }
    if (next()) return refuse("more lines than the mesh's counts say");

    if (read.version == 3 && !read.y.empty()) {
        // Its y grows upwards; ours downwards, with the mesh's top at its highest vertex.
        read.flipY = *std::max_element(read.y.begin(), read.y.end());
        for (double& y : read.y) y = read.flipY - y;
        for (double& y : read.insideY) y = read.flipY - y;
    }
    *mesh = std::move(read);
    return true;
}

std::vector<Wall> MeshWalls(const MeshMap& mesh, double scale) {
    std::vector<Wall> walls;
    walls.reserve(mesh.wallFrom.size());
    for (size_t i = 0; i < mesh.wallFrom.size(); ++i) {
        Vec2 from{static_cast<float>(mesh.x[mesh.wallFrom[i]] * scale),
                  static_cast<float>(mesh.y[mesh.wallFrom[i]] * scale)};
        Vec2 to{static_cast<float>(mesh.x[mesh.wallTo[i]] * scale),
                static_cast<float>(mesh.y[mesh.wallTo[i]] * scale)};
        walls.push_back(WallWithCorners(
            from,
            Vec2{static_cast<float>(static_cast<double>(to.x) - static_cast<double>(from.x)),
                 static_cast<float>(static_cast<double>(to.y) - static_cast<double>(from.y))}));
    }
    return walls;
}
