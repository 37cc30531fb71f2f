// F12: the frame last presented, written as "Screen.bmp".
#include <cstdio>

#include "app/scene_file.h"
#include "platform/display.h"

bool SaveScreenshot(const std::string& path) {
    std::vector<uint8_t> file = EncodeBmp(BackBufferPixels(), SURFACE_WIDTH, SURFACE_HEIGHT);
    if (file.empty()) {
        std::fprintf(stderr, "pfadlotse: could not save %s: no frame to copy\n", path.c_str());
        return false;
    }
    return ReplaceFileContents(path, file.data(), file.size());
}
