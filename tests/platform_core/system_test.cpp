#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "platform/system.h"

namespace {

void Nothing(void*) {}

void WaitForStop(void* counter) {
    auto* steps = static_cast<std::atomic<int>*>(counter);
    while (!ThreadStopRequested()) steps->fetch_add(1);
}

struct Handoff {
    int written = 0;
    std::atomic<bool> release{false};
};

void WriteThenWait(void* raw) {
    auto* handoff = static_cast<Handoff*>(raw);
    handoff->written = 42;  // a plain write, published by the end of the thread
    while (!handoff->release) SleepMilliseconds(1);
}

void WaitUntilEnded(int32_t thread) {
    while (ThreadRunning(thread)) SleepMilliseconds(1);
}

}  // namespace

TEST(Threads, NumbersCountUpAndRunningEndsWithTheProcedure) {
    int32_t first = ThreadStart(Nothing, nullptr);
    int32_t second = ThreadStart(Nothing, nullptr);
    ASSERT_GT(first, 0);
    EXPECT_EQ(second, first + 1);
    WaitUntilEnded(first);
    WaitUntilEnded(second);
    EXPECT_EQ(ThreadRunning(first), 0);  // also before any later start forgets it
    EXPECT_EQ(ThreadRunning(0), 0);
    EXPECT_EQ(ThreadRunning(second + 1000), 0);
    EXPECT_EQ(ThreadStart(Nothing, nullptr), second + 1);  // never reused
}

TEST(Threads, EndingPublishesWhatTheThreadWrote) {
    Handoff handoff;
    int32_t thread = ThreadStart(WriteThenWait, &handoff);
    ASSERT_GT(thread, 0);
    EXPECT_NE(ThreadRunning(thread), 0);
    handoff.release = true;
    WaitUntilEnded(thread);
    EXPECT_EQ(handoff.written, 42);
}

TEST(Threads, KillAsksForAStopAndWaitsForTheProcedure) {
    std::atomic<int> steps{0};
    int32_t thread = ThreadStart(WaitForStop, &steps);
    while (steps.load() == 0) SleepMilliseconds(1);
    ThreadKill(thread);
    int after = steps.load();
    SleepMilliseconds(20);
    EXPECT_EQ(steps.load(), after);  // it does no further work
    EXPECT_EQ(ThreadRunning(thread), 0);
    ThreadKill(thread);  // an ended thread: nothing happens
}

namespace {
void AbandonAndHang(void* raw) {
    ThreadAbandon();
    auto* release = static_cast<std::atomic<bool>*>(raw);
    while (!*release) SleepMilliseconds(1);
}
}  // namespace

TEST(Threads, KillDoesNotWaitForAnAbandonedThread) {
    std::atomic<bool> release{false};
    int32_t thread = ThreadStart(AbandonAndHang, &release);
    SleepMilliseconds(20);
    ThreadKill(thread);  // would hang here if it waited
    EXPECT_EQ(ThreadRunning(thread), 0);  // forgotten
    release = true;
}

TEST(Threads, StopRequestedIsFalseOutsideStartedThreads) { EXPECT_FALSE(ThreadStopRequested()); }

TEST(Lock, TryFailsWhileHeld) {
    Lock* lock = LockCreate();
    LockAcquire(lock);
    std::atomic<int> taken{-1};
    std::thread other([&] { taken = LockTry(lock) ? 1 : 0; });
    other.join();
    EXPECT_EQ(taken, 0);
    LockRelease(lock);
    EXPECT_TRUE(LockTry(lock));
    LockRelease(lock);
}

TEST(Clock, SleepLastsAtLeastItsTime) {
    uint32_t before = TickMilliseconds();
    SleepMilliseconds(30);
    EXPECT_GE(static_cast<uint32_t>(TickMilliseconds() - before), 30u);
}

TEST(Texts, DecimalTextAndJoin) {
    EXPECT_EQ(DecimalText(0), "0");
    EXPECT_EQ(DecimalText(300), "300");
    EXPECT_EQ(DecimalText(-7), "-7");
    EXPECT_EQ(DecimalText(INT32_MIN), "-2147483648");
    EXPECT_EQ(TextJoin({"Berechungszeit : ", DecimalText(15), "ms"}), "Berechungszeit : 15ms");
    EXPECT_EQ(TextJoin({}), "");
}

namespace {
void SayWindows() { fputs("windows ", stderr); }
void SayFault() { fputs("fault ", stderr); }
void SayFiles() { fputs("files\n", stderr); }
}  // namespace

TEST(EndProgramDeathTest, RunsTheCloseStepsInOrderAndExitsWithZero) {
    EXPECT_EXIT(
        {
            SetShutdownStep(SHUTDOWN_FILES, SayFiles);
            SetShutdownStep(SHUTDOWN_FAULT_HANDLER, SayFault);
            SetShutdownStep(SHUTDOWN_WINDOWS, SayWindows);
            ThreadStart(WaitForStop, new std::atomic<int>(0));  // not waited for
            EndProgram();
        },
        ::testing::ExitedWithCode(0), "windows fault files");
}
