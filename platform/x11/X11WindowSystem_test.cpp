// Runs on a private virtual display (tests/support/with-display.sh), with a window manager and
// without one: ctest runs this binary both ways.
#include "platform/x11/X11WindowSystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/WindowSearch.h"
#include "platform/x11/X11TestClient.h"

#include <X11/keysym.h>

namespace platform::winsys {
namespace {

using x11test::X11TestClient;

// Errors of connections that are not the back end's must still reach the handler that was there
// before. This one is installed before any test runs, so before the back end's first connection.
std::atomic<int> g_foreignErrors{0};
int CountForeignError(Display*, XErrorEvent*) {
    ++g_foreignErrors;
    return 0;
}
class ForeignErrorHandler : public ::testing::Environment {
public:
    void SetUp() override { XSetErrorHandler(CountForeignError); }
};
[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new ForeignErrorHandler);

class X11WindowSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr)
            GTEST_SKIP() << "needs an X display (tests/support/with-display.sh)";
        const char* headless = std::getenv("SINJO_HEADLESS");
        if (headless != nullptr) savedHeadless_ = headless;
        unsetenv("SINJO_HEADLESS");  // the test runner sets it; here the display is the point
        ASSERT_TRUE(client_.Connected());
        system_ = ConnectX11WindowSystem();
        ASSERT_NE(system_, nullptr);
    }
    void TearDown() override {
        if (savedHeadless_) setenv("SINJO_HEADLESS", savedHeadless_->c_str(), 1);
    }

    // Normalised absolute coordinates of a pixel, as a caller of SendInput computes them.
    Input MouseAt(int x, int y, uint32_t flags) {
        const ScreenSize screen = system_->GetScreenSize();
        Input input;
        input.type = INPUT_MOUSE;
        input.mi.dx = static_cast<int32_t>(int64_t{x} * kNormalisedMax / screen.width);
        input.mi.dy = static_cast<int32_t>(int64_t{y} * kNormalisedMax / screen.height);
        input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
        return input;
    }

    static Input Key(uint16_t vk, bool up) {
        Input input;
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.wScan = MapVirtualKeyToScanCode(vk);
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        return input;
    }

    X11TestClient client_;
    std::unique_ptr<WindowSystem> system_;
    std::optional<std::string> savedHeadless_;
};

TEST_F(X11WindowSystemTest, FindsTopLevelWindowsByTheirExactTitle) {
    const ::Window utf8 = client_.CreateWindow("ImTOO DVD Ripper \xE4\xB8\xAD", "Ripper", 10, 10, 200, 100);
    const ::Window latin1 = client_.CreateWindow("Caf\xE9 Ripper", "Ripper", 50, 50, 200, 100, 0,
                                                 X11TestClient::TitleProperty::WmNameOnly);
    EXPECT_STREQ(system_->Name(), "x11");
    EXPECT_EQ(system_->FindTopLevelWindow(L"ImTOO DVD Ripper \u4E2D"), utf8);  // _NET_WM_NAME, UTF-8
    EXPECT_EQ(system_->FindTopLevelWindow(L"Caf\u00E9 Ripper"), latin1);       // WM_NAME only, Latin-1
    EXPECT_EQ(system_->FindTopLevelWindow(L"ImTOO DVD Ripper"), kNoWindow);    // no prefix matches
    EXPECT_EQ(system_->FindTopLevelWindow(L"imtoo dvd ripper \u4E2D"), kNoWindow);
    EXPECT_EQ(system_->FindTopLevelWindow(L"fallback title"), kNoWindow);  // _NET_WM_NAME wins
    EXPECT_EQ(system_->GetWindowText(utf8, 259), L"ImTOO DVD Ripper \u4E2D");
    EXPECT_EQ(system_->GetWindowText(utf8, 5), L"ImTOO");
    EXPECT_EQ(system_->GetClassName(latin1, 259), L"Ripper");
    EXPECT_EQ(system_->GetParent(utf8), kNoWindow);  // top-level, whatever frame a manager put around it
    client_.Destroy(utf8);
    client_.Destroy(latin1);
    EXPECT_EQ(system_->FindTopLevelWindow(L"Caf\u00E9 Ripper"), kNoWindow);
}

