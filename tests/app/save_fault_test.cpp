// Saves under injected I/O faults, and loads of files that are not what they seem: whatever
// fails, the previous file stays byte for byte, no temporary file is left, the reason is on
// stderr, and nothing crashes, hangs or allocates beyond the size cap.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "app/scene_file.h"
#include "platform/display.h"
#include "tests/app/temp_folder.h"

namespace {

const std::vector<char> OLD_BYTES{'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};

struct SaveKind {
    const char* name;
    std::function<bool()> save;
};

class SaveFaultTest : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        ListCreate(&walls, sizeof(Wall));
        AddBox(10, 80, 780, 510);
        AddWall(400, 300, 400, 380);
    }
    void TearDown() override {
        FailSaveOperation(0, 0);
        ListRelease(&walls);
    }
    // The scene save and the screenshot save, by parameter.
    SaveKind Kind() const {
        if (GetParam() == 0)
            return {SCENE_FILE_NAME, [] {
                        return SaveScene(SCENE_FILE_NAME, Vec2{50, 340}, Vec2{750, 340});
                    }};
        return {SCREENSHOT_FILE_NAME, [] { return SaveScreenshot(SCREENSHOT_FILE_NAME); }};
    }
    // What a successful save writes.
    std::vector<char> NewBytes() {
        if (GetParam() == 0) {
            std::vector<uint8_t> bytes = SceneFileBytes(Vec2{50, 340}, Vec2{750, 340}, walls);
            return std::vector<char>(bytes.begin(), bytes.end());
        }
        std::vector<uint8_t> bytes = EncodeBmp(BackBufferPixels(), SURFACE_WIDTH, SURFACE_HEIGHT);
        return std::vector<char>(bytes.begin(), bytes.end());
    }

    TempFolder folder;
};

std::string KindName(const ::testing::TestParamInfo<int>& info) {
    return info.param == 0 ? "SceneFile" : "Screenshot";
}

}  // namespace

// Fails each operation of a save in turn. Up to and including the rename, the save must fail
// and keep the old file; after it (syncing the folder) the new file is whole and in place.
TEST_P(SaveFaultTest, FailingAnyOperationKeepsTheOldFileWholeAndLeavesNoTemporary) {
    SaveKind kind = Kind();
    WriteFileBytes(kind.name, OLD_BYTES);
    FailSaveOperation(0, 0);
    ASSERT_TRUE(kind.save());
    const int32_t operations = SaveOperationCount();
    // Create, write, fsync, close, rename, then open, fsync and close the folder.
    ASSERT_GE(operations, 8);
    const int32_t committed = operations - 3;  // the rename

    int32_t refused = 0;
    for (int32_t n = 1; n <= operations; ++n) {
        WriteFileBytes(kind.name, OLD_BYTES);
        FailSaveOperation(n, EIO);
        testing::internal::CaptureStderr();
        bool saved = kind.save();
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(FolderEntries("."), std::vector<std::string>{kind.name}) << "operation " << n;
        if (n <= committed) {
            EXPECT_FALSE(saved) << "operation " << n;
            EXPECT_EQ(ReadFileBytes(kind.name), OLD_BYTES) << "operation " << n;
            EXPECT_NE(
                said.find(std::string("could not save ") + kind.name + ": " + std::strerror(EIO)),
                std::string::npos)
                << "operation " << n << " said: " << said;
            ++refused;
        } else {
            EXPECT_TRUE(saved) << "operation " << n;
            EXPECT_EQ(ReadFileBytes(kind.name), NewBytes()) << "operation " << n;
        }
    }
    EXPECT_EQ(refused, committed);
    std::printf(
        "%s: %d operations failed in turn, %d saves refused with the old file kept, %d "
        "after the rename with the new file whole\n",
        kind.name, operations, refused, operations - refused);
}

TEST_P(SaveFaultTest, NoSpaceLeftIsReportedAndCostsNothing) {
    SaveKind kind = Kind();
    WriteFileBytes(kind.name, OLD_BYTES);
    FailSaveOperation(2, ENOSPC);  // the first write
    testing::internal::CaptureStderr();
    EXPECT_FALSE(kind.save());
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(std::strerror(ENOSPC)), std::string::npos) << said;
    EXPECT_EQ(ReadFileBytes(kind.name), OLD_BYTES);
    EXPECT_EQ(FolderEntries("."), std::vector<std::string>{kind.name});
}

// A real full disk: a file size limit below what the save writes, in a child process.
TEST_P(SaveFaultTest, AFullDiskKeepsTheOldFile) {
    SaveKind kind = Kind();
    WriteFileBytes(kind.name, OLD_BYTES);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);  // as the program does: a failed write, not a killed process
        struct rlimit limit {
            100, 100
        };
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(kind.save() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save should have reported failure";
    EXPECT_EQ(ReadFileBytes(kind.name), OLD_BYTES);
    EXPECT_EQ(FolderEntries("."), std::vector<std::string>{kind.name});
}

