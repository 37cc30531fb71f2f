// pfadlotse-render: the frame the window shows for a scene once its path is computed, drawn by
// the program's own frame code on the null platform and written as a BMP like F12 writes it.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/app.h"
#include "app/scene_file.h"
#include "platform/display.h"
#include "platform/system.h"

namespace {
const char* USAGE =
    "usage: pfadlotse-render --bmp OUT.bmp [FILE]\n"
    "\n"
    "Draws the frame pfadlotse shows for the scene file FILE (as saved with F5) once its path\n"
    "has been computed, with the mouse where a freshly started program has it, and writes it\n"
    "to OUT.bmp as F12 does (800 x 600, 24 bits). Without FILE it draws the start-up scene.\n"
    "The file is loaded into the start-up scene as F6 loads it. No window is opened.\n"
    "\n"
    "Exit status: 0 written, 1 the scene could not be read or the image not written,\n"
    "2 bad arguments.\n";
}  // namespace

int main(int argc, char** argv) {
    std::string output;
    std::string sceneFile;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--bmp") == 0 && i + 1 < argc) {
            output = argv[++i];
        } else if (argv[i][0] != '-' && sceneFile.empty()) {
            sceneFile = argv[i];
        } else {
            std::fputs(USAGE, stderr);
            return 2;
        }
    }
    if (output.empty()) {
        std::fputs(USAGE, stderr);
        return 2;
    }

    if (!StartPlatform(false)) {
        std::fprintf(stderr, "pfadlotse-render: %s\n", PlatformOpenError());
        return 1;
    }
    StartScene();
    if (!sceneFile.empty()) {
        if (!OpenSceneFile(sceneFile)) {
            std::fprintf(stderr, "pfadlotse-render: cannot read the scene %s\n", sceneFile.c_str());
            return 1;
        }
        FreePathJob(scene.job);
        scene.job = nullptr;
        LoadScene(scene.start, scene.goal);
        scene.job = CreatePathJob(scene.start, scene.goal);
    }
    // The search always ends; a job that could not be created never does.
    while (scene.job && PathJobStatus(scene.job) == 0) SleepMilliseconds(1);
    DrawFrame();
    if (!SaveScreenshot(output)) return 1;
    FreePathJob(scene.job);
    return 0;
}
