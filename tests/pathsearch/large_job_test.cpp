// Stopping a job on a large scene: its leftovers are released on a thread of their own, and
// the shared state is clean for the next job at once. Labelled "threads" with the job tests.

#include "search_fixture.h"
#include "tools/scene_families.h"

TEST_F(PathJobs, JobsStoppedOnALargeSceneLeaveACleanStateAndTheNextJobTheSameAnswer) {
    FamilyScene scene = RandomDenseScene(20000, 2);
    SetWalls(scene.walls);
    JobResult whole = RunJob(scene.start, scene.goal);
    ASSERT_EQ(whole.status, 1);
    ASSERT_GT(whole.collisionChecks + whole.nodeCount, 4096);  // large enough to be handed off

    // Freed while copying the walls, building the index and searching.
    for (int32_t delay : {0, 1, 3, 8, 20, 40}) {
        PathJob* job = CreatePathJob(scene.start, scene.goal);
        ASSERT_NE(job, nullptr);
        SleepMilliseconds(delay);
        FreePathJob(job);
        EXPECT_TRUE(SearchStateIsClean()) << "freed after " << delay << " ms";
        JobResult again = RunJob(scene.start, scene.goal);
        EXPECT_EQ(again.collisionChecks, whole.collisionChecks) << delay;
        EXPECT_EQ(again.nodeCount, whole.nodeCount) << delay;
        EXPECT_TRUE(SamePath(whole.path, again.path)) << delay;
    }
}
