// The deterministic scene families.
#include "tools/scene_families.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

namespace {

// Raw mt19937 output, so the scenes do not depend on how a library maps it to a range.
class Random {
  public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    // A whole number in [low, high].
    int32_t Between(int32_t low, int32_t high) {
        uint64_t span = static_cast<uint64_t>(int64_t{high} - low) + 1;
        return static_cast<int32_t>(low + static_cast<int64_t>(engine_() % span));
    }
    // True with probability numerator / 1000.
    bool Chance(uint32_t perMille) { return engine_() % 1000 < perMille; }

  private:
    std::mt19937 engine_;
};

FamilyScene Begin(const char* family, int32_t size, uint32_t seed) {
    FamilyScene scene{family, size, seed, {}, Vec2{50, 340}, Vec2{750, 340}};
    return scene;
}

void Add(FamilyScene& scene, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    scene.walls.push_back(WallBetween(x1, y1, x2, y2));
}

void AddBorderBox(FamilyScene& scene) {
    Add(scene, 10, 80, 790, 80);
    Add(scene, 10, 80, 10, 590);
    Add(scene, 790, 80, 790, 590);
    Add(scene, 10, 590, 790, 590);
}

}  // namespace

FamilyScene RandomDenseScene(int32_t count, uint32_t seed) {
    FamilyScene scene = Begin("random-dense", count, seed);
    Random random(seed);
    int32_t side = static_cast<int32_t>(40.0 * std::sqrt(static_cast<double>(count))) + 100;
    scene.walls.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        int32_t x = random.Between(20, side - 20), y = random.Between(20, side - 20);
        // A length of 5 to 40, whole-number steps: integer arithmetic only, the same everywhere.
        int32_t dx, dy;
        do {
            dx = random.Between(-40, 40);
            dy = random.Between(-40, 40);
        } while (dx * dx + dy * dy < 25 || dx * dx + dy * dy > 1600);
        Add(scene, x, y, x + dx, y + dy);
    }
    scene.start = Vec2{0, static_cast<float>(side / 2)};
    scene.goal = Vec2{static_cast<float>(side), static_cast<float>(side / 2)};
    return scene;
}

FamilyScene RandomBoxScene(int32_t count, uint32_t seed) {
    FamilyScene scene = Begin("random-box", count, seed);
    Random random(seed);
    AddBorderBox(scene);
    for (int32_t i = 0; i < count; ++i)
        Add(scene, random.Between(20, 780), random.Between(90, 580), random.Between(20, 780),
            random.Between(90, 580));
    return scene;
}

FamilyScene GridMazeScene(int32_t cells, uint32_t seed) {
    FamilyScene scene = Begin("grid-maze", cells, seed);
    Random random(seed);
    const int32_t size = 16, x0 = 40, y0 = 40;
    // Edge e < cells·(cells-1) is the vertical edge right of cell (e % (cells-1), e / (cells-1));
    // the rest are the horizontal edges below a cell, numbered the same way with x and y swapped.
    int32_t inner = cells > 1 ? cells * (cells - 1) : 0;
    std::vector<int32_t> order(static_cast<size_t>(2 * inner));
    for (size_t e = 0; e < order.size(); ++e) order[e] = static_cast<int32_t>(e);
    for (size_t e = order.size(); e > 1; --e)
        std::swap(order[e - 1],
                  order[static_cast<size_t>(random.Between(0, static_cast<int32_t>(e) - 1))]);
    // A spanning tree of the cells (every cell reachable), then a few more edges opened.
    std::vector<int32_t> parent(static_cast<size_t>(cells) * cells);
    for (size_t c = 0; c < parent.size(); ++c) parent[c] = static_cast<int32_t>(c);
    auto root = [&](int32_t c) {
        while (parent[c] != c) c = parent[c] = parent[parent[c]];
        return c;
    };
    auto cellsOf = [&](int32_t e, int32_t* a, int32_t* b) {
        bool vertical = e < inner;
        int32_t k = vertical ? e : e - inner;
        int32_t along = k % (cells - 1), across = k / (cells - 1);
        *a = vertical ? across * cells + along : along * cells + across;
        *b = vertical ? *a + 1 : *a + cells;
    };
    std::vector<bool> open(order.size(), false);
    for (int32_t e : order) {
        int32_t a, b;
        cellsOf(e, &a, &b);
        if (root(a) != root(b)) {
            parent[root(a)] = root(b);
            open[e] = true;
        } else if (random.Chance(130)) {
            open[e] = true;
        }
    }
    for (int32_t i = 0; i < cells; ++i) {
        Add(scene, x0 + i * size, y0, x0 + (i + 1) * size, y0);
        Add(scene, x0 + i * size, y0 + cells * size, x0 + (i + 1) * size, y0 + cells * size);
        Add(scene, x0, y0 + i * size, x0, y0 + (i + 1) * size);
        Add(scene, x0 + cells * size, y0 + i * size, x0 + cells * size, y0 + (i + 1) * size);
    }
    for (int32_t e = 0; e < 2 * inner; ++e) {
        if (open[e]) continue;
        bool vertical = e < inner;
        int32_t k = vertical ? e : e - inner;
        int32_t along = k % (cells - 1) + 1, across = k / (cells - 1);
        if (vertical)
            Add(scene, x0 + along * size, y0 + across * size, x0 + along * size,
                y0 + (across + 1) * size);
        else
            Add(scene, x0 + across * size, y0 + along * size, x0 + (across + 1) * size,
                y0 + along * size);
    }
    scene.start = Vec2{static_cast<float>(x0 + size / 2), static_cast<float>(y0 + size / 2)};
    scene.goal = Vec2{static_cast<float>(x0 + cells * size - size / 2),
                      static_cast<float>(y0 + cells * size - size / 2)};
    return scene;
}

