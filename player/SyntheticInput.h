// Synthesized mouse clicks and key presses, fed to the desktop through the window-system seam. They
// reach whatever window is under the pointer or has the keyboard focus at that moment, so whoever
// uses them first brings the window they are meant for to the foreground.
//
// Threads: the caller's (the GUI thread in the program); PressKey blocks it for 100 ms per event.
#pragma once

#include <cstdint>

#include "platform/WindowSystem.h"

// Buttons for ClickAt.
constexpr uint32_t kClickLeftButton = 1;
constexpr uint32_t kClickRightButton = 2;
constexpr uint32_t kClickMiddleButton = 16;

// Modifier bits for PressKey.
constexpr uint32_t kKeyModifierShift = 4;
constexpr uint32_t kKeyModifierCtrl = 8;
constexpr uint32_t kKeyModifierAlt = 32;

// Pause after every key event of PressKey.
constexpr uint32_t kKeyEventPauseMs = 100;

// Moves the pointer to (x, y) in screen pixels and presses and releases `button` there, as one batch
// of three events with absolute coordinates normalised as x * 65535 / screen width and
// y * 65535 / screen height (integer division): a move, then the button down and up. True when all
// three were accepted. Any button other than the three above, or a screen without a size, sends
// nothing and gives false.
bool ClickAt(platform::winsys::WindowSystem& desktop, int32_t x, int32_t y, uint32_t button);

// Presses and releases `virtualKey` with the requested modifiers: Ctrl, Shift and Alt down (those
// requested, in that order), the key down and up, then Alt, Shift and Ctrl up; each event carries its
// key's scan code, key-up events the key-up flag, and each is followed by a pause of kKeyEventPauseMs.
// Always true.
bool PressKey(platform::winsys::WindowSystem& desktop, uint16_t virtualKey, uint32_t modifiers);
