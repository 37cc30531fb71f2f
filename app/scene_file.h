// The scene file (F5 saves, F6 loads) and the screenshot (F12).
//
// Both files live where ScenePlacePath puts them, decided afresh at every key press, so F6
// always reads the file F5 would write now.
//
// Scene file "PathFindLog.txt": raw little-endian 32-bit floats, start x y, goal x y, then one
// 32-byte Wall record per wall in list order; 16 + 32 × walls bytes, nothing else. A short file
// is read as far as it goes: whatever it lacks keeps its old bytes, and a trailing partial wall
// has its missing fields zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "geometry/geometry.h"
#include "platform/files.h"

constexpr const char* SCENE_FILE_NAME = "PathFindLog.txt";
constexpr const char* SCREENSHOT_FILE_NAME = "Screen.bmp";
// A scene file is anyone's bytes: a longer file than a million walls is refused unread.
constexpr int64_t SCENE_FILE_MAX_BYTES = 16 + 32 * int64_t{1000000};

// Opens the scene file at path for LoadScene. False (with the reason on stderr) when it cannot
// be opened, is not a regular file or is over SCENE_FILE_MAX_BYTES; nothing changes then.
bool OpenSceneFile(const std::string& path);
// Reads the file opened by OpenSceneFile into start, goal and walls, and closes it. The walls
// are read into a new list that replaces walls only once the whole file is in; a read error or
// memory running out leaves start, goal and walls as they were, says why on stderr and gives
// false (outOfMemory, when given, tells which). Stored corner points are kept as they are.
bool LoadScene(Vec2& start, Vec2& goal, bool* outOfMemory = nullptr);

// LoadScene in steps, so that a scene at the cap never holds up a frame: the loader takes the
// file OpenSceneFile opened, each Step reads and parses the next part into a list of its own,
// and Finish swaps it in as LoadScene does. Walls are untouched until Finish.
class SceneLoader {
  public:
    SceneLoader();
    ~SceneLoader();
    SceneLoader(const SceneLoader&) = delete;
    SceneLoader& operator=(const SceneLoader&) = delete;
    // Reads up to about maxBytes more. True once the whole file is in or the load failed.
    bool Step(size_t maxBytes);
    // Once Step said true: the scene as LoadScene leaves it, and LoadScene's answer.
    bool Finish(Vec2& start, Vec2& goal, bool* outOfMemory = nullptr);

  private:
    struct Parts;
    Parts* parts_;
};
// What one frame's Step reads: about 2 ms of reading and parsing.
constexpr size_t SCENE_LOAD_STEP_BYTES = size_t{1} << 20;
// Reads a scene file's bytes into start, goal and the list into (emptied first), as LoadScene
// reads the file. False when memory for a wall ran out; the walls read until then stay.
bool ParseScene(std::span<const uint8_t> bytes, Vec2& start, Vec2& goal, CursorList* into);

// ---- Where the files go ------------------------------------------------------------------

// The path for a file named name: the name alone when the current directory can be written,
// else the name in UserDataDirectory(). With forWriting the data folder is created (0700)
// when missing. For reading, that path when the file exists there, else the name alone when
// the current directory holds it readable. Empty when there is no place (the reason is on
// stderr).
std::string PlaceFile(const char* name, bool forWriting);

// ---- Saving ------------------------------------------------------------------------------

// The bytes of a scene file holding start, goal and every wall of the list, in list order.
std::vector<uint8_t> SceneFileBytes(const Vec2& start, const Vec2& goal,
                                    const CursorList* wallList);
// Writes SceneFileBytes as the scene file at path.
bool SaveScene(const std::string& path, const Vec2& start, const Vec2& goal);

// A 24-bit bottom-up BMP of width × height pixels given as 0x00RRGGBB, top row first.
std::vector<uint8_t> EncodeBmp(const uint32_t* pixels, int32_t width, int32_t height);
// Writes the frame last presented (the back buffer) as a BMP at path. False when the back
// buffer cannot be read or the file cannot be written.
bool SaveScreenshot(const std::string& path);
