#include "platform/Gui.h"
#include "platform/GuiLoop.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

using namespace std::chrono_literals;

constexpr UINT kAdd = WM_USER + 1;
constexpr UINT kRecord = WM_USER + 2;

// A display is named for this process (a desktop loop may start); tests of a desktop loop are
// skipped without one and fail when it is named but the loop does not start.
bool DisplayNamed() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Every test runs once per loop back end linked into the binary ("std" always; "glib" where the
// desktop library is linked, under a display). Each runs on the process's main thread, which it marks
// as the GUI thread; windows created through the fixture are destroyed afterwards so no test sees
// another's windows or timers.
class GuiTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        InitGuiThread();
        if (!SelectLoopBackend(GetParam())) {
            if (!DisplayNamed()) {
                GTEST_SKIP() << "the " << GetParam() << " loop needs a display";
            }
            FAIL() << "the " << GetParam() << " loop did not start";
        }
        ASSERT_EQ(ActiveLoopBackend(), GetParam());
    }
    void TearDown() override {
        // The handlers capture the test body's locals, which are gone by now: destroy quietly.
        tearingDown_ = true;
        for (HWND w : windows_) {
            DestroyWindow(w);
        }
        PumpMessagesUntil([] { return false; }, 10);  // drop leftovers of this test
    }

    HWND Make(WindowHandler handler) {
        HWND w = CreateWindowHandle([this, handler](HWND h, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
            return tearingDown_ ? 0 : handler(h, m, wp, lp);
        });
        windows_.push_back(w);
        return w;
    }

    // Pumps until the future is ready (or 10 s pass); the result, if it came.
    template <typename T>
    std::optional<T> PumpFor(std::future<T>& f) {
        PumpMessagesUntil([&] { return f.wait_for(0s) == std::future_status::ready; }, 10000);
        if (f.wait_for(0s) != std::future_status::ready) {
            return std::nullopt;
        }
        return f.get();
    }

    std::vector<HWND> windows_;
    bool tearingDown_ = false;
};

TEST_P(GuiTest, CrossThreadSendRunsHandlerOnGuiThreadAndReturnsItsResult) {
    std::atomic<int> offGuiCalls{0};
    HWND w = Make([&](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (!IsGuiThread()) {
            ++offGuiCalls;
        }
        return message == kAdd ? static_cast<LRESULT>(wParam) + lParam : 0;
    });
    auto sent = std::async(std::launch::async, [w] {
        EXPECT_FALSE(IsGuiThread());
        LRESULT checked = 0;
        const bool ok = SendMessageChecked(w, kAdd, 40, 2, &checked);
        const LRESULT plain = SendMessage(w, kAdd, 5, -7);
        return std::make_tuple(ok, checked, plain);
    });
    auto r = PumpFor(sent);
    ASSERT_TRUE(r.has_value()) << "send never completed";
    EXPECT_TRUE(std::get<0>(*r));
    EXPECT_EQ(std::get<1>(*r), 42);
    EXPECT_EQ(std::get<2>(*r), -2);
    EXPECT_EQ(offGuiCalls.load(), 0);
}

TEST_P(GuiTest, DeadOrUnknownHandlesFailAtOnceFromAnyThread) {
    int calls = 0;
    HWND w = CreateWindowHandle([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
        ++calls;
        return 1;
    });
    ASSERT_TRUE(DestroyWindow(w));
    ASSERT_EQ(calls, 1);  // WM_DESTROY
    HWND fresh = Make([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 7; });
    EXPECT_NE(fresh, w) << "handles must never be reused";

    for (HWND bad : {w, static_cast<HWND>(nullptr), reinterpret_cast<HWND>(uintptr_t{0xdeadbeef})}) {
        LRESULT result = 99;
        EXPECT_FALSE(SendMessageChecked(bad, kAdd, 1, 2, &result));
        EXPECT_EQ(result, 99);
        EXPECT_EQ(SendMessage(bad, kAdd, 1, 2), 0);
        EXPECT_FALSE(PostMessage(bad, kAdd, 1, 2));
        EXPECT_FALSE(SetTimer(bad, 1, 10));
        EXPECT_FALSE(KillTimer(bad, 1));
        EXPECT_FALSE(IsWindow(bad));
        EXPECT_FALSE(ShowWindow(bad, true));
        EXPECT_FALSE(DestroyWindow(bad));
        // From a worker, with nobody pumping: must not wait for the GUI thread.
        auto f = std::async(std::launch::async, [bad] { return SendMessageChecked(bad, kAdd, 1, 2, nullptr); });
        ASSERT_EQ(f.wait_for(5s), std::future_status::ready) << "send to a dead handle waited";
        EXPECT_FALSE(f.get());
    }
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(SendMessage(fresh, kAdd, 0, 0), 7);
}

