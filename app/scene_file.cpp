// Reading the scene file: OpenSceneFile and LoadScene do the file I/O, ParseScene turns the
// bytes into the scene.
#include "app/scene_file.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/files.h"

static_assert(std::endian::native == std::endian::little, "the scene file is little-endian");

namespace {
InputFile* openScene = nullptr;
int64_t openSceneBytes = 0;
}  // namespace

bool OpenSceneFile(const std::string& path) {
    FileOpenOutcome outcome;
    std::string reason;
    int64_t size = 0;
    InputFile* file = OpenInputFile(path, SCENE_FILE_MAX_BYTES, &outcome, &reason, &size);
    switch (outcome) {
        case FILE_OPENED:
            break;
        case FILE_MISSING:
            return false;
        case FILE_UNREADABLE:
            std::fprintf(stderr, "pfadlotse: cannot open %s: %s\n", path.c_str(), reason.c_str());
            return false;
        case FILE_NOT_REGULAR:
        case FILE_TOO_LONG:
            std::fprintf(stderr, "pfadlotse: not loading %s: %s\n", path.c_str(),
                         outcome == FILE_NOT_REGULAR
                             ? "not a regular file"
                             : "longer than a scene of a million walls (32000016 bytes)");
            return false;
    }
    CloseInputFile(openScene);
    openScene = file;
    openSceneBytes = size;
    return true;
}

void LoadScene(Vec2& start, Vec2& goal) {
    if (!openScene) return;
    // One read of the whole file, as long as it was when its size was checked: a file that
    // grows meanwhile costs no more memory, one that shrinks is read as far as it goes.
    std::vector<uint8_t> bytes(static_cast<size_t>(openSceneBytes));
    size_t size = ReadInputFile(openScene, bytes.data(), bytes.size());
    CloseInputFile(openScene);
    openScene = nullptr;
    ParseScene(std::span<const uint8_t>(bytes.data(), size), start, goal);
}

bool ParseScene(std::span<const uint8_t> bytes, Vec2& start, Vec2& goal) {
    const size_t size = bytes.size();
    // Each field takes what the file has of it; the rest keeps its old bytes.
    auto take = [&](size_t offset, void* field, size_t fieldSize) {
        if (offset < size) std::memcpy(field, bytes.data() + offset, std::min(fieldSize, size - offset));
    };
    take(0, &start, sizeof start);
    take(8, &goal, sizeof goal);
    ListClear(walls);
    for (size_t offset = 16; offset < size; offset += sizeof(Wall)) {
        auto* wall = static_cast<Wall*>(ListAppend(walls));
        if (!wall) return false;
        take(offset, wall, sizeof(Wall));
    }
    return true;
}
