// The record ring on the shared named mutex.
#include <thread>
#include <cstring>

#include "buffered/ring.h"
#include "temp_run_dir.h"
#include "test_clock.h"

#include <gtest/gtest.h>

namespace {

struct Record {
    std::uint32_t value;
    std::uint8_t padding[12];
};

class RingTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(McRingCreate(&ring_, 3, sizeof(Record), 1), 1); }
    void TearDown() override { McRingDestroy(&ring_); }

    int push(std::uint32_t v) {
        Record r{};
        r.value = v;
        return McRingPush(&ring_, &r);
    }
    std::uint32_t pop() {
        Record r{};
        return McRingPop(&ring_, &r) == 1 ? r.value : 0xFFFFFFFFu;
    }

    qax_test::TestClock clock_;
    qax_test::TempRunDir run_dir_;
    McRing ring_{};
};

TEST_F(RingTest, CapacityThreeHoldsThreeInOrder) {
    EXPECT_EQ(ring_.capacity, 3u);
    EXPECT_EQ(ring_.reserve, 1u);
    EXPECT_EQ(push(1), 1);
    EXPECT_EQ(push(2), 1);
    EXPECT_EQ(push(3), 1);
    EXPECT_EQ(push(4), 0);
    EXPECT_EQ(ring_.count, 3u);
    // The refused push left the mutex free.
    ASSERT_EQ(platform::wait_mutex(ring_.mutex, 0), platform::WaitResult::obtained);
    platform::release_mutex(ring_.mutex);
    EXPECT_EQ(pop(), 1u);
    EXPECT_EQ(pop(), 2u);
    EXPECT_EQ(pop(), 3u);
    EXPECT_EQ(pop(), 0xFFFFFFFFu);
    EXPECT_EQ(ring_.readIndex, 0u);
    EXPECT_EQ(ring_.writeIndex, 0u);
    EXPECT_EQ(ring_.pushed, 0u);
    EXPECT_EQ(ring_.popped, 0u);
}

TEST_F(RingTest, IndicesWrapAroundTheStorage) {
    for (std::uint32_t v = 1; v <= 2; ++v) ASSERT_EQ(push(v), 1);
    EXPECT_EQ(pop(), 1u);
    EXPECT_EQ(push(3), 1);
    EXPECT_EQ(push(4), 1);
    EXPECT_EQ(ring_.writeIndex, 1u) << "wrapped past the last slot";
    EXPECT_EQ(pop(), 2u);
    EXPECT_EQ(pop(), 3u);
    EXPECT_EQ(ring_.readIndex, 0u);
    EXPECT_EQ(pop(), 4u);
    EXPECT_EQ(ring_.count, 0u);
}

TEST_F(RingTest, ClearEmptiesAndRemakeStartsOver) {
    push(1);
    push(2);
    EXPECT_TRUE(McRingClear(&ring_));
    EXPECT_EQ(McRingCount(&ring_), 0u);
    EXPECT_EQ(pop(), 0xFFFFFFFFu);
    push(7);
    ASSERT_EQ(McRingCreate(&ring_, 2, sizeof(Record), 0), 1);
    EXPECT_EQ(pop(), 0xFFFFFFFFu) << "a remade ring is empty";
    EXPECT_EQ(ring_.capacity, 2u);
}

TEST(RingSharingTest, EveryRingLocksTheOneNamedMutex) {
    qax_test::TestClock clock;
    qax_test::TempRunDir run_dir;
    McRing a{};
    McRing b{};
    ASSERT_EQ(McRingCreate(&a, 2, 4, 0), 1);
    ASSERT_EQ(McRingCreate(&b, 2, 4, 0), 1);
    // Held through a: b's push cannot get it (another thread holds it).
    ASSERT_EQ(platform::wait_mutex(a.mutex, 0), platform::WaitResult::obtained);
    std::uint32_t v = 5;
    int pushed = -1;
    std::thread other([&] { pushed = McRingPush(&b, &v); });
    other.join();
    platform::release_mutex(a.mutex);
    EXPECT_EQ(pushed, 0);
    EXPECT_EQ(McRingPush(&b, &v), 1);
    McRingDestroy(&a);
    McRingDestroy(&b);
    EXPECT_EQ(a.records, nullptr);
    EXPECT_EQ(a.mutex, platform::kNoMutex);
}

}  // namespace
