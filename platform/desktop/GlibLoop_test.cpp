// The GLib loop beyond what every loop does (those tests are platform/Gui_test.cpp, run on both): the
// choice of the loop at start-up, and work that goes on while a modal GTK dialog runs its own loop.
#include <gtest/gtest.h>

#include <gtk/gtk.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "platform/Gui.h"
#include "platform/GuiLoop.h"
#include "platform/desktop/Desktop.h"
#include "platform/desktop/DesktopTestSupport.h"

namespace platform {
namespace {

using namespace desktop_test;
using namespace std::chrono_literals;

constexpr UINT kAdd = WM_USER + 1;
constexpr UINT kPing = WM_USER + 2;

class GlibLoopTest : public DesktopTest {};

constexpr UINT kOpenDialog = WM_USER + 3;

// Runs a modal dialog named "dialog-<level>" until something answers it.
int RunNamedDialog(int level) {
    GtkWidget* dialog = gtk_dialog_new_with_buttons("Nested", nullptr, GTK_DIALOG_MODAL, "OK", GTK_RESPONSE_OK, nullptr);
    gtk_widget_set_name(dialog, ("dialog-" + std::to_string(level)).c_str());
    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return response;
}

bool AnswerDialog(int level) {
    return OnGui<bool>([level] {
        GtkWindow* dialog = FindWindowNamed(("dialog-" + std::to_string(level)).c_str());
        if (dialog == nullptr) return false;
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
        return true;
    });
}

TEST_F(GlibLoopTest, ModalDialogsOpenedByHandlersKeepServingSendsPostsAndTimers) {
    // A message handler opens a modal dialog; while it is up, another message's handler opens a
    // second one over it (a message box during a dialog). Inside both, a worker's sends, posts and
    // the window's timer must go on: the dialogs' own loops run the GUI thread's work.
    std::atomic<int> posts{0};
    std::atomic<int> ticks{0};
    std::vector<int> responses;
    HWND w = CreateWindowHandle([&](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        EXPECT_TRUE(IsGuiThread());
        if (message == kAdd) return static_cast<LRESULT>(wParam) + lParam;
        if (message == kPing) ++posts;
        if (message == WM_TIMER) ++ticks;
        if (message == kOpenDialog) responses.push_back(RunNamedDialog(static_cast<int>(wParam)));
        return 0;
    });
    auto worker = std::async(std::launch::async, [&, w] {
        for (int level = 1; level <= 2; ++level) {
            if (!EventuallyOnGui([level] { return FindWindowNamed(("dialog-" + std::to_string(level)).c_str()) != nullptr; })) {
                return "dialog " + std::to_string(level) + " never showed";
            }
            const int ticksBefore = OnGui<int>([&] { return ticks.load(); });
            const int postsBefore = posts.load();
            LRESULT sum = 0;
            if (!SendMessageChecked(w, kAdd, 40, level, &sum) || sum != 40 + level) return std::string("send not served");
            for (int i = 0; i < 5; ++i) PostMessage(w, kPing, 0, 0);
            if (!EventuallyOnGui([&] { return posts.load() == postsBefore + 5; })) return std::string("posts not served");
            if (!EventuallyOnGui([&] { return ticks.load() >= ticksBefore + 3; })) return std::string("timer stopped");
            if (level == 1) PostMessage(w, kOpenDialog, 2, 0);
        }
        if (!AnswerDialog(2)) return std::string("dialog 2 gone");
        if (!EventuallyOnGui([] { return FindWindowNamed("dialog-2") == nullptr; })) return std::string("dialog 2 stays");
        if (!AnswerDialog(1)) return std::string("dialog 1 gone");
        return std::string("ok");
    });
    ASSERT_TRUE(SetTimer(w, 1, 10));
    CloseDialogsAfter(30);
    ASSERT_TRUE(PostMessage(w, kOpenDialog, 1, 0));
    EXPECT_TRUE(WaitFor([&] { return responses.size() == 2; }, 40000));
    ASSERT_EQ(worker.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(worker.get(), "ok");
    EXPECT_EQ(responses, (std::vector<int>{GTK_RESPONSE_OK, GTK_RESPONSE_OK}));
    DestroyWindow(w);
}

TEST_F(GlibLoopTest, PumpingFromInsideAGlibCallbackRunsWorkInOrderOnce) {
    // A GLib callback (any GTK signal handler is one) that pumps the GUI loop itself, as a handler
    // waiting for an answer would: the nested pump must run the queued work in order, exactly once.
    struct State {
        HWND window = nullptr;
        std::vector<int> seen;
        bool nestedDone = false;
    } state;
    state.window = CreateWindowHandle([&state](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        if (message == kPing) state.seen.push_back(static_cast<int>(wParam));
        return 0;
    });
    g_idle_add(+[](gpointer data) -> gboolean {
        auto* s = static_cast<State*>(data);
        for (int i = 0; i < 50; ++i) PostMessage(s->window, kPing, static_cast<WPARAM>(i), 0);
        s->nestedDone = PumpMessagesUntil([s] { return s->seen.size() >= 50; }, 5000);
        return G_SOURCE_REMOVE;
    }, &state);
    ASSERT_TRUE(WaitFor([&] { return state.nestedDone; }, 10000));
    Settle(20);
    std::vector<int> expected(50);
    for (int i = 0; i < 50; ++i) expected[i] = i;
    EXPECT_EQ(state.seen, expected);
    DestroyWindow(state.window);
}

// Each scenario runs in a fresh child process (the loop is chosen once per process) and exits 0 when
// InitGuiThread chose as expected.
[[noreturn]] void ChoiceScenario(const char* display, const char* headless, const std::string& expectedLoop,
                                 bool expectedHeadless) {
    display != nullptr ? setenv("DISPLAY", display, 1) : unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    headless != nullptr ? setenv("SINJO_HEADLESS", headless, 1) : unsetenv("SINJO_HEADLESS");
    InitGuiThread();
    const bool ok = ActiveLoopBackend() == expectedLoop && IsHeadless() == expectedHeadless &&
                    DesktopRunning() == !expectedHeadless;
    std::fflush(stderr);
    _exit(ok ? 0 : 1);
}

TEST(GlibLoopChoice, DesktopWithADisplayStdWithoutOrWhenItCannotBeOpened) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') GTEST_SKIP() << "needs a display";
    const std::string real = display;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ChoiceScenario(real.c_str(), nullptr, "glib", false), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(ChoiceScenario(real.c_str(), "1", "std", true), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(ChoiceScenario(nullptr, nullptr, "std", true), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(ChoiceScenario(":4093", nullptr, "std", true), ::testing::ExitedWithCode(0),
                "the display \":4093\" cannot be opened; running without windows");
}

}  // namespace
}  // namespace platform
