// The scene file: loading, saving without damage, and where the files go.
#include "app/scene_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>

#include "pathsearch/pathsearch.h"
#include "tests/app/temp_folder.h"

namespace {
class SceneFileTest : public ::testing::Test {
  protected:
    void SetUp() override { CreateSharedState(); }
    void TearDown() override { ListRelease(&walls); }

    std::vector<Wall> Walls() {
        std::vector<Wall> list;
        for (const Wall& wall : ListItems<Wall>(walls)) list.push_back(wall);
        return list;
    }
    static std::vector<char> Floats(std::initializer_list<float> values) {
        std::vector<char> bytes(values.size() * 4);
        std::memcpy(bytes.data(), values.begin(), bytes.size());
        return bytes;
    }
    // Loads the file at path into start, goal and walls; false when it would not open.
    static bool Load(const std::string& path, Vec2& start, Vec2& goal) {
        if (!OpenSceneFile(path)) return false;
        LoadScene(start, goal);
        return true;
    }

    TempFolder folder;
};

bool SameBits(const Vec2& a, const Vec2& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace

TEST_F(SceneFileTest, TheDefaultSceneSavesAs144KnownBytes) {
    AddBox(10, 80, 780, 510);
    ASSERT_TRUE(SaveScene(SCENE_FILE_NAME, Vec2{50, 340}, Vec2{750, 340}));
    std::vector<char> bytes = ReadFileBytes(SCENE_FILE_NAME);
    ASSERT_EQ(bytes.size(), 144u);
    std::vector<char> expected = Floats({50, 340, 750, 340, 10, 80, 780, 0, 9, 80, 791, 80});
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin()));
}

TEST_F(SceneFileTest, SaveThenLoadGivesBackTheSameSceneBitForBit) {
    AddBox(10, 80, 780, 510);
    AddWall(400, 300, 400, 380);
    // Stored corner points that do not fit the wall, and values no mouse can make.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    *static_cast<Wall*>(ListAppend(walls)) = Wall{{1, 2}, {3, 4}, {-70, 5}, {1e30f, 0.25f}};
    *static_cast<Wall*>(ListAppend(walls)) = Wall{{nan, inf}, {-inf, -0.0f}, {3e38f, 1}, {2, nan}};
    const std::vector<Wall> saved = Walls();
    ASSERT_TRUE(SaveScene(SCENE_FILE_NAME, Vec2{50.5f, -0.0f}, Vec2{nan, 1e20f}));

    ListClear(walls);
    AddWall(1, 1, 2, 2);
    Vec2 start{7, 7};
    Vec2 goal{8, 8};
    ASSERT_TRUE(Load(SCENE_FILE_NAME, start, goal));
    EXPECT_TRUE(SameBits(start, Vec2{50.5f, -0.0f}));
    EXPECT_TRUE(SameBits(goal, Vec2{nan, 1e20f}));
    std::vector<Wall> loaded = Walls();
    ASSERT_EQ(loaded.size(), saved.size());
    EXPECT_EQ(std::memcmp(loaded.data(), saved.data(), saved.size() * sizeof(Wall)), 0);
}

