// pfadlotse-solve, run as a separate program on scene files made here.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "tests/address_limits.h"
#include "tests/tool_run.h"
#include "tools/scene_families.h"

namespace {

namespace fs = std::filesystem;

using SolveRun = ToolRun;

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class SolverTest : public testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("pfad-solve-" + std::to_string(getpid()));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // Runs the solver in the scratch folder with these arguments (already quoted), within an
    // address space of limitKb kilobytes when that is not 0.
    SolveRun Solve(const std::string& arguments, int64_t limitKb = 0) {
        std::string limit = limitKb > 0 ? "ulimit -v " + std::to_string(limitKb) + " && exec " : "";
        return RunTool("cd " + Quote(folder_.string()) + " && " + limit + Quote(PFAD_SOLVE) + " " +
                       arguments);
    }

    // A scene file of these floats, then extra raw bytes.
    void Write(const std::string& name, std::vector<float> floats, size_t keepBytes = SIZE_MAX) {
        std::string bytes(reinterpret_cast<const char*>(floats.data()),
                          floats.size() * sizeof(float));
        std::ofstream(folder_ / name, std::ios::binary)
            << bytes.substr(0, std::min(keepBytes, bytes.size()));
    }

    // The lines with every "timeMs" value replaced by T.
    static std::string WithoutTime(std::string text) {
        const std::string key = "\"timeMs\":";
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
            at += key.size();
            size_t end = text.find_first_not_of("0123456789", at);
            text.replace(at, end - at, "T");
        }
        return text;
    }

    fs::path folder_;
};

}  // namespace

TEST_F(SolverTest, TheSingleWallSceneGivesOneLineOfJson) {
    fs::copy_file(fs::path(PFAD_TEST_DATA) / "conformance" / "single_wall.scene",
                  folder_ / "wall.scene");
    SolveRun run = Solve("wall.scene");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(
        WithoutTime(run.out),
        "{\"file\":\"wall.scene\",\"status\":1,\"collisionChecks\":5,\"nodeCount\":4,\"timeMs\":T,"
        "\"path\":[[50,340],[400,199],[750,340]]}\n");
}

TEST_F(SolverTest, ShortFilesKeepWhatTheyLackAndZeroAPartialWall) {
    Write("twelve.scene", {100, 200, 700, 999}, 12);  // goal.y is missing
    Write("empty.scene", {}, 0);
    Write("partial.scene", {50, 340, 750, 340, 400, 200, 0, 280, 401, 199},
          16 + 16);  // corners missing
    SolveRun run = Solve("twelve.scene empty.scene partial.scene");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(
        WithoutTime(run.out),
        // The twelve bytes replace start and goal.x and leave no walls.
        "{\"file\":\"twelve.scene\",\"status\":1,\"collisionChecks\":1,\"nodeCount\":2,\"timeMs\":"
        "T,"
        "\"path\":[[100,200],[700,340]]}\n"
        // No bytes: start and goal stay, the border walls go.
        "{\"file\":\"empty.scene\",\"status\":1,\"collisionChecks\":1,\"nodeCount\":2,\"timeMs\":T,"
        "\"path\":[[50,340],[750,340]]}\n"
        // The wall's missing corners are (0, 0), and the way goes there.
        "{\"file\":\"partial.scene\",\"status\":1,\"collisionChecks\":5,\"nodeCount\":3,\"timeMs\":"
        "T,"
        "\"path\":[[50,340],[0,0],[750,340]]}\n");
}

namespace {

// Status, statistics and the path's floats of one answer line, whatever the number spelling.
std::vector<float> AnswerOf(const std::string& line) {
    std::vector<float> answer;
    for (const char* key : {"\"status\":", "\"collisionChecks\":", "\"nodeCount\":"}) {
        size_t at = line.find(key);
        if (at == std::string::npos) return {};
        answer.push_back(std::strtof(line.c_str() + at + std::strlen(key), nullptr));
    }
    size_t at = line.find("\"path\":[");
    if (at == std::string::npos) return {};
    for (const char* p = line.c_str() + at + 8; *p && *p != '}';) {
        char* end = nullptr;
        float value = std::strtof(p, &end);
        if (end == p) {
            ++p;
        } else {
            answer.push_back(value);
            p = end;
        }
    }
    return answer;
}

}  // namespace

// The two reference solvers the bench times the solver against must answer as it does, bit for
// bit, or their times compare nothing: scenes of every family, short files and a partial wall.
TEST_F(SolverTest, TheReferenceSolversGiveTheSolversAnswers) {
    std::vector<std::string> files;
    for (auto [family, size] : {std::pair{"random-dense", 300},
                                {"random-box", 40},
                                {"grid-maze", 7},
                                {"comb", 40},
                                {"tall-comb", 30},
                                {"collinear-chain", 60},
                                {"staircase", 30},
                                {"low-staircase", 30}}) {
        FamilyScene scene;
        ASSERT_TRUE(MakeFamilyScene(family, size, 5, &scene));
        std::vector<float> floats{scene.start.x, scene.start.y, scene.goal.x, scene.goal.y};
        for (const Wall& wall : scene.walls) {
            const auto* fields = reinterpret_cast<const float*>(&wall);
            floats.insert(floats.end(), fields, fields + 8);
        }
        files.push_back(std::string(family) + ".scene");
        Write(files.back(), floats);
    }
    Write("twelve.scene", {100, 200, 700, 999}, 12);
    Write("empty.scene", {}, 0);
    Write("partial.scene", {50, 340, 750, 340, 400, 200, 0, 280, 401, 199}, 32);
    files.insert(files.end(), {"twelve.scene", "empty.scene", "partial.scene"});
    int32_t detours = 0;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        SolveRun solver = Solve(file);
        ASSERT_EQ(solver.exitCode, 0);
        std::vector<float> expected = AnswerOf(solver.out);
        ASSERT_GE(expected.size(), 3u);
        detours += expected.size() > 3 + 4;
        for (const char* reference : {PFAD_REFERENCE_PLAIN, PFAD_REFERENCE_HASHSET}) {
            std::string command = Quote(reference) + " " + Quote((folder_ / file).string());
            FILE* pipe = popen(command.c_str(), "r");
            ASSERT_NE(pipe, nullptr);
            std::string out;
            char buffer[4096];
            for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
                out.append(buffer, got);
            EXPECT_EQ(pclose(pipe), 0) << reference;
            std::vector<float> answer = AnswerOf(out);
            EXPECT_TRUE(answer.size() == expected.size() &&
                        std::memcmp(answer.data(), expected.data(), 4 * answer.size()) == 0)
                << reference << ":\n"
                << out << "solver:\n"
                << solver.out;
        }
    }
    EXPECT_GE(detours, 6);  // most scenes need a way around walls, not the straight line
}