TEST_P(SaveFaultTest, AReadOnlyFolderOrTargetIsLeftAlone) {
    SaveKind kind = Kind();
    mkdir("locked", 0755);
    const std::string inLocked = std::string("locked/") + kind.name;
    WriteFileBytes(inLocked, OLD_BYTES);
    chmod(inLocked.c_str(), 0666);
    chmod("locked", 0555);
    WriteFileBytes(kind.name, OLD_BYTES);
    chmod(kind.name, 0444);
    const bool scene = GetParam() == 0;
    int result = RunUnprivileged(folder, [&] {
        if (access("locked", W_OK) == 0) return 77;
        // The folder refuses the temporary file even though the file itself may be written.
        bool savedInLocked =
            scene ? SaveScene(inLocked, Vec2{1, 2}, Vec2{3, 4}) : SaveScreenshot(inLocked);
        if (savedInLocked) return 1;
        bool savedReadOnly =
            scene ? SaveScene(kind.name, Vec2{1, 2}, Vec2{3, 4}) : SaveScreenshot(kind.name);
        return savedReadOnly ? 2 : 0;
    });
    if (result == 77) GTEST_SKIP() << "cannot give up root's rights here";
    EXPECT_EQ(result, 0) << "save " << result << " should have been refused";
    EXPECT_EQ(ReadFileBytes(inLocked), OLD_BYTES);
    EXPECT_EQ(FolderEntries("locked"), std::vector<std::string>{kind.name});
    EXPECT_EQ(ReadFileBytes(kind.name), OLD_BYTES);
}

INSTANTIATE_TEST_SUITE_P(BothFiles, SaveFaultTest, ::testing::Values(0, 1), KindName);

// ---- Loading what is not a scene file ----------------------------------------------------

namespace {
class LoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ListCreate(&walls, sizeof(Wall));
        AddBox(10, 80, 780, 510);
    }
    void TearDown() override { ListRelease(&walls); }
    // Loads as F6 does; false when the file was refused.
    bool Load() {
        if (!OpenSceneFile(SCENE_FILE_NAME)) return false;
        LoadScene(start, goal);
        return true;
    }
    static std::vector<char> SceneOfWalls(int32_t count) {
        std::vector<char> bytes(16 + 32 * static_cast<size_t>(count));
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 7);
        return bytes;
    }

    TempFolder folder;
    Vec2 start{50, 340};
    Vec2 goal{750, 340};
};
}  // namespace

// A FIFO would block a plain open until someone writes to it; it must be refused at once.
// Run in a child with an alarm, so a hang fails the test instead of stalling the suite.
TEST_F(LoadTest, AFifoOrAFolderInTheFilesPlaceIsRefusedAtOnce) {
    ASSERT_EQ(mkfifo(SCENE_FILE_NAME, 0644), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(5);
        _exit(OpenSceneFile(SCENE_FILE_NAME) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "opening a FIFO hung";
    EXPECT_EQ(WEXITSTATUS(status), 0);

    unlink(SCENE_FILE_NAME);
    ASSERT_EQ(mkdir(SCENE_FILE_NAME, 0755), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Load());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not a regular file"), std::string::npos);
    EXPECT_EQ(ListCount(walls), 4);
}

TEST_F(LoadTest, AFileThatShrinksOrGrowsWhileItIsReadGivesWhatWasThere) {
    WriteFileBytes(SCENE_FILE_NAME, SceneOfWalls(10));
    ASSERT_TRUE(OpenSceneFile(SCENE_FILE_NAME));
    ASSERT_EQ(truncate(SCENE_FILE_NAME, 16 + 32 * 3 + 5), 0);
    LoadScene(start, goal);
    EXPECT_EQ(ListCount(walls), 4);  // three whole walls and a partial one

    WriteFileBytes(SCENE_FILE_NAME, SceneOfWalls(2));
    ASSERT_TRUE(OpenSceneFile(SCENE_FILE_NAME));
    WriteFileBytes(SCENE_FILE_NAME, SceneOfWalls(50));  // rewritten in place, longer
    LoadScene(start, goal);
    EXPECT_EQ(ListCount(walls), 2);  // as long as it was when it was opened
}

TEST_F(LoadTest, AFileExactlyAtTheCapLoadsAndOneByteMoreDoesNot) {
    {
        std::ofstream(SCENE_FILE_NAME) << "";
        ASSERT_EQ(truncate(SCENE_FILE_NAME, SCENE_FILE_MAX_BYTES), 0);  // sparse zeros
    }
    ASSERT_TRUE(Load());
    EXPECT_EQ(ListCount(walls), 1000000);
    ASSERT_EQ(truncate(SCENE_FILE_NAME, SCENE_FILE_MAX_BYTES + 1), 0);
    ListClear(walls);
    AddWall(1, 2, 3, 4);
    EXPECT_FALSE(Load());
    EXPECT_EQ(ListCount(walls), 1);
}
