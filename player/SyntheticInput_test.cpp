#include "player/SyntheticInput.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "platform/SimulatedWindowSystem.h"

using namespace platform::winsys;

namespace {

struct KeyEvent {
    uint16_t vk;
    bool up;
    bool operator==(const KeyEvent&) const = default;
};

TEST(PressKeyTest, ModifiersWrapTheKeyInTheirFixedOrderWithAPauseAfterEachEvent) {
    constexpr uint16_t A = 'A';
    // Scan codes of a PC keyboard (set 1).
    const std::map<uint16_t, uint16_t> kScanCodes = {
        {A, 0x1E}, {VK_CONTROL, 0x1D}, {VK_SHIFT, 0x2A}, {VK_MENU, 0x38}};
    struct Case {
        uint32_t modifiers;
        std::vector<KeyEvent> expected;
    };
    const Case cases[] = {
        {0, {{A, false}, {A, true}}},
        {kKeyModifierCtrl, {{VK_CONTROL, false}, {A, false}, {A, true}, {VK_CONTROL, true}}},
        {kKeyModifierShift, {{VK_SHIFT, false}, {A, false}, {A, true}, {VK_SHIFT, true}}},
        {kKeyModifierAlt, {{VK_MENU, false}, {A, false}, {A, true}, {VK_MENU, true}}},
        {kKeyModifierAlt | kKeyModifierShift,
         {{VK_SHIFT, false}, {VK_MENU, false}, {A, false}, {A, true}, {VK_MENU, true}, {VK_SHIFT, true}}},
        {kKeyModifierCtrl | kKeyModifierShift | kKeyModifierAlt,
         {{VK_CONTROL, false},
          {VK_SHIFT, false},
          {VK_MENU, false},
          {A, false},
          {A, true},
          {VK_MENU, true},
          {VK_SHIFT, true},
          {VK_CONTROL, true}}},
        {1 | 2 | 16 | 64, {{A, false}, {A, true}}},  // other bits mean nothing
    };
    for (const Case& c : cases) {
        SimulatedWindowSystem desktop;
        EXPECT_TRUE(PressKey(desktop, A, c.modifiers));
        std::vector<KeyEvent> seen;
        for (size_t i = 0; i < desktop.Events().size(); ++i) {
            const auto& event = desktop.Events()[i];
            ASSERT_EQ(event.input.type, INPUT_KEYBOARD);
            const KeyboardInput& ki = event.input.ki;
            seen.push_back({ki.wVk, (ki.dwFlags & KEYEVENTF_KEYUP) != 0});
            EXPECT_EQ(ki.dwFlags & ~KEYEVENTF_KEYUP, 0u);
            EXPECT_EQ(ki.wScan, kScanCodes.at(ki.wVk));
            EXPECT_EQ(event.timeMs, i * kKeyEventPauseMs);  // one event, then its pause
        }
        EXPECT_EQ(seen, c.expected) << c.modifiers;
        EXPECT_EQ(desktop.NowMs(), c.expected.size() * kKeyEventPauseMs);
        EXPECT_TRUE(desktop.KeysDown().empty());
    }
}

TEST(ClickAtTest, OneBatchOfMoveDownUpWithNormalisedCoordinates) {
    struct Case {
        uint32_t button;
        uint32_t down;
        uint32_t up;
    };
    const Case buttons[] = {{kClickLeftButton, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP},
                            {kClickRightButton, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP},
                            {kClickMiddleButton, MOUSEEVENTF_MIDDLEDOWN, MOUSEEVENTF_MIDDLEUP}};
    struct Point {
        int32_t x, y, dx, dy;
    };
    const Point points[] = {
        {0, 0, 0, 0},
        {320, 240, 320 * 65535 / 1920, 240 * 65535 / 1080},
        {1919, 1079, 65500, 65474},  // the last pixel: 1919 * 65535 / 1920 (integer division)
        {1920, 1080, 65535, 65535},
        {-10, -1, -341, -60},  // off screen to the left and above: truncated toward zero
    };
    for (const Case& c : buttons) {
        for (const Point& p : points) {
            SimulatedWindowSystem desktop;
            EXPECT_TRUE(ClickAt(desktop, p.x, p.y, c.button));
            const auto& events = desktop.Events();
            ASSERT_EQ(events.size(), 3u);
            const uint32_t flags[] = {MOUSEEVENTF_MOVE, c.down, c.up};
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(events[i].input.type, INPUT_MOUSE);
                EXPECT_EQ(events[i].input.mi.dwFlags, flags[i] | MOUSEEVENTF_ABSOLUTE);
                EXPECT_EQ(events[i].input.mi.dx, p.dx) << p.x;
                EXPECT_EQ(events[i].input.mi.dy, p.dy) << p.y;
                EXPECT_EQ(events[i].timeMs, 0u);  // no pause inside the batch
            }
        }
    }
}

TEST(ClickAtTest, RefusesOtherButtonsAndReportsRefusedInput) {
    for (uint32_t button : {0u, 3u, 4u, 8u, 17u, 32u, 0xFFFFFFFFu}) {
        SimulatedWindowSystem desktop;
        EXPECT_FALSE(ClickAt(desktop, 10, 10, button)) << button;
        EXPECT_TRUE(desktop.Events().empty()) << button;
    }
    SimulatedWindowSystem blocked;
    blocked.BlockInput(true);
    EXPECT_FALSE(ClickAt(blocked, 10, 10, kClickLeftButton));

    // A desktop without a screen size (no display) gets nothing rather than a division by zero.
    HeadlessWindowSystem headless;
    EXPECT_FALSE(ClickAt(headless, 10, 10, kClickLeftButton));
    SimulatedWindowSystem noScreen(SimulatedWindowSystem::Clock::Virtual, ScreenSize{0, 0});
    EXPECT_FALSE(ClickAt(noScreen, 10, 10, kClickLeftButton));
    EXPECT_TRUE(noScreen.Events().empty());
}

}  // namespace
