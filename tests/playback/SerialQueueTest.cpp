// The serial executor behind the mpv client's event queue.
#include "playback/SerialQueue.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <vector>

namespace rillow {
namespace {

std::string currentThreadName() {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

TEST(SerialQueueTest, RunsWorkInOrderOnOneNamedThread) {
    SerialQueue queue("app.rillow.mpv");
    std::vector<int> order;  // touched only on the queue, read after sync
    std::vector<std::string> names;
    for (int i = 0; i < 100; ++i)
        queue.async([&, i] {
            order.push_back(i);
            names.push_back(currentThreadName());
        });
    queue.sync([] {});
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
    for (const std::string& name : names) EXPECT_EQ(name, "app.rillow.mpv");
}

TEST(SerialQueueTest, LongNamesAreCutToTheSystemLimit) {
    SerialQueue queue("app.rillow.mpvgl");
    std::string name;
    queue.sync([&] { name = currentThreadName(); });
    EXPECT_EQ(name, "app.rillow.mpvg");
}

TEST(SerialQueueTest, SyncWaitsForEarlierWorkAndRunsInlineOnItsOwnThread) {
    SerialQueue queue("test.queue");
    std::atomic<bool> slowDone{false};
    queue.async([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        slowDone = true;
    });
    bool nestedRan = false;
    bool sawSlowDone = false;
    queue.sync([&] {
        sawSlowDone = slowDone.load();
        EXPECT_TRUE(queue.isCurrent());
        queue.sync([&] { nestedRan = true; });  // would deadlock if it queued
    });
    EXPECT_TRUE(sawSlowDone);
    EXPECT_TRUE(nestedRan);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueueTest, DestructionRunsQueuedWorkFirst) {
    std::atomic<int> ran{0};
    {
        SerialQueue queue("test.queue");
        for (int i = 0; i < 10; ++i)
            queue.async([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                ++ran;
            });
    }
    EXPECT_EQ(ran.load(), 10);
}

TEST(SerialQueueTest, DestroyedFromItsOwnWorkItStillFinishesWhatWasQueued) {
    auto* queue = new SerialQueue("test.queue");
    std::atomic<bool> gate{false};
    std::atomic<bool> laterRan{false};
    queue->async([&] {
        while (!gate) std::this_thread::yield();
    });
    queue->async([queue] { delete queue; });  // cannot join itself: detaches
    queue->async([&] { laterRan = true; });
    gate = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!laterRan && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(laterRan.load());
}

}  // namespace
}  // namespace rillow