TEST_F(SceneFileTest, ShortFilesChangeOnlyWhatTheyHold) {
    Vec2 start{1, 2};
    Vec2 goal{3, 4};
    AddBox(10, 80, 780, 510);

    WriteFileBytes("empty", {});
    ASSERT_TRUE(Load("empty", start, goal));
    EXPECT_TRUE(SameBits(start, Vec2{1, 2}));
    EXPECT_TRUE(SameBits(goal, Vec2{3, 4}));
    EXPECT_EQ(ListCount(walls), 0);

    AddBox(10, 80, 780, 510);
    WriteFileBytes("twelve", Floats({5, 6, 7}));
    ASSERT_TRUE(Load("twelve", start, goal));
    EXPECT_TRUE(SameBits(start, Vec2{5, 6}));
    EXPECT_TRUE(SameBits(goal, Vec2{7, 4}));  // goal y keeps its old value
    EXPECT_EQ(ListCount(walls), 0);

    AddBox(10, 80, 780, 510);
    WriteFileBytes("sixteen", Floats({9, 10, 11, 12}));
    ASSERT_TRUE(Load("sixteen", start, goal));
    EXPECT_TRUE(SameBits(goal, Vec2{11, 12}));
    EXPECT_EQ(ListCount(walls), 0);  // not even a border

    std::vector<char> partial = Floats({9, 10, 11, 12, 1, 2, 3, 4, 5, 6, 7, 8, 21, 22, 23});
    partial.push_back(0x7f);  // one stray byte of a fourth field
    WriteFileBytes("partial", partial);
    ASSERT_TRUE(Load("partial", start, goal));
    std::vector<Wall> loaded = Walls();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_TRUE(SameBits(loaded[0].outerB, Vec2{7, 8}));
    EXPECT_TRUE(SameBits(loaded[1].origin, Vec2{21, 22}));
    EXPECT_EQ(loaded[1].delta.x, 23.0f);
    uint32_t strayBits;
    std::memcpy(&strayBits, &loaded[1].delta.y, 4);
    EXPECT_EQ(strayBits, 0x7fu);
    EXPECT_TRUE(SameBits(loaded[1].outerA, Vec2{0, 0}));
    EXPECT_TRUE(SameBits(loaded[1].outerB, Vec2{0, 0}));
}

TEST_F(SceneFileTest, LoadingInStepsOfAnySizeGivesTheSceneAndTouchesNothingBeforeTheEnd) {
    std::vector<char> bytes = Floats({9, 10, 11, 12});
    for (int i = 0; i < 1000 * 8 + 3; ++i) {
        float value = static_cast<float>(i) * 0.5f;
        const char* raw = reinterpret_cast<const char*>(&value);
        bytes.insert(bytes.end(), raw, raw + 4);
    }
    WriteFileBytes("scene", bytes);
    Vec2 wantStart{}, wantGoal{};
    ASSERT_TRUE(Load("scene", wantStart, wantGoal));
    const std::vector<Wall> want = Walls();
    ASSERT_EQ(want.size(), 1001u);
    // The file's bytes, read through a buffer far smaller than the file; the last wall's
    // missing fields zero.
    std::vector<char> wantBytes(bytes.begin() + 16, bytes.end());
    wantBytes.resize(want.size() * sizeof(Wall));
    EXPECT_EQ(std::memcmp(want.data(), wantBytes.data(), wantBytes.size()), 0);

    for (size_t step : {size_t{1}, size_t{32}, size_t{100}, size_t{4096}, SCENE_LOAD_STEP_BYTES}) {
        ListClear(walls);
        AddBox(10, 80, 780, 510);
        const CursorList* before = walls;
        ASSERT_TRUE(OpenSceneFile("scene"));
        SceneLoader loader;
        int steps = 1;
        while (!loader.Step(step)) {
            ++steps;
            ASSERT_EQ(walls, before);
            ASSERT_EQ(ListCount(walls), 4);
        }
        Vec2 start{}, goal{};
        ASSERT_TRUE(loader.Finish(start, goal)) << step;
        EXPECT_TRUE(SameBits(start, wantStart));
        EXPECT_TRUE(SameBits(goal, wantGoal));
        std::vector<Wall> got = Walls();
        ASSERT_EQ(got.size(), want.size()) << step;
        EXPECT_EQ(std::memcmp(got.data(), want.data(), got.size() * sizeof(Wall)), 0) << step;
        EXPECT_GE(steps, step >= bytes.size() ? 1 : 2) << step;
    }
}

