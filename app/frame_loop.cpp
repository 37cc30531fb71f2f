// Start-up and the frame loop. Each pass draws the whole frame from the scene and the job's
// state, presents it, and then applies the keys and the mouse; the loop never waits for a job.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/scene_file.h"
#include "app/search_view.h"
#include "fault/fault_report.h"
#include "platform/display.h"
#include "platform/system.h"

// Read and written by the main thread only; a job's worker sees only its own copies.
SceneState scene;

namespace {
int32_t Round(double value) { return RoundHalfEven(value); }

// A marker disc with its label centred below it.
void DrawMarker(const Vec2& point, const char* label, int32_t colour) {
    DrawDisc(Round(point.x), Round(point.y), MARKER_RADIUS, colour);
    double width = LabelWidth(label);
    DrawLabel(Round(double{point.x} - width / 2.0), Round(double{point.y} + LABEL_OFFSET), label,
              colour);
}

// ---- The wall layer --------------------------------------------------------------------------
// Walls change rarely and all share one colour, so the pixels they cover are worked out once
// per change of the wall list, as runs along the rows, and laid over the markers each frame.
// A wall that misses the surface costs nothing per frame, and nothing but a test when drawn.

struct PixelRun {
    int32_t y;
    int32_t x0;
    int32_t x1;  // inclusive
};

struct WallLayer {
    const CursorList* list;
    uint64_t stamp;
    bool built;
    std::vector<PixelRun> runs;
    // A build under way: a list of a million walls is drawn over several frames, and the
    // layer it replaces is shown until it is done.
    bool building;
    const CursorList* buildList;
    uint64_t buildStamp;
    ListWalk walk;
    std::vector<uint8_t> covered;  // one byte per surface pixel: a wall drawn so far set it
};
WallLayer wallLayer{};

// Walls a frame looks at while it builds the layer: a few milliseconds' work, so that a frame
// at the file cap keeps its pace; a scene below it is built in one frame, as it always was.
constexpr int32_t WALL_LAYER_WALLS_PER_FRAME = 200000;

// Whether DrawWall of the wall could set a pixel of the surface: its pixels lie between its
// rounded end points.
bool WallMayShow(const Wall& wall) {
    int64_t x = Round(wall.origin.x), y = Round(wall.origin.y);
    int64_t w = Round(wall.delta.x), h = Round(wall.delta.y);
    if (w == 0 && h == 0) return false;
    return std::max(x, x + w) >= 0 && std::min(x, x + w) < SURFACE_WIDTH &&
           std::max(y, y + h) >= 0 && std::min(y, y + h) < SURFACE_HEIGHT;
}

uint64_t StampOf(const CursorList* list) { return list ? list->stamp : 0; }

bool WallLayerStale() {
    return !wallLayer.built || wallLayer.list != walls || wallLayer.stamp != StampOf(walls);
}

// Draws the next walls on a black surface with the frame's own DrawWall and notes where they
// fell; once the last is drawn, the pixels they cover become the layer, as runs along the rows.
void BuildWallLayerStep() {
    WallLayer& layer = wallLayer;
    if (!layer.building || layer.buildList != walls || layer.buildStamp != StampOf(walls)) {
        layer.building = true;
        layer.buildList = walls;
        layer.buildStamp = StampOf(walls);
        layer.walk = ListWalkStart(walls);
        layer.covered.assign(static_cast<size_t>(SURFACE_WIDTH) * SURFACE_HEIGHT, 0);
    }
    ClearSurface(COLOUR_BACKGROUND);
    BeginSurfaceDrawing();
    SetDrawingColour(COLOUR_WALL);
    // An empty label answers its x only while there is a surface to draw on; without one the
    // back buffer is not ours to read, and the layer is made again next frame.
    if (DrawLabel(1, 0, "") != 1) {
        EndSurfaceDrawing();
        layer.building = false;
        layer.built = false;
        return;
    }
    bool any = false;
    bool finished = false;
    for (int32_t looked = 0; looked < WALL_LAYER_WALLS_PER_FRAME; ++looked) {
        auto* wall = static_cast<const Wall*>(ListWalkNext(&layer.walk));
        if (!wall) {
            finished = true;
            break;
        }
        if (WallMayShow(*wall)) {
            DrawWall(wall, CURRENT_COLOUR);
            any = true;
        }
    }
    if (!finished && !layer.walk.next) finished = true;
    EndSurfaceDrawing();
    if (any) {
        // Walls are the only thing drawn, so every pixel that is not black is a wall's.
        const uint32_t* pixels = BackBufferPixels();
        for (size_t i = 0; i < layer.covered.size(); ++i) layer.covered[i] |= pixels[i] != 0;
    }
    if (!finished) return;
    layer.runs.clear();
    for (int32_t y = 0; y < SURFACE_HEIGHT; ++y) {
        const uint8_t* row = layer.covered.data() + static_cast<size_t>(y) * SURFACE_WIDTH;
        for (int32_t x = 0; x < SURFACE_WIDTH; ++x) {
            if (!row[x]) continue;
            int32_t end = x;
            while (end + 1 < SURFACE_WIDTH && row[end + 1]) ++end;
            layer.runs.push_back(PixelRun{y, x, end});
            x = end;
        }
    }
    layer.list = layer.buildList;
    layer.stamp = layer.buildStamp;
    layer.built = true;
    layer.building = false;
    layer.covered = {};
}

// Draws the walls in the current drawing colour, as drawing each wall would.
void DrawWallLayer() {
    for (const PixelRun& run : wallLayer.runs) DrawLineBetween(run.x0, run.y, run.x1, run.y);
}

double Distance(const Vec2& a, const Vec2& b) {
    double dx = double{a.x} - double{b.x};
    double dy = double{a.y} - double{b.y};
    return std::sqrt(dx * dx + dy * dy);
}

void HandleFileKeys() {
    if (WasKeyReleased(KEY_F12)) {
        std::string path = PlaceFile(SCREENSHOT_FILE_NAME, true);
        if (!path.empty()) SaveScreenshot(path);
    }
    if (WasKeyReleased(KEY_F5)) {
        std::string path = PlaceFile(SCENE_FILE_NAME, true);
        if (!path.empty()) SaveScene(path, scene.start, scene.goal);
    }
    if (WasKeyReleased(KEY_F6)) {
        std::string path = PlaceFile(SCENE_FILE_NAME, false);
        if (!path.empty() && OpenSceneFile(path)) QueueEdit(SceneEdit{.kind = EDIT_LOAD_SCENE});
    }
}

void HandleRightButton() {
    uint8_t flags = scene.mouseState[MOUSE_SLOT_RIGHT].flags;
    if (flags & MOUSE_PRESSED) {
        if (Distance(scene.mousePos, scene.start) < PICK_RADIUS)
            scene.selected = &scene.start;
        else if (Distance(scene.mousePos, scene.goal) < PICK_RADIUS)
            scene.selected = &scene.goal;
        else
            scene.selected = nullptr;
    } else if (flags & MOUSE_RELEASED) {
        QueueEdit(SceneEdit{.kind = EDIT_RECOMPUTE});
    } else if ((flags & MOUSE_DOWN) && scene.selected) {
        scene.selected->x = scene.mousePos.x;
        scene.selected->y = scene.mousePos.y;
    }
}

void HandleLeftButton() {
    uint8_t flags = scene.mouseState[MOUSE_SLOT_LEFT].flags;
    if (flags & MOUSE_PRESSED) {
        scene.dragging = 1;
        scene.dragStart = scene.mousePos;
    } else if (flags & MOUSE_RELEASED) {
        QueueEdit(SceneEdit{.kind = EDIT_ADD_WALL,
                            .x1 = Round(scene.dragStart.x),
                            .y1 = Round(scene.dragStart.y),
                            .x2 = Round(scene.mousePos.x),
                            .y2 = Round(scene.mousePos.y)});
    } else if (flags == 0) {
        scene.dragging = 0;
    }
}
}  // namespace

