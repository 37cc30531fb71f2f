// Times the path job's work (search, path, release) on generated scenes of growing size, so
// work on the search's speed has figures to compare against.
//   bench_search --benchmark_filter=Maze
// Counters: collision checks and search nodes of the job, walls in the scene.

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "pathsearch/pathsearch_internal.h"

namespace {

void Prepare() {
    if (walls) return;
    CreateSharedState();
}

// Random walls of up to 30 pixels, spread over a square that grows with their number so the
// density stays the same; the way runs from the middle of its left side to the right side.
int32_t RandomWalls(int32_t count) {
    ListClear(walls);
    std::mt19937 random(12345);
    auto side = static_cast<int32_t>(40 * std::sqrt(count)) + 100;
    for (int32_t i = 0; i < count; ++i) {
        int32_t x = 20 + static_cast<int32_t>(random() % (side - 40)), y = 20 + static_cast<int32_t>(random() % (side - 40));
        AddWall(x, y, x + static_cast<int32_t>(random() % 61) - 30, y + static_cast<int32_t>(random() % 61) - 30);
    }
    return side;
}

// A maze of cells × cells square cells of 16 pixels, each inner edge a wall with even odds.
void Maze(int32_t cells) {
    ListClear(walls);
    AddBox(10, 80, 780, 510);
    std::mt19937 random(777);
    const int32_t size = 16, x0 = 100, y0 = 90;
    for (int32_t i = 1; i < cells; ++i)
        for (int32_t j = 0; j < cells; ++j) {
            if (random() % 2) AddWall(x0 + i * size, y0 + j * size, x0 + i * size, y0 + (j + 1) * size);
            if (random() % 2) AddWall(x0 + j * size, y0 + i * size, x0 + (j + 1) * size, y0 + i * size);
        }
}

// Stairs that nest the search one level deeper each.
void Staircase(int32_t stairs) {
    ListClear(walls);
    for (int32_t k = 1; k <= stairs; ++k) AddWall(10 * k, 3 * k, 10 * k, -100000);
}

// The worker's whole run (search, path, release of the nodes) on this thread, so the figures
// hold no thread start or polling.
void RunJobs(benchmark::State& state, Vec2 start, Vec2 goal) {
    int32_t checks = 0, nodes = 0;
    for (auto _ : state) {
        auto* job = static_cast<PathJob*>(BlockAllocate(sizeof(PathJob)));
        job->start = start;
        job->goal = goal;
        job->startNode = CreateSearchNode(nullptr, &job->start);
        job->goalNode = CreateSearchNode(nullptr, &job->goal);
        PathJobWorker(job);
        checks = job->collisionChecks;
        nodes = job->nodeCount;
        BlockRelease(job->points);
        BlockRelease(job);
    }
    state.counters["checks"] = checks;
    state.counters["nodes"] = nodes;
    state.counters["walls"] = ListCount(walls);
}

void BM_RandomWalls(benchmark::State& state) {
    Prepare();
    auto side = static_cast<float>(RandomWalls(static_cast<int32_t>(state.range(0))));
    RunJobs(state, Vec2{0, side / 2}, Vec2{side, side / 2});
}
BENCHMARK(BM_RandomWalls)->RangeMultiplier(4)->Range(16, 4096)->Unit(benchmark::kMillisecond);

void BM_Maze(benchmark::State& state) {
    Prepare();
    auto cells = static_cast<int32_t>(state.range(0));
    Maze(cells);
    RunJobs(state, Vec2{50, 340}, Vec2{100.0f + 16 * (cells / 2) + 8, 90.0f + 16 * (cells / 2) + 8});
}
BENCHMARK(BM_Maze)->DenseRange(8, 32, 8)->Unit(benchmark::kMillisecond);

void BM_Staircase(benchmark::State& state) {
    Prepare();
    auto stairs = static_cast<int32_t>(state.range(0));
    Staircase(stairs);
    RunJobs(state, Vec2{0, 1}, Vec2{10.0f * stairs + 10, -50000});
}
BENCHMARK(BM_Staircase)->Arg(250)->Arg(500)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
