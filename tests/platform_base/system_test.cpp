// Threads, the lock, the clock and the texts services.
#include "platform/system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/memory.h"

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
    // The forgotten thread still reads the flag after the test has returned: it must outlive
    // the test's stack frame.
    static std::atomic<bool> release{false};
    int32_t thread = ThreadStart(AbandonAndHang, &release);
    SleepMilliseconds(20);
    ThreadKill(thread);                   // would hang here if it waited
    EXPECT_EQ(ThreadRunning(thread), 0);  // forgotten
    release = true;
}

TEST(Threads, WaitReturnsOnceTheProcedureHasReturnedWithoutStoppingIt) {
    Handoff handoff;
    int32_t thread = ThreadStart(WriteThenWait, &handoff);
    ASSERT_GT(thread, 0);
    std::thread releaser([&] {
        SleepMilliseconds(30);
        handoff.release = true;
    });
    ThreadWait(thread);
    EXPECT_TRUE(handoff.release);  // it waited for the procedure, which asked for no stop
    EXPECT_EQ(ThreadRunning(thread), 0);
    EXPECT_EQ(handoff.written, 42);
    releaser.join();
    ThreadWait(thread);  // ended, and unknown numbers: at once
    ThreadWait(0);
}

TEST(Threads, WaitDoesNotWaitForAnAbandonedThread) {
    static std::atomic<bool> release{false};
    int32_t thread = ThreadStart(AbandonAndHang, &release);
    ThreadWait(thread);  // would hang here if it waited
    EXPECT_NE(ThreadRunning(thread), 0);
    release = true;
}

TEST(Threads, StopRequestedIsFalseOutsideStartedThreads) { EXPECT_FALSE(ThreadStopRequested()); }

TEST(Lock, TryFailsWhileHeld) {
    // Locks are never freed: like SearchLock, this one is kept where it stays reachable.
    static Lock* lock = LockCreate();
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
// What a frame builds: the three statistics lines, each label drawn and then dropped.
size_t BuildStatistics(int32_t checks, int32_t nodes, int32_t time) {
    size_t length = 0;
    length += TextJoin({"Kollisionskontrollen : ", DecimalText(checks)}).size();
    length += TextJoin({"Weg-Knoten : ", DecimalText(nodes)}).size();
    length += TextJoin({"Berechungszeit : ", DecimalText(time), "ms"}).size();
    return length;
}

struct AreaRun {
    size_t capacityAtStart = 0;
    int32_t growthsAfterFirstFrame = 0;
    int32_t growthsAfterManyFrames = 0;
    size_t length = 0;
};

void BuildFrames(void* raw) {
    auto* run = static_cast<AreaRun*>(raw);
    run->capacityAtStart = TextAreaCapacity();
    run->length = BuildStatistics(INT32_MIN, 2147483647, 15);
    run->growthsAfterFirstFrame = TextAreaGrowths();
    for (int32_t frame = 0; frame < 10000; ++frame) BuildStatistics(frame, -frame, frame * 7);
    run->growthsAfterManyFrames = TextAreaGrowths();
}

struct Builder {
    int32_t seed = 0;
    int32_t wrong = 0;
};

void BuildOwnNumbers(void* raw) {
    auto* builder = static_cast<Builder*>(raw);
    for (int32_t i = 0; i < 20000; ++i) {
        int32_t number = builder->seed + i;
        Text line = TextJoin({"n ", DecimalText(number), " / ", DecimalText(-number)});
        std::string expected = "n " + std::to_string(number) + " / " + std::to_string(-number);
        builder->wrong += !(line == expected);
    }
}
}  // namespace

TEST(Texts, AThreadsAreaStartsSmallAndAfterTheFirstFrameAsksForNoMoreMemory) {
    AreaRun run;
    int32_t thread = ThreadStart(BuildFrames, &run);
    ASSERT_NE(thread, 0);
    while (ThreadRunning(thread)) SleepMilliseconds(1);
    EXPECT_EQ(run.capacityAtStart, 16u);
    EXPECT_EQ(run.length, 34u + 23u + 21u);
    EXPECT_EQ(run.growthsAfterFirstFrame, 1);
    EXPECT_EQ(run.growthsAfterManyFrames, 1) << "texts of later frames asked for memory";
}

