// The hand for the SDL mouse tests: a private Xvfb and XTest input on it, kept apart from the
// platform's headers because Xlib's names (Window) clash with ours.
#pragma once

#include <string>
#include <utility>

// Starts Xvfb on a free display (it dies with this process); its name, or "" on failure.
std::string StartXvfb();
// Connects to the display and loads XTest; false with the reason in *failure.
bool OpenHand(const std::string& display, std::string* failure);
// Relative motion of the core pointer, as a mouse reports it.
void HandMove(int dx, int dy, int times = 1);
// Puts the pointer at a place of the screen.
void HandMoveTo(int screenX, int screenY);
// Button 1 left, 2 middle, 3 right.
void HandButton(unsigned button, bool down);
// Key down or up, by the key's X name ("F5").
void HandKey(const char* name, bool down);
// Returns once the server has taken in everything injected so far.
void HandSync();
// Lets the server deliver what was injected, and the program's connection receive it.
void HandSettle();
// The top-level window with the title, or 0.
unsigned long HandFindWindow(const char* title);
// Gives the keyboard focus to the window; 0 gives it to whatever window is under the pointer.
void HandFocus(unsigned long window);
// The platform cursor relative to the window's top-left corner.
std::pair<int, int> HandCursorIn(unsigned long window);