TEST_P(GuiTest, WaitingSendFailsPromptlyWhenWindowIsDestroyed) {
    std::atomic<int> added{0};
    int destroys = 0;
    HWND w = CreateWindowHandle([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == kAdd) {
            ++added;
        } else if (message == WM_DESTROY) {
            ++destroys;
        }
        return 1;
    });
    constexpr int kSenders = 3;
    std::atomic<int> started{0};
    std::vector<std::future<bool>> sends;
    for (int i = 0; i < kSenders; ++i) {
        sends.push_back(std::async(std::launch::async, [&, w] {
            ++started;
            return SendMessageChecked(w, kAdd, 0, 0, nullptr);
        }));
    }
    // Nobody pumps, so the senders stay blocked until the window goes.
    while (started.load() < kSenders) {
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(50ms);
    for (auto& f : sends) {
        EXPECT_EQ(f.wait_for(0s), std::future_status::timeout) << "send returned without the GUI thread";
    }
    ASSERT_TRUE(DestroyWindow(w));
    for (auto& f : sends) {
        ASSERT_EQ(f.wait_for(5s), std::future_status::ready) << "a waiting send outlived its window";
        EXPECT_FALSE(f.get());
    }
    PumpMessagesUntil([] { return false; }, 20);
    EXPECT_EQ(added.load(), 0);
    EXPECT_EQ(destroys, 1);
    EXPECT_FALSE(DestroyWindow(w));
}

TEST_P(GuiTest, PostedMessagesAndTasksRunInOrderOnGuiThread) {
    std::vector<int> seen;
    HWND w = Make([&](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        if (message == kRecord) {
            EXPECT_TRUE(IsGuiThread());
            seen.push_back(static_cast<int>(wParam));
        }
        return 0;
    });
    constexpr int kCount = 300;
    auto poster = std::async(std::launch::async, [&, w] {
        for (int i = 0; i < kCount; ++i) {
            if (i % 3 == 0) {
                ASSERT_TRUE(RunOnGuiThread([&seen, i] {
                    EXPECT_TRUE(IsGuiThread());
                    seen.push_back(i);
                }));
            } else {
                ASSERT_TRUE(PostMessage(w, kRecord, static_cast<WPARAM>(i), 0));
            }
        }
    });
    EXPECT_TRUE(PumpMessagesUntil([&] { return seen.size() == kCount; }, 10000));
    poster.get();
    std::vector<int> expected(kCount);
    for (int i = 0; i < kCount; ++i) {
        expected[i] = i;
    }
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(RunOnGuiThread(nullptr));
}

TEST_P(GuiTest, TimersTickUntilKilledOrWindowDestroyed) {
    std::vector<WPARAM> ticks;
    HWND w = Make([&](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        if (message == WM_TIMER) {
            ticks.push_back(wParam);
        }
        return 0;
    });
    ASSERT_TRUE(SetTimer(w, 7, 15));
    ASSERT_TRUE(SetTimer(w, 9, 15));
    auto count = [&](WPARAM id) { return std::count(ticks.begin(), ticks.end(), id); };
    EXPECT_TRUE(PumpMessagesUntil([&] { return count(7) >= 3 && count(9) >= 3; }, 5000));

    EXPECT_TRUE(KillTimer(w, 7));
    EXPECT_FALSE(KillTimer(w, 7));
    ticks.clear();
    PumpMessagesUntil([] { return false; }, 100);
    EXPECT_EQ(count(7), 0) << "killed timer still ticks";
    EXPECT_GE(count(9), 1) << "killing one timer stopped the other";

    // Destroying the window ends its timers too.
    int lateTicks = 0;
    HWND doomed = CreateWindowHandle([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        lateTicks += message == WM_TIMER;
        return 0;
    });
    ASSERT_TRUE(SetTimer(doomed, 1, 10));
    ASSERT_TRUE(DestroyWindow(doomed));
    PumpMessagesUntil([] { return false; }, 60);
    EXPECT_EQ(lateTicks, 0);
}

TEST_P(GuiTest, SettingATimerAgainRestartsItInsteadOfAddingOne) {
    int ticks = 0;
    HWND w = Make([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        ticks += message == WM_TIMER;
        return 0;
    });
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(SetTimer(w, 1, 40));
    }
    PumpMessagesUntil([] { return false; }, 200);
    // At most one tick per 40 ms (no catch-up bursts); five live copies would give about 25.
    EXPECT_GE(ticks, 1);
    EXPECT_LE(ticks, 6);
}

