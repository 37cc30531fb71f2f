// Reading the scene file: OpenSceneFile and LoadScene do the file I/O, ParseScene turns the
// bytes into the scene.
#include "app/scene_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

static_assert(std::endian::native == std::endian::little, "the scene file is little-endian");

namespace {
int openSceneFd = -1;
int64_t openSceneBytes = 0;

// Reads up to size bytes; fewer only at the end of the file or on a read error.
size_t ReadUpTo(int fd, void* destination, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t got = read(fd, static_cast<char*>(destination) + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}
}  // namespace

bool OpenSceneFile(const std::string& path) {
    // Non-blocking, so a FIFO in the file's place cannot hang us before it is refused.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno != ENOENT)
            std::fprintf(stderr, "pfadlotse: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    struct stat status;
    const char* refusal = nullptr;
    if (fstat(fd, &status) != 0)
        refusal = std::strerror(errno);
    else if (!S_ISREG(status.st_mode))
        refusal = "not a regular file";
    else if (status.st_size > SCENE_FILE_MAX_BYTES)
        refusal = "longer than a scene of a million walls (32000016 bytes)";
    if (refusal) {
        std::fprintf(stderr, "pfadlotse: not loading %s: %s\n", path.c_str(), refusal);
        close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (openSceneFd >= 0) close(openSceneFd);
    openSceneFd = fd;
    openSceneBytes = status.st_size;
    return true;
}

void LoadScene(Vec2& start, Vec2& goal) {
    if (openSceneFd < 0) return;
    // One read of the whole file, as long as it was when its size was checked: a file that
    // grows meanwhile costs no more memory, one that shrinks is read as far as it goes.
    std::vector<uint8_t> bytes(static_cast<size_t>(openSceneBytes));
    size_t size = ReadUpTo(openSceneFd, bytes.data(), bytes.size());
    close(openSceneFd);
    openSceneFd = -1;
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
