#include "player/SyntheticInput.h"

#include <array>

using namespace platform::winsys;

namespace {

Input MouseEvent(int32_t dx, int32_t dy, uint32_t flags) {
    Input input;
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
    return input;
}

void SendKey(WindowSystem& desktop, uint16_t virtualKey, bool up) {
    Input input;
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = MapVirtualKeyToScanCode(virtualKey);
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    desktop.SendInput(std::span<const Input>(&input, 1));
    desktop.Sleep(kKeyEventPauseMs);
}

}  // namespace

bool ClickAt(WindowSystem& desktop, int32_t x, int32_t y, uint32_t button) {
    uint32_t down = 0;
    uint32_t up = 0;
    switch (button) {
        case kClickLeftButton:
            down = MOUSEEVENTF_LEFTDOWN;
            up = MOUSEEVENTF_LEFTUP;
            break;
        case kClickRightButton:
            down = MOUSEEVENTF_RIGHTDOWN;
            up = MOUSEEVENTF_RIGHTUP;
            break;
        case kClickMiddleButton:
            down = MOUSEEVENTF_MIDDLEDOWN;
            up = MOUSEEVENTF_MIDDLEUP;
            break;
        default:
            return false;
    }
    const ScreenSize screen = desktop.GetScreenSize();
    if (screen.width <= 0 || screen.height <= 0) return false;
    const int32_t dx = NormalisedFromPixel(x, screen.width);
    const int32_t dy = NormalisedFromPixel(y, screen.height);
    const std::array<Input, 3> batch = {MouseEvent(dx, dy, MOUSEEVENTF_MOVE), MouseEvent(dx, dy, down),
                                        MouseEvent(dx, dy, up)};
    return desktop.SendInput(batch) == batch.size();
}

bool PressKey(WindowSystem& desktop, uint16_t virtualKey, uint32_t modifiers) {
    const bool ctrl = (modifiers & kKeyModifierCtrl) != 0;
    const bool shift = (modifiers & kKeyModifierShift) != 0;
    const bool alt = (modifiers & kKeyModifierAlt) != 0;
    if (ctrl) SendKey(desktop, VK_CONTROL, false);
    if (shift) SendKey(desktop, VK_SHIFT, false);
    if (alt) SendKey(desktop, VK_MENU, false);
    SendKey(desktop, virtualKey, false);
    SendKey(desktop, virtualKey, true);
    if (alt) SendKey(desktop, VK_MENU, true);
    if (shift) SendKey(desktop, VK_SHIFT, true);
    if (ctrl) SendKey(desktop, VK_CONTROL, true);
    return true;
}
