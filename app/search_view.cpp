// The search views, the help panel, the replay and the shortest-path worker.
//
// Sections: the shortest-path worker; the picture of the trace; keys and edits; drawing.
//
// The trace can hold close to a million steps, so its marks are not drawn every frame: they are
// rasterised once, a bounded number per frame, into a mask of the surface, and the mask is laid
// into each frame as pixel runs.
#include "app/search_view.h"

#include <algorithm>
#include <new>
#include <span>
#include <string>

#include "app/app.h"
#include "platform/display.h"
#include "platform/system.h"

SearchViewState searchView;

namespace {
int32_t Round(double value) { return RoundHalfEven(value); }

// Keys for + and − on a US and a German layout and on the number pad (scan codes are places).
constexpr int32_t FASTER_KEYS[] = {KEY_EQUALS, KEY_RIGHT_BRACKET, KEY_NUMPAD_PLUS};
constexpr int32_t SLOWER_KEYS[] = {KEY_MINUS, KEY_SLASH, KEY_NUMPAD_MINUS};

constexpr int32_t NODE_RADIUS = SEARCH_NODE_RADIUS;
constexpr int32_t TEXT_X = 215;  // between the statistics and the help lines
constexpr int32_t CAP_X = 190;   // right of the status line
constexpr int32_t CAP_Y = 5;
constexpr int32_t LEGEND_Y = SEARCH_LEGEND_Y;
constexpr int32_t SHORTEST_Y = 40;
constexpr int32_t REPLAY_Y = 63;  // under the help lines, above the border wall

// ---- The shortest-path worker ----------------------------------------------------------------

struct ShortestWork {
    int32_t thread{};
    Vec2 start{};
    Vec2 goal{};
    ShortestPath result{};
    bool outOfMemory{};
};
// The worker writes result and outOfMemory; the main thread reads them once the thread ended.
ShortestWork shortestWork;
const char* shortestFailure = "";

void ShortestWorker(void* argument) {
    auto* work = static_cast<ShortestWork*>(argument);
    try {
        // The walls do not change while this runs: every edit stops it first.
        std::vector<Wall> copy;
        copy.reserve(static_cast<size_t>(ListCount(walls)));
        for (const Wall& wall : ListItems<Wall>(walls)) {
            if ((copy.size() & 0xFFF) == 0 && ThreadStopRequested()) return;
            copy.push_back(wall);
        }
        work->result = FindShortestPath(copy, work->start, work->goal,
                                        ShortestPathBudget{0, SHORTEST_BUDGET_MS});
    } catch (const std::bad_alloc&) {
        work->outOfMemory = true;
    }
}

void StopShortestWorker() {
    if (searchView.shortestState == SHORTEST_RUNNING) ThreadKill(shortestWork.thread);
    shortestWork = ShortestWork{};
    searchView.shortestState = SHORTEST_IDLE;
    searchView.shortestThread = 0;
    searchView.shortest = ShortestPath{};
}

// Starts the worker once the job has finished; collects its answer once it has ended.
void AdvanceShortestPath(int32_t jobStatus) {
    if (searchView.view != SEARCH_VIEW_SHORTEST) return;
    if (searchView.shortestState == SHORTEST_IDLE && jobStatus != 0 && scene.job) {
        shortestWork = ShortestWork{.start = scene.job->start, .goal = scene.job->goal};
        shortestWork.thread = ThreadStart(ShortestWorker, &shortestWork);
        if (shortestWork.thread == 0) {
            shortestFailure = "kein Thread frei";
            searchView.shortestState = SHORTEST_FAILED;
        } else {
            searchView.shortestState = SHORTEST_RUNNING;
            searchView.shortestThread = shortestWork.thread;
        }
    } else if (searchView.shortestState == SHORTEST_RUNNING &&
               !ThreadRunning(shortestWork.thread)) {
        ThreadKill(shortestWork.thread);  // forgets the ended thread's record
        if (shortestWork.outOfMemory) {
            shortestFailure = "zu wenig Speicher";
            searchView.shortestState = SHORTEST_FAILED;
        } else {
            searchView.shortest = std::move(shortestWork.result);
            searchView.shortestState = SHORTEST_READY;
        }
    }
}

// ---- The picture of the trace ----------------------------------------------------------------

constexpr uint8_t MASK_TESTED = 1;
constexpr uint8_t MASK_NODE = 2;
// Drawing colours whose back-buffer pixels tell the marks apart (0x00BBGGRR -> 0x00RRGGBB).
constexpr int32_t RASTER_TESTED = 0x000001;
constexpr int32_t RASTER_NODE = 0x000002;
constexpr uint32_t RASTER_TESTED_PIXEL = 0x010000;
constexpr uint32_t RASTER_NODE_PIXEL = 0x020000;

struct PixelRun {
    int32_t y;
    int32_t x0;
    int32_t x1;  // inclusive
};

struct TracePicture {
    std::vector<uint8_t> mask;  // SURFACE_WIDTH x SURFACE_HEIGHT, MASK_ bits
    bool runsStale;
    std::vector<PixelRun> testedRuns;
    std::vector<PixelRun> nodeRuns;
};
TracePicture picture;

void ClearPicture() {
    picture.mask.assign(static_cast<size_t>(SURFACE_WIDTH) * SURFACE_HEIGHT, 0);
    picture.testedRuns.clear();
    picture.nodeRuns.clear();
    picture.runsStale = false;
    searchView.marksDrawn = 0;
}

// Whether the line between the rounded points can set a pixel of the surface. Most of a large
// scene's segments are told apart by their floats alone.
bool SegmentMayShow(const Vec2& from, const Vec2& to) {
    constexpr float MARGIN = 1.0f;
    if ((from.x < -MARGIN && to.x < -MARGIN) || (from.y < -MARGIN && to.y < -MARGIN) ||
        (from.x > SURFACE_WIDTH + MARGIN && to.x > SURFACE_WIDTH + MARGIN) ||
        (from.y > SURFACE_HEIGHT + MARGIN && to.y > SURFACE_HEIGHT + MARGIN))
        return false;
    int64_t x1 = Round(from.x), y1 = Round(from.y), x2 = Round(to.x), y2 = Round(to.y);
    return std::max(x1, x2) >= 0 && std::min(x1, x2) < SURFACE_WIDTH && std::max(y1, y2) >= 0 &&
           std::min(y1, y2) < SURFACE_HEIGHT;
}

bool NodeMayShow(const Vec2& point) {
    int64_t x = Round(point.x), y = Round(point.y);
    return x > -NODE_RADIUS && x < SURFACE_WIDTH + NODE_RADIUS && y > -NODE_RADIUS &&
           y < SURFACE_HEIGHT + NODE_RADIUS;
}

void DrawSegment(const Vec2& from, const Vec2& to, int32_t colour) {
    DrawLineBetween(Round(from.x), Round(from.y), Round(to.x), Round(to.y), colour);
}

// Notes in the mask which pixels the back buffer has in the raster colour.
void TakeIntoMask(uint32_t pixel, uint8_t bit) {
    const uint32_t* pixels = BackBufferPixels();
    for (size_t i = 0; i < picture.mask.size(); ++i)
        if (pixels[i] == pixel) picture.mask[i] |= bit;
    picture.runsStale = true;
}

// Rasterises the trace's events from marksDrawn on, up to target and at most the cap of drawn
// marks, into the mask. Nodes are drawn in a pass of their own after the segments, so that a
// later segment cannot hide an earlier node.
void AddMarks(int64_t target) {
    ClearSurface(COLOUR_BACKGROUND);
    BeginSurfaceDrawing();
    // Without a surface the back buffer is not ours to read; the marks wait for the next frame.
    if (DrawLabel(1, 0, "") != 1) {
        EndSurfaceDrawing();
        return;
    }
    std::vector<Vec2> nodes;
    int32_t drawn = 0;
    int64_t i = searchView.marksDrawn;
    int64_t end = std::min(target, i + SEARCH_VIEW_STEPS_PER_FRAME);
    for (; i < end && drawn < SEARCH_VIEW_MARKS_PER_FRAME; ++i) {
        const SearchEvent& event = searchView.trace[static_cast<size_t>(i)];
        if (event.kind == SEARCH_EVENT_TESTED && SegmentMayShow(event.from, event.to)) {
            DrawSegment(event.from, event.to, RASTER_TESTED);
            ++drawn;
        } else if (event.kind == SEARCH_EVENT_NODE_MADE && NodeMayShow(event.to)) {
            nodes.push_back(event.to);
            ++drawn;
        }
    }
    if (drawn > static_cast<int32_t>(nodes.size())) TakeIntoMask(RASTER_TESTED_PIXEL, MASK_TESTED);
    if (!nodes.empty()) {
        ClearSurface(COLOUR_BACKGROUND);
        for (const Vec2& node : nodes)
            DrawDisc(Round(node.x), Round(node.y), NODE_RADIUS, RASTER_NODE);
        TakeIntoMask(RASTER_NODE_PIXEL, MASK_NODE);
    }
    EndSurfaceDrawing();
    searchView.marksDrawn = i;
    searchView.capReached = i < target;
}

void CollectRuns(uint8_t bit, std::vector<PixelRun>* runs) {
    runs->clear();
    for (int32_t y = 0; y < SURFACE_HEIGHT; ++y) {
        const uint8_t* row = picture.mask.data() + static_cast<size_t>(y) * SURFACE_WIDTH;
        for (int32_t x = 0; x < SURFACE_WIDTH; ++x) {
            if (!(row[x] & bit)) continue;
            int32_t end = x;
            while (end + 1 < SURFACE_WIDTH && (row[end + 1] & bit)) ++end;
            runs->push_back(PixelRun{y, x, end});
            x = end;
        }
    }
}

void DrawRuns(const std::vector<PixelRun>& runs, int32_t colour) {
    SetDrawingColour(colour);
    for (const PixelRun& run : runs) DrawLineBetween(run.x0, run.y, run.x1, run.y);
}

bool TraceReady() { return searchView.traceOfJob && PathJobStatus(scene.job) != 0; }

int64_t TraceSize() { return TraceReady() ? static_cast<int64_t>(searchView.trace.size()) : 0; }

bool Active() {
    return searchView.view != SEARCH_VIEW_PLAIN || searchView.replaying || searchView.helpShown;
}

bool ShowsTrace() { return searchView.view != SEARCH_VIEW_PLAIN || searchView.replaying; }

// ---- Keys and edits --------------------------------------------------------------------------

// Set while F2 or F3 asks for a recorded search of the same scene; the queued edit that applies
// it (maybe frames later, in a browser, once the worker has stopped) takes it and keeps the
// replay.
bool recordNextJob = false;

// Searches the scene again with its steps recorded, unless the current job already records.
void RecordCurrentScene() {
    if (searchView.traceOfJob) return;
    recordNextJob = true;
    QueueEdit(SceneEdit{.kind = EDIT_RECOMPUTE});
}

bool AnyReleased(std::span<const int32_t> keys) {
    bool any = false;
    for (int32_t key : keys) any = WasKeyReleased(key) || any;  // each key's release is taken
    return any;
}

void HandleReplayKeys() {
    if (WasKeyReleased(KEY_SPACE)) searchView.paused = !searchView.paused;
    if (WasKeyReleased(KEY_RIGHT) && searchView.paused)
        searchView.replayStep = std::min(searchView.replayStep + 1, TraceSize());
    int32_t last = static_cast<int32_t>(std::size(REPLAY_SPEEDS)) - 1;
    if (AnyReleased(FASTER_KEYS)) searchView.speedIndex = std::min(searchView.speedIndex + 1, last);
    if (AnyReleased(SLOWER_KEYS)) searchView.speedIndex = std::max(searchView.speedIndex - 1, 0);
}

// ---- Drawing ---------------------------------------------------------------------------------

const char* StepName(int32_t kind) {
    switch (kind) {
        case SEARCH_EVENT_TESTED:
            return "gepr\xFC"
                   "ft";
        case SEARCH_EVENT_NODE_MADE:
            return "Knoten";
        case SEARCH_EVENT_RELINKED:
            return "neu verbunden";
        case SEARCH_EVENT_GOAL_REACHED:
            return "Ziel erreicht";
        case SEARCH_EVENT_SHORTCUT:
            return "abgek\xFCrzt";
        default:
            return "";
    }
}

Text Length(double length) { return DecimalText(Round(length)); }

// "Weg L, kürzester S: Umweg G %", or what stands in for it.
std::string ShortestLine(int32_t jobStatus) {
    const char* name = "k\xFCrzester Weg";
    if (searchView.shortestState == SHORTEST_FAILED)
        return TextJoin({name, " nicht berechnet: ", shortestFailure});
    if (searchView.shortestState != SHORTEST_READY) return TextJoin({name, " wird berechnet ..."});
    const ShortestPath& shortest = searchView.shortest;
    if (shortest.status == SHORTEST_NOT_FINISHED)
        return TextJoin({name, ": nach ", DecimalText(SHORTEST_BUDGET_MS / 1000), " s aufgegeben"});
    if (shortest.status == SHORTEST_NONE)
        return jobStatus == -1 ? TextJoin({"auch der ", name, " findet keinen"})
                               : TextJoin({name, ": keiner gefunden"});
    if (jobStatus == -1)
        return TextJoin({name, " ", Length(shortest.length), ", die Suche fand keinen"});
    if (jobStatus != 1) return TextJoin({name, " ", Length(shortest.length)});
    double direct = PathLength(
        std::span<const Vec2>(scene.job->points, static_cast<size_t>(scene.job->pointCount)));
    double gap = PathGap(direct, shortest.length);
    return TextJoin({"Weg ", Length(direct), ", k\xFCrzester ", Length(shortest.length), ": Umweg ",
                     DecimalText(Round(gap * 100.0)), " %"});
}

// "Schritt k von n (what step k did)   S Schritte/s   Pause"
std::string ReplayLine() {
    int32_t speed = REPLAY_SPEEDS[searchView.speedIndex];
    std::string speedText =
        TextJoin({"   ", DecimalText(speed), speed == 1 ? " Schritt/s" : " Schritte/s",
                  searchView.paused ? "   Pause" : ""});
    if (!TraceReady()) return "Suche wird aufgezeichnet ..." + speedText;
    int64_t k = searchView.replayStep;
    std::string step = TextJoin({"Schritt ", DecimalText(static_cast<int32_t>(k)), " von ",
                                 DecimalText(static_cast<int32_t>(searchView.trace.size()))});
    if (k > 0)
        step += TextJoin({" (", StepName(searchView.trace[static_cast<size_t>(k - 1)].kind), ")"});
    return step + speedText;
}

constexpr const char* HELP_LINES[] = {
    "Tasten",
    "linke Maus ziehen: Mauer setzen",
    "rechte Maus ziehen: Start/Ziel verschieben",
    "F1: diese Hilfe zeigen/verbergen",
    "F2: Ansicht: einfach, Suche, Suche und k\xFCrzester Weg",
    "F3: letzte Suche Schritt f\xFCr Schritt abspielen/beenden",
    "Leertaste: Pause/weiter",
    "Pfeil rechts: ein Schritt in der Pause",
    "+ und -: schneller und langsamer",
    "F5: Szene speichern, F6: Szene laden",
    "F12: Bild speichern",
    "Esc: beenden",
};
constexpr int32_t PANEL_LEFT = 170;
constexpr int32_t PANEL_TOP = 150;
constexpr int32_t PANEL_RIGHT = 630;  // exclusive
constexpr int32_t LINE_HEIGHT = 20;
constexpr int32_t PANEL_BOTTOM =
    PANEL_TOP + 16 + LINE_HEIGHT * static_cast<int32_t>(std::size(HELP_LINES));

void DrawHelpPanel() {
    for (int32_t y = PANEL_TOP; y < PANEL_BOTTOM; ++y)
        DrawLineBetween(PANEL_LEFT, y, PANEL_RIGHT - 1, y, COLOUR_PANEL);
    SetDrawingColour(COLOUR_VIEW_TEXT);
    DrawLineBetween(PANEL_LEFT, PANEL_TOP, PANEL_RIGHT - 1, PANEL_TOP);
    DrawLineBetween(PANEL_LEFT, PANEL_BOTTOM - 1, PANEL_RIGHT - 1, PANEL_BOTTOM - 1);
    DrawLineBetween(PANEL_LEFT, PANEL_TOP, PANEL_LEFT, PANEL_BOTTOM - 1);
    DrawLineBetween(PANEL_RIGHT - 1, PANEL_TOP, PANEL_RIGHT - 1, PANEL_BOTTOM - 1);
    int32_t y = PANEL_TOP + 8;
    for (const char* line : HELP_LINES) {
        DrawLabel(PANEL_LEFT + 16, y, line,
                  line == HELP_LINES[0] ? COLOUR_VIEW_TEXT : COLOUR_PANEL_TEXT);
        y += LINE_HEIGHT;
    }
}
}  // namespace