TEST_F(SceneFileTest, AFileOneByteOverTheCapIsRefusedUnread) {
    {
        std::ofstream("huge") << "";
        ASSERT_EQ(truncate("huge", SCENE_FILE_MAX_BYTES + 1), 0);  // sparse, costs no disk
    }
    Vec2 start{1, 2};
    Vec2 goal{3, 4};
    AddBox(10, 80, 780, 510);
    EXPECT_FALSE(Load("huge", start, goal));
    EXPECT_TRUE(SameBits(start, Vec2{1, 2}));
    EXPECT_EQ(ListCount(walls), 4);
    EXPECT_FALSE(Load("missing", start, goal));
    EXPECT_EQ(ListCount(walls), 4);
}

TEST_F(SceneFileTest, SavingTwiceReplacesTheFile) {
    AddBox(10, 80, 780, 510);
    ASSERT_TRUE(SaveScene(SCENE_FILE_NAME, Vec2{50, 340}, Vec2{750, 340}));
    ListClear(walls);
    AddWall(1, 2, 3, 4);
    ASSERT_TRUE(SaveScene(SCENE_FILE_NAME, Vec2{50, 340}, Vec2{750, 340}));
    EXPECT_EQ(ReadFileBytes(SCENE_FILE_NAME).size(), 48u);
    EXPECT_EQ(FolderEntries(".").size(), 1u);
}

// A save that runs out of room part-way must leave the previous file whole.
TEST_F(SceneFileTest, ASaveThatFailsPartWayKeepsTheOldFileAndNoTemporary) {
    AddBox(10, 80, 780, 510);
    ASSERT_TRUE(SaveScene(SCENE_FILE_NAME, Vec2{50, 340}, Vec2{750, 340}));
    const std::vector<char> before = ReadFileBytes(SCENE_FILE_NAME);
    for (int i = 0; i < 20; ++i) AddWall(i, i, i + 5, i + 9);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The program ignores SIGXFSZ, so an over-long write fails instead of killing it.
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
            200, 200
        };
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(SaveScene(SCENE_FILE_NAME, Vec2{1, 1}, Vec2{2, 2}) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save should have reported failure";
    EXPECT_EQ(ReadFileBytes(SCENE_FILE_NAME), before);
    EXPECT_EQ(FolderEntries("."), std::vector<std::string>{SCENE_FILE_NAME});
}

