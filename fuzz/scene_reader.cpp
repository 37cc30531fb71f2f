// Fuzz target: the scene file reader on any bytes. What it must do: take every field the
// bytes hold as stored, keep the old start and goal bytes the input lacks, give a trailing
// partial wall zeros, and write back exactly what it read.
#include <cstring>
#include <vector>

#include "app/scene_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!walls) ListCreate(&walls, sizeof(Wall));
    FUZZ_CHECK(walls);
    // A scene from before the load, so that what the input does not replace shows.
    ListClear(walls);
    AddBox(10, 80, 780, 510);
    Vec2 start{50, 340};
    Vec2 goal{750, 340};
    std::vector<uint8_t> expected = SceneFileBytes(start, goal, walls);
    expected.resize(16);

    FUZZ_CHECK(ParseScene(std::span<const uint8_t>(data, size), start, goal, walls));

    size_t wallCount = size <= 16 ? 0 : (size - 16 + sizeof(Wall) - 1) / sizeof(Wall);
    FUZZ_CHECK(static_cast<size_t>(ListCount(walls)) == wallCount);
    expected.resize(16 + wallCount * sizeof(Wall), 0);
    if (size > 0) std::memcpy(expected.data(), data, size);
    FUZZ_CHECK(SceneFileBytes(start, goal, walls) == expected);
    return 0;
}