void ResetSearchViews() {
    StopShortestWorker();
    if (searchView.traceOfJob) StopSearchTrace();
    searchView = SearchViewState{};
    recordNextJob = false;
    ClearPicture();
}

void HandleSearchViewKeys() {
    if (WasKeyReleased(KEY_F1)) searchView.helpShown = !searchView.helpShown;
    if (WasKeyReleased(KEY_F2)) {
        searchView.view = (searchView.view + 1) % 3;
        if (searchView.view == SEARCH_VIEW_PLAIN) StopShortestWorker();
        if (searchView.view == SEARCH_VIEW_SEARCH) RecordCurrentScene();
    }
    if (WasKeyReleased(KEY_F3)) {
        if (searchView.replaying) {
            searchView.replaying = false;
        } else {
            RecordCurrentScene();
            searchView.replaying = true;
            searchView.paused = false;
            searchView.replayStep = 0;
            searchView.speedCredit = 0;
        }
    }
    if (searchView.replaying) HandleReplayKeys();
}

void EndSearchViewsForEdit() {
    StopShortestWorker();
    bool ownEdit = recordNextJob;
    recordNextJob = false;
    if (!ownEdit) {
        searchView.replaying = false;
        searchView.paused = false;
    }
    // The freed job's worker has ended: nothing appends to the trace any more.
    bool record = searchView.view != SEARCH_VIEW_PLAIN || ownEdit;
    if (record)
        StartSearchTrace(&searchView.trace);
    else if (searchView.traceOfJob)
        StopSearchTrace();
    if (!record) searchView.trace = {};
    searchView.traceOfJob = record;
    if (searchView.marksDrawn > 0) ClearPicture();
}

