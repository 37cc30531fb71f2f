// pfadlotse in a page: the same start-up and frame step as the desktop program, with the
// browser calling the step once per animation frame instead of a loop that would never give
// the page back. Files live in the page's file system; the page keeps PathFindLog.txt across
// reloads, downloads each new Screen.bmp, and hands in scene files dropped on the canvas.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <string>

#include "app/app.h"
#include "app/scene_file.h"
#include "fault/fault_record.h"
#include "platform/system.h"

namespace {
std::string droppedScene;

// The page's side of the files once a frame has acted on its keys (web/pfadlotse-page.js);
// it also learns the job's state and, once found, its time, which it shows to tests and tools
// as data-job and data-job-time.
EM_JS(void, SyncPageFiles, (int jobStatus, int jobTimeMs), {
    if (Module.pfadSyncFiles) Module.pfadSyncFiles(jobStatus, jobTimeMs);
});
EM_JS(void, TellPageEnded, (), {
    if (Module.pfadEnded) Module.pfadEnded();
});

bool ending = false;

void Step() {
    if (ending) {
        // The worker stops before the page says it is over; the last frame stays on the canvas.
        // The main thread never waits for it: the frames keep asking until it has.
        if (!PathJobWorkerEnded(scene.job)) return;
        FreePathJob(scene.job);
        scene.job = nullptr;
        emscripten_cancel_main_loop();
        TellPageEnded();
        return;
    }
    PathJob* drawn = scene.job;  // the frame draws this job; edits come after the drawing
    if (!RunFrameStep(0)) {
        DropQueuedEdits();
        RequestPathJobStop(scene.job);
        ending = true;
        return;
    }
    // What the frame showed while its job is still the current one (an edit's new job is
    // pending); the time only of a job that has finished.
    int32_t shown = scene.job == drawn ? scene.jobStatus : 0;
    int32_t time = shown == 1 && PathJobStatus(scene.job) == 1 ? PathJobTime(scene.job) : -1;
    SyncPageFiles(shown, time);
    if (!droppedScene.empty()) {
        // As F6 would load it: the same reader and size cap; a refused file changes nothing
        // and says why on stderr, which the page shows.
        std::string path = std::move(droppedScene);
        droppedScene.clear();
        if (OpenSceneFile(path)) QueueEdit(SceneEdit{.kind = EDIT_LOAD_SCENE});
    }
}
}  // namespace

// The page wrote a dropped or chosen scene file at path; it is loaded at the next frame.
extern "C" EMSCRIPTEN_KEEPALIVE void PfadLoadDroppedScene(const char* path) { droppedScene = path; }

// The fault box's text for a trap the page caught: kind (an exception code, 0 when unknown),
// our source file (relative to the project root) and line, and the code offset as the address.
extern "C" EMSCRIPTEN_KEEPALIVE const char* PfadFaultText(uint32_t kind, const char* file,
                                                          uint32_t line, uint32_t offset) {
    static char text[512];
    FaultFileTable table;
    FaultFileTableInit(table, "app/frame_loop.cpp");
    const char* name = FaultFileName(table, FaultFileIndex(table, file));
    ComposeFaultMessage(text, sizeof text, kind, name, line, offset, 32);
    return text;
}

// After the fault box: the program is over, its last frame stays.
extern "C" EMSCRIPTEN_KEEPALIVE void PfadEndAfterFault() { emscripten_cancel_main_loop(); }

#if PFAD_CHECKS
// Test seam: a trap of the kind (1 out-of-bounds access, 2 integer division by zero,
// 3 unreachable, 4 stack overflow) on the main thread or on a new worker.
namespace {
volatile int32_t trapDivisor = 0;
[[gnu::noinline]] int32_t Recurse(int32_t depth) {
    volatile int32_t kept[16];  // read after the call: no loop can replace the recursion
    kept[0] = depth;
    if (depth > (1 << 30)) return 0;  // far beyond any stack
    return Recurse(depth + 1) + kept[0];
}
void Trap(int32_t kind) {
    // Each trap on the line of its case: the page's tests expect the box to name that line.
    // clang-format off
    switch (kind) {
        case 1: std::printf("%d\n", *reinterpret_cast<volatile int32_t*>(uintptr_t{0xFFFFFFF0u})); break;
        case 2: std::printf("%d\n", 7 / trapDivisor); break;
        case 3: __builtin_trap();
        case 4: std::printf("%d\n", Recurse(1)); break;
        default: break;
    }
    // clang-format on
}
}  // namespace
extern "C" EMSCRIPTEN_KEEPALIVE void PfadTrapForTest(int32_t kind, int32_t onWorker) {
    if (!onWorker) {
        Trap(kind);
        return;
    }
    auto* argument = new int32_t(kind);
    ThreadStart([](void* raw) { Trap(*static_cast<int32_t*>(raw)); }, argument);
}
#endif

int main() {
    // The browser's main thread may not block: edits wait in the queue for a stopping worker.
    SetEditsWaitForWorker(false);
    StartProgram();
    // Every animation frame; the browser's wait between them is the frame's pause.
    emscripten_set_main_loop(Step, 0, 1);
}
