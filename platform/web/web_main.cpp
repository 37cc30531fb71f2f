// pfadlotse in a page: the same start-up and frame step as the desktop program, with the
// browser calling the step once per animation frame instead of a loop that would never give
// the page back. Files live in the page's file system; the page keeps PathFindLog.txt across
// reloads, downloads each new Screen.bmp, and hands in scene files dropped on the canvas.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <string>

#include "app/app.h"
#include "app/scene_file.h"

namespace {
std::string droppedScene;

// The page's side of the files once a frame has acted on its keys (web/pfadlotse-page.js);
// it also learns the job's state, which it shows to tests and tools as data-job.
EM_JS(void, SyncPageFiles, (int jobStatus), {
    if (Module.pfadSyncFiles) Module.pfadSyncFiles(jobStatus);
});
EM_JS(void, TellPageEnded, (), {
    if (Module.pfadEnded) Module.pfadEnded();
});

void Step() {
    if (!RunFrameStep(0)) {
        emscripten_cancel_main_loop();
        // The worker stops before the page says it is over; the last frame stays on the canvas.
        EditScene(SceneEdit{.kind = EDIT_RECOMPUTE, .withoutJob = 1});
        TellPageEnded();
        return;
    }
    SyncPageFiles(scene.jobStatus);
    if (!droppedScene.empty()) {
        // As F6 would load it: the same reader and size cap; a refused file changes nothing
        // and says why on stderr, which the page shows.
        std::string path = std::move(droppedScene);
        droppedScene.clear();
        if (OpenSceneFile(path)) EditScene(SceneEdit{.kind = EDIT_LOAD_SCENE});
    }
}
}  // namespace

// The page wrote a dropped or chosen scene file at path; it is loaded at the next frame.
extern "C" EMSCRIPTEN_KEEPALIVE void PfadLoadDroppedScene(const char* path) { droppedScene = path; }

int main() {
    StartProgram();
    // Every animation frame; the browser's wait between them is the frame's pause.
    emscripten_set_main_loop(Step, 0, 1);
}
