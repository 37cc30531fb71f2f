// The frame loop's edits, queued so that no frame waits for a whole scene file or, in a browser,
// for a worker to stop.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <new>

#include "app/app.h"
#include "app/scene_file.h"

namespace {
struct QueuedEdit {
    SceneEdit edit;
    std::unique_ptr<SceneLoader> loader;  // EDIT_LOAD_SCENE: the file being read
};
std::deque<QueuedEdit> queued;
bool editsWaitForWorker = true;
int32_t jobRetries = 0;  // passes in a row whose new job could not be made
}  // namespace

void SetEditsWaitForWorker(bool wait) { editsWaitForWorker = wait; }

void QueueEdit(const SceneEdit& edit) {
    try {
        QueuedEdit entry{edit, nullptr};
        if (edit.kind == EDIT_LOAD_SCENE) entry.loader = std::make_unique<SceneLoader>();
        queued.push_back(std::move(entry));
    } catch (const std::bad_alloc&) {
        // A dropped loader closes its file: the scene stays as it was, and the user is told.
        std::fprintf(stderr, "pfadlotse: an edit was not made: out of memory\n");
    }
}

void ApplyQueuedEdits() {
    if (!scene.job && scene.jobWanted && queued.empty()) {
        scene.job = CreatePathJob(scene.start, scene.goal);
        if (scene.job && jobRetries > 0)
            std::fprintf(stderr, "pfadlotse: the search started after %d more tries\n", jobRetries);
        jobRetries = scene.job ? 0 : jobRetries + 1;
        if (jobRetries == 1)
            std::fprintf(stderr,
                         "pfadlotse: the search could not start (no memory or thread); "
                         "trying again each frame\n");
    }
    while (!queued.empty()) {
        QueuedEdit& head = queued.front();
        if (head.loader && !head.loader->Step(SCENE_LOAD_STEP_BYTES)) return;
        if (!editsWaitForWorker && !PathJobWorkerEnded(scene.job)) {
            RequestPathJobStop(scene.job);
            return;
        }
        SceneEdit edit = head.edit;
        edit.loader = head.loader.get();
        // An edit right behind needs no job of its own: it would only be stopped again.
        if (queued.size() > 1 && !queued[1].loader) edit.withoutJob = 1;
        EditScene(edit);
        queued.pop_front();
    }
}

bool EditsQueued() { return !queued.empty(); }

void DropQueuedEdits() { queued.clear(); }