TEST_P(GuiTest, HandlersMayDestroyAndCreateWindowsAndSendReentrantly) {
    std::vector<UINT> log;
    HWND child = nullptr;
    HWND w = Make([&](HWND self, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        log.push_back(message);
        switch (message) {
        case kAdd:
            // Nested send to itself, then a window created, used and destroyed inside the handler.
            if (wParam > 0) {
                return 1 + SendMessage(self, kAdd, wParam - 1, 0);
            }
            child = CreateWindowHandle([](HWND, UINT m, WPARAM, LPARAM) -> LRESULT { return m == kRecord ? 100 : 0; });
            {
                const LRESULT fromChild = SendMessage(child, kRecord, 0, 0);
                EXPECT_TRUE(DestroyWindow(child));
                return fromChild;
            }
        case WM_TIMER:
            // A timer that destroys its own window on the first tick.
            EXPECT_TRUE(DestroyWindow(self));
            EXPECT_FALSE(DestroyWindow(self)) << "destroy re-entered from WM_DESTROY's caller";
            return 0;
        default:
            return 0;
        }
    });
    // Cross-thread send whose handler sends re-entrantly on the GUI thread.
    auto f = std::async(std::launch::async, [w] { return SendMessage(w, kAdd, 3, 0); });
    auto r = PumpFor(f);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, 103);
    EXPECT_FALSE(IsWindow(child));

    ASSERT_TRUE(SetTimer(w, 1, 10));
    EXPECT_TRUE(PumpMessagesUntil([&] { return !IsWindow(w); }, 5000));
    PumpMessagesUntil([] { return false; }, 50);
    EXPECT_EQ(std::count(log.begin(), log.end(), WM_TIMER), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), WM_DESTROY), 1);
}

TEST_P(GuiTest, DestroyDuringWmDestroyIsRefusedAndPostsToDyingWindowFail) {
    bool nestedDestroy = true;
    bool postDuringDestroy = true;
    bool aliveDuringDestroy = false;
    HWND w = CreateWindowHandle([&](HWND self, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_DESTROY) {
            aliveDuringDestroy = IsWindow(self);
            nestedDestroy = DestroyWindow(self);
            postDuringDestroy = PostMessage(self, kRecord, 0, 0);
        }
        return 0;
    });
    ASSERT_TRUE(PostMessage(w, kRecord, 0, 0));
    ASSERT_TRUE(DestroyWindow(w));
    EXPECT_TRUE(aliveDuringDestroy);
    EXPECT_FALSE(nestedDestroy);
    EXPECT_FALSE(postDuringDestroy);
    EXPECT_FALSE(IsWindow(w));
    // A worker may not destroy a window.
    HWND other = Make([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    EXPECT_FALSE(std::async(std::launch::async, [other] { return DestroyWindow(other); }).get());
    EXPECT_TRUE(IsWindow(other));
}

TEST_P(GuiTest, ShowWindowTracksStateAndNotifiesOnlyOnChange) {
    std::vector<WPARAM> shows;
    HWND w = Make([&](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        if (message == WM_SHOWWINDOW) {
            shows.push_back(wParam);
        }
        return 0;
    });
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_TRUE(ShowWindow(w, true));
    EXPECT_TRUE(ShowWindow(w, true));
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_TRUE(ShowWindow(w, false));
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_EQ(shows, (std::vector<WPARAM>{1, 0}));
}

TEST_P(GuiTest, PostQuitMessageEndsLoopWithCodeAfterEarlierPosts) {
    int handled = 0;
    HWND w = Make([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == kRecord) {
            ++handled;
        } else if (message == WM_CLOSE) {
            PostQuitMessage(5);
        }
        return 0;
    });
    std::thread worker([w] {
        for (int i = 0; i < 20; ++i) {
            PostMessage(w, kRecord, 0, 0);
        }
        PostQuitMessage(42);
    });
    EXPECT_EQ(RunMessageLoop(), 42);
    worker.join();
    EXPECT_EQ(handled, 20);

    // From a handler, with a timer running meanwhile.
    ASSERT_TRUE(SetTimer(w, 1, 10));
    ASSERT_TRUE(PostMessage(w, WM_CLOSE, 0, 0));
    EXPECT_EQ(RunMessageLoop(), 5);
}

