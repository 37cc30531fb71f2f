// pfadlotse-reference-plain: the plain reference search (analysis/plain_search.h: recursion,
// linear wall scans, list lookups) as a program of its own, so that whole solver processes can
// be timed against it on the same files. Prints one line:
// {"status":S,"collisionChecks":C,"nodeCount":N,"path":[[x,y],...]}, the floats with nine
// significant digits (each reads back to the same float).
#include <pthread.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "analysis/plain_search.h"

namespace {

struct Scene {
    Vec2 start{50, 340};
    Vec2 goal{750, 340};
    std::vector<Wall> walls;
    PlainResult result;
};

void* Run(void* argument) {
    auto* scene = static_cast<Scene*>(argument);
    scene->result = PlainSearch(scene->walls, scene->start, scene->goal);
    return nullptr;
}

void PrintFloat(float value) {
    if (std::isnan(value))
        std::fputs("\"NaN\"", stdout);
    else if (std::isinf(value))
        std::fputs(value > 0 ? "\"Infinity\"" : "\"-Infinity\"", stdout);
    else
        std::printf("%.9g", static_cast<double>(value));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '-') {
        bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
        std::fputs(
            "usage: pfadlotse-reference-plain FILE\n"
            "\n"
            "Solves the scene file as pfadlotse-solve does, with the plain reference search\n"
            "(recursion, every wall scanned per segment, tested segments and nodes in lists),\n"
            "and prints {\"status\":S,\"collisionChecks\":C,\"nodeCount\":N,\"path\":[...]}.\n"
            "For timing pfadlotse-solve against it. Exit status: 0 solved, 1 the file could\n"
            "not be read, 2 bad arguments.\n",
            help ? stdout : stderr);
        return help ? 0 : 2;
    }
    std::FILE* file = std::fopen(argv[1], "rb");
    if (!file) {
        std::fprintf(stderr, "pfadlotse-reference-plain: cannot open %s\n", argv[1]);
        return 1;
    }
    // Read the way the program loads a scene: what the file lacks of start and goal keeps the
    // start-up values, a trailing partial wall has its missing fields zero.
    constexpr size_t LIMIT = 16 + 32 * size_t{1000000};
    // Not cleared: only what is read is touched.
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[LIMIT + 1]);
    size_t size = std::fread(bytes.get(), 1, LIMIT + 1, file);
    bool failed = std::ferror(file) || size > LIMIT;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr,
                     "pfadlotse-reference-plain: cannot read %s (or it is over a million walls)\n",
                     argv[1]);
        return 1;
    }
    Scene scene;
    std::memcpy(&scene.start, bytes.get(), size < 8 ? size : 8);
    if (size > 8) std::memcpy(&scene.goal, bytes.get() + 8, size - 8 < 8 ? size - 8 : 8);
    if (size > 16) {
        scene.walls.resize((size - 16 + 31) / 32);
        std::memcpy(scene.walls.data(), bytes.get() + 16, size - 16);
    }

    // The recursion is as deep as the scene nests.
    pthread_attr_t attributes;
    pthread_t thread;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, size_t{1} << 30);
    if (pthread_create(&thread, &attributes, Run, &scene) != 0) {
        std::fputs("pfadlotse-reference-plain: cannot start the search thread\n", stderr);
        return 1;
    }
    pthread_join(thread, nullptr);

    const PlainResult& result = scene.result;
    std::printf("{\"status\":%d,\"collisionChecks\":%d,\"nodeCount\":%d,\"path\":[", result.status,
                result.collisionChecks, result.nodeCount);
    for (size_t i = 0; i < result.path.size(); ++i) {
        std::fputs(i ? ",[" : "[", stdout);
        PrintFloat(result.path[i].x);
        std::fputc(',', stdout);
        PrintFloat(result.path[i].y);
        std::fputc(']', stdout);
    }
    std::fputs("]}\n", stdout);
    return 0;
}
