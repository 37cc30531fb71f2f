// The scene file's bytes and its saving; the file is replaced safely (see ReplaceFileContents).
#include <cstring>

#include "app/scene_file.h"

std::vector<uint8_t> SceneFileBytes(const Vec2& start, const Vec2& goal,
                                    const CursorList* wallList) {
    std::vector<uint8_t> bytes(16 + sizeof(Wall) *
                                        static_cast<size_t>(wallList ? ListCount(wallList) : 0));
    std::memcpy(bytes.data(), &start, 8);
    std::memcpy(bytes.data() + 8, &goal, 8);
    size_t offset = 16;
    for (const Wall& wall : ListItems<Wall>(wallList)) {
        std::memcpy(bytes.data() + offset, &wall, sizeof(Wall));
        offset += sizeof(Wall);
    }
    return bytes;
}

bool SaveScene(const std::string& path, const Vec2& start, const Vec2& goal) {
    std::vector<uint8_t> bytes = SceneFileBytes(start, goal, walls);
    return ReplaceFileContents(path, bytes.data(), bytes.size());
}
