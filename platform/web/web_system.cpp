// The browser's services below the shared threads, memory and quit handling: Emscripten's
// allocator and no signals. Threads (pthreads over Web Workers from the pool the page starts
// with) and standard error are the POSIX ones (posix/posix_threads.cpp).
#include "platform/system.h"
#include "platform/system_port.h"

// A trap in WebAssembly is an exception, not a signal: no stacks to set up for a handler.
void PortThreadBegins() {}
void PortThreadEnds() {}
void ThreadInstallSignalStack() {}
void PrepareProcess() {}

int PortTuneAllocator() { return 0; }

// A page has no quit requests: Escape ends the program, closing the tab ends it all.
bool PortWatchQuitRequests(void (*)(int)) { return true; }