TEST(Texts, APieceFromTheAreaSurvivesTheAreaGrowingUnderIt) {
    Text number = DecimalText(-42);
    size_t before = TextAreaCapacity();
    std::string filler(before + 20000, 'x');
    Text joined = TextJoin({number, filler, number});
    EXPECT_GE(TextAreaCapacity(), 3 + filler.size() + 3 + 16384);
    EXPECT_EQ(std::string_view(joined).substr(0, 3), "-42");
    EXPECT_EQ(std::string_view(joined).substr(3 + filler.size()), "-42");
    EXPECT_EQ(joined.size(), filler.size() + 6);
    EXPECT_EQ(number, "-42");
}

TEST(Texts, TwoThreadsBuildAtTheSameTimeEachInItsOwnArea) {
    Builder first{1000}, second{-5000000};
    int32_t a = ThreadStart(BuildOwnNumbers, &first);
    int32_t b = ThreadStart(BuildOwnNumbers, &second);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    BuildOwnNumbers(&first);  // and the test's own thread as well
    while (ThreadRunning(a) || ThreadRunning(b)) SleepMilliseconds(1);
    EXPECT_EQ(first.wrong, 0);
    EXPECT_EQ(second.wrong, 0);
}

TEST(Texts, AMovedTextKeepsItsContentsAndAnEndedOneGivesItsSpaceBack) {
    Text kept;
    {
        Text made = TextJoin({"Weg-Knoten : ", DecimalText(300)});
        kept = std::move(made);
        EXPECT_EQ(made.size(), 0u);
    }
    EXPECT_EQ(kept, "Weg-Knoten : 300");
    std::string copy = kept;
    EXPECT_EQ(copy, "Weg-Knoten : 300");
    int32_t growths = TextAreaGrowths();
    for (int i = 0; i < 100000; ++i) TextJoin({copy, copy, copy});
    EXPECT_EQ(TextAreaGrowths(), growths) << "ended texts did not give their space back";
}

namespace {
void SayWindows() { fputs("windows ", stderr); }
void SayFault() { fputs("fault ", stderr); }
void SayFiles() { fputs("files\n", stderr); }
}  // namespace

TEST(Texts, Windows1252BecomesUtf8) {
    EXPECT_EQ(Windows1252ToUtf8("Gr\xFC\xDF"
                                "e \x80\x96\x9F"),
              "Gr\xC3\xBC\xC3\x9F"
              "e \xE2\x82\xAC\xE2\x80\x93\xC5\xB8");
    EXPECT_EQ(Windows1252ToUtf8("\x81"), "\xC2\x81");
}

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

// ---- The tests' failure seams ----------------------------------------------------------------

TEST(FailureSeams, TheArmedThreadStartFailsOnceAndUsesNoNumber) {
    FailThreadStart(2);
    int32_t first = ThreadStart(Nothing, nullptr);
    ASSERT_GT(first, 0);
    EXPECT_EQ(ThreadStartWithStack(Nothing, nullptr, 1 << 20), 0);
    int32_t next = ThreadStart(Nothing, nullptr);
    EXPECT_EQ(next, first + 1);
    FailThreadStart(1);
    FailThreadStart(0);  // disarmed again
    int32_t last = ThreadStart(Nothing, nullptr);
    EXPECT_EQ(last, next + 1);
    for (int32_t thread : {first, next, last}) WaitUntilEnded(thread);
}

TEST(FailureSeams, AmongManyThreadsExactlyTheArmedAllocationOfItsSizeFails) {
    constexpr int THREADS = 4, EACH = 2000, SIZE = 40;
    FailBlockAllocate(SIZE, THREADS * EACH / 2);
    std::atomic<int> failed{0}, otherSizeFailed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < EACH; ++i) {
                void* block = BlockAllocate(SIZE);
                void* other = BlockAllocate(SIZE + 8);
                if (!block) failed.fetch_add(1);
                if (!other) otherSizeFailed.fetch_add(1);
                BlockRelease(block);
                BlockRelease(other);
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failed.load(), 1);
    EXPECT_EQ(otherSizeFailed.load(), 0);
    void* after = BlockAllocate(SIZE);  // spent: nothing is armed any more
    EXPECT_NE(after, nullptr);
    BlockRelease(after);
}