TEST_F(SceneFileTest, ASymbolicLinkStaysALinkAndItsFileIsReplaced) {
    mkdir("real", 0755);
    WriteFileBytes("real/scene.bin", {'o', 'l', 'd'});
    ASSERT_EQ(symlink("real/scene.bin", SCENE_FILE_NAME), 0);
    ASSERT_TRUE(SaveScene(SCENE_FILE_NAME, Vec2{50, 340}, Vec2{750, 340}));
    struct stat status;
    ASSERT_EQ(lstat(SCENE_FILE_NAME, &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(ReadFileBytes("real/scene.bin"), Floats({50, 340, 750, 340}));
    EXPECT_EQ(FolderEntries("real"), std::vector<std::string>{"scene.bin"});
}

TEST_F(SceneFileTest, WhatCannotBeReplacedIsRefusedAndLeftAlone) {
    ASSERT_EQ(mkdir(SCENE_FILE_NAME, 0755), 0);  // a folder in the file's place
    EXPECT_FALSE(SaveScene(SCENE_FILE_NAME, Vec2{50, 340}, Vec2{750, 340}));
    struct stat status;
    ASSERT_EQ(stat(SCENE_FILE_NAME, &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(FolderEntries(".").size(), 1u);
}

TEST_F(SceneFileTest, AReadOnlyFileIsNotReplaced) {
    WriteFileBytes(SCENE_FILE_NAME, {'k', 'e', 'e', 'p'});
    chmod(SCENE_FILE_NAME, 0444);
    int result = RunUnprivileged(folder, [] {
        return SaveScene(SCENE_FILE_NAME, Vec2{50, 340}, Vec2{750, 340}) ? 1 : 0;
    });
    if (result == 77) GTEST_SKIP() << "cannot give up root's rights here";
    EXPECT_EQ(result, 0) << "the save should have been refused";
    EXPECT_EQ(ReadFileBytes(SCENE_FILE_NAME), (std::vector<char>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(FolderEntries(".").size(), 1u);
}

TEST_F(SceneFileTest, AReplacedFileKeepsItsPermissions) {
    WriteFileBytes(SCENE_FILE_NAME, {'o', 'l', 'd'});
    chmod(SCENE_FILE_NAME, 0640);
    ASSERT_TRUE(SaveScene(SCENE_FILE_NAME, Vec2{50, 340}, Vec2{750, 340}));
    struct stat status;
    ASSERT_EQ(stat(SCENE_FILE_NAME, &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

// ---- Where the files go ------------------------------------------------------------------

TEST(FilePlace, TheDataFolderFollowsXdgDataHomeThenHome) {
    TempFolder folder;
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    setenv("HOME", "/home/someone", 1);
    setenv("XDG_DATA_HOME", "/data/xdg", 1);
    EXPECT_EQ(UserDataDirectory(), "/data/xdg/pfadlotse");
    setenv("XDG_DATA_HOME", "relative/path", 1);  // not absolute: ignored
    EXPECT_EQ(UserDataDirectory(), "/home/someone/.local/share/pfadlotse");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(UserDataDirectory(), "/home/someone/.local/share/pfadlotse");
    setenv("HOME", savedHome.c_str(), 1);
}

TEST(FilePlace, AWritableCurrentDirectoryIsThePlace) {
    TempFolder folder;
    EXPECT_EQ(PlaceFile(SCENE_FILE_NAME, true), SCENE_FILE_NAME);
    EXPECT_EQ(PlaceFile(SCREENSHOT_FILE_NAME, false), SCREENSHOT_FILE_NAME);
    EXPECT_EQ(FolderEntries(".").size(), 0u);  // no data folder made for nothing
}

TEST(FilePlace, AnUnwritableCurrentDirectorySendsBothKeysToTheDataFolder) {
    TempFolder folder;
    const std::string data = folder.path() + "/data";
    mkdir("locked", 0555);
    int result = RunUnprivileged(folder, [&] {
        if (chdir("locked") != 0) return 2;
        if (access(".", W_OK) == 0) return 77;
        CreateSharedState();
        AddWall(1, 2, 3, 4);
        // What F6 reads before anything was saved: nothing there, nothing created.
        std::string reading = PlaceFile(SCENE_FILE_NAME, false);
        if (reading != data + "/pfadlotse/" + SCENE_FILE_NAME) return 3;
        if (access(data.c_str(), F_OK) == 0) return 4;
        std::string writing = PlaceFile(SCENE_FILE_NAME, true);
        if (writing != reading) return 5;
        if (!SaveScene(writing, Vec2{50, 340}, Vec2{750, 340})) return 6;
        Vec2 start{0, 0};
        Vec2 goal{0, 0};
        if (!OpenSceneFile(PlaceFile(SCENE_FILE_NAME, false))) return 7;
        LoadScene(start, goal);
        if (start.x != 50 || goal.x != 750 || ListCount(walls) != 1) return 8;
        return 0;
    });
    if (result == 77) GTEST_SKIP() << "cannot make an unwritable folder here";
    ASSERT_EQ(result, 0) << "failed at step " << result;
    struct stat status;
    ASSERT_EQ(stat((data + "/pfadlotse").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(ReadFileBytes(data + "/pfadlotse/" + SCENE_FILE_NAME).size(), 48u);
}

TEST(FilePlace, F6ReadsASceneLyingInAReadOnlyFolderUntilF5HasSavedOne) {
    TempFolder folder;
    const std::string saved = folder.path() + "/data/pfadlotse/" + SCENE_FILE_NAME;
    mkdir("handout", 0755);
    CreateSharedState();
    AddWall(10, 20, 30, 40);
    ASSERT_TRUE(SaveScene(std::string("handout/") + SCENE_FILE_NAME, Vec2{1, 2}, Vec2{3, 4}));
    chmod("handout", 0555);
    int result = RunUnprivileged(folder, [&] {
        if (chdir("handout") != 0) return 2;
        if (access(".", W_OK) == 0) return 77;
        ListClear(walls);
        if (PlaceFile(SCENE_FILE_NAME, false) != SCENE_FILE_NAME) return 3;
        Vec2 start{0, 0};
        Vec2 goal{0, 0};
        if (!OpenSceneFile(PlaceFile(SCENE_FILE_NAME, false))) return 4;
        LoadScene(start, goal);
        if (start.x != 1 || goal.y != 4 || ListCount(walls) != 1) return 5;
        // The saves still go to the data folder, and F6 then reads what F5 wrote.
        if (PlaceFile(SCENE_FILE_NAME, true) != saved) return 6;
        if (PlaceFile(SCREENSHOT_FILE_NAME, true) !=
            folder.path() + "/data/pfadlotse/" + SCREENSHOT_FILE_NAME)
            return 7;
        if (!SaveScene(saved, Vec2{50, 340}, Vec2{750, 340})) return 8;
        if (PlaceFile(SCENE_FILE_NAME, false) != saved) return 9;
        if (!OpenSceneFile(PlaceFile(SCENE_FILE_NAME, false))) return 10;
        LoadScene(start, goal);
        if (start.x != 50 || goal.x != 750) return 11;
        return 0;
    });
    chmod("handout", 0755);
    if (result == 77) GTEST_SKIP() << "cannot make an unwritable folder here";
    ASSERT_EQ(result, 0) << "failed at step " << result;
}

TEST(FilePlace, AnUnreadableSceneInAReadOnlyFolderIsPassedOver) {
    TempFolder folder;
    const std::string saved = folder.path() + "/data/pfadlotse/" + SCENE_FILE_NAME;
    mkdir("handout", 0755);
    WriteFileBytes(std::string("handout/") + SCENE_FILE_NAME, std::vector<char>(16, 0));
    chmod((std::string("handout/") + SCENE_FILE_NAME).c_str(), 0);
    chmod("handout", 0555);
    int result = RunUnprivileged(folder, [&] {
        if (chdir("handout") != 0) return 2;
        if (access(".", W_OK) == 0 || access(SCENE_FILE_NAME, R_OK) == 0) return 77;
        return PlaceFile(SCENE_FILE_NAME, false) == saved ? 0 : 3;
    });
    chmod("handout", 0755);
    if (result == 77) GTEST_SKIP() << "cannot make an unwritable folder here";
    EXPECT_EQ(result, 0);
}

#ifndef __SANITIZE_ADDRESS__  // the sanitizer reserves far more address space than any limit
TEST_F(SceneFileTest, ALoadThatRunsOutOfMemoryLeavesTheSceneAsItWas) {
    // A million walls: the file's 32 MB are read, the list's 48 MB do not fit beside them.
    std::vector<char> bytes(SCENE_FILE_MAX_BYTES, 0);
    for (size_t offset = 16; offset < bytes.size(); offset += sizeof(Wall))
        bytes[offset + 3] = 0x3F;
    WriteFileBytes(SCENE_FILE_NAME, bytes);
    bytes = {};
    AddBox(10, 80, 780, 510);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (!statm || std::fscanf(statm, "%ld", &pages) != 1) _exit(2);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max =
            static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (36 << 20);
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
        Vec2 start{1, 2}, goal{3, 4};
        if (!OpenSceneFile(SCENE_FILE_NAME)) _exit(4);
        if (LoadScene(start, goal)) _exit(5);
        _exit(ListCount(walls) == 4 && start.x == 1 && goal.y == 4 ? 0 : 6);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1-4: could not set up, 5: loaded anyway, 6: the scene changed";
}
#endif