bool WallLayerCurrent() { return !WallLayerStale(); }

int32_t DrawWall(const Wall* wall, int32_t colour) {
    if (!wall) return 0;
    int32_t x = Round(wall->origin.x);
    int32_t y = Round(wall->origin.y);
    int32_t w = Round(wall->delta.x);
    int32_t h = Round(wall->delta.y);
    DrawLineOffset(x, y, w, h, colour >= 0 ? colour : CURRENT_COLOUR);
    return 0;
}

void EditScene(const SceneEdit& edit) {
    // The worker reads walls and the job's nodes: it must be gone before either changes.
    FreePathJob(scene.job);
    scene.job = nullptr;
    EndSearchViewsForEdit();
    switch (edit.kind) {
        case EDIT_ADD_WALL:
            if (AddWall(edit.x1, edit.y1, edit.x2, edit.y2) != 0)
                std::fprintf(
                    stderr,
                    "pfadlotse: the wall from (%d, %d) to (%d, %d) was not added: out of memory\n",
                    edit.x1, edit.y1, edit.x2, edit.y2);
            break;
        case EDIT_LOAD_SCENE:
            if (edit.loader)
                edit.loader->Finish(scene.start, scene.goal);
            else
                LoadScene(scene.start, scene.goal);
            break;
        case EDIT_SET_WALLS:
            ListClear(walls);
            for (int32_t i = 0; i < edit.wallCount; ++i) {
                auto* wall = static_cast<Wall*>(ListAppend(walls));
                if (!wall) {
                    std::fprintf(stderr, "pfadlotse: %d of %d walls were not set: out of memory\n",
                                 edit.wallCount - i, edit.wallCount);
                    break;
                }
                *wall = edit.wallRecords[i];
            }
            break;
        default:
            break;
    }
    scene.jobWanted = !edit.withoutJob;
    if (scene.jobWanted) scene.job = CreatePathJob(scene.start, scene.goal);
}

