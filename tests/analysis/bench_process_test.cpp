// The bench's whole-process runner: what it reports must be the child's, not the bench's.
#include "tools/bench_process.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(BenchProcess, PeakMemoryIsTheChildsOwnNotTheBenchsAndOutputAndStatusArrive) {
    // The bench holds a large scene when it starts a solver; the child's figure must not show it.
    std::vector<char> held(256u << 20);
    std::memset(held.data(), 1, held.size());
    ProcessRun run;
    ASSERT_TRUE(RunProcess({"/bin/sh", "-c", "echo answer; exit 3"}, &run));
    EXPECT_EQ(run.output, "answer\n");
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_GT(run.peakMb, 0.1);
    EXPECT_LT(run.peakMb, 64.0);
    EXPECT_GE(run.wallMs, 0.0);
    EXPECT_EQ(held[held.size() / 2], 1);

    EXPECT_FALSE(RunProcess({"/nonexistent/program"}, &run));
}
