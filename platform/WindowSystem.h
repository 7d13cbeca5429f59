// The window system as seen from outside another program: find that program's top-level window by
// its title, bring it to the front, look at the windows inside it, send them messages, and feed the
// desktop synthesized pointer and key input. The jukebox uses it to drive an outside desktop program
// that offers no other interface.
//
// Back ends (each a WindowSystem):
//   - X11WindowSystem (platform/x11, a library of its own that the player links, so the program has
//     it and the plug-in module never does): real top-level windows by title, the foreground window,
//     XTest input, the screen size. X windows have no window messages or control ids, so the inside
//     of another program is mostly out of reach.
//   - HeadlessWindowSystem (below): no display at all; it finds nothing and accepts no input.
//   - SimulatedWindowSystem (platform/SimulatedWindowSystem.h): a window tree that tests build and
//     that records everything done to it, on a virtual or a real clock.
// CreateWindowSystem picks the X11 one when the process has a display and the X11 library is part of
// the program, the headless one otherwise.
//
// The names of the messages, flags and input records are the platform's, with its numeric values, so
// that the code driving another program reads as it would on the platform it was written for.
//
// Threads: a WindowSystem object is used by one thread at a time (the GUI thread in the program).
// CreateWindowSystem and the registration may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/Gui.h"

namespace platform::winsys {

// The message types of platform/Gui.h, also for code that only uses this namespace.
using platform::LPARAM;
using platform::LRESULT;
using platform::UINT;
using platform::WPARAM;

// A window of any program. 0 is no window. On X11 it is the X window id.
using WindowId = uint64_t;
constexpr WindowId kNoWindow = 0;

// Screen coordinates in pixels; right and bottom are exclusive.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

struct ScreenSize {
    int32_t width = 0;
    int32_t height = 0;
};

// --- messages understood by the other program's controls ---
constexpr UINT WM_COMMAND = 0x0111;        // wParam: control id | notification << 16; lParam: control
constexpr UINT CB_GETCOUNT = 0x0146;       // combo box: number of entries
constexpr UINT CB_GETCURSEL = 0x0147;      // combo box: selected entry or CB_ERR
constexpr UINT CB_SETCURSEL = 0x014E;      // combo box: select entry wParam; CB_ERR when out of range
constexpr UINT LVM_GETITEMCOUNT = 0x1004;  // list view: number of items
constexpr UINT CBN_SELCHANGE = 1;          // WM_COMMAND notification: the combo's selection changed
constexpr LRESULT CB_ERR = -1;

constexpr WPARAM MakeWParam(uint32_t low, uint32_t high) {
    return static_cast<WPARAM>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}

// --- synthesized input ---
constexpr uint32_t INPUT_MOUSE = 0;
constexpr uint32_t INPUT_KEYBOARD = 1;

constexpr uint32_t MOUSEEVENTF_MOVE = 0x0001;
constexpr uint32_t MOUSEEVENTF_LEFTDOWN = 0x0002;
constexpr uint32_t MOUSEEVENTF_LEFTUP = 0x0004;
constexpr uint32_t MOUSEEVENTF_RIGHTDOWN = 0x0008;
constexpr uint32_t MOUSEEVENTF_RIGHTUP = 0x0010;
constexpr uint32_t MOUSEEVENTF_MIDDLEDOWN = 0x0020;
constexpr uint32_t MOUSEEVENTF_MIDDLEUP = 0x0040;
// dx and dy are absolute, normalised to 0..65535 across the screen; otherwise they are relative.
constexpr uint32_t MOUSEEVENTF_ABSOLUTE = 0x8000;
constexpr int32_t kNormalisedMax = 65535;

// A pixel coordinate normalised across a screen extent of `extent` pixels (> 0): x * 65535 / extent,
// integer division.
constexpr int32_t NormalisedFromPixel(int32_t pixel, int32_t extent) {
    return static_cast<int32_t>(static_cast<int64_t>(pixel) * kNormalisedMax / extent);
}
// The way back: the smallest pixel that normalises to `normalised`, so that every pixel comes back to
// itself. 0 for an extent without pixels.
constexpr int32_t PixelFromNormalised(int32_t normalised, int32_t extent) {
    if (extent <= 0) return 0;
    const int64_t scaled = static_cast<int64_t>(normalised) * extent;
    return static_cast<int32_t>((scaled + kNormalisedMax - 1) / kNormalisedMax);
}

constexpr uint32_t KEYEVENTF_KEYUP = 0x0002;

// Virtual keys.
constexpr uint16_t VK_SHIFT = 0x10;
constexpr uint16_t VK_CONTROL = 0x11;
constexpr uint16_t VK_MENU = 0x12;  // Alt
constexpr uint16_t VK_UP = 0x26;
constexpr uint16_t VK_DOWN = 0x28;

struct MouseInput {
    int32_t dx = 0;
    int32_t dy = 0;
    uint32_t mouseData = 0;
    uint32_t dwFlags = 0;
};

struct KeyboardInput {
    uint16_t wVk = 0;
    uint16_t wScan = 0;
    uint32_t dwFlags = 0;
};

// One input event: `mi` is used when type is INPUT_MOUSE, `ki` when it is INPUT_KEYBOARD.
struct Input {
    uint32_t type = INPUT_MOUSE;
    MouseInput mi;
    KeyboardInput ki;
};

// The scan code of a virtual key on a PC keyboard (set 1, without the E0 prefix), as the platform
// maps it; 0 for keys without one.
uint16_t MapVirtualKeyToScanCode(uint16_t virtualKey);

// A window's enumeration callback: return true to go on, false to stop.
using EnumWindowsProc = bool (*)(WindowId window, LPARAM param);

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Short name of the back end ("x11", "headless", "simulated"), for messages and tests.
    virtual const char* Name() const = 0;