void PrepareSearchView() {
    searchView.capReached = false;
    if (!Active()) return;
    int32_t jobStatus = PathJobStatus(scene.job);
    AdvanceShortestPath(jobStatus);
    int64_t size = TraceSize();
    if (searchView.replaying && !searchView.paused) {
        searchView.speedCredit += REPLAY_SPEEDS[searchView.speedIndex];
        int64_t steps = searchView.speedCredit / REPLAY_FRAMES_PER_SECOND;
        searchView.speedCredit %= REPLAY_FRAMES_PER_SECOND;
        // Time runs only once there is something to replay.
        if (size == 0) steps = searchView.speedCredit = 0;
        searchView.replayStep = std::min(searchView.replayStep + steps, size);
    }
    if (picture.mask.empty()) ClearPicture();
    int64_t target = searchView.replaying ? searchView.replayStep : ShowsTrace() ? size : 0;
    if (target < searchView.marksDrawn) ClearPicture();
    if (target > searchView.marksDrawn) AddMarks(target);
}

void DrawSearchViewBeneath() {
    if (!ShowsTrace()) return;
    if (picture.runsStale) {
        CollectRuns(MASK_TESTED, &picture.testedRuns);
        CollectRuns(MASK_NODE, &picture.nodeRuns);
        picture.runsStale = false;
    }
    DrawRuns(picture.testedRuns, COLOUR_TESTED);
    if (searchView.view == SEARCH_VIEW_SHORTEST && searchView.shortestState == SHORTEST_READY) {
        const std::vector<Vec2>& points = searchView.shortest.points;
        for (size_t i = 1; i < points.size(); ++i)
            if (SegmentMayShow(points[i - 1], points[i]))
                DrawSegment(points[i - 1], points[i], COLOUR_OPTIMAL);
    }
}