TEST_F(X11WindowSystemTest, BringsAWindowToTheForegroundAndReadsItBack) {
    const ::Window a = client_.CreateWindow("Window A", "Test", 0, 0, 300, 200);
    const ::Window b = client_.CreateWindow("Window B", "Test", 400, 0, 300, 200);
    for (const ::Window target : {a, b, a}) {
        EXPECT_TRUE(system_->SetForegroundWindow(target));
        EXPECT_TRUE(X11TestClient::WaitFor([&] { return system_->GetForegroundWindow() == target; }))
            << target;
        EXPECT_EQ(client_.ActiveWindow(), target);
    }
    client_.Destroy(a);
    client_.Destroy(b);
}

TEST_F(X11WindowSystemTest, FeedsPointerAndKeysThroughXTest) {
    const ::Window window = client_.CreateWindow("Input target", "Test", 100, 100, 400, 300);
    client_.Activate(window);
    Rect rect;
    ASSERT_TRUE(system_->GetWindowRect(window, &rect));
    EXPECT_EQ(rect.right - rect.left, 400);
    EXPECT_EQ(rect.bottom - rect.top, 300);

    // Every pixel normalised as x * 65535 / width comes back to the same pixel.
    for (const auto& [x, y] :
         {std::pair{0, 0}, std::pair{1, 1}, std::pair{957, 611}, std::pair{1919, 1079}}) {
        const Input move = MouseAt(x, y, MOUSEEVENTF_MOVE);
        EXPECT_EQ(system_->SendInput(std::span<const Input>(&move, 1)), 1u);
        int px = -1, py = -1;
        client_.PointerPosition(&px, &py);
        EXPECT_EQ(px, x);
        EXPECT_EQ(py, y);
    }

    const int cx = (rect.left + rect.right) / 2, cy = (rect.top + rect.bottom) / 2;
    const Input click[] = {MouseAt(cx, cy, MOUSEEVENTF_MOVE), MouseAt(cx, cy, MOUSEEVENTF_RIGHTDOWN),
                           MouseAt(cx, cy, MOUSEEVENTF_RIGHTUP)};
    EXPECT_EQ(system_->SendInput(click), 3u);
    XEvent event{};
    ASSERT_TRUE(client_.NextEvent(window, ButtonPress, &event));
    EXPECT_EQ(event.xbutton.button, 3u);  // right
    EXPECT_EQ(event.xbutton.x, cx - rect.left);
    EXPECT_EQ(event.xbutton.y, cy - rect.top);
    ASSERT_TRUE(client_.NextEvent(window, ButtonRelease, &event));
    EXPECT_EQ(event.xbutton.button, 3u);

    const Input keys[] = {Key(VK_DOWN, false), Key(VK_DOWN, true), Key('Q', false), Key('Q', true)};
    EXPECT_EQ(system_->SendInput(keys), 4u);
    for (const KeySym expected : {XK_Down, XK_q}) {
        ASSERT_TRUE(client_.NextEvent(window, KeyPress, &event));
        EXPECT_EQ(XLookupKeysym(&event.xkey, 0), expected);
        ASSERT_TRUE(client_.NextEvent(window, KeyRelease, &event));
        EXPECT_EQ(XLookupKeysym(&event.xkey, 0), expected);
    }
    const Input unknown = Key(0xE8, false);  // a virtual key with no key symbol
    EXPECT_EQ(system_->SendInput(std::span<const Input>(&unknown, 1)), 0u);
    client_.Destroy(window);
}

