// pfadlotse-view: the window's views of the search (F1, F2, F3) driven by their keys on the null
// platform, for a scene file: times the frames from the key press on, and writes the frame as
// F12 would.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/scene_file.h"
#include "app/search_view.h"
#include "platform/display.h"
#include "platform/null/null_platform.h"
#include "platform/system.h"

namespace {
const char* USAGE =
    "usage: pfadlotse-view [--view plain|search|shortest] [--replay STEPS] [--help-panel]\n"
    "                      [--frames N] [--time MS] [--bmp OUT.bmp] [FILE]\n"
    "\n"
    "Loads the scene file FILE (as F6 does; without FILE the start-up scene), waits for its\n"
    "path, then presses the keys of the view asked for, as a user would, on the null platform\n"
    "(no window): F2 once for search, twice for shortest; F3 for --replay, which then runs\n"
    "STEPS steps at 60 steps per second, one a frame, and pauses; F1 for --help-panel.\n"
    "It prints one line: the view, the walls, and the time of the frames from the first key\n"
    "press until the view is complete (the search recorded, the shortest path found or given\n"
    "up, every mark drawn) and N frames more (default 100): their count, median and longest,\n"
    "in milliseconds; then the same for those of them that began with the search finished;\n"
    "then the main thread's processor time in those frames (a busy machine stretches the time\n"
    "a frame takes, not its processor time).\n"
    "\n"
    "--bmp OUT.bmp  writes the last frame as F12 does (800 x 600, 24 bits)\n"
    "--time MS      shows MS as the computation time, so that pictures compare byte for byte\n"
    "--search-times N  instead: times the path job (created until finished) N times each,\n"
    "               in turns: made directly as before the views existed, made by the edit\n"
    "               with the plain view, and with the search view (its steps recorded); prints\n"
    "               the medians in milliseconds\n"
    "\n"
    "Exit status: 0 done, 1 the scene could not be read, the view not completed within 10\n"
    "minutes or the image not written, 2 bad arguments.\n";

using Clock = std::chrono::steady_clock;
std::vector<double> frameMs;
std::vector<double> afterSearchMs;  // the frames that began with the path job finished
std::vector<double> cpuMs;          // the main thread's processor time in each frame

// This thread's processor time in milliseconds; negative where the system does not tell.
double ThreadCpuMs() {
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return -1;
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// One pass of the frame loop with the keys given held down, then one with them let go; each
// pass timed.
void Pass() {
    bool searched = PathJobStatus(scene.job) != 0;
    double cpuBegin = ThreadCpuMs();
    Clock::time_point begin = Clock::now();
    RunFramePass(0);
    frameMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    if (cpuBegin >= 0) cpuMs.push_back(ThreadCpuMs() - cpuBegin);
    if (searched) afterSearchMs.push_back(frameMs.back());
}
void Tap(int32_t key) {
    NullSetKey(key, true);
    Pass();
    NullSetKey(key, false);
    Pass();
}

bool ViewComplete(int32_t view) {
    if (PathJobStatus(scene.job) == 0) return false;
    if (view == SEARCH_VIEW_SHORTEST &&
        (searchView.shortestState == SHORTEST_IDLE || searchView.shortestState == SHORTEST_RUNNING))
        return false;
    int64_t target = searchView.replaying        ? searchView.replayStep
                     : view != SEARCH_VIEW_PLAIN ? static_cast<int64_t>(searchView.trace.size())
                                                 : 0;
    return searchView.marksDrawn >= target;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Times a job made by make() on no job: milliseconds from its creation to its end, and the
// time the job measured itself (its search, path and release).
struct JobTimes {
    std::vector<double> wall;
    std::vector<double> own;
};
template <typename Make>
void TimeJob(JobTimes* times, Make make) {
    EditScene(SceneEdit{.withoutJob = 1});
    Clock::time_point begin = Clock::now();
    make();
    while (scene.job && PathJobStatus(scene.job) == 0) std::this_thread::yield();
    times->wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    times->own.push_back(PathJobTime(scene.job));
}

void TimeSearches(int64_t runs) {
    JobTimes direct, plain, recorded;
    for (int64_t i = 0; i < runs; ++i) {
        searchView.view = SEARCH_VIEW_PLAIN;
        TimeJob(&direct, [] { scene.job = CreatePathJob(scene.start, scene.goal); });
        TimeJob(&plain, [] { EditScene(SceneEdit{}); });
        searchView.view = SEARCH_VIEW_SEARCH;  // as F2 leaves it, without the frames
        TimeJob(&recorded, [] { EditScene(SceneEdit{}); });
    }
    searchView.view = SEARCH_VIEW_PLAIN;
    EditScene(SceneEdit{});
    std::printf(
        "search time, %d walls, %lld runs each, from creation to end, median / shortest "
        "(the job's own time, median):\n",
        ListCount(walls), static_cast<long long>(runs));
    auto line = [](const char* name, const JobTimes& times) {
        std::printf("  %-20s %10.3f ms / %10.3f ms (%.0f ms)\n", name, Median(times.wall),
                    *std::min_element(times.wall.begin(), times.wall.end()), Median(times.own));
    };
    line("without the views", direct);
    line("plain view", plain);
    line("steps recorded", recorded);
}

bool ParseCount(const char* text, int64_t* value) {
    char* end = nullptr;
    long long parsed = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || parsed < 0 || parsed > 2147483647) return false;
    *value = parsed;
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    std::string output;
    std::string sceneFile;
    int32_t view = SEARCH_VIEW_PLAIN;
    int64_t replaySteps = -1;
    int64_t frames = 100;
    int64_t shownTime = -1;
    bool helpPanel = false;
    int64_t searchRuns = -1;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (std::strcmp(arg, "--view") == 0 && hasValue) {
            std::string name = argv[++i];
            if (name == "plain") {
                view = SEARCH_VIEW_PLAIN;
            } else if (name == "search") {
                view = SEARCH_VIEW_SEARCH;
            } else if (name == "shortest") {
                view = SEARCH_VIEW_SHORTEST;
            } else {
                std::fprintf(stderr,
                             "pfadlotse-view: --view is plain, search or shortest, not %s\n",
                             name.c_str());
                return 2;
            }
        } else if (std::strcmp(arg, "--replay") == 0 && hasValue) {
            if (!ParseCount(argv[++i], &replaySteps)) {
                std::fprintf(stderr, "pfadlotse-view: --replay takes 0 to 2147483647 steps\n");
                return 2;
            }
        } else if (std::strcmp(arg, "--frames") == 0 && hasValue) {
            if (!ParseCount(argv[++i], &frames)) {
                std::fprintf(stderr, "pfadlotse-view: --frames takes 0 to 2147483647\n");
                return 2;
            }
        } else if (std::strcmp(arg, "--time") == 0 && hasValue) {
            if (!ParseCount(argv[++i], &shownTime)) {
                std::fprintf(stderr, "pfadlotse-view: --time takes 0 to 2147483647 ms\n");
                return 2;
            }
        } else if (std::strcmp(arg, "--search-times") == 0 && hasValue) {
            if (!ParseCount(argv[++i], &searchRuns) || searchRuns == 0) {
                std::fprintf(stderr, "pfadlotse-view: --search-times takes 1 to 2147483647\n");
                return 2;
            }
        } else if (std::strcmp(arg, "--help-panel") == 0) {
            helpPanel = true;
        } else if (std::strcmp(arg, "--bmp") == 0 && hasValue) {
            output = argv[++i];
        } else if (arg[0] != '-' && sceneFile.empty()) {
            sceneFile = arg;
        } else {
            std::fputs(USAGE, stderr);
            return 2;
        }
    }

    NullPlatformReset();
    if (!StartPlatform(false)) {
        std::fprintf(stderr, "pfadlotse-view: %s\n", PlatformOpenError());
        return 1;
    }
    StartScene();
    if (!sceneFile.empty()) {
        if (!OpenSceneFile(sceneFile)) {
            std::fprintf(stderr, "pfadlotse-view: cannot read the scene %s\n", sceneFile.c_str());
            return 1;
        }
        EditScene(SceneEdit{.kind = EDIT_LOAD_SCENE});
    }
    while (PathJobStatus(scene.job) == 0 && scene.job) SleepMilliseconds(1);
    if (searchRuns > 0) {
        TimeSearches(searchRuns);
        ResetSearchViews();
        FreePathJob(scene.job);
        return 0;
    }
    Pass();  // the first frame draws the walls' layer, as the program's first frame after a load
    frameMs.clear();
    afterSearchMs.clear();
    cpuMs.clear();

    for (int32_t i = 0; i < view; ++i) Tap(KEY_F2);
    if (replaySteps >= 0) Tap(KEY_F3);
    if (helpPanel) Tap(KEY_F1);
    // A replay's step count starts when its trace is ready: pause once it got there.
    Clock::time_point giveUp = Clock::now() + std::chrono::minutes(10);
    for (;;) {
        // The pause lands two frames after its press, one step each at 60 steps per second.
        if (replaySteps >= 0 && !searchView.paused && searchView.replayStep + 2 >= replaySteps &&
            searchView.replayStep > 0)
            Tap(KEY_SPACE);
        // The trace is read only once its search has finished.
        bool replayDone = replaySteps < 0 || searchView.paused ||
                          (PathJobStatus(scene.job) != 0 &&
                           searchView.replayStep >= static_cast<int64_t>(searchView.trace.size()));
        if (replayDone && ViewComplete(view)) break;
        if (Clock::now() > giveUp) {
            std::fprintf(stderr, "pfadlotse-view: the view was not complete after 10 minutes\n");
            return 1;
        }
        Pass();
    }
    for (int64_t i = 0; i < frames; ++i) Pass();
    if (shownTime >= 0 && scene.job) {
        scene.job->timeMs = static_cast<int32_t>(shownTime);
        Pass();
    }

    auto longest = [](const std::vector<double>& values) {
        return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
    };
    const char* names[] = {"plain", "search", "shortest"};
    std::printf(
        "%s%s%s, %d walls: %zu frames, median %.3f ms, longest %.3f ms; once searched %zu "
        "frames, median %.3f ms, longest %.3f ms\n",
        names[view], replaySteps >= 0 ? " + replay" : "", helpPanel ? " + help" : "",
        ListCount(walls), frameMs.size(), Median(frameMs), longest(frameMs), afterSearchMs.size(),
        Median(afterSearchMs), longest(afterSearchMs));
    if (!cpuMs.empty())
        std::printf(
            "  the frames' processor time on the main thread: median %.3f ms, longest %.3f ms\n",
            Median(cpuMs), longest(cpuMs));

    bool saved = output.empty() || SaveScreenshot(output);
    if (!saved) std::fprintf(stderr, "pfadlotse-view: cannot write %s\n", output.c_str());
    ResetSearchViews();
    FreePathJob(scene.job);
    return saved ? 0 : 1;
}