TEST_P(GuiTest, ManyThreadsSendingConcurrentlyAllGetTheirOwnResults) {
    long total = 0;  // touched only on the GUI thread
    HWND w = Make([&](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message != kAdd) {
            return 0;
        }
        EXPECT_TRUE(IsGuiThread());
        ++total;
        return static_cast<LRESULT>(wParam) * 1000 + lParam;
    });
    constexpr int kThreads = 8;
    constexpr int kSends = 250;
    std::atomic<int> wrong{0};
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t, w] {
            for (int i = 0; i < kSends; ++i) {
                LRESULT r = 0;
                if (!SendMessageChecked(w, kAdd, static_cast<WPARAM>(t), i, &r) || r != t * 1000 + i) {
                    ++wrong;
                }
                if (i % 50 == 0) {
                    PostMessage(w, kRecord, 0, 0);
                }
            }
            ++done;
        });
    }
    const bool finished = PumpMessagesUntil([&] { return done.load() == kThreads; }, 30000);
    if (!finished) {
        // Unblock any stragglers before joining, so a failure cannot hang the run.
        DestroyWindow(w);
    }
    for (auto& t : threads) {
        t.join();
    }
    ASSERT_TRUE(finished);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(total, long{kThreads} * kSends);
}

TEST(GuiHeadless, FollowsEnvironment) {
    struct Case {
        const char* headless;
        const char* display;
        const char* wayland;
        bool expected;
    };
    const Case cases[] = {
        {"1", ":0", nullptr, true},     {nullptr, ":0", nullptr, false}, {nullptr, nullptr, "wayland-0", false},
        {nullptr, nullptr, nullptr, true}, {nullptr, "", "", true},        {"0", ":0", nullptr, false},
    };
    auto save = [](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    auto put = [](const char* name, const char* value) {
        value ? setenv(name, value, 1) : unsetenv(name);
    };
    const auto h = save("SINJO_HEADLESS"), d = save("DISPLAY"), wl = save("WAYLAND_DISPLAY");
    for (const Case& c : cases) {
        put("SINJO_HEADLESS", c.headless);
        put("DISPLAY", c.display);
        put("WAYLAND_DISPLAY", c.wayland);
        EXPECT_EQ(IsHeadless(), c.expected) << (c.headless ? c.headless : "-") << " "
                                            << (c.display ? c.display : "-") << " " << (c.wayland ? c.wayland : "-");
    }
    put("SINJO_HEADLESS", h ? h->c_str() : nullptr);
    put("DISPLAY", d ? d->c_str() : nullptr);
    put("WAYLAND_DISPLAY", wl ? wl->c_str() : nullptr);
}

// Runs in a fresh child process (threadsafe death-test style re-executes the binary), so blocking
// signals and the watcher thread never touch the main test process. Exit code 0 means: the first
// SIGTERM closed the window through WM_CLOSE, and a second one during the "save" did not kill us.
[[noreturn]] void SignalScenario(const std::string& loop) {
    InitGuiThread();
    if (!SelectLoopBackend(loop)) {
        _exit(2);
    }
    int closes = 0;
    HWND main = CreateWindowHandle([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_CLOSE) {
            ++closes;
            kill(getpid(), SIGTERM);  // a second signal while shutting down
            PostQuitMessage(3);
        }
        return 0;
    });
    CloseOnTerminationSignals(main);
    kill(getpid(), SIGTERM);  // process-directed, so the watcher thread takes it
    const bool quit = PumpMessagesUntil([&] { return closes > 0; }, 5000);
    const int code = RunMessageLoop();
    std::this_thread::sleep_for(100ms);  // time for the second signal to arrive and be absorbed
    const char* home = std::getenv("SINJO_HOME");
    if (home != nullptr) {
        std::error_code ec;
        std::filesystem::remove_all(home, ec);  // this child's own profile folder
    }
    _exit(quit && code == 3 && closes == 1 ? 0 : 1);
}

class GuiSignals : public ::testing::TestWithParam<std::string> {};

TEST_P(GuiSignals, TerminationSignalClosesWindowAndRepeatIsAbsorbed) {
    if (GetParam() != "std" && !DisplayNamed()) {
        GTEST_SKIP() << "the " << GetParam() << " loop needs a display";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(SignalScenario(GetParam()), ::testing::ExitedWithCode(0), "already shutting down");
}

std::string LoopName(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

INSTANTIATE_TEST_SUITE_P(Loops, GuiTest, ::testing::ValuesIn(LoopBackendNames()), LoopName);
INSTANTIATE_TEST_SUITE_P(Loops, GuiSignals, ::testing::ValuesIn(LoopBackendNames()), LoopName);

}  // namespace
}  // namespace platform
