// Fuzz target: one frame drawn on the null platform for a scene read from any bytes, with the
// rubber band and the cursor at the scene's own (arbitrary) points. No drawing may write a
// pixel outside the surface: the back buffer counts every such attempt, and the sanitizers
// watch the memory around it.
#include "app/app.h"
#include "app/scene_file.h"
#include "fuzz/fuzz_support.h"
#include "platform/display.h"
#include "platform/display_backend.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = [] {
        bool opened = StartPlatform(false);
        if (!opened)
            std::fprintf(stderr, "cannot start the null platform: %s\n", PlatformOpenError());
        return opened;
    }();
    FUZZ_CHECK(started);

    FreePathJob(scene.job);
    scene.job = nullptr;
    ListClear(walls);
    AddBox(10, 80, 780, 510);
    scene.start = Vec2{50, 340};
    scene.goal = Vec2{750, 340};
    FUZZ_CHECK(ParseScene(std::span<const uint8_t>(data, size), scene.start, scene.goal, walls));
    // The drag and the mouse where no mouse could put them.
    scene.dragging = ListCount(walls) % 2;
    scene.dragStart = scene.start;
    scene.mousePos = scene.goal;

    bool stopped = false;
    scene.job = RunJobWithinBudget(scene.start, scene.goal, &stopped);
    int64_t outsideBefore = PixelsOutsideSurface();
    DrawFrame();
    FUZZ_CHECK(PixelsOutsideSurface() == outsideBefore);
    FreePathJob(scene.job);
    scene.job = nullptr;
    return 0;
}
