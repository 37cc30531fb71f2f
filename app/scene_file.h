// The scene file (F5 saves, F6 loads) and the screenshot (F12).
//
// Scene file "PathFindLog.txt": raw little-endian 32-bit floats, start x y, goal x y, then one
// 32-byte Wall record per wall in list order; 16 + 32 × walls bytes, nothing else. A short file
// is read as far as it goes: whatever it lacks keeps its old bytes, and a trailing partial wall
// has its missing fields zero.
#pragma once

#include <cstdint>
#include <string>

#include "geometry/geometry.h"

constexpr const char* SCENE_FILE_NAME = "PathFindLog.txt";
constexpr const char* SCREENSHOT_FILE_NAME = "Screen.bmp";
// A scene file is anyone's bytes: a longer file than a million walls is refused unread.
constexpr int64_t SCENE_FILE_MAX_BYTES = 16 + 32 * int64_t{1000000};

// Opens the scene file at path for LoadScene. False (with the reason on stderr) when it cannot
// be opened, is not a regular file or is over SCENE_FILE_MAX_BYTES; nothing changes then.
bool OpenSceneFile(const std::string& path);
// Reads the file opened by OpenSceneFile into start, goal and walls (emptied first), and
// closes it. Stored corner points are kept as they are.
void LoadScene(Vec2& start, Vec2& goal);
