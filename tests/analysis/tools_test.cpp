// The tools' analysis options, run as programs: pfadlotse-solve --optimal and --trace,
// pfadlotse-render --search, pfadlotse-scene.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tool_run.h"
#include "tools/scene_families.h"

namespace {

namespace fs = std::filesystem;

ToolRun Execute(const std::string& command) { return RunTool(command); }

std::string Scene(const char* name) { return std::string(PFAD_TEST_DATA) + "/conformance/" + name; }

// The raw JSON text of a top-level field whose value is a number, a string or null.
std::string Field(const std::string& line, const std::string& name) {
    std::string key = "\"" + name + "\":";
    size_t at = line.find(key);
    if (at == std::string::npos) return "";
    at += key.size();
    return line.substr(at, line.find_first_of(",}", at) - at);
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

TEST(SolveOptimal, OneWallHasNoGapAndTheOptimalPathIsTheDirectOne) {
    ToolRun run = Execute(std::string(PFAD_SOLVE) + " --optimal " + Scene("single_wall.scene"));
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(Field(run.out, "optimalStatus"), "1");
    EXPECT_EQ(Field(run.out, "gap"), "0");
    EXPECT_EQ(Field(run.out, "length"), Field(run.out, "optimalLength"));
    EXPECT_NE(run.out.find("\"optimalPath\":[[50,340],[400,199],[750,340]]"), std::string::npos)
        << run.out;
}

TEST(SolveOptimal, EveryConformanceSceneHasAnOptimumNoLongerThanItsPath) {
    std::string files;
    for (const auto& entry : fs::directory_iterator(std::string(PFAD_TEST_DATA) + "/conformance"))
        if (entry.path().extension() == ".scene") files += " " + entry.path().string();
    ToolRun run = Execute(std::string(PFAD_SOLVE) + " --optimal" + files);
    ASSERT_EQ(run.exitCode, 0);
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_GT(lines.size(), 10u);
    for (const std::string& line : lines) {
        SCOPED_TRACE(line.substr(0, 120));
        std::string status = Field(line, "status"), optimal = Field(line, "optimalStatus");
        ASSERT_TRUE(optimal == "1" || optimal == "-1") << optimal;
        if (status == "1" && Field(line, "length") != "\"NaN\"") {
            ASSERT_EQ(optimal, "1");
            double length = std::strtod(Field(line, "length").c_str(), nullptr);
            double best = std::strtod(Field(line, "optimalLength").c_str(), nullptr);
            EXPECT_LE(best, length * (1 + 1e-12));
            EXPECT_NEAR(std::strtod(Field(line, "gap").c_str(), nullptr), length / best - 1, 1e-12);
        }
        if (optimal == "-1") {
            EXPECT_EQ(Field(line, "optimalLength"), "null");
            EXPECT_EQ(Field(line, "gap"), "null");
        }
    }
}

TEST(SolveOptimal, ASpentBudgetSaysNotFinishedAndGivesNoNumber) {
    ToolRun run =
        Execute(std::string(PFAD_SOLVE) + " --optimal --budget-nodes 1 " + Scene("spiral.scene"));
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(Field(run.out, "optimalStatus"), "0");
    EXPECT_EQ(Field(run.out, "optimalLength"), "null");
    EXPECT_EQ(Field(run.out, "gap"), "null");
    EXPECT_NE(run.out.find("\"optimalPath\":[]"), std::string::npos);

    for (const char* bad :
         {"--budget-nodes", "--budget-nodes -3", "--budget-ms 12x", "--budget-ms ''"}) {
        ToolRun refused =
            Execute(std::string(PFAD_SOLVE) + " --optimal " + bad + " " + Scene("spiral.scene"));
        EXPECT_EQ(refused.exitCode, 2) << bad;
        EXPECT_EQ(refused.out, "") << bad;
    }
}

TEST(SolveTrace, TheTraceHoldsOneTestPerCollisionCheckAndOneNodePerCornerNode) {
    for (const char* name :
         {"single_wall.scene", "cross_walls.scene", "spiral.scene", "box_around_start.scene"}) {
        SCOPED_TRACE(name);
        ToolRun run = Execute(std::string(PFAD_SOLVE) + " --trace " + Scene(name));
        ASSERT_EQ(run.exitCode, 0);
        EXPECT_EQ(Count(run.out, "{\"test\":"), std::stoul(Field(run.out, "collisionChecks")));
        EXPECT_EQ(Count(run.out, "{\"node\":"), std::stoul(Field(run.out, "nodeCount")) - 2);
        EXPECT_EQ(Count(run.out, "{\"goal\":"), Field(run.out, "status") == "1" ? 1u : 0u);
        EXPECT_EQ(Field(run.out, "optimalStatus"), "");  // only asked for with --optimal
    }
}

TEST(SolveTrace, WithoutTheNewOptionsTheLineIsAsBefore) {
    ToolRun plain = Execute(std::string(PFAD_SOLVE) + " " + Scene("cross_walls.scene"));
    ToolRun both =
        Execute(std::string(PFAD_SOLVE) + " --optimal --trace " + Scene("cross_walls.scene"));
    ASSERT_EQ(plain.exitCode, 0);
    EXPECT_EQ(plain.out.find("\"trace\""), std::string::npos);
    EXPECT_EQ(plain.out.find("\"length\""), std::string::npos);
    // The search's own fields do not change when it is watched.
    std::string head = plain.out.substr(0, plain.out.find("\"timeMs\""));
    EXPECT_EQ(both.out.substr(0, head.size()), head);
    std::string path = plain.out.substr(plain.out.find("\"path\""));
    path.pop_back();  // the line feed
    path.pop_back();  // the closing brace
    EXPECT_NE(both.out.find(path + ",\"length\""), std::string::npos);
}

}  // namespace

namespace {

// The pixels of a 24-bit bottom-up BMP of 800 x 600, top row first, as 0xRRGGBB.
std::vector<uint32_t> ReadBmp(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<uint32_t> pixels;
    if (bytes.size() != 54 + 800 * 600 * 3) return pixels;
    pixels.resize(800 * 600);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x) {
            const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + 54 +
                            ((599 - y) * 800 + x) * 3;
            pixels[y * 800 + x] = (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
        }
    return pixels;
}

constexpr uint32_t TESTED = 0x286E78, NODE = 0xFF9628, OPTIMAL = 0xFF50C8;  // as 0xRRGGBB

class RenderSearchTest : public testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("pfad-render-" + std::to_string(getpid()));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::vector<uint32_t> Render(const char* scene, bool search) {
        std::string out = (folder_ / (search ? "search.bmp" : "plain.bmp")).string();
        ToolRun run = Execute(std::string(PFAD_RENDER) + " --bmp " + out +
                              (search ? " --search " : " ") + Scene(scene));
        EXPECT_EQ(run.exitCode, 0);
        return ReadBmp(out);
    }