void DrawSearchViewOver() {
    if (!Active()) return;
    if (ShowsTrace()) {
        DrawRuns(picture.nodeRuns, COLOUR_NODE);
        if (searchView.replaying && searchView.replayStep > 0 &&
            searchView.replayStep <= searchView.marksDrawn) {
            const SearchEvent& step =
                searchView.trace[static_cast<size_t>(searchView.replayStep - 1)];
            if (SegmentMayShow(step.from, step.to)) DrawSegment(step.from, step.to, COLOUR_STEP);
            if (step.kind != SEARCH_EVENT_TESTED && NodeMayShow(step.to))
                DrawDisc(Round(step.to.x), Round(step.to.y), NODE_RADIUS + 2, COLOUR_STEP);
        }
        int32_t x = DrawSearchLegendEntry(TEXT_X, false,
                                          "gepr\xFC"
                                          "ft",
                                          COLOUR_TESTED);
        x = DrawSearchLegendEntry(x, true, "Knoten", COLOUR_NODE);
        if (searchView.view == SEARCH_VIEW_SHORTEST) {
            DrawSearchLegendEntry(x, false, "k\xFCrzester Weg", COLOUR_OPTIMAL);
            DrawLabel(TEXT_X, SHORTEST_Y, ShortestLine(scene.jobStatus), COLOUR_VIEW_TEXT);
        }
        if (searchView.replaying) DrawLabel(TEXT_X, REPLAY_Y, ReplayLine(), COLOUR_VIEW_TEXT);
        if (searchView.capReached)
            DrawLabel(CAP_X, CAP_Y,
                      TextJoin({"je Bild h\xF6"
                                "chstens ",
                                DecimalText(SEARCH_VIEW_MARKS_PER_FRAME), " Striche, ",
                                DecimalText(SEARCH_VIEW_STEPS_PER_FRAME), " Schritte"}),
                      COLOUR_VIEW_TEXT);
    }
    if (searchView.helpShown) DrawHelpPanel();
}

int32_t DrawSearchLegendEntry(int32_t x, bool dot, const char* name, int32_t colour) {
    int32_t middle = LEGEND_Y + 7;
    if (dot)
        DrawDisc(x + 4, middle, NODE_RADIUS, colour);
    else
        DrawLineBetween(x, middle, x + 9, middle, colour);
    return DrawLabel(x + 13, LEGEND_Y, name, colour) + 10;
}
