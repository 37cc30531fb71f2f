// The product's search against the plain second implementation on generated scenes.

#include <random>
#include <string>

#include "search_fixture.h"

namespace {

struct Scene {
    std::vector<Wall> walls;
    Vec2 start;
    Vec2 goal;
};

class Generator {
  public:
    explicit Generator(uint32_t seed) : random_(seed) {}

    int32_t Int(int32_t low, int32_t high) {
        return std::uniform_int_distribution<int32_t>(low, high)(random_);
    }
    float Float(float low, float high) {
        return std::uniform_real_distribution<float>(low, high)(random_);
    }
    bool Chance(double p) { return std::bernoulli_distribution(p)(random_); }
    Vec2 Point() {
        return Vec2{static_cast<float>(Int(20, 780)), static_cast<float>(Int(90, 580))};
    }

    Scene RandomWalls() {
        Scene scene{BorderWalls(), Point(), Point()};
        for (int32_t n = Int(1, 30); n > 0; --n)
            scene.walls.push_back(MakeWall(Int(20, 780), Int(90, 580), Int(20, 780), Int(90, 580)));
        return scene;
    }

    Scene FractionalWalls() {
        Scene scene{{}, Vec2{Float(0, 800), Float(0, 600)}, Vec2{Float(0, 800), Float(0, 600)}};
        for (int32_t n = Int(1, 25); n > 0; --n)
            scene.walls.push_back(
                FloatWall(Vec2{Float(0, 800), Float(0, 600)}, Vec2{Float(0, 800), Float(0, 600)}));
        return scene;
    }

    // Cells of 40 pixels; every inner edge is a wall with even odds; corners are shared.
    Scene GridMaze() {
        const int32_t cells = Int(3, 9), size = 40, x0 = 100, y0 = 100;
        Scene scene{{}, {}, {}};
        for (int32_t i = 0; i <= cells; ++i)
            for (int32_t j = 0; j < cells; ++j) {
                bool border = i == 0 || i == cells;
                if (border || Chance(0.5))
                    scene.walls.push_back(
                        MakeWall(x0 + i * size, y0 + j * size, x0 + i * size, y0 + (j + 1) * size));
                if (border || Chance(0.5))
                    scene.walls.push_back(
                        MakeWall(x0 + j * size, y0 + i * size, x0 + (j + 1) * size, y0 + i * size));
            }
        auto cell = [&]() {
            return Vec2{static_cast<float>(x0 + Int(0, cells - 1) * size + size / 2),
                        static_cast<float>(y0 + Int(0, cells - 1) * size + size / 2)};
        };
        scene.start = cell();
        scene.goal = cell();
        return scene;
    }

    // Pieces of one line, end to end, overlapping or apart, with start and goal on or near it.
    Scene CollinearChain() {
        static const int32_t directions[][2] = {{1, 0}, {0, 1}, {3, 4}, {-4, 3}, {1, 1}};
        const int32_t* d = directions[Int(0, 4)];
        int32_t x = Int(100, 200), y = Int(150, 250);
        Scene scene{BorderWalls(), {}, {}};
        int32_t at = 0;
        for (int32_t n = Int(2, 8); n > 0; --n) {
            int32_t from = at + Int(-3, 4), to = from + Int(0, 6);
            scene.walls.push_back(MakeWall(x + from * d[0] * 10, y + from * d[1] * 10,
                                           x + to * d[0] * 10, y + to * d[1] * 10));
            if (Chance(0.3))
                std::swap(scene.walls.back(),
                          scene.walls[Int(0, static_cast<int32_t>(scene.walls.size()) - 1)]);
            at = to;
        }
        auto onLine = [&](int32_t step) {
            return Vec2{static_cast<float>(x + step * d[0] * 10 + Int(-1, 1) * Int(0, 1)),
                        static_cast<float>(y + step * d[1] * 10)};
        };
        scene.start = onLine(Int(-6, at + 6));
        scene.goal = Chance(0.5) ? onLine(Int(-6, at + 6)) : Point();
        return scene;
    }

