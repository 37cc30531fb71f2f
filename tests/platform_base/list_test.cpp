// CursorList: its current element, walks of their own, adding, clearing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/memory.h"
#include "tests/assert_death.h"

namespace {

class IntList : public ::testing::Test {
  protected:
    CursorList* list = nullptr;
    void SetUp() override { ListCreate(&list, sizeof(int)); }
    void TearDown() override { ListRelease(&list); }
    void Append(int value) { *static_cast<int*>(ListAppend(list)) = value; }
    std::vector<int> Values() {
        std::vector<int> values;
        for (int v : ListItems<int>(list)) values.push_back(v);
        return values;
    }
    int Current() { return *static_cast<int*>(ListCurrent(list)); }
};

}  // namespace

TEST_F(IntList, NextOnAnEmptyListKeepsCurrentNone) {
    EXPECT_EQ(ListNext(list), nullptr);
    EXPECT_EQ(ListPosition(list), -1);
}

// ---- Asserted misuse -----------------------------------------------------------------------

using ListDeathTest = IntList;

TEST_F(ListDeathTest, TheCurrentElementAskedForWhileItIsNoneStops) {
    const char* fix = "ListCurrent while the current element is none .* move onto an element";
    EXPECT_ASSERT_FAILS(ListCurrent(list), fix);  // a new, empty list
    Append(7);
    ListRewind(list);
    EXPECT_ASSERT_FAILS(ListCurrent(list), fix);
    ListNext(list);
    EXPECT_EQ(Current(), 7);
    ListNext(list);  // past the end: current stays on the last element
    EXPECT_EQ(Current(), 7);
    ListClear(list);
    EXPECT_ASSERT_FAILS(ListCurrent(list), fix);
}

TEST_F(IntList, AFullWalkEndsOnTheLastElementSoAddAfterAppends) {
    for (int i = 0; i < 3; ++i) Append(i);
    ListRewind(list);
    EXPECT_EQ(ListPosition(list), -1);
    int seen = 0;
    while (ListNext(list)) EXPECT_EQ(Current(), seen++);
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(ListPosition(list), 2);
    EXPECT_EQ(Current(), 2);
    *static_cast<int*>(ListAddAfter(list)) = 3;
    EXPECT_EQ(Values(), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(ListPosition(list), 3);
}

TEST_F(IntList, AddAfterWithNoCurrentInsertsAtTheFront) {
    Append(1);
    ListRewind(list);
    *static_cast<int*>(ListAddAfter(list)) = 0;
    EXPECT_EQ(Values(), (std::vector<int>{0, 1}));
    EXPECT_EQ(ListPosition(list), 0);
}

TEST_F(IntList, AddBeforeTheFirstBuildsTheListInReverse) {
    for (int i = 0; i < 4; ++i) *static_cast<int*>(ListAddBefore(list)) = i;
    EXPECT_EQ(Values(), (std::vector<int>{3, 2, 1, 0}));
    EXPECT_EQ(ListPosition(list), 0);
    EXPECT_EQ(ListCount(list), 4);
}

TEST_F(IntList, AddBeforeInTheMiddleTakesTheCurrentPosition) {
    for (int i = 0; i < 3; ++i) Append(i * 10);
    ListRewind(list);
    ListNext(list);
    ListNext(list);  // current: 10 at position 1
    *static_cast<int*>(ListAddBefore(list)) = 5;
    EXPECT_EQ(Values(), (std::vector<int>{0, 5, 10, 20}));
    EXPECT_EQ(ListPosition(list), 1);
    EXPECT_EQ(Current(), 5);
    ListNext(list);
    EXPECT_EQ(Current(), 10);
    EXPECT_EQ(ListPosition(list), 2);
}

TEST_F(IntList, NewElementsAreZeroFilledAndClearResets) {
    ListAppend(list);
    EXPECT_EQ(Current(), 0);
    ListClear(list);
    EXPECT_EQ(ListCount(list), 0);
    EXPECT_EQ(ListPosition(list), -1);
    EXPECT_EQ(ListNext(list), nullptr);
    Append(7);
    EXPECT_EQ(Values(), (std::vector<int>{7}));
}

// Elements come from slabs that a cleared list keeps for its next fill: they must come back
// zero-filled, aligned and in the order they were added.
TEST(ElementReuse, ElementsAddedAfterAClearAreZeroFilledAgain) {
    using Data = std::array<unsigned char, 32>;
    CursorList* list = nullptr;
    ListCreate(&list, sizeof(Data));
    // Fills of changing size, so elements come both from the part of the kept slab a fill used
    // before and from beyond it, and from every way of adding.
    const int fills[] = {100, 30, 200, 7, 150};
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < fills[round]; ++i) {
            void* added = i % 3 == 0   ? ListAddAfter(list)
                          : i % 3 == 1 ? ListAddBefore(list)
                                       : ListAppend(list);
            auto* data = static_cast<unsigned char*>(added);
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 16, 0u);
            EXPECT_TRUE(
                std::all_of(data, data + sizeof(Data), [](unsigned char b) { return b == 0; }))
                << "round " << round << ", element " << i;
            std::memset(data, 0xA5, sizeof(Data));
        }
        EXPECT_EQ(ListCount(list), fills[round]);
        ListClear(list);
    }
    ListRelease(&list);
}

