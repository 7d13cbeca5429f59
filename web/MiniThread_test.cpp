#include "web/MiniThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/Tick.h"

namespace {

using namespace std::chrono_literals;

// A one-shot gate that test threads wait on.
class Gate final {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(mu_);
        open_ = true;
        cv_.notify_all();
    }
    bool WaitOpen(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, timeout, [this] { return open_; });
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    bool open_ = false;
};

// A worker whose first `stubbornRuns` runs ignore the stop event and only end when `release` opens;
// later runs poll the stop event like a well-behaved loop. Every run ends with ReleaseThreadHandle,
// then reports that it no longer touches the object. The test object outlives all its threads
// (each test waits for `finished` before the object goes away).
class Worker final : public nutl::CMiniThread {
public:
    explicit Worker(int stubbornRuns = 0) : stubbornRuns_(stubbornRuns) {}

    uint32_t Run() override {
        const int run = ++runs;
        if (run <= stubbornRuns_) {
            release.WaitOpen(10s);
        } else {
            while (!m_stopEvent.Wait(5)) {
            }
        }
        ReleaseThreadHandle();
        ++finished;
        return 0;
    }

    bool StopEventSet() const { return m_stopEvent.IsSet(); }

    bool WaitFinished(int count) {
        for (int i = 0; i < 5000 && finished.load() < count; ++i) {
            platform::Sleep(1);
        }
        return finished.load() >= count;
    }

    std::atomic<int> runs{0};
    std::atomic<int> finished{0};
    Gate release;

private:
    const int stubbornRuns_;
};

uint32_t ElapsedSince(uint32_t start) { return platform::GetTickCount() - start; }

TEST(MiniThread, StopOnNeverStartedObjectReturnsAtOnceWithoutSettingTheEvent) {
    Worker w;
    const uint32_t start = platform::GetTickCount();
    w.Stop(2000);
    EXPECT_LT(ElapsedSince(start), 1000u);
    EXPECT_FALSE(w.StopEventSet());
    EXPECT_FALSE(w.IsRunning());
    EXPECT_EQ(w.runs.load(), 0);
}

TEST(MiniThread, PollingRunSeesStopAndStopReturnsEarly) {
    Worker w;
    ASSERT_TRUE(w.Start());
    EXPECT_TRUE(w.IsRunning());
    const uint32_t start = platform::GetTickCount();
    w.Stop(10000);
    EXPECT_LT(ElapsedSince(start), 5000u);
    EXPECT_FALSE(w.IsRunning());
    ASSERT_TRUE(w.WaitFinished(1));
    EXPECT_FALSE(w.StopEventSet()) << "the run's Wait should have consumed the auto-reset event";
}

TEST(MiniThread, StopZeroOnRunningThreadReturnsAtOnceWithNullHandle) {
    Worker w(1);
    ASSERT_TRUE(w.Start());
    const uint32_t start = platform::GetTickCount();
    w.Stop(0);
    EXPECT_LT(ElapsedSince(start), 1000u);
    EXPECT_FALSE(w.IsRunning());
    EXPECT_TRUE(w.StopEventSet());
    // The abandoned thread ends later; its release must not bring the handle back to life.
    w.release.Open();
    ASSERT_TRUE(w.WaitFinished(1));
    EXPECT_FALSE(w.IsRunning());
}

TEST(MiniThread, ThreadOverrunningTimeoutIsAbandonedAfterTheTimeout) {
    Worker w(1);
    ASSERT_TRUE(w.Start());
    const uint32_t start = platform::GetTickCount();
    w.Stop(50);
    EXPECT_GE(ElapsedSince(start), 50u);
    EXPECT_FALSE(w.IsRunning());
    EXPECT_EQ(w.finished.load(), 0);
    w.release.Open();
    ASSERT_TRUE(w.WaitFinished(1));
}

TEST(MiniThread, StartTwiceStartsOneThread) {
    Worker w(1);
    ASSERT_TRUE(w.Start());
    ASSERT_TRUE(w.Start());
    platform::Sleep(20);
    w.release.Open();
    ASSERT_TRUE(w.WaitFinished(1));
    platform::Sleep(20);
    EXPECT_EQ(w.runs.load(), 1);
    EXPECT_FALSE(w.IsRunning());
}

TEST(MiniThread, RestartAfterForcedStopIgnoresOldRequestAndLateRelease) {
    Worker w(1);
    ASSERT_TRUE(w.Start());
    for (int i = 0; i < 5000 && w.runs.load() < 1; ++i) {
        platform::Sleep(1);
    }
    ASSERT_EQ(w.runs.load(), 1);
    w.Stop(0);  // abandons the stubborn first run; its stop request stays set
    ASSERT_TRUE(w.StopEventSet());

    ASSERT_TRUE(w.Start());  // the second run polls the stop event
    EXPECT_FALSE(w.StopEventSet());
    for (int i = 0; i < 1000 && w.runs.load() < 2; ++i) {
        platform::Sleep(1);
    }
    ASSERT_EQ(w.runs.load(), 2);

    // The first run ends now and releases late: the second run's handle must survive that.
    w.release.Open();
    for (int i = 0; i < 2000 && w.finished.load() < 1; ++i) {
        platform::Sleep(1);
    }
    ASSERT_EQ(w.finished.load(), 1);
    platform::Sleep(30);
    EXPECT_TRUE(w.IsRunning()) << "old stop request or late release ended the new run";

    w.Stop(10000);
    EXPECT_FALSE(w.IsRunning());
    ASSERT_TRUE(w.WaitFinished(2));
}

TEST(MiniThread, FinishedObjectCanBeStartedAgain) {
    Worker w;
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(w.Start());
        w.Stop(10000);
        EXPECT_FALSE(w.IsRunning());
        ASSERT_TRUE(w.WaitFinished(round));
    }
    EXPECT_EQ(w.runs.load(), 3);
}

TEST(MiniThread, BaseRunReleasesItsHandle) {
    nutl::CMiniThread t;
    ASSERT_TRUE(t.Start());
    for (int i = 0; i < 5000 && t.IsRunning(); ++i) {
        platform::Sleep(1);
    }
    // Destroyed right away: the released thread must no longer touch the object.
    EXPECT_FALSE(t.IsRunning());
}

}  // namespace