bool StartPlatform(bool installFaultReport, std::string* failure) {
    scene = SceneState{};
    ResetSearchViews();
    PrepareProcess();
    ThreadInstallSignalStack();
    auto fail = [&](std::string what) {
        if (failure) *failure = std::move(what);
        return false;
    };

    if (!ArrayCreate(&mouseState, MOUSE_SLOT_UPPER_INDEX))
        return fail("no memory for the mouse state");
    scene.mouseState = mouseState;

    // From here on a fault on any thread ends the program through the report.
    if (installFaultReport) {
        InstallFaultReport();
        SetFaultReportFrameLoopStep(DropDisplayConnection);
    }

    // The lock, then walls, the node registry and the tested segments; tests and tools may
    // start up more than once, and the lock lives for the whole process.
    if (!CreateSharedState()) return fail("no memory for the search lock and the scene's lists");

    OpenDisplay();
    OpenMouse();
    OpenKeyboard();
    Window* window =
        OpenMainWindow(0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, "Fenster", MAIN_WINDOW_STYLE);
    OpenWindowSurface(window, 0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, 0, 0, 0);
    if (PlatformOpenError()) return fail(PlatformOpenError());
    if (!window) return fail("the window could not be opened");
    return true;
}

void StartScene() {
    scene.start = Vec2{50, 340};
    scene.goal = Vec2{750, 340};
    AddBox(10, 80, 780, 510);
    scene.jobWanted = true;
    scene.job = CreatePathJob(scene.start, scene.goal);
}

