// pfadlotse-render: the frame the window shows for a scene once its path is computed, drawn by
// the program's own frame code on the null platform and written as a BMP like F12 writes it.
// With --search it also shows how the search got there and where the shortest way runs.
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "app/app.h"
#include "app/scene_file.h"
#include "app/search_view.h"
#include "platform/display.h"
#include "platform/system.h"

namespace {
const char* USAGE =
    "usage: pfadlotse-render --bmp OUT.bmp [--search] [--time MS] [FILE]\n"
    "\n"
    "Draws the frame pfadlotse shows for the scene file FILE (as saved with F5) once its path\n"
    "has been computed, with the mouse where a freshly started program has it, and writes it\n"
    "to OUT.bmp as F12 does (800 x 600, 24 bits). Without FILE it draws the start-up scene.\n"
    "The file is loaded into the start-up scene as F6 loads it. No window is opened.\n"
    "\n"
    "--search  also draws, in colours the window never uses, every segment the search tested\n"
    "          (dim teal, beneath the frame), the corner nodes it made (orange dots) and the\n"
    "          shortest path over the same corner points (pink, beneath the frame's own path,\n"
    "          so it shows where it differs), with a legend line beside the statistics. The\n"
    "          shortest path is given up after 10 seconds; the legend then says so.\n"
    "--time MS shows MS as the computation time instead of the time measured, so that two\n"
    "          pictures of the same scene compare byte for byte (0 to 2147483647)\n"
    "\n"
    "Exit status: 0 written, 1 the scene could not be read or the image not written,\n"
    "2 bad arguments.\n";
constexpr int32_t LEGEND_X = 215;  // between the statistics and the help lines
constexpr int64_t OPTIMAL_BUDGET_MS = 10000;

int32_t Round(float value) { return RoundHalfEven(value); }

void DrawSegment(const Vec2& from, const Vec2& to, int32_t colour) {
    DrawLineBetween(Round(from.x), Round(from.y), Round(to.x), Round(to.y), colour);
}

// Draws the search's record and the shortest path over the frame already in the back buffer.
// Tested segments and the shortest path lie beneath the frame: they fill only pixels the frame
// left as background, so the walls, the path and the texts stay as the window shows them.
void DrawSearchOverlay(const std::vector<SearchEvent>& trace, const ShortestPath& optimal) {
    std::vector<uint32_t> frame(BackBufferPixels(),
                                BackBufferPixels() + SURFACE_WIDTH * SURFACE_HEIGHT);

    ClearSurface(COLOUR_BACKGROUND);
    BeginSurfaceDrawing();
    for (const SearchEvent& event : trace)
        if (event.kind == SEARCH_EVENT_TESTED) DrawSegment(event.from, event.to, COLOUR_TESTED);
    for (size_t i = 1; i < optimal.points.size(); ++i)
        DrawSegment(optimal.points[i - 1], optimal.points[i], COLOUR_OPTIMAL);
    EndSurfaceDrawing();
    std::vector<uint32_t> beneath(BackBufferPixels(),
                                  BackBufferPixels() + SURFACE_WIDTH * SURFACE_HEIGHT);

    DrawFrame();
    BeginSurfaceDrawing();
    for (int32_t y = 0; y < SURFACE_HEIGHT; ++y)
        for (int32_t x = 0; x < SURFACE_WIDTH; ++x) {
            uint32_t under = beneath[y * SURFACE_WIDTH + x];
            if (under == 0 || frame[y * SURFACE_WIDTH + x] != 0) continue;
            // The buffer holds 0x00RRGGBB, drawing takes 0x00BBGGRR.
            auto colour =
                static_cast<int32_t>(((under & 0xFF) << 16) | (under & 0xFF00) | (under >> 16));
            DrawLineBetween(x, y, x, y, colour);
        }
    for (const SearchEvent& event : trace)
        if (event.kind == SEARCH_EVENT_NODE_MADE)
            DrawDisc(Round(event.to.x), Round(event.to.y), SEARCH_NODE_RADIUS, COLOUR_NODE);

    SetDrawingMode(DRAWING_MODE_TRANSPARENT);
    int32_t x = DrawSearchLegendEntry(LEGEND_X, false,
                                      "gepr\xFC"
                                      "ft",
                                      COLOUR_TESTED);
    x = DrawSearchLegendEntry(x, true, "Knoten", COLOUR_NODE);
    const char* optimalName = optimal.status == SHORTEST_FOUND  ? "k\xFCrzester Weg"
                              : optimal.status == SHORTEST_NONE ? "kein Weg"
                                                                : "k\xFCrzester Weg: Zeit um";
    DrawSearchLegendEntry(x, false, optimalName, COLOUR_OPTIMAL);
    EndSurfaceDrawing();
    PresentSurface();
}
}  // namespace

int main(int argc, char** argv) {
    std::string output;
    std::string sceneFile;
    bool search = false;
    int64_t shownTime = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--bmp") == 0 && i + 1 < argc) {
            output = argv[++i];
        } else if (std::strcmp(argv[i], "--search") == 0) {
            search = true;
        } else if (std::strcmp(argv[i], "--time") == 0 && i + 1 < argc) {
            const char* text = argv[++i];
            const char* end = text + std::strlen(text);
            auto [stop, error] = std::from_chars(text, end, shownTime);
            if (error != std::errc() || stop != end || shownTime < 0 || shownTime > INT32_MAX) {
                std::fprintf(
                    stderr, "pfadlotse-render: --time takes 0 to 2147483647 milliseconds, not %s\n",
                    text);
                return 2;
            }
        } else if (argv[i][0] != '-' && sceneFile.empty()) {
            sceneFile = argv[i];
        } else {
            std::fputs(USAGE, stderr);
            return 2;
        }
    }
    if (output.empty()) {
        std::fputs(USAGE, stderr);
        return 2;
    }

    if (!StartPlatform(false)) {
        std::fprintf(stderr, "pfadlotse-render: %s\n", PlatformOpenError());
        return 1;
    }
    StartScene();
    std::vector<SearchEvent> trace;
    if (!sceneFile.empty() || search) {
        if (!sceneFile.empty() && !OpenSceneFile(sceneFile)) {
            std::fprintf(stderr, "pfadlotse-render: cannot read the scene %s\n", sceneFile.c_str());
            return 1;
        }
        // The job is made after the trace starts: only the job whose result is drawn is watched.
        EditScene(SceneEdit{.kind = sceneFile.empty() ? EDIT_RECOMPUTE : EDIT_LOAD_SCENE,
                            .withoutJob = 1});
        if (search) StartSearchTrace(&trace);
        EditScene(SceneEdit{});
    }
    // The search always ends; a job that could not be created never does.
    while (scene.job && PathJobStatus(scene.job) == 0) SleepMilliseconds(1);
    StopSearchTrace();
    if (shownTime >= 0 && scene.job) scene.job->timeMs = static_cast<int32_t>(shownTime);
    DrawFrame();
    if (search) {
        std::vector<Wall> copy = CopyWalls(walls);
        DrawSearchOverlay(trace, FindShortestPath(copy, scene.start, scene.goal,
                                                  ShortestPathBudget{0, OPTIMAL_BUDGET_MS}));
    }
    bool saved = SaveScreenshot(output);
    FreePathJob(scene.job);
    return saved ? 0 : 1;
}