namespace {

// teeth of the given length between two walls that far apart (less the opening).
FamilyScene MakeComb(const char* family, int32_t teeth, uint32_t seed, int32_t length) {
    FamilyScene scene = Begin(family, teeth, seed);
    Random random(seed);
    const int32_t gap = 12, top = 100, opening = 30, bottom = top + length + opening;
    int32_t right = 40 + (teeth + 1) * gap;
    Add(scene, 20, top, right, top);
    Add(scene, 20, bottom, right, bottom);
    for (int32_t k = 1; k <= teeth; ++k) {
        int32_t x = 40 + k * gap + random.Between(-3, 3);
        if (k % 2 == 1)
            Add(scene, x, top, x, bottom - opening);
        else
            Add(scene, x, bottom, x, top + opening);
    }
    scene.start = Vec2{30, static_cast<float>((top + bottom) / 2)};
    scene.goal = Vec2{static_cast<float>(right + 20), static_cast<float>((top + bottom) / 2)};
    return scene;
}

// Stair k from (10k, 3k) up to y = top.
FamilyScene MakeStaircase(const char* family, int32_t stairs, uint32_t seed, int32_t top) {
    FamilyScene scene = Begin(family, stairs, seed);
    for (int32_t k = 1; k <= stairs; ++k) Add(scene, 10 * k, 3 * k, 10 * k, top);
    scene.start = Vec2{0, 1};
    scene.goal = Vec2{10.0f * static_cast<float>(stairs) + 10, static_cast<float>(top / 2)};
    return scene;
}

}  // namespace

FamilyScene CombScene(int32_t teeth, uint32_t seed) { return MakeComb("comb", teeth, seed, 450); }

FamilyScene TallCombScene(int32_t teeth, uint32_t seed) {
    return MakeComb("tall-comb", teeth, seed, 40000);
}

FamilyScene CollinearChainScene(int32_t count, uint32_t seed) {
    static const int32_t directions[][2] = {{1, 0}, {0, 1}, {3, 4}, {-4, 3}, {1, 1}, {5, -12}};
    FamilyScene scene = Begin("collinear-chain", count, seed);
    Random random(seed);
    const int32_t* d = directions[random.Between(0, 5)];
    const int32_t x = 100, y = 300;
    // Positions along the line in steps of one direction vector.
    int32_t at = 0;
    for (int32_t i = 0; i < count; ++i) {
        int32_t from = at + random.Between(-1, 2), to = from + random.Between(0, 4);
        if (random.Chance(500)) std::swap(from, to);
        Add(scene, x + from * d[0], y + from * d[1], x + to * d[0], y + to * d[1]);
        at = std::max(from, to);
    }
    // Across the line at its middle, so the way must get past the pieces.
    int32_t middle = at / 2;
    scene.start = Vec2{static_cast<float>(x + middle * d[0] - 40 * d[1]),
                       static_cast<float>(y + middle * d[1] + 40 * d[0])};
    scene.goal = Vec2{static_cast<float>(x + middle * d[0] + 40 * d[1]),
                      static_cast<float>(y + middle * d[1] - 40 * d[0])};
    return scene;
}

FamilyScene StaircaseScene(int32_t stairs, uint32_t seed) {
    return MakeStaircase("staircase", stairs, seed, -100000);
}

FamilyScene LowStaircaseScene(int32_t stairs, uint32_t seed) {
    return MakeStaircase("low-staircase", stairs, seed, -60000);
}

FamilyScene StartUpScene(int32_t unused, uint32_t seed) {
    FamilyScene scene = Begin("start-up", unused, seed);
    AddBorderBox(scene);
    return scene;
}

const std::vector<std::string>& SceneFamilyNames() {
    static const std::vector<std::string> names{"random-dense", "random-box",      "grid-maze",
                                                "comb",         "collinear-chain", "staircase",
                                                "start-up"};
    return names;
}

bool MakeFamilyScene(const std::string& family, int32_t size, uint32_t seed, FamilyScene* scene) {
    using Maker = FamilyScene (*)(int32_t, uint32_t);
    static const std::pair<const char*, Maker> makers[] = {{"random-dense", RandomDenseScene},
                                                           {"random-box", RandomBoxScene},
                                                           {"grid-maze", GridMazeScene},
                                                           {"comb", CombScene},
                                                           {"collinear-chain", CollinearChainScene},
                                                           {"staircase", StaircaseScene},
                                                           {"start-up", StartUpScene},
                                                           {"tall-comb", TallCombScene},
                                                           {"low-staircase", LowStaircaseScene}};
    for (const auto& [name, make] : makers)
        if (family == name) {
            *scene = make(size, seed);
            return true;
        }
    return false;
}
