// pfadlotse: the interactive program. It takes no options; --help says what it does.
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "platform/system.h"

int main(int argc, char** argv) {
    // From here on SIGINT and SIGTERM end the program through EndProgram, with status 0.
    WatchQuitRequests();
    if (argc > 1) {
        bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
        std::fputs(
            "usage: pfadlotse\n"
            "Opens the window \"Fenster\" and shows a path from Start to Ziel around the walls.\n"
            "  left mouse drag    add a wall\n"
            "  right mouse drag   move Start or Ziel\n"
            "  F5 / F6            save / load the scene (PathFindLog.txt)\n"
            "  F12                save the window as Screen.bmp\n"
            "  Escape             quit\n"
            "Files go to the current directory, or to $XDG_DATA_HOME/pfadlotse\n"
            "(~/.local/share/pfadlotse) when the current directory cannot be written.\n",
            help ? stdout : stderr);
        return help ? 0 : 2;
    }
    RunFrameLoop();
}
