// The interactive program: start-up, the scene state and the frame loop that draws the scene,
// reads the keys and the mouse and applies the user's edits.
//
// Everything here runs on the main thread. The frame loop owns `scene` and `walls`; it changes
// `walls` only between freeing the current path job and creating the next one.
#pragma once

#include <cstdint>
#include <string>

#include "app/mouse.h"
#include "geometry/geometry.h"
#include "pathsearch/pathsearch.h"

class SceneLoader;  // scene_file.h

// A right press picks the start or the goal when strictly nearer than this (in pixels).
constexpr double PICK_RADIUS = 10.0;
constexpr int32_t MARKER_RADIUS = 4;
constexpr int32_t LABEL_OFFSET = 5;  // labels sit this far below a marker's centre
constexpr int32_t FRAME_PAUSE_MS = 10;

// Colours, 0x00BBGGRR.
constexpr int32_t COLOUR_BACKGROUND = 0x000000;
constexpr int32_t COLOUR_START = 0x00A0A0;
constexpr int32_t COLOUR_GOAL = 0x00A000;
constexpr int32_t COLOUR_WALL = 0xFF8080;
constexpr int32_t COLOUR_PATH = 0x00FFFF;
constexpr int32_t COLOUR_FOUND = 0x40D040;
constexpr int32_t COLOUR_COMPUTING = 0x40D0D0;
constexpr int32_t COLOUR_UNREACHABLE = 0x4040D0;
constexpr int32_t COLOUR_STATISTICS = 0x808080;
constexpr int32_t COLOUR_HELP = 0x4080D0;
constexpr int32_t COLOUR_RUBBER_BAND = 0xFFFF00;
constexpr int32_t COLOUR_CURSOR = 0xFFFFFF;

// The scene and the interaction state; zero until start-up sets it.
struct SceneState {
    PathJob* job;           // the current path job, or nullptr
    int32_t jobStatus;      // as read this frame: 1 found, 0 computing or no job, -1 unreachable,
                            // -2 out of memory
    const Vec2* pathPoint;  // the path point being drawn, inside job
    int32_t dragging;       // 1 while a wall is dragged with the left button
    Vec2* selected;         // &start or &goal while the right button moves it, else nullptr
    Vec2 mousePos;          // whole pixels, read once per frame
    Vec2 dragStart;         // mousePos in the frame the left-button drag began
    Vec2 prevPathPoint;     // end of the last path line drawn this frame
    Vec2 start;
    Vec2 goal;
    MouseSlot* mouseState;  // the table UpdateMouseState fills
    bool jobWanted;         // the scene is to be searched: a job that could not be made is
                            // tried again each pass (ApplyQueuedEdits)
};
extern SceneState scene;

// Draws the wall as a line from its origin by its delta (end pixel excluded), each coordinate
// rounded on its own; in colour, or the current drawing colour when colour is negative.
// Nothing for nullptr. Returns 0.
int32_t DrawWall(const Wall* wall, int32_t colour);

// What an edit does to the scene. Every edit of the walls, the start or the goal goes through
// EditScene, which frees the current job first (its worker stops and no longer reads the
// scene), makes the change, and creates the next job for the changed scene.
enum SceneEditKind : int32_t {
    EDIT_RECOMPUTE,   // nothing more changes: start or goal were moved while the job ran on copies
    EDIT_ADD_WALL,    // AddWall from (x1, y1) to (x2, y2)
    EDIT_LOAD_SCENE,  // LoadScene of the file OpenSceneFile opened
    EDIT_SET_WALLS,   // walls := the wallCount records at wallRecords, in that order
};
struct SceneEdit {
    int32_t kind = EDIT_RECOMPUTE;
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // EDIT_ADD_WALL
    const Wall* wallRecords = nullptr;       // EDIT_SET_WALLS
    int32_t wallCount = 0;
    int32_t withoutJob = 0;  // 1: no next job is created (tools that only draw or time frames)
    // EDIT_LOAD_SCENE: a loader that has read the whole file, finished instead of LoadScene.
    SceneLoader* loader = nullptr;
};
// Frees the job, applies the edit, creates the next job (unless withoutJob). The only way the
// walls, start or goal change while a job may exist.
void EditScene(const SceneEdit& edit);

// ---- Edits from the frame loop ----------------------------------------------------------------
// The keys and the mouse queue their edits; each is applied, in order, as soon as it can be:
// a scene file once it has been read, a few frames at most for one at the cap, and only when
// the current job's worker may be waited for. The desktop waits for a stopping worker (it
// stops within one step of the search); a browser's main thread may never wait, so there an
// edit asks the worker to stop and is applied in the first frame after it has.

// Whether edits wait for a stopping worker (the default) or stay queued until it has ended.
void SetEditsWaitForWorker(bool wait);
// Queues the edit for the end of the pass. An EDIT_LOAD_SCENE takes the file OpenSceneFile
// opened and reads it over that pass and the following ones.
void QueueEdit(const SceneEdit& edit);
// Applies the queued edits that can be applied now, and reads on in a scene file; once a pass.
// A job that could not be made (no memory, no thread) is tried again here, so the frame's
// "computing" is never a job that does not exist.
void ApplyQueuedEdits();
// True while edits wait; the frame loop's callers use it to know the scene is settled.
bool EditsQueued();
// Forgets the queued edits (the program is ending).
void DropQueuedEdits();

// Start-up up to the open drawing surface: zeroes the scene, makes the mouse table, installs
// the fault report (when asked: tests and tools keep the default fault handling), makes the
// search lock and the three global lists, opens display, mouse, keyboard, the window "Fenster"
// and its surface. False when any of them could not be made; failure (when given) then says
// what, and PlatformOpenError what the platform misses.
bool StartPlatform(bool installFaultReport, std::string* failure = nullptr);
// The default scene: start, goal, the border box and the first path job.
void StartScene();

// Draws one complete frame from the scene and the job's state, and presents it.
void DrawFrame();
// True when the frame draws the current walls. A change of a large wall list is drawn over
// several frames (a few milliseconds each), showing the walls before it until it is done.
bool WallLayerCurrent();
// One pass of the loop: DrawFrame, the pause (none when pauseMs is 0: the browser waits for
// the next animation frame instead), one window event, the keys, the mouse and its edits. False
// when Escape was seen down; nothing after the keyboard sample ran then.
bool RunFramePass(int32_t pauseMs = FRAME_PAUSE_MS);
// One frame of the program, as the desktop loop and the browser's animation frames call it:
// a pass, then the fault report's and the quit requests' checks. False when the program is to
// end.
bool RunFrameStep(int32_t pauseMs);
// Start-up of the interactive program: the platform (or a line on stderr and status 1) and the
// default scene.
void StartProgram();

// The program: start-up, then passes until Escape ends the program with status 0. When the
// platform cannot be opened it says what is missing on stderr and exits with status 1.
[[noreturn]] void RunFrameLoop();