    fs::path folder_;
};

TEST_F(RenderSearchTest, TheOverlayFillsOnlyBackgroundAndKeepsTheFrame) {
    for (const char* scene : {"grid_1.scene", "cross_walls.scene"}) {
        SCOPED_TRACE(scene);
        std::vector<uint32_t> plain = Render(scene, false), search = Render(scene, true);
        ASSERT_EQ(plain.size(), 800u * 600u);
        ASSERT_EQ(search.size(), plain.size());
        size_t tested = 0, nodes = 0, optimal = 0, changedFrame = 0;
        for (int y = 0; y < 600; ++y)
            for (int x = 0; x < 800; ++x) {
                uint32_t before = plain[y * 800 + x], after = search[y * 800 + x];
                bool legend = y >= 25 && y < 41 && x >= 215 && x < 490;
                bool time =
                    y >= 55 && y < 71 && x < 200;  // the search's time may differ between runs
                tested += after == TESTED;
                nodes += after == NODE;
                optimal += after == OPTIMAL;
                if (legend || time || after == NODE || after == before) continue;
                // Anything else the overlay adds lies on background, in its own colours.
                if (before != 0 || (after != TESTED && after != OPTIMAL)) ++changedFrame;
            }
        EXPECT_EQ(changedFrame, 0u);
        EXPECT_GT(tested, 1000u);
        EXPECT_GT(nodes, 20u);
        // grid_1 has an optimum that leaves the path
        if (std::string(scene) == "grid_1.scene") {
            EXPECT_GT(optimal, 50u);
        }
    }
}

TEST_F(RenderSearchTest, AGivenTimeIsTheOnlyTimeDrawnAndBadOnesAreRefused) {
    auto render = [&](const std::string& time) {
        std::string out = (folder_ / ("time" + time + ".bmp")).string();
        int32_t exitCode = Execute(std::string(PFAD_RENDER) + " --search --time " + time +
                                   " --bmp " + out + " " + Scene("random_120.scene"))
                               .exitCode;
        return std::make_pair(exitCode, exitCode == 0 ? ReadBmp(out) : std::vector<uint32_t>{});
    };
    auto [sevenStatus, seven] = render("7");
    auto [againStatus, again] = render("7");
    auto [eightStatus, eight] = render("8");
    ASSERT_EQ(sevenStatus + againStatus + eightStatus, 0);
    EXPECT_EQ(seven, again);
    size_t outsideTime = 0, insideTime = 0;
    for (size_t i = 0; i < seven.size(); ++i)
        if (seven[i] != eight[i])
            ++(i / 800 >= 55 && i / 800 < 71 && i % 800 < 200 ? insideTime : outsideTime);
    EXPECT_EQ(outsideTime, 0u);
    EXPECT_GT(insideTime, 0u);
    for (const char* bad : {"-1", "x", "2147483648", "7ms"}) EXPECT_EQ(render(bad).first, 2) << bad;
}

}  // namespace

