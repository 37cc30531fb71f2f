// Watching the search in the window: a help panel (F1), views of what the search tested and of
// the shortest way over the same corner points (F2), and a step-by-step replay of the last
// search (F3). With the plain view and no panel or replay the frame is the plain frame, and the
// search records nothing.
//
// Everything here runs on the main thread, except the shortest-path worker, which reads only its
// own record and the walls (which change only after it was stopped).
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/analysis.h"
#include "pathsearch/pathsearch.h"

// Views F2 cycles through, in order.
enum SearchViewKind : int32_t {
    SEARCH_VIEW_PLAIN = 0,     // the frame as it always was
    SEARCH_VIEW_SEARCH = 1,    // + tested segments and corner nodes
    SEARCH_VIEW_SHORTEST = 2,  // + the shortest path and both lengths with the detour
};

// Marks (tested segments, nodes) added to the picture per frame at most; a replay that runs
// faster, or a view of a long trace, catches up over the following frames and says so.
constexpr int32_t SEARCH_VIEW_MARKS_PER_FRAME = 10000;
// Steps looked at per frame at most, drawn or not (most of a large scene's lie off the surface).
constexpr int32_t SEARCH_VIEW_STEPS_PER_FRAME = 100000;
// The shortest path is given up after this long.
constexpr int64_t SHORTEST_BUDGET_MS = 10000;
// Replay speeds, steps per second, that + and − step through; the replay starts at 60.
constexpr int32_t REPLAY_SPEEDS[] = {1,     2,     5,      10,     20,    30,   60,
                                     120,   300,   600,    1200,   3000,  6000, 12000,
                                     30000, 60000, 120000, 300000, 600000};
constexpr int32_t REPLAY_DEFAULT_SPEED_INDEX = 6;
// Frames per second the replay's speed counts in: one step per frame at 60 steps per second.
constexpr int32_t REPLAY_FRAMES_PER_SECOND = 60;

// Colours, 0x00BBGGRR; none of them is used by the plain frame.
constexpr int32_t COLOUR_TESTED = 0x786E28;   // dim teal
constexpr int32_t COLOUR_NODE = 0x2896FF;     // orange
constexpr int32_t COLOUR_OPTIMAL = 0xC850FF;  // pink
constexpr int32_t COLOUR_STEP = 0x80FFC0;     // light green: the replay's latest step
constexpr int32_t COLOUR_VIEW_TEXT = 0xD0C0A0;
constexpr int32_t COLOUR_PANEL = 0x301808;
constexpr int32_t COLOUR_PANEL_TEXT = 0xF0E8E0;
// Corner nodes are discs of this radius; the legend's line lies at this y.
constexpr int32_t SEARCH_NODE_RADIUS = 2;
constexpr int32_t SEARCH_LEGEND_Y = 25;

// A legend entry at x on the legend's line: a sample of the mark (a dot, or a short line), then
// its name in the same colour; returns the x of the next entry. Inside a surface drawing.
int32_t DrawSearchLegendEntry(int32_t x, bool dot, const char* name, int32_t colour);

// Shortest-path states the view shows.
enum ShortestState : int32_t {
    SHORTEST_IDLE = 0,     // not asked for, or the scene changed since
    SHORTEST_RUNNING = 1,  // "kürzester Weg wird berechnet ..."
    SHORTEST_READY = 2,    // result holds the answer (found, none, or the budget ran out)
    SHORTEST_FAILED = 3,   // no thread or no memory for it
};

// What the views show and the state behind it; the default is plain, no panel, no replay.
struct SearchViewState {
    int32_t view{};                                   // SearchViewKind
    bool helpShown{};                                 // F1
    bool replaying{};                                 // F3
    bool paused{};                                    // Space, while replaying
    int64_t replayStep{};                             // steps shown, 0 … trace size
    int32_t speedIndex = REPLAY_DEFAULT_SPEED_INDEX;  // into REPLAY_SPEEDS
    int64_t speedCredit{};                            // steps per second owed, in 1/60 steps
    bool traceOfJob{};                                // the current job records into trace
    std::vector<SearchEvent> trace{};  // the current job's steps, read only once it finished
    int64_t marksDrawn{};              // trace events already in the picture
    bool capReached{};                 // this frame added the most marks it may
    int32_t shortestState{};           // ShortestState
    int32_t shortestThread{};          // the worker's thread while SHORTEST_RUNNING
    ShortestPath shortest{};           // valid when SHORTEST_READY
};
extern SearchViewState searchView;

// Back to plain, no panel, no replay; stops the shortest-path worker. At start-up.
void ResetSearchViews();
// F1, F2, F3 and, while replaying, Space, the Right arrow, + and −; after the file keys.
void HandleSearchViewKeys();
// The edit's part: ends the replay, stops the shortest-path worker and decides whether the next
// job records its steps. Call after the current job was freed and before the next is created.
void EndSearchViewsForEdit();
// Before the frame is cleared: advances the replay and the shortest path, and adds this frame's
// marks to the picture (it uses the back buffer, which the frame clears next).
void PrepareSearchView();
// Right after the frame is cleared: what lies beneath the frame (tested segments, the shortest
// path).
void DrawSearchViewBeneath();
// Before the cursor: nodes, the replay's step, the views' lines and the help panel.
void DrawSearchViewOver();
