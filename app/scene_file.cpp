// Reading the scene file: OpenSceneFile and LoadScene do the file I/O, ParseScene turns the
// bytes into the scene.
#include "app/scene_file.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

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

bool LoadScene(Vec2& start, Vec2& goal, bool* outOfMemory) {
    if (!openScene) return false;
    InputFile* file = openScene;
    openScene = nullptr;
    // One read of the whole file, as long as it was when its size was checked: a file that
    // grows meanwhile costs no more memory, one that shrinks is read as far as it goes.
    auto size = static_cast<size_t>(openSceneBytes);
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
    int64_t got = bytes ? ReadInputFile(file, bytes.get(), size) : 0;
    CloseInputFile(file);
    const char* failure = !bytes    ? "out of memory"
                          : got < 0 ? "the file could not be read"
                                    : nullptr;
    // The walls are read into a list of their own and take the scene's place only once the
    // whole file is in: a failure leaves the scene as it was.
    CursorList* loaded = nullptr;
    Vec2 newStart = start, newGoal = goal;
    if (!failure) {
        ListCreate(&loaded, sizeof(Wall));
        if (!loaded || !ParseScene(std::span<const uint8_t>(bytes.get(), static_cast<size_t>(got)),
                                   newStart, newGoal, loaded))
            failure = "out of memory";
    }
    if (failure) {
        if (outOfMemory) *outOfMemory = got >= 0;
        ListRelease(&loaded);
        std::fprintf(stderr, "pfadlotse: the scene was not loaded: %s\n", failure);
        return false;
    }
    std::swap(walls, loaded);
    ListRelease(&loaded);
    start = newStart;
    goal = newGoal;
    return true;
}

bool ParseScene(std::span<const uint8_t> bytes, Vec2& start, Vec2& goal, CursorList* into) {
    const size_t size = bytes.size();
    // Each field takes what the file has of it; the rest keeps its old bytes.
    auto take = [&](size_t offset, void* field, size_t fieldSize) {
        if (offset < size)
            std::memcpy(field, bytes.data() + offset, std::min(fieldSize, size - offset));
    };
    take(0, &start, sizeof start);
    take(8, &goal, sizeof goal);
    ListClear(into);
    for (size_t offset = 16; offset < size; offset += sizeof(Wall)) {
        auto* wall = static_cast<Wall*>(ListAppend(into));
        if (!wall) return false;
        take(offset, wall, sizeof(Wall));
    }
    return true;
}