TEST_F(IntList, AListOfManySlabsKeepsItsOrderAndInsertions) {
    // More elements than one slab holds at its largest.
    const int count = 300000;
    for (int i = 0; i < count; ++i) Append(2 * i);
    ListRewind(list);
    for (int i = 0; i < 4; ++i) ListNext(list);  // current: the fourth, 6
    *static_cast<int*>(ListAddBefore(list)) = 5;
    ListRewind(list);
    *static_cast<int*>(ListAddAfter(list)) = -1;  // at the front
    std::vector<int> values = Values();
    ASSERT_EQ(values.size(), static_cast<size_t>(count + 2));
    EXPECT_EQ((std::vector<int>(values.begin(), values.begin() + 6)),
              (std::vector<int>{-1, 0, 2, 4, 5, 6}));
    EXPECT_EQ(values.back(), 2 * (count - 1));
    ListClear(list);
    Append(3);
    EXPECT_EQ(Values(), (std::vector<int>{3}));
}

TEST(ListStamps, EveryChangeOnAnyThreadShowsAStampNotSeenBefore) {
    auto collect = [](std::vector<uint64_t>* stamps) {
        CursorList* list = nullptr;
        ListCreate(&list, sizeof(int));
        stamps->push_back(list->stamp);
        for (int i = 0; i < 50000; ++i) {
            if (i % 100 == 99)
                ListClear(list);
            else
                ListAppend(list);
            stamps->push_back(list->stamp);
        }
        ListRelease(&list);
    };
    std::vector<uint64_t> a, b, c;
    std::thread first(collect, &a), second(collect, &b);
    collect(&c);
    first.join();
    second.join();
    std::vector<uint64_t> all = a;
    all.insert(all.end(), b.begin(), b.end());
    all.insert(all.end(), c.begin(), c.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_NE(all.front(), 0u);
}

TEST_F(IntList, AWalkOfItsOwnNeverMovesTheCurrentElement) {
    for (int i = 0; i < 5; ++i) Append(i);
    ListRewind(list);
    ListNext(list);
    ListNext(list);
    ListWalk walk = ListWalkStart(list);
    int count = 0;
    while (ListWalkNext(&walk)) ++count;
    EXPECT_EQ(count, 5);
    EXPECT_EQ(Current(), 1);
    EXPECT_EQ(ListPosition(list), 1);
}

TEST_F(IntList, TwoThreadsWalkOneListAtOnce) {
    for (int i = 0; i < 20000; ++i) Append(i);
    std::atomic<bool> go{false};
    auto walker = [&](long long* sum) {
        while (!go) {
        }
        for (int round = 0; round < 20; ++round)
            for (int v : ListItems<int>(list)) *sum += v;
    };
    long long a = 0, b = 0;
    std::thread first(walker, &a), second(walker, &b);
    go = true;
    first.join();
    second.join();
    const long long expected = 20LL * (19999LL * 20000LL / 2);
    EXPECT_EQ(a, expected);
    EXPECT_EQ(b, expected);
}

TEST_F(IntList, CreateReleasesTheListTheVariableHeld) {
    Append(1);
    ListCreate(&list, sizeof(int));  // must not leak or keep the old elements
    EXPECT_EQ(ListCount(list), 0);
}

TEST(Blocks, AllocateRefusesEmptyAndNegativeSizes) {
    EXPECT_EQ(BlockAllocate(0), nullptr);
    EXPECT_EQ(BlockAllocate(-4), nullptr);
    auto* block = static_cast<unsigned char*>(BlockAllocate(64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0);
    BlockRelease(block);
}

TEST(Blocks, ABlockMadeFromReleasedMemoryIsZeroFilled) {
    for (int size : {8, 24, 40, 200, 1024, 1025, 5000}) {
        for (int round = 0; round < 20; ++round) {
            auto* block = static_cast<unsigned char*>(BlockAllocate(size));
            ASSERT_NE(block, nullptr);
            ASSERT_TRUE(std::all_of(block, block + size, [](unsigned char b) { return b == 0; }))
                << size << " bytes, round " << round;
            std::memset(block, 0xCD, static_cast<size_t>(size));
            BlockRelease(block);
        }
    }
}

TEST(Blocks, EqualComparesBytesSoZeroAndNegativeZeroDiffer) {
    float zero = 0.0f, negativeZero = -0.0f, alsoZero = 0.0f;
    EXPECT_EQ(BlockEqual(&zero, &negativeZero, 4), 0);
    EXPECT_EQ(BlockEqual(&zero, &alsoZero, 4), 1);
    EXPECT_EQ(BlockEqual(nullptr, nullptr, 4), 1);
    EXPECT_EQ(BlockEqual(&zero, nullptr, 4), 0);
}

TEST(Arrays, CreateGivesUpperIndexPlusOneZeroedElements) {
    long long* array = nullptr;
    ASSERT_NE(ArrayCreate(&array, 4), nullptr);
    for (int i = 0; i <= 4; ++i) EXPECT_EQ(array[i], 0);
    array[4] = 9;
    ArrayCreate(&array, 2);  // releases the old one first
    EXPECT_EQ(array[2], 0);
    ArrayCreate(&array, -1);
    EXPECT_EQ(array, nullptr);
}
