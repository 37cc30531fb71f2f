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

namespace {
// Appends one wall per 32 bytes; a trailing part of a wall has its missing fields zero. False
// when memory for a wall ran out.
bool AppendWalls(const uint8_t* bytes, size_t size, CursorList* into) {
    for (size_t offset = 0; offset < size; offset += sizeof(Wall)) {
        auto* wall = static_cast<Wall*>(ListAppend(into));
        if (!wall) return false;
        std::memcpy(wall, bytes + offset, std::min(sizeof(Wall), size - offset));
    }
    return true;
}

// Each header field takes what the file has of it; the rest keeps its old bytes.
void TakeHeader(const uint8_t* header, size_t size, Vec2& start, Vec2& goal) {
    if (size > 0) std::memcpy(&start, header, std::min(sizeof start, size));
    if (size > 8) std::memcpy(&goal, header + 8, std::min(sizeof goal, size - 8));
}
constexpr size_t HEADER_BYTES = 16;
// The walls are read through a buffer this small, again and again: it stays in the cache, and a
// buffer as large as the file would cost a fresh page of memory per 4 KB read.
constexpr size_t READ_CHUNK_BYTES = 512 * sizeof(Wall);
}  // namespace

struct SceneLoader::Parts {
    InputFile* file = nullptr;
    int64_t remaining = 0;  // as long as the file was when its size was checked
    uint8_t header[HEADER_BYTES] = {};
    size_t headerBytes = 0;
    CursorList* loaded = nullptr;
    std::unique_ptr<uint8_t[]> buffer;  // READ_CHUNK_BYTES, made by the first Step that reads
    const char* failure = nullptr;
    bool readFailed = false;
    bool done = false;
};

SceneLoader::SceneLoader() : parts_(new (std::nothrow) Parts) {
    InputFile* file = openScene;
    openScene = nullptr;
    if (!parts_) {
        CloseInputFile(file);
        return;
    }
    parts_->file = file;
    parts_->remaining = openSceneBytes;
    if (!file) {
        parts_->done = true;
        return;
    }
    ListCreate(&parts_->loaded, sizeof(Wall));
    if (!parts_->loaded) parts_->failure = "out of memory";
}

SceneLoader::~SceneLoader() {
    if (!parts_) return;
    CloseInputFile(parts_->file);
    ListRelease(&parts_->loaded);
    delete parts_;
}

bool SceneLoader::Step(size_t maxBytes) {
    if (!parts_) return true;
    Parts& p = *parts_;
    // Reads want bytes into destination; false on a read error. Fewer than asked only at the
    // end: a file that shrank is read as far as it goes, one that grew no further than checked.
    auto read = [&](uint8_t* destination, size_t want, size_t* got) {
        int64_t n = ReadInputFile(p.file, destination, want);
        if (n < 0) {
            p.failure = "the file could not be read";
            p.readFailed = true;
            return false;
        }
        *got = static_cast<size_t>(n);
        p.remaining = n < static_cast<int64_t>(want) ? 0 : p.remaining - n;
        return true;
    };
    if (!p.done && !p.failure && p.headerBytes < HEADER_BYTES && p.remaining > 0) {
        size_t got = 0;
        if (read(p.header, static_cast<size_t>(std::min<int64_t>(HEADER_BYTES, p.remaining)), &got))
            p.headerBytes = got;
    }
    if (!p.done && !p.failure && p.remaining > 0) {
        size_t left = std::max(maxBytes / sizeof(Wall), size_t{1}) * sizeof(Wall);
        left = std::min({left, static_cast<size_t>(p.remaining), 4 * SCENE_LOAD_STEP_BYTES});
        if (!p.buffer) p.buffer.reset(new (std::nothrow) uint8_t[READ_CHUNK_BYTES]);
        if (!p.buffer) p.failure = "out of memory";
        while (!p.failure && left > 0 && p.remaining > 0) {
            size_t want = std::min(left, READ_CHUNK_BYTES), got = 0;
            if (!read(p.buffer.get(), want, &got)) break;
            if (!AppendWalls(p.buffer.get(), got, p.loaded)) p.failure = "out of memory";
            left -= want;
        }
    }
    if (p.failure || p.remaining <= 0) {
        p.done = true;
        CloseInputFile(p.file);
        p.file = nullptr;
        p.buffer.reset();
    }
    return p.done;
}

bool SceneLoader::Finish(Vec2& start, Vec2& goal, bool* outOfMemory) {
    const char* failure = !parts_         ? "out of memory"
                          : !parts_->done ? "the file was not read to its end"
                                          : parts_->failure;
    if (failure) {
        if (outOfMemory) *outOfMemory = !parts_ || !parts_->readFailed;
        if (parts_) ListRelease(&parts_->loaded);
        std::fprintf(stderr, "pfadlotse: the scene was not loaded: %s\n", failure);
        return false;
    }
    if (!parts_->loaded) return false;  // no file was open
    TakeHeader(parts_->header, parts_->headerBytes, start, goal);
    std::swap(walls, parts_->loaded);
    ListRelease(&parts_->loaded);
    return true;
}

bool LoadScene(Vec2& start, Vec2& goal, bool* outOfMemory) {
    if (!openScene) return false;
    SceneLoader loader;
    while (!loader.Step(SCENE_LOAD_STEP_BYTES)) {
    }
    return loader.Finish(start, goal, outOfMemory);
}

bool ParseScene(std::span<const uint8_t> bytes, Vec2& start, Vec2& goal, CursorList* into) {
    TakeHeader(bytes.data(), std::min(bytes.size(), HEADER_BYTES), start, goal);
    ListClear(into);
    if (bytes.size() <= HEADER_BYTES) return true;
    return AppendWalls(bytes.data() + HEADER_BYTES, bytes.size() - HEADER_BYTES, into);
}
