// Simulated time: threads take turns and the clock jumps.
#include "platform/sim_time.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace {

// One process can switch to simulated time once; the tests share it.
void EnsureSimulated() {
    if (!platform::sim::Active()) platform::sim::Start(1000000);
}

TEST(SimTimeTest, SleepingThreadsInterleaveByWakeTime) {
    EnsureSimulated();
    int64_t t0 = platform::NowMs();
    std::string trace;
    platform::Thread worker;
    worker.Start([&] {
        for (int i = 0; i < 3; ++i) {
            platform::SleepMs(10000);
            trace += "w" + std::to_string((platform::NowMs() - t0) / 1000) + " ";
        }
    });
    for (int i = 0; i < 2; ++i) {
        platform::SleepMs(15000);
        trace += "m" + std::to_string((platform::NowMs() - t0) / 1000) + " ";
    }
    worker.Join();
    // Threads due at the same time run in the order they were made.
    EXPECT_EQ(trace, "w10 m15 w20 m30 w30 ");
}

TEST(SimTimeTest, MutexHeldAcrossASleepHoldsTheOtherThreadBack) {
    EnsureSimulated();
    int64_t t0 = platform::NowMs();
    platform::Mutex lock;
    int64_t gotItAt = -1;
    platform::Thread worker;
    {
        platform::MutexLock held(lock);
        worker.Start([&] {
            platform::MutexLock mine(lock);
            gotItAt = platform::NowMs() - t0;
        });
        platform::SleepMs(8000);  // the worker runs now and waits for the lock
    }
    worker.Join();
    EXPECT_EQ(gotItAt, 8000);
}

TEST(SimTimeTest, SignalWakesBeforeTheDeadline) {
    EnsureSimulated();
    int64_t t0 = platform::NowMs();
    platform::Mutex mu;
    platform::Signal signal;
    bool stop = false;
    bool notified = false;
    platform::Thread worker;
    worker.Start([&] {
        platform::MutexLock lock(mu);
        while (!stop) notified = signal.WaitUntil(lock, platform::NowMs() + 60000);
    });
    platform::SleepMs(2500);
    {
        platform::MutexLock lock(mu);
        stop = true;
    }
    signal.NotifyAll();
    worker.Join();
    EXPECT_TRUE(notified);
    EXPECT_EQ(platform::NowMs() - t0, 2500);
}

// Misuse that a real lock would turn into a hang or undefined behaviour ends
// the run at once, naming the lock and the thread.
TEST(SimTimeDeathTest, LockMisuseAbortsNamingLockAndThread) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            EnsureSimulated();
            platform::Mutex twice("sendLock");
            twice.lock();
            twice.lock();
        },
        "thread 'main' takes a lock it already holds: 'sendLock'");
    EXPECT_DEATH(
        {
            EnsureSimulated();
            platform::Mutex never("logLock");
            never.unlock();
        },
        "thread 'main' releases a lock it does not hold: 'logLock'");
    EXPECT_DEATH(
        {
            EnsureSimulated();
            platform::Mutex mains("held by main");
            platform::MutexLock held(mains);
            platform::Thread worker("worker");
            worker.Start([&] { mains.unlock(); });
            platform::SleepMs(1000);
        },
        "thread 'worker' releases a lock it does not hold: 'held by main'");
}

TEST(SimTimeDeathTest, AThreadTheSimulationDoesNotKnowAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            EnsureSimulated();
            std::thread stranger([] { platform::SleepMs(10); });
            stranger.join();
        },
        "a thread not started through platform::Thread");
}

}  // namespace