void DrawFrame() {
    // The layer is drawn on the back buffer, which the frame clears next.
    if (WallLayerStale()) BuildWallLayerStep();
    PrepareSearchView();
    ClearSurface(COLOUR_BACKGROUND);
    BeginSurfaceDrawing();
    SetDrawingMode(DRAWING_MODE_TRANSPARENT);
    DrawSearchViewBeneath();

    DrawMarker(scene.start, "Start", COLOUR_START);
    DrawMarker(scene.goal, "Ziel", COLOUR_GOAL);

    SetDrawingColour(COLOUR_WALL);
    DrawWallLayer();

    SetDrawingColour(COLOUR_PATH);
    scene.jobStatus = PathJobStatus(scene.job);
    if (scene.jobStatus == 1) {
        DrawLabel(5, 5, "Weg erfolgreich berechnet", COLOUR_FOUND);
        DrawLabel(
            10, 25,
            TextJoin({"Kollisionskontrollen : ", DecimalText(PathJobCollisionChecks(scene.job))}),
            COLOUR_STATISTICS);
        DrawLabel(10, 40, TextJoin({"Weg-Knoten : ", DecimalText(PathJobNodeCount(scene.job))}),
                  COLOUR_STATISTICS);
        DrawLabel(10, 55,
                  TextJoin({"Berechungszeit : ", DecimalText(PathJobTime(scene.job)), "ms"}),
                  COLOUR_STATISTICS);
        // The polyline starts at the job's own copy of the start: the scene's may have moved.
        scene.prevPathPoint = scene.job->start;
        while (NextPathPoint(scene.job)) {
            scene.pathPoint = CurrentPathPoint(scene.job);
            DrawLineBetween(Round(scene.prevPathPoint.x), Round(scene.prevPathPoint.y),
                            Round(scene.pathPoint->x), Round(scene.pathPoint->y));
            scene.prevPathPoint = *scene.pathPoint;
        }
    } else if (scene.jobStatus == 0) {
        DrawLabel(5, 5, "Weg wird berechnet ...", COLOUR_COMPUTING);
    } else if (scene.jobStatus == -1) {
        DrawLabel(5, 5, "Das Ziel ist unerreichbar", COLOUR_UNREACHABLE);
    } else if (scene.jobStatus == PATH_JOB_OUT_OF_MEMORY) {
        // No answer: neither a path nor "unreachable" would be true.
        DrawLabel(5, 5, "Zu wenig Speicher", COLOUR_UNREACHABLE);
    }

    DrawLabel(500, 10, "Pfadlotse", COLOUR_HELP);
    DrawLabel(500, 30, "Mauer setzen mit linker Maus", COLOUR_HELP);
    DrawLabel(500, 50, "Start/Ziel verschieben mit rechter Maus", COLOUR_HELP);

    if (scene.dragging == 1) {
        DrawLineBetween(Round(scene.dragStart.x), Round(scene.dragStart.y), Round(scene.mousePos.x),
                        Round(scene.mousePos.y), COLOUR_RUBBER_BAND);
    }

    DrawSearchViewOver();

    // Our own cursor, last so that it lies on top; the platform's is hidden over the surface.
    int32_t x = Round(scene.mousePos.x);
    int32_t y = Round(scene.mousePos.y);
    DrawLineOffset(x, y, 7, 15, COLOUR_CURSOR);
    DrawLineOffset(x, y, 15, 7, COLOUR_CURSOR);

    EndSurfaceDrawing();
    PresentSurface();
}

bool RunFramePass(int32_t pauseMs) {
    DrawFrame();
    if (pauseMs > 0) SleepMilliseconds(pauseMs);
    PollWindowEvent();  // the close box queues an event that is ignored: only Escape ends

    SampleKeyboard();
    if (IsKeyDown(KEY_ESCAPE)) return false;
    // F12 first: the back buffer still holds the frame presented above.
    HandleFileKeys();
    HandleSearchViewKeys();

    UpdateMouseState(MOUSE_SOURCE_DEVICE);
    scene.mousePos =
        Vec2{static_cast<float>(MousePositionX()), static_cast<float>(MousePositionY())};
    HandleRightButton();
    HandleLeftButton();
    ApplyQueuedEdits();
    return true;
}

bool RunFrameStep(int32_t pauseMs) {
    if (!RunFramePass(pauseMs)) return false;
    // A worker's fault report must get the mouse. SIGINT and SIGTERM end us here, on this
    // thread, between two frames.
    if (FaultReportActive()) ReleaseMouseGrab();
    return !QuitRequested();
}

void StartProgram() {
    std::string failure;
    if (!StartPlatform(true, &failure)) {
        std::fprintf(stderr, "pfadlotse: cannot start: %s\n", failure.c_str());
        std::fflush(stderr);
        std::_Exit(EXIT_FAILURE);
    }
    StartScene();
}

void RunFrameLoop() {
    StartProgram();
    while (RunFrameStep(FRAME_PAUSE_MS)) {
    }
    EndProgram();
}