TEST_F(X11WindowSystemTest, LooksInsideWindowsButFindsNoControlIds) {
    const ::Window top = client_.CreateWindow("Panel test", "Test", 200, 200, 400, 300);
    const ::Window panel = client_.CreateWindow("", "", 10, 20, 300, 200, top);
    const ::Window label = client_.CreateWindow("Audio:", "Static", 5, 6, 50, 20, panel,
                                                X11TestClient::TitleProperty::WmNameOnly);
    const ::Window later = client_.CreateWindow("Audio:", "Static", 100, 6, 50, 20, top,
                                                X11TestClient::TitleProperty::WmNameOnly);

    EXPECT_EQ(FindDescendantByClassAndText(*system_, top, L"Static", L"Audio:"), label);  // depth-first
    EXPECT_EQ(FindDescendantByClassAndText(*system_, top, L"Static", L"Zoom:"), kNoWindow);
    EXPECT_EQ(FindDescendantByClassAndText(*system_, top, L"SysListView32", L""), kNoWindow);
    EXPECT_EQ(FindDescendantById(*system_, top, 1030), kNoWindow);
    EXPECT_EQ(system_->GetParent(label), panel);
    EXPECT_EQ(system_->GetParent(panel), top);
    EXPECT_EQ(system_->GetDlgCtrlID(label), 0);
    EXPECT_EQ(system_->SendMessage(label, LVM_GETITEMCOUNT, 0, 0), 0);
    Rect topRect, labelRect;
    ASSERT_TRUE(system_->GetWindowRect(top, &topRect));
    ASSERT_TRUE(system_->GetWindowRect(label, &labelRect));
    EXPECT_EQ(labelRect.left - topRect.left, 10 + 5);
    EXPECT_EQ(labelRect.top - topRect.top, 20 + 6);
    EXPECT_EQ(labelRect.right - labelRect.left, 50);

    // A window that is gone gives empty answers, and its errors stay with the back end.
    client_.Destroy(top);
    const int foreignBefore = g_foreignErrors.load();
    EXPECT_EQ(system_->GetClassName(later, 259), L"");
    EXPECT_EQ(system_->GetWindowText(later, 259), L"");
    EXPECT_FALSE(system_->GetWindowRect(later, &labelRect));
    EXPECT_EQ(system_->GetParent(later), kNoWindow);
    EXPECT_EQ(FindDescendantByClassAndText(*system_, top, nullptr, nullptr), kNoWindow);
    EXPECT_EQ(g_foreignErrors.load(), foreignBefore);
    // The same mistake on another connection still reaches that connection's handler.
    XWindowAttributes attributes{};
    EXPECT_EQ(XGetWindowAttributes(client_.display(), later, &attributes), 0);
    EXPECT_EQ(g_foreignErrors.load(), foreignBefore + 1);
}

TEST_F(X11WindowSystemTest, ScreenSizeAndTheChoiceOfBackEnd) {
    const ScreenSize size = system_->GetScreenSize();
    EXPECT_EQ(size.width, DisplayWidth(client_.display(), DefaultScreen(client_.display())));
    EXPECT_EQ(size.height, DisplayHeight(client_.display(), DefaultScreen(client_.display())));

    EXPECT_STREQ(CreateWindowSystem()->Name(), "x11");
    setenv("SINJO_HEADLESS", "1", 1);
    EXPECT_STREQ(CreateWindowSystem()->Name(), "headless");
    unsetenv("SINJO_HEADLESS");
    const std::string display = std::getenv("DISPLAY");
    setenv("DISPLAY", ":4093", 1);  // a display nobody runs: no connection, so headless
    EXPECT_STREQ(CreateWindowSystem()->Name(), "headless");
    EXPECT_EQ(ConnectX11WindowSystem(":4093"), nullptr);
    unsetenv("DISPLAY");
    EXPECT_STREQ(CreateWindowSystem()->Name(), "headless");
    setenv("DISPLAY", display.c_str(), 1);
}

}  // namespace
}  // namespace platform::winsys
