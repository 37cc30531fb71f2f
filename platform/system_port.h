// What an operating-system port (posix/, win32/) supplies to the shared system services
// (system.cpp, memory.cpp, assert.cpp). Not for use above the platform layer.
#pragma once

#include <cstddef>
#include <cstdint>

// Starts a detached native thread running entry(argument), with a stack of stackBytes (0: the
// platform's default; smaller values are raised to its minimum). False when none was started.
bool PortStartThread(void (*entry)(void* argument), void* argument, size_t stackBytes);
// Per-thread set-up and tear-down around a started thread's procedure (names, fault stacks).
void PortThreadBegins();
void PortThreadEnds();

// Makes the allocator hand large blocks straight from the system, already zero-filled, so that
// freeing them is quick; called once before the first allocation. Returns anything.
int PortTuneAllocator();

// Writes the bytes to standard error at once, in as few writes as the system allows, from any
// thread and also from a fault handler.
void PortWriteError(const char* text, size_t length);

// Installs handler for the platform's quit requests (SIGINT and SIGTERM, a console's Ctrl-C
// and close); it may run on any thread and gets SIGINT or SIGTERM's number. False when it
// could not be installed.
bool PortWatchQuitRequests(void (*handler)(int signal));