    // Single points as walls, on the start–goal line or near it, between a few real walls.
    Scene ZeroLengthWalls() {
        Scene scene{BorderWalls(), Point(), Point()};
        for (int32_t n = Int(1, 12); n > 0; --n) {
            float t = Float(0, 1);
            int32_t x = static_cast<int32_t>(scene.start.x + t * (scene.goal.x - scene.start.x)) +
                        Int(-1, 1);
            int32_t y = static_cast<int32_t>(scene.start.y + t * (scene.goal.y - scene.start.y)) +
                        Int(-1, 1);
            if (Chance(0.2))
                x = static_cast<int32_t>(scene.start.x), y = static_cast<int32_t>(scene.start.y);
            scene.walls.push_back(MakeWall(x, y, x, y));
            if (Chance(0.4))
                scene.walls.push_back(
                    MakeWall(Int(20, 780), Int(90, 580), Int(20, 780), Int(90, 580)));
        }
        return scene;
    }

    // Fans and polylines whose walls meet at common end points.
    Scene SharedEnds() {
        Scene scene{BorderWalls(), Point(), Point()};
        for (int32_t fans = Int(1, 4); fans > 0; --fans) {
            int32_t cx = Int(100, 700), cy = Int(150, 520);
            bool polyline = Chance(0.5);
            int32_t px = cx, py = cy;
            for (int32_t n = Int(2, 6); n > 0; --n) {
                int32_t ex = cx + Int(-120, 120), ey = cy + Int(-120, 120);
                if (polyline) {
                    scene.walls.push_back(Chance(0.5) ? MakeWall(px, py, ex, ey)
                                                      : MakeWall(ex, ey, px, py));
                    px = ex, py = ey;
                } else {
                    scene.walls.push_back(MakeWall(cx, cy, ex, ey));
                }
            }
        }
        if (Chance(0.3)) scene.start = scene.walls.back().origin;  // start on a wall end
        return scene;
    }

  private:
    std::mt19937 random_;
};

using Make = Scene (Generator::*)();

void CompareOn(const char* kind, Make make, uint32_t firstSeed, int32_t scenes) {
    int32_t detours = 0;  // scenes whose answer is more than the straight line
    for (int32_t i = 0; i < scenes; ++i) {
        uint32_t seed = firstSeed + static_cast<uint32_t>(i);
        Generator generator(seed);
        Scene scene = (generator.*make)();
        SetWalls(scene.walls);
        PlainResult plain = PlainSearch(scene.walls, scene.start, scene.goal);
        JobResult job = RunJob(scene.start, scene.goal);
        EXPECT_TRUE(SameAsPlain(plain, job)) << kind << " scene, seed " << seed;
        if (job.status != 1 || job.path.size() > 2) ++detours;
    }
    EXPECT_GE(detours, scenes / 4) << kind << " scenes too easy to tell the searches apart";
}

}  // namespace

TEST_F(Differential, AgreesWithThePlainSearchOnRandomWalls) {
    CompareOn("random", &Generator::RandomWalls, 1000, 60);
    CompareOn("fractional", &Generator::FractionalWalls, 2000, 50);
}

TEST_F(Differential, AgreesWithThePlainSearchOnGridMazes) {
    CompareOn("grid maze", &Generator::GridMaze, 3000, 60);
}

TEST_F(Differential, AgreesWithThePlainSearchOnCollinearChains) {
    CompareOn("collinear chain", &Generator::CollinearChain, 4000, 60);
}

TEST_F(Differential, AgreesWithThePlainSearchOnZeroLengthWalls) {
    CompareOn("zero-length", &Generator::ZeroLengthWalls, 5000, 50);
}

TEST_F(Differential, AgreesWithThePlainSearchOnWallsSharingEnds) {
    CompareOn("shared ends", &Generator::SharedEnds, 6000, 50);
}