namespace {

std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

class SceneToolTest : public RenderSearchTest {};

TEST_F(SceneToolTest, EachFamilyIsWrittenAsTheSceneFileOfItsWallsStartAndGoal) {
    for (const std::string& family : SceneFamilyNames()) {
        SCOPED_TRACE(family);
        std::string out = (folder_ / (family + ".scene")).string();
        ToolRun run =
            Execute(std::string(PFAD_SCENE) + " " + family + " --walls 40 --seed 7 -o " + out);
        ASSERT_EQ(run.exitCode, 0);
        std::string bytes = ReadBytes(out);
        ASSERT_GE(bytes.size(), 16u);
        ASSERT_EQ((bytes.size() - 16) % 32, 0u);
        size_t count = (bytes.size() - 16) / 32;
        if (family != "start-up") {
            EXPECT_GE(count, 40u);
        }

        // The file holds exactly the family's scene of some size: find it and compare bytes.
        bool matched = false;
        for (int32_t size = 1; size <= 64 && !matched; ++size) {
            FamilyScene scene;
            ASSERT_TRUE(MakeFamilyScene(family, size, 7, &scene));
            if (scene.walls.size() != count) continue;
            std::string expected(reinterpret_cast<const char*>(&scene.start), 8);
            expected.append(reinterpret_cast<const char*>(&scene.goal), 8);
            expected.append(reinterpret_cast<const char*>(scene.walls.data()), 32 * count);
            matched = expected == bytes;
        }
        EXPECT_TRUE(matched);

        // The program loads it: the solver reads the same file without complaint.
        EXPECT_EQ(Execute(std::string(PFAD_SOLVE) + " " + out).exitCode, 0);
    }
}

TEST_F(SceneToolTest, BadArgumentsWriteNothing) {
    std::string out = (folder_ / "x.scene").string();
    for (const char* arguments :
         {"", "comb", "nope -o X", "comb --walls 2000000 -o X", "comb --seed -1 -o X"}) {
        std::string command = std::string(PFAD_SCENE) + " " + arguments;
        for (size_t at = command.find(" X"); at != std::string::npos; at = command.find(" X"))
            command.replace(at + 1, 1, out);
        EXPECT_EQ(Execute(command).exitCode, 2) << arguments;
        EXPECT_FALSE(fs::exists(out)) << arguments;
    }
    EXPECT_EQ(Execute(std::string(PFAD_SCENE) + " --help").exitCode, 0);
}

TEST(BenchGaps, TheGapTableHasOneRowPerFamilyWithNoDefect) {
    ToolRun run = Execute(std::string(PFAD_BENCH) + " --only gaps --gap-seeds 3 --quick --json");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 6u) << run.out;
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Field(line, "defects"), "0");
        int scenes = std::stoi(Field(line, "scenes"));
        int accounted = std::stoi(Field(line, "compared")) + std::stoi(Field(line, "misses")) +
                        std::stoi(Field(line, "unfinished"));
        EXPECT_GT(scenes, 0);
        EXPECT_LE(accounted, scenes);  // the rest: neither found a way
        EXPECT_GE(std::stod(Field(line, "worstGap")), std::stod(Field(line, "meanGap")));
        EXPECT_GE(std::stod(Field(line, "meanGap")), -1e-12);  // rounding of equal lengths aside
    }
    // The families the table is about, in its order.
    EXPECT_NE(lines[0].find("\"gapFamily\":\"random-box\""), std::string::npos);
    EXPECT_NE(lines[5].find("\"gapFamily\":\"staircase\""), std::string::npos);
}

TEST(BenchShortestPath, EveryRowFindsTheBaselinesPathAndBadOptionsAreRefused) {
    ToolRun run =
        Execute(std::string(PFAD_BENCH_SHORTEST) + " --walls 400,1500 --baseline-ms 60000");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    size_t rows = 0;
    for (const std::string& line : Lines(run.out))
        if (line.rfind("| random-dense |", 0) == 0 || line.rfind("| grid-maze |", 0) == 0) {
            ++rows;
            EXPECT_NE(line.find("| yes |"), std::string::npos) << line;
        }
    EXPECT_EQ(rows, 4u) << run.out;
    for (const char* arguments :
         {"--walls 0", "--walls 10,x", "--family comb", "--baseline-ms", "--seed -1", "--nope"})
        EXPECT_EQ(Execute(std::string(PFAD_BENCH_SHORTEST) + " " + arguments).exitCode, 2)
            << arguments;
    EXPECT_EQ(Execute(std::string(PFAD_BENCH_SHORTEST) + " --help").exitCode, 0);
}

}  // namespace