    // --- top-level windows ---
    // A top-level window whose title is exactly `title` (any class); kNoWindow when there is none.
    virtual WindowId FindTopLevelWindow(std::wstring_view title) = 0;
    // Asks for `window` to become the foreground window; false when the request could not be made.
    // The change may take effect later: check with GetForegroundWindow.
    virtual bool SetForegroundWindow(WindowId window) = 0;
    // The top-level window that has the keyboard focus; kNoWindow when none does.
    virtual WindowId GetForegroundWindow() = 0;

    // --- windows inside a window ---
    // Calls `proc` for every descendant of `parent` (not `parent` itself), depth-first: a child, then
    // that child's descendants, then the next child. Stops when `proc` returns false.
    virtual void EnumChildWindows(WindowId parent, EnumWindowsProc proc, LPARAM param) = 0;
    // At most `maxChars` characters of the window's class name or text (the platform copies them
    // into a buffer of maxChars + 1); empty for a window that is gone.
    virtual std::wstring GetClassName(WindowId window, size_t maxChars) = 0;
    virtual std::wstring GetWindowText(WindowId window, size_t maxChars) = 0;
    // The control id of a child window; 0 for top-level windows and windows that are gone.
    virtual int32_t GetDlgCtrlID(WindowId window) = 0;
    // The parent of a child window; kNoWindow for a top-level window.
    virtual WindowId GetParent(WindowId window) = 0;
    // The window's rectangle in screen coordinates; false when the window is gone.
    virtual bool GetWindowRect(WindowId window, Rect* rect) = 0;
    // Sends a message to the window and waits for its handler's result; 0 when it cannot be sent.
    virtual LRESULT SendMessage(WindowId window, UINT message, WPARAM wParam, LPARAM lParam) = 0;

    // --- input ---
    // Feeds the events into the desktop's input stream, in order, as one batch that no other input
    // interleaves (where the back end can promise that). Returns how many were accepted.
    virtual uint32_t SendInput(std::span<const Input> inputs) = 0;
    // The size of the primary screen in pixels.
    virtual ScreenSize GetScreenSize() = 0;

    // --- time ---
    // Waits `ms` milliseconds (a simulated window system only lets its clock move on).
    virtual void Sleep(uint32_t ms) = 0;
};

// No display: no window is ever found, and input goes nowhere (nothing is accepted). Waits are real.
class HeadlessWindowSystem final : public WindowSystem {
public:
    const char* Name() const override { return "headless"; }
    WindowId FindTopLevelWindow(std::wstring_view) override { return kNoWindow; }
    bool SetForegroundWindow(WindowId) override { return false; }
    WindowId GetForegroundWindow() override { return kNoWindow; }
    void EnumChildWindows(WindowId, EnumWindowsProc, LPARAM) override {}
    std::wstring GetClassName(WindowId, size_t) override { return {}; }
    std::wstring GetWindowText(WindowId, size_t) override { return {}; }
    int32_t GetDlgCtrlID(WindowId) override { return 0; }
    WindowId GetParent(WindowId) override { return kNoWindow; }
    bool GetWindowRect(WindowId, Rect*) override { return false; }
    LRESULT SendMessage(WindowId, UINT, WPARAM, LPARAM) override { return 0; }
    uint32_t SendInput(std::span<const Input>) override { return 0; }
    ScreenSize GetScreenSize() override { return {}; }
    void Sleep(uint32_t ms) override;
};

// Makes a back end for a display available: gives a connected window system, or null when the
// display cannot be reached. The X11 library registers itself at static initialisation; a later
// registration replaces an earlier one, an empty factory removes it.
using DisplayWindowSystemFactory = std::unique_ptr<WindowSystem> (*)();
void RegisterDisplayWindowSystem(DisplayWindowSystemFactory factory);

// The window system for this process: the registered display back end when the process has a
// display (IsHeadless() is false) and the back end connects, the headless one otherwise. Never null.
std::unique_ptr<WindowSystem> CreateWindowSystem();

}  // namespace platform::winsys
