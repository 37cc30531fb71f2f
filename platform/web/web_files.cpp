// Files in the browser: Emscripten's in-memory file system answers the POSIX calls, so the
// POSIX code serves as it is. The page keeps PathFindLog.txt across reloads and hands
// Screen.bmp to the browser as a download (web/).
#include "platform/posix/posix_files.cpp"
