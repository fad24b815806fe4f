#include "platform/Tasks.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

using namespace rillow;
using rillow::test::waitUntil;
using namespace std::chrono_literals;

TEST(Tasks, SleepElapsesOrEndsAtCancel) {
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(test::await(sleepFor(120ms)));
    EXPECT_GE(clock.elapsed(), 115);

    CancelToken token;
    QTimer::singleShot(50, [token] { token.cancel(); });
    clock.restart();
    EXPECT_FALSE(test::await(sleepFor(10s, token)));
    EXPECT_LT(clock.elapsed(), 2000);

    EXPECT_FALSE(test::await(sleepFor(10s, token))) << "an already cancelled token ends at once";
}

TEST(Tasks, HandleCancelsAndReportsTheEnd) {
    int steps = 0;
    TaskHandle handle = startTask(nullptr, [&steps](CancelToken token) -> QCoro::Task<> {
        while (co_await sleepFor(20ms, token)) ++steps;
    });
    EXPECT_TRUE(handle.isRunning());
    ASSERT_TRUE(waitUntil([&] { return steps >= 3; }));
    handle.cancel();
    EXPECT_TRUE(handle.isCancelled());
    ASSERT_TRUE(waitUntil([&] { return !handle.isRunning(); }));
    const int stopped = steps;
    QElapsedTimer clock;
    clock.start();
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(steps, stopped);
}

TEST(Tasks, OwnerDestructionCancelsAndCallbacksRunOnce) {
    auto* owner = new QObject;
    bool finishedNormally = false;
    TaskHandle handle = startTask(owner, [&finishedNormally](CancelToken token) -> QCoro::Task<> {
        finishedNormally = co_await sleepFor(10s, token);
    });
    int calls = 0;
    const int removed = handle.token().onCancel([&] { calls += 100; });
    handle.token().onCancel([&] { ++calls; });
    handle.token().removeOnCancel(removed);
    delete owner;
    EXPECT_TRUE(handle.isCancelled());
    ASSERT_TRUE(waitUntil([&] { return !handle.isRunning(); }));
    EXPECT_FALSE(finishedNormally);
    handle.cancel();
    EXPECT_EQ(calls, 1);
    handle.token().onCancel([&] { calls += 10; });  // already cancelled: runs at once
    EXPECT_EQ(calls, 11);
}

TEST(Tasks, BackgroundWorkResumesOnTheMainThread) {
    QThread* mainThread = QThread::currentThread();
    QThread* workerThread = nullptr;
    QThread* resumedOn = nullptr;
    int result = 0;
    TaskHandle handle = startTask(nullptr, [&](CancelToken) -> QCoro::Task<> {
        result = co_await runInBackground([&workerThread] {
            workerThread = QThread::currentThread();
            return 42;
        });
        resumedOn = QThread::currentThread();
    });
    ASSERT_TRUE(waitUntil([&] { return !handle.isRunning(); }));
    EXPECT_EQ(result, 42);
    EXPECT_NE(workerThread, mainThread);
    EXPECT_EQ(resumedOn, mainThread);
}