TEST_F(SolverTest, NumbersJsonCannotHoldAreWrittenAsStrings) {
    const float inf = std::numeric_limits<float>::infinity();
    Write("odd.scene", {std::nanf(""), -inf, inf, 0.1f});
    SolveRun run = Solve("odd.scene");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("\"path\":[[\"NaN\",\"-Infinity\"],[\"Infinity\",0.1]]"),
              std::string::npos)
        << run.out;
}

TEST_F(SolverTest, TheFileNameIsEscapedAsAJsonString) {
    std::string name = "we\"ird\\na\tme\xff.scene";
    Write(name, {1, 2, 3, 4});
    SolveRun run = Solve(Quote(name));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind("{\"file\":\"we\\\"ird\\\\na\\u0009me\\u00ff.scene\",", 0), 0u)
        << run.out;
}

TEST_F(SolverTest, AnUnreadableFileIsNamedAndTheOthersAreStillSolved) {
    Write("good.scene", {1, 2, 3, 4});
    SolveRun run = Solve("missing.scene good.scene");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("missing.scene"), std::string::npos) << run.err;
    EXPECT_EQ(WithoutTime(run.out),
              "{\"file\":\"good.scene\",\"status\":1,\"collisionChecks\":1,\"nodeCount\":2,"
              "\"timeMs\":T,\"path\":[[1,2],[3,4]]}\n");
}

TEST_F(SolverTest, BadArgumentsGiveUsageAndStatusTwo) {
    for (const char* arguments : {"", "--frobnicate x.scene"}) {
        SolveRun run = Solve(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_NE(run.err.find("usage: pfadlotse-solve"), std::string::npos) << arguments;
        EXPECT_EQ(run.out, "");
    }
    SolveRun help = Solve("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: pfadlotse-solve"), std::string::npos);
}

TEST_F(SolverTest, ShortOfMemoryTheAnswerIsWholeOrAnErrorNeverAnother) {
#ifdef PFAD_HUGE_RESERVATIONS
    GTEST_SKIP() << "address-space limits do not work under this sanitizer";
#endif
    // 100,000 short walls: the search needs tens of megabytes beyond the program's own.
    FamilyScene scene = RandomDenseScene(100000, 1);
    std::string bytes(reinterpret_cast<const char*>(&scene.start), sizeof(Vec2));
    bytes.append(reinterpret_cast<const char*>(&scene.goal), sizeof(Vec2));
    bytes.append(reinterpret_cast<const char*>(scene.walls.data()),
                 scene.walls.size() * sizeof(Wall));
    std::ofstream(folder_ / "dense.scene", std::ios::binary) << bytes;
    SolveRun full = Solve("dense.scene");
    ASSERT_EQ(full.exitCode, 0) << full.err;
    ASSERT_EQ(full.out.rfind("{\"file\":\"dense.scene\",\"status\":1,", 0), 0u) << full.out;

    const std::string outOfMemory =
        "{\"file\":\"dense.scene\",\"status\":-2,\"error\":\"out of memory\"}\n";
    int answers = 0, searchesOutOfMemory = 0;
    std::string table;
    // From 8 MB in steps of 4 MB up to two whole answers in a row (the search runs on the
    // solver's own thread, so about 20 MB suffice).
    for (int64_t mb = 8; mb <= 400 && answers < 2; mb += 4) {
        SolveRun run = Solve("dense.scene", mb * 1024);
        std::string outcome;
        if (run.exitCode == 0 && WithoutTime(run.out) == WithoutTime(full.out)) {
            outcome = "the whole answer";
            ++answers;
        } else if (run.exitCode == 3 && run.out == outOfMemory) {
            outcome = "out of memory";
            ++searchesOutOfMemory;
            answers = 0;
        } else if (run.exitCode == 1 && run.out.empty() && !run.err.empty()) {
            outcome = "no start: " + run.err.substr(0, run.err.find('\n'));  // before any answer
            answers = 0;
        } else {
            ADD_FAILURE() << mb << " MB: exit " << run.exitCode << ", " << run.out.substr(0, 200)
                          << run.err;
            outcome = "WRONG";
        }
        table += std::to_string(mb) + " MB | " + outcome + "\n";
    }
    std::printf("limit | outcome\n%s", table.c_str());
    EXPECT_EQ(answers, 2) << "no whole answer up to 400 MB";
    EXPECT_GT(searchesOutOfMemory, 0) << "no limit tried the search's own failures";
}
