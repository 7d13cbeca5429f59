// The GUI thread: window handles, synchronous and posted messages, timers and the message loop.
//
// The process's main thread is the GUI thread (InitGuiThread marks it). Window handlers, timers and
// posted tasks all run there, one at a time. From any thread:
//   - SendMessage runs the window's handler on the GUI thread and returns once it has run; it fails
//     at once when the handle is not, or no longer, a live window, and a send that is waiting fails
//     as soon as the window is destroyed (so a worker never waits on a window that is gone). A send
//     from the GUI thread itself calls the handler directly.
//   - PostMessage queues a message; RunOnGuiThread queues a task.
// The loop waits through a back end (platform/GuiLoop.h): a small std-only one, or, when a desktop
// library is linked and a display is present, the GLib main context that GTK uses, so that GTK
// windows and these handles share one loop. Everything below behaves the same on both.
//
// Without a display (no DISPLAY and no WAYLAND_DISPLAY, or SINJO_HEADLESS=1, or a display that cannot
// be opened) the program is headless: windows are handles with a shown/hidden state and nothing is
// drawn.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

struct WindowTag;
using HWND = WindowTag*;  // an opaque handle; never dereferenced, never reused while the process runs

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

using WindowHandler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Marks the calling thread as the GUI thread. Call once, first thing in main (tests: in the test).
// The first call also chooses the loop's back end (a desktop one when a display is present).
void InitGuiThread();
bool IsGuiThread();
bool IsHeadless();

// --- windows (GUI thread only, except IsWindow) ---
HWND CreateWindowHandle(WindowHandler handler);
// Delivers WM_DESTROY, then removes the handle: later sends and posts to it fail, waiting sends fail.
bool DestroyWindow(HWND window);
bool IsWindow(HWND window);
bool ShowWindow(HWND window, bool show);  // delivers WM_SHOWWINDOW when the state changes
bool IsWindowVisible(HWND window);

// --- messages (any thread) ---
// True when the handler ran; its result goes to *result when given.
bool SendMessageChecked(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
// The handler's result, or 0 when the send failed.
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool RunOnGuiThread(std::function<void()> task);

// --- timers (GUI thread) ---
// The window receives WM_TIMER with wParam = id every periodMs, until KillTimer or its destruction.
bool SetTimer(HWND window, uintptr_t id, uint32_t periodMs);
bool KillTimer(HWND window, uintptr_t id);

// --- the loop (GUI thread) ---
// Runs until PostQuitMessage; returns its code.
int RunMessageLoop();
void PostQuitMessage(int code);  // any thread
// Handles messages, tasks and timers until done() is true or timeoutMs passes; true when done().
bool PumpMessagesUntil(const std::function<bool()>& done, uint32_t timeoutMs);

// On SIGINT or SIGTERM, post WM_CLOSE to `window` (the same path as the close box); later signals
// are absorbed while the program shuts down. Blocks those signals in the calling thread (threads it
// starts later inherit that); a watcher thread takes them, and a handler sends it those that reach a
// thread a library started before main. Call it from main before starting threads.
void CloseOnTerminationSignals(HWND window);

}  // namespace platform
