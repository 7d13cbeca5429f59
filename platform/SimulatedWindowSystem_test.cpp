#include "platform/SimulatedWindowSystem.h"

#include <gtest/gtest.h>

#include <vector>

namespace platform::winsys {
namespace {

using Kind = SimulatedWindowSystem::EventKind;

Input Mouse(int32_t dx, int32_t dy, uint32_t flags) {
    Input input;
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = flags;
    return input;
}

Input Key(uint16_t vk, bool up) {
    Input input;
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

void Send(SimulatedWindowSystem& desktop, const Input& input) {
    desktop.SendInput(std::span<const Input>(&input, 1));
}

// Presses the left button at a pixel, through normalised absolute coordinates.
void ClickPixel(SimulatedWindowSystem& desktop, int32_t x, int32_t y) {
    const ScreenSize screen = desktop.GetScreenSize();
    const int32_t dx = static_cast<int32_t>(int64_t{x} * kNormalisedMax / screen.width);
    const int32_t dy = static_cast<int32_t>(int64_t{y} * kNormalisedMax / screen.height);
    Send(desktop, Mouse(dx, dy, MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE));
    Send(desktop, Mouse(dx, dy, MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE));
    Send(desktop, Mouse(dx, dy, MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE));
}

TEST(SimulatedWindowSystemTest, NormalisedPointsLandOnTheirPixel) {
    for (const ScreenSize screen : {ScreenSize{1920, 1080}, ScreenSize{1366, 768}, ScreenSize{3840, 2160},
                                    ScreenSize{641, 479}, ScreenSize{1, 1}}) {
        SimulatedWindowSystem desktop(SimulatedWindowSystem::Clock::Virtual, screen);
        for (int32_t x = 0; x < screen.width; ++x) {
            const int32_t y = x % screen.height;
            Send(desktop, Mouse(static_cast<int32_t>(int64_t{x} * kNormalisedMax / screen.width),
                                static_cast<int32_t>(int64_t{y} * kNormalisedMax / screen.height),
                                MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE));
            ASSERT_EQ(desktop.PointerX(), x) << screen.width;
            ASSERT_EQ(desktop.PointerY(), y) << screen.height;
        }
    }
    // Without MOUSEEVENTF_MOVE coordinates are ignored; relative moves go by pixels.
    SimulatedWindowSystem desktop;
    Send(desktop, Mouse(kNormalisedMax, kNormalisedMax, MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE));
    EXPECT_EQ(desktop.PointerX(), 0);
    Send(desktop, Mouse(5, -3, MOUSEEVENTF_MOVE));
    Send(desktop, Mouse(5, 10, MOUSEEVENTF_MOVE));
    EXPECT_EQ(desktop.PointerX(), 10);
    EXPECT_EQ(desktop.PointerY(), 7);
}

TEST(SimulatedWindowSystemTest, ControlsAnswerAsThePlatformsDo) {
    SimulatedWindowSystem desktop;
    const WindowId top = desktop.AddTopLevelWindow(L"T", L"Frame", {0, 0, 100, 100});
    const WindowId combo = desktop.AddChildWindow(top, L"ComboBox", L"", 1030, {0, 0, 50, 20});
    const WindowId list = desktop.AddChildWindow(top, L"SysListView32", L"", 0, {0, 20, 50, 100});
    const WindowId label = desktop.AddChildWindow(top, L"Static", L"Audio:", 0, {50, 0, 100, 20});
    desktop.SetItemCount(combo, 3);
    desktop.SetItemCount(list, 5);

    EXPECT_EQ(desktop.SendMessage(combo, CB_SETCURSEL, 2, 0), 2);
    EXPECT_EQ(desktop.Selection(combo), 2);
    EXPECT_EQ(desktop.SendMessage(combo, CB_SETCURSEL, 3, 0), CB_ERR);  // out of range: cleared
    EXPECT_EQ(desktop.Selection(combo), -1);
    EXPECT_EQ(desktop.SendMessage(list, LVM_GETITEMCOUNT, 0, 0), 5);
    EXPECT_EQ(desktop.SendMessage(label, LVM_GETITEMCOUNT, 0, 0), 0);  // not a list
    EXPECT_EQ(desktop.SendMessage(label, WM_COMMAND, MakeWParam(1030, CBN_SELCHANGE), 0), 0);
    EXPECT_EQ(desktop.SendMessage(99, CB_GETCOUNT, 0, 0), 0);  // no such window: not delivered

    // Every delivered message is in the log, in order.
    const std::vector<UINT> expected = {CB_SETCURSEL, CB_SETCURSEL, LVM_GETITEMCOUNT, LVM_GETITEMCOUNT,
                                        WM_COMMAND};
    std::vector<UINT> seen;
    for (const auto& event : desktop.Events()) seen.push_back(event.message);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(desktop.Events().back().wParam, MakeWParam(1030, CBN_SELCHANGE));
    EXPECT_EQ(desktop.Events().back().window, label);
}

TEST(SimulatedWindowSystemTest, TheListFollowsClicksAndArrowKeys) {
    SimulatedWindowSystem desktop;
    const WindowId top = desktop.AddTopLevelWindow(L"Ripper", L"Frame", {100, 100, 700, 500});
    const WindowId list = desktop.AddChildWindow(top, L"SysListView32", L"", 0, {120, 200, 520, 400});
    const WindowId other = desktop.AddTopLevelWindow(L"Other", L"Frame", {800, 0, 900, 100});
    desktop.SetItemCount(list, 3);

    ClickPixel(desktop, 200, 200 + 2 * SimulatedWindowSystem::kListRowHeight + 5);  // third row
    EXPECT_EQ(desktop.GetForegroundWindow(), top);  // a click brings the window to the front
    EXPECT_EQ(desktop.FocusWindow(), list);
    EXPECT_EQ(desktop.Selection(list), 2);
    ClickPixel(desktop, 200, 300);  // below the last row
    EXPECT_EQ(desktop.Selection(list), -1);

    struct Step {
        uint16_t vk;
        int32_t selection;
    };
    const Step steps[] = {{VK_DOWN, 0}, {VK_DOWN, 1}, {VK_DOWN, 2}, {VK_DOWN, 2},
                          {VK_UP, 1},   {VK_UP, 0},   {VK_UP, 0},   {VK_SHIFT, 0}};
    for (const Step& step : steps) {
        Send(desktop, Key(step.vk, false));
        Send(desktop, Key(step.vk, true));  // releases change nothing
        EXPECT_EQ(desktop.Selection(list), step.selection) << step.vk;
    }
    ClickPixel(desktop, 200, 300);
    Send(desktop, Key(VK_UP, false));  // from no selection, Up selects the first item
    EXPECT_EQ(desktop.Selection(list), 0);
    EXPECT_EQ(desktop.KeysDown(), std::set<uint16_t>{VK_UP});
    Send(desktop, Key(VK_UP, true));
    EXPECT_TRUE(desktop.KeysDown().empty());

    // Keys reach the focused list only while its window is in the foreground.
    desktop.PutInForeground(other);
    const size_t before = desktop.Events().size();
    Send(desktop, Key(VK_DOWN, false));
    EXPECT_EQ(desktop.Selection(list), 0);
    EXPECT_EQ(desktop.Events().size(), before + 1);
    EXPECT_EQ(desktop.Events().back().window, kNoWindow);  // logged as going nowhere
}

TEST(SimulatedWindowSystemTest, ForegroundRequestsTakeTheirTimeOnTheVirtualClock) {
    SimulatedWindowSystem desktop;
    const WindowId a = desktop.AddTopLevelWindow(L"A", L"Frame", {0, 0, 10, 10});
    const WindowId child = desktop.AddChildWindow(a, L"Static", L"", 0, {0, 0, 5, 5});
    const WindowId b = desktop.AddTopLevelWindow(L"B", L"Frame", {0, 0, 10, 10});
    EXPECT_EQ(desktop.FindTopLevelWindow(L"B"), b);
    EXPECT_EQ(desktop.FindTopLevelWindow(L"b"), kNoWindow);
    EXPECT_EQ(desktop.GetForegroundWindow(), kNoWindow);

    EXPECT_TRUE(desktop.SetForegroundWindow(a));
    EXPECT_EQ(desktop.GetForegroundWindow(), a);  // no delay at first

    desktop.SetForegroundDelay(300);
    EXPECT_TRUE(desktop.SetForegroundWindow(b));
    desktop.Sleep(299);
    EXPECT_EQ(desktop.GetForegroundWindow(), a);
    desktop.Sleep(1);
    EXPECT_EQ(desktop.GetForegroundWindow(), b);
    EXPECT_EQ(desktop.NowMs(), 300u);

    desktop.RefuseForeground(true);
    EXPECT_TRUE(desktop.SetForegroundWindow(a));
    desktop.Sleep(10000);
    EXPECT_EQ(desktop.GetForegroundWindow(), b);
    EXPECT_FALSE(desktop.SetForegroundWindow(child));  // only top-level windows
    EXPECT_FALSE(desktop.SetForegroundWindow(77));

    ASSERT_EQ(desktop.Events().size(), 5u);
    const uint32_t times[] = {0, 0, 300, 10300, 10300};
    for (size_t i = 0; i < desktop.Events().size(); ++i) {
        EXPECT_EQ(desktop.Events()[i].kind, Kind::ForegroundRequest);
        EXPECT_EQ(desktop.Events()[i].timeMs, times[i]);
    }
}

}  // namespace
}  // namespace platform::winsys
