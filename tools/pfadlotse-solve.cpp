// pfadlotse-solve: what the window would show for a scene file, without a window.
// Each file is loaded into the start-up scene as F6 loads it, one path job runs to its end,
// and one line of JSON gives its status, statistics and path.

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/scene_file.h"
#include "pathsearch/pathsearch.h"

namespace {

const char* USAGE =
    "usage: pfadlotse-solve FILE...\n"
    "\n"
    "For each scene file (as saved with F5): start from the start-up scene, load the file as\n"
    "F6 does, compute the path and print one line of JSON:\n"
    "  {\"file\":NAME,\"status\":1|-1,\"collisionChecks\":N,\"nodeCount\":N,\"timeMs\":N,\"path\":[[x,y],...]}\n"
    "status -1 means the goal is unreachable (path []). Coordinates are the shortest decimals\n"
    "that read back to the same 32-bit floats; NaN and infinities are written as the strings\n"
    "\"NaN\", \"Infinity\" and \"-Infinity\".\n"
    "\n"
    "Exit status: 0 all files solved, 1 a file could not be read (the others are still\n"
    "solved), 2 bad arguments.\n";

void AppendNumber(std::string& out, float value) {
    if (std::isnan(value)) {
        out += "\"NaN\"";
    } else if (std::isinf(value)) {
        out += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    } else {
        char digits[32];
        auto result = std::to_chars(digits, digits + sizeof digits, value);
        out.append(digits, result.ptr);
    }
}

// The length of the valid UTF-8 sequence at text, or 0 when there is none.
size_t Utf8Length(std::string_view text) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(0);
    size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead <= 0xDF ? 2 : 0;
    if (length == 0 || text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    unsigned char second = byte(1);
    if (lead == 0xE0 && second < 0xA0) return 0;  // overlong
    if (lead == 0xED && second >= 0xA0) return 0;  // surrogate
    if (lead == 0xF0 && second < 0x90) return 0;  // overlong
    if (lead == 0xF4 && second >= 0x90) return 0;  // beyond U+10FFFF
    return length;
}

// A file name is bytes; bytes that are not UTF-8 are written as the Latin-1 characters of
// the same number, so the line stays valid JSON.
void AppendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char escape[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c >= 0x80) {
            size_t length = Utf8Length(text.substr(i));
            if (length > 0) {
                out.append(text.substr(i, length));
                i += length;
                continue;
            }
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
}

void ResetToStartUpScene(Vec2& start, Vec2& goal) {
    start = Vec2{50, 340};
    goal = Vec2{750, 340};
    ListClear(walls);
    AddBox(10, 80, 780, 510);
}

// Solves one file and prints its line; false (with the reason on stderr) when it cannot.
bool Solve(const char* path) {
    Vec2 start, goal;
    ResetToStartUpScene(start, goal);
    if (!OpenSceneFile(path)) {
        struct stat status;
        const char* reason = stat(path, &status) != 0 ? std::strerror(errno) : "cannot be loaded";
        std::fprintf(stderr, "pfadlotse-solve: cannot read %s: %s\n", path, reason);
        return false;
    }
    LoadScene(start, goal);

    PathJob* job = CreatePathJob(start, goal);
    if (!job) {
        std::fprintf(stderr, "pfadlotse-solve: %s: the search could not be started\n", path);
        return false;
    }
    int32_t status;
    while ((status = PathJobStatus(job)) == 0) SleepMilliseconds(1);

    std::string line = "{\"file\":";
    AppendJsonString(line, path);
    line += ",\"status\":" + std::to_string(status);
    line += ",\"collisionChecks\":" + std::to_string(PathJobCollisionChecks(job));
    line += ",\"nodeCount\":" + std::to_string(PathJobNodeCount(job));
    line += ",\"timeMs\":" + std::to_string(PathJobTime(job));
    line += ",\"path\":[";
    if (status == 1) {
        for (bool first = true; NextPathPoint(job); first = false) {
            const Vec2* point = CurrentPathPoint(job);
            if (!first) line += ',';
            line += '[';
            AppendNumber(line, point->x);
            line += ',';
            AppendNumber(line, point->y);
            line += ']';
        }
    }
    line += "]}\n";
    FreePathJob(job);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (!optionsEnded && (argument == "--help" || argument == "-h")) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            std::fprintf(stderr, "pfadlotse-solve: unknown option %s\n\n%s", argv[i], USAGE);
            return 2;
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::fputs(USAGE, stderr);
        return 2;
    }

    ListCreate(&walls, sizeof(Wall));
    CreateSearchState();
    if (!walls || !searchNodes || !testedSegments || !SearchLock) {
        std::fputs("pfadlotse-solve: out of memory\n", stderr);
        return 1;
    }
    bool allSolved = true;
    for (const char* file : files)
        if (!Solve(file)) allSolved = false;
    return allSolved ? 0 : 1;
}
