// pfadlotse-scene --from-map/--from-mesh and pfadlotse-solve --scenario, run as programs on
// hand-made maps in a fresh folder and on the samples.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../app/temp_folder.h"
#include "tests/tool_run.h"

namespace {

namespace fs = std::filesystem;

ToolRun Execute(const std::string& command) { return RunTool(command); }

void Write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path().empty() ? "."
                                                                : fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string Sample(const char* name) { return std::string(PFAD_TEST_DATA) + "/maps/" + name; }

std::string Field(const std::string& line, const std::string& name) {
    std::string key = "\"" + name + "\":";
    size_t at = line.find(key);
    if (at == std::string::npos) return "";
    at += key.size();
    return line.substr(at, line.find_first_of(",}", at) - at);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// 3 x 3 cells, the middle one blocked.
const char* RING_MAP = "type octile\nheight 3\nwidth 3\nmap\n...\n.@.\n...\n";

TEST(SceneFromMap, WritesTheMapsWallsWithTheFirstQueryAsStartAndGoal) {
    TempFolder folder;
    ToolRun run = Execute(std::string(PFAD_SCENE) + " --from-map " + Sample("arena.map") +
                          " --scenario " + Sample("arena.map.scen") + " -o arena.scene");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::ifstream file("arena.scene", std::ios::binary);
    std::vector<char> bytes(std::istreambuf_iterator<char>(file), {});
    ASSERT_EQ(bytes.size(), 16u + 32u * 112u);
    float points[4];
    std::memcpy(points, bytes.data(), sizeof points);
    // The first query: cell (1, 11) to cell (1, 12), at the cells' centres.
    EXPECT_EQ(points[0], 150.0f);
    EXPECT_EQ(points[1], 1150.0f);
    EXPECT_EQ(points[2], 150.0f);
    EXPECT_EQ(points[3], 1250.0f);

    run = Execute(std::string(PFAD_SCENE) + " --from-mesh " + Sample("arena.mesh") +
                  " --scale 10 -o mesh.scene");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_GT(fs::file_size("mesh.scene"), 16u);
}

TEST(SceneFromMap, RefusesABadMapAndWritesNothing) {
    TempFolder folder;
    Write("short.map", "type octile\nheight 2\nwidth 3\nmap\n...\n..\n");
    Write("ring.map", RING_MAP);
    Write("wide.scen", "version 1\n0\tring.map\t4\t3\t0\t0\t2\t2\t4\n");
    // 500 x 500 lone blocked cells of four walls each, and the outer border: 4 walls too many.
    std::string crowded = "type octile\nheight 1001\nwidth 1001\nmap\n";
    for (int y = 0; y < 1001; ++y) {
        for (int x = 0; x < 1001; ++x) crowded += x % 2 == 1 && y % 2 == 1 ? '@' : '.';
        crowded += '\n';
    }
    Write("crowded.map", crowded);
    struct Case {
        const char* arguments;
        const char* message;
    };
    const Case cases[] = {
        {"--from-map short.map", "short.map:6: a row of 2 cells"},
        {"--from-map missing.map", "missing.map: no such file"},
        {"--from-mesh ring.map", "not a mesh"},
        {"--from-map ring.map --cell 0", "--cell needs"},
        {"--from-map ring.map --cell 10000000", "beyond 16777216"},
        {"--from-map ring.map --scenario wide.scen", "wide.scen:2: the line gives another size"},
        {"--from-map crowded.map",
         "crowded.map: the scene would have 1000004 walls, more than "
         "the 1000000 a scene file holds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        ToolRun run = Execute(std::string(PFAD_SCENE) + " " + c.arguments + " -o out.scene");
        EXPECT_NE(run.exitCode, 0);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists("out.scene"));
    }
}

TEST(SolveScenario, OneLinePerQueryAndASummaryWithOnWallQueriesApart) {
    TempFolder folder;
    // The scenario names the map where it is not; the base name beside the scenario is used.
    Write("maps/ring.map", RING_MAP);
    Write("maps/ring.scen",
          "version 1.0\n"
          "0 far/away/ring.map 3 3 0 0 2 2 4\n"
          "0 far/away/ring.map 3 3 0 1 2 1 4\n"
          "0 far/away/ring.map 3 3 1 1 0 0 1.41421\n");
    ToolRun run = Execute(std::string(PFAD_SOLVE) + " --scenario maps/ring.scen --optimal");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_EQ(Field(lines[0], "start"), "[50");
    EXPECT_EQ(Field(lines[0], "status"), "1");
    EXPECT_EQ(Field(lines[0], "optimum"), "400");
    EXPECT_EQ(Field(lines[0], "optimumKind"), "\"octile\"");
    double length = std::stod(Field(lines[0], "length"));
    // Around the blocked middle, through corner points one unit off its corners: longer than
    // the straight line, shorter than the grid's four steps.
    EXPECT_GT(length, 200 * std::sqrt(2.0));
    EXPECT_LT(length, 400);
    EXPECT_DOUBLE_EQ(std::stod(Field(lines[0], "ratio")), length / 400);
    EXPECT_LE(std::stod(Field(lines[0], "shortest")), length);
    EXPECT_EQ(Field(lines[3], "summary"), "true");
    EXPECT_EQ(Field(lines[3], "queries"), "3");
    EXPECT_EQ(Field(lines[3], "onWall"), "0");
    EXPECT_EQ(Field(lines[3], "misses"), "1");  // the query that starts inside the blocked cell

    // Any-angle queries name cell corners; (2, 2) is a corner of the blocked cell.
    Write("open.map", "type octile\nheight 4\nwidth 4\nmap\n....\n....\n..@.\n....\n");
    Write("open.scen",
          "version 1\n0\topen.map\t4\t4\t1\t1\t3\t1\t2\n"
          "0\topen.map\t4\t4\t1\t1\t2\t2\t1.41421\n");
    run = Execute(std::string(PFAD_SOLVE) + " --scenario open.scen --reference euclidean");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_EQ(Field(lines[0], "optimumKind"), "\"euclidean\"");
    EXPECT_EQ(Field(lines[0], "start"), "[100");
    EXPECT_EQ(Field(lines[0], "onWall"), "false");
    EXPECT_EQ(Field(lines[0], "ratio"), "1");
    EXPECT_EQ(Field(lines[1], "onWall"), "true");
    EXPECT_EQ(Field(lines[1], "status"), "-1");
    EXPECT_EQ(Field(lines[2], "onWall"), "1");
    EXPECT_EQ(Field(lines[2], "misses"), "0");

    // Mesh queries are points in mesh units, whatever the reference; a mesh has no size to
    // check.
    Write("square.mesh",
          "mesh\n2\n4 2\n0 0 2 0 1\n1 0 1 0\n1 1 2 0 1\n0 1 1 1\n"
          "3 0 1 2 1 -1 -1\n3 0 2 3 -1 0 -1\n");
    Write("square.scen", "version 1.0\n0 square.mesh 0 0 0.25 0.5 0.75 0.5 0.5\n");
    run = Execute(std::string(PFAD_SOLVE) + " --scenario square.scen --scale 10");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(Field(lines[0], "start"), "[2.5");
    EXPECT_EQ(Field(lines[0], "optimum"), "5");
    EXPECT_EQ(Field(lines[0], "optimumKind"), "\"euclidean\"");
    EXPECT_EQ(Field(lines[0], "ratio"), "1");
}

TEST(SolveScenario, RefusesABadScenarioOrMapBeforeAnyOutput) {
    TempFolder folder;
    Write("ring.map", RING_MAP);
    Write("bad.map", "type octile\nheight 3\nwidth 3\nmap\n...\n");
    Write("wide.scen",
          "version 1\n0\tring.map\t3\t3\t0\t0\t2\t2\t4\n0\tring.map\t4\t3\t0\t0\t2\t2\t4\n");
    Write("outside.scen", "version 1\n0\tring.map\t3\t3\t0\t0\t3\t2\t4\n");
    Write("badmap.scen", "version 1\n0\tbad.map\t3\t3\t0\t0\t2\t2\t4\n");
    struct Case {
        const char* arguments;
        const char* message;
        int exitCode;
    };
    const Case cases[] = {
        {"--scenario wide.scen", "wide.scen:3: the line gives the map as 4 x 3 cells", 1},
        {"--scenario outside.scen", "outside.scen:2: the goal is not a place", 1},
        {"--scenario badmap.scen", "bad.map:5: the file ends after 1 of 3 rows", 1},
        {"--scenario missing.scen", "missing.scen: no such file", 1},
        {"--limit 3 ring.map", "go with --scenario", 2},
        {"--scenario wide.scen --reference manhattan", "octile or euclidean", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        ToolRun run = Execute(std::string(PFAD_SOLVE) + " " + c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
}

TEST(BenchMaps, TheSmallSampleAgreesWithTheReferenceBitForBit) {
    TempFolder folder;
    ToolRun run = Execute(std::string(PFAD_BENCH) + " --only maps --quick --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    EXPECT_EQ(Field(lines[0], "family"), "\"maps\"");
    EXPECT_EQ(Field(lines[0], "walls"), "112");
    EXPECT_NE(Field(lines[0], "ratio"), "");
}

}  // namespace
