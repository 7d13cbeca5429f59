// A simulated desktop behind the WindowSystem seam, for tests: a tree of windows with class names,
// texts, control ids and screen rectangles that a test builds, and a log of everything done to it
// (foreground requests, messages, input events), each with the time it arrived.
//
// Behaviour, as the platform's windows and controls have it:
//   - Foreground: a request for a top-level window takes effect SetForegroundDelay milliseconds later
//     (0 at first), or never after RefuseForeground. Pressing a mouse button over a window makes its
//     top-level window the foreground one at once.
//   - "ComboBox" windows answer CB_SETCURSEL (an entry out of range clears the selection and gives
//     CB_ERR; the parent is not notified), CB_GETCURSEL and CB_GETCOUNT.
//   - "SysListView32" windows answer LVM_GETITEMCOUNT. A button press over the list focuses it and
//     selects the row under the pointer (rows of kListRowHeight pixels from its top; below the last
//     row nothing is selected). While focused, Up selects the previous item (the first when nothing
//     is selected) and Down the next, stopping at the ends.
//   - Other messages are logged and answered with 0.
//   - Pointer: absolute coordinates are turned back into pixels so that a point normalised as
//     x * 65535 / width (integer division) lands on its own pixel; relative ones move by pixels.
//     Coordinates move the pointer only with MOUSEEVENTF_MOVE, as on the platform.
//   - Keys go to the focused window while its top-level window is in the foreground, else nowhere.
//
// Clock: Virtual (the default) starts at 0 ms and moves only when Sleep is called, so a test of a
// long sequence takes no time and sees exact times; Real reads the monotonic clock from construction
// and really sleeps.
//
// Threads: not thread-safe. One thread builds it, drives it and reads the log.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/WindowSystem.h"

namespace platform::winsys {

class SimulatedWindowSystem final : public WindowSystem {
public:
    enum class Clock { Virtual, Real };
    static constexpr int32_t kListRowHeight = 20;

    enum class EventKind { ForegroundRequest, Message, Input };
    struct Event {
        uint32_t timeMs = 0;
        EventKind kind = EventKind::Message;
        // ForegroundRequest: the window asked for. Message: the receiver. Input: the window the event
        // went to (the window under the pointer for a button, the focused one for a key; kNoWindow
        // when it went nowhere or only moved the pointer).
        WindowId window = kNoWindow;
        UINT message = 0;  // Message only, with its parameters
        WPARAM wParam = 0;
        LPARAM lParam = 0;
        Input input;  // Input only
    };
    using EventObserver = std::function<void(const Event&)>;

    explicit SimulatedWindowSystem(Clock clock = Clock::Virtual, ScreenSize screen = {1920, 1080});
    SimulatedWindowSystem(const SimulatedWindowSystem&) = delete;
    SimulatedWindowSystem& operator=(const SimulatedWindowSystem&) = delete;

    // --- building the desktop ---
    WindowId AddTopLevelWindow(std::wstring title, std::wstring className, Rect rect);
    // `rect` in screen coordinates. kNoWindow when `parent` does not exist.
    WindowId AddChildWindow(WindowId parent, std::wstring className, std::wstring text, int32_t id,
                            Rect rect);
    // Entries of a combo box or items of a list view.
    void SetItemCount(WindowId control, int32_t count);
    // The foreground window right now, without a request (another program in front at the start).
    void PutInForeground(WindowId window);
    void SetForegroundDelay(uint32_t ms) { m_foregroundDelayMs = ms; }
    void RefuseForeground(bool refuse) { m_refuseForeground = refuse; }
    // SendInput accepts nothing (as when input to a more privileged program is blocked).
    void BlockInput(bool blocked) { m_inputBlocked = blocked; }

    // --- what happened ---
    const std::vector<Event>& Events() const { return m_events; }
    // Called with every event after it took effect, so it can look at the state of the moment.
    void SetEventObserver(EventObserver observer) { m_observer = std::move(observer); }
    uint32_t NowMs() const;
    // The selected entry of a combo box or item of a list view; -1 for none.
    int32_t Selection(WindowId control) const;
    WindowId FocusWindow() const { return m_focus; }
    int32_t PointerX() const { return m_pointerX; }
    int32_t PointerY() const { return m_pointerY; }
    // Virtual keys pressed and not yet released.
    const std::set<uint16_t>& KeysDown() const { return m_keysDown; }

    // --- WindowSystem ---
    const char* Name() const override { return "simulated"; }
    WindowId FindTopLevelWindow(std::wstring_view title) override;
    bool SetForegroundWindow(WindowId window) override;
    WindowId GetForegroundWindow() override;
    void EnumChildWindows(WindowId parent, EnumWindowsProc proc, LPARAM param) override;
    std::wstring GetClassName(WindowId window, size_t maxChars) override;
    std::wstring GetWindowText(WindowId window, size_t maxChars) override;
    int32_t GetDlgCtrlID(WindowId window) override;
    WindowId GetParent(WindowId window) override;
    bool GetWindowRect(WindowId window, Rect* rect) override;
    LRESULT SendMessage(WindowId window, UINT message, WPARAM wParam, LPARAM lParam) override;
    uint32_t SendInput(std::span<const Input> inputs) override;
    ScreenSize GetScreenSize() override { return m_screen; }
    void Sleep(uint32_t ms) override;

private:
    struct Node {
        WindowId parent = kNoWindow;
        std::wstring className;
        std::wstring text;
        int32_t id = 0;
        Rect rect;
        std::vector<WindowId> children;
        int32_t itemCount = 0;
        int32_t selection = -1;
    };

    const Node* Find(WindowId window) const;
    Node* Find(WindowId window);
    WindowId TopLevelOf(WindowId window) const;
    // The deepest window under the point, looking at the foreground window first.
    WindowId WindowAt(int32_t x, int32_t y);
    WindowId DeepestAt(WindowId window, int32_t x, int32_t y) const;
    bool EnumDepthFirst(WindowId parent, EnumWindowsProc proc, LPARAM param);
    void ApplyPendingForeground();
    WindowId ApplyInput(const Input& input);
    void Record(Event event);

    // Constant after construction.
    const Clock m_clock;
    const ScreenSize m_screen;
    const std::chrono::steady_clock::time_point m_start;

    std::vector<Node> m_nodes;         // WindowId n is m_nodes[n - 1]
    std::vector<WindowId> m_topLevel;  // in creation order
    uint32_t m_virtualNowMs = 0;
    uint32_t m_foregroundDelayMs = 0;
    bool m_refuseForeground = false;
    bool m_inputBlocked = false;
    WindowId m_foreground = kNoWindow;
    std::optional<std::pair<WindowId, uint32_t>> m_pendingForeground;  // window, due time
    WindowId m_focus = kNoWindow;
    int32_t m_pointerX = 0;
    int32_t m_pointerY = 0;
    std::set<uint16_t> m_keysDown;
    std::vector<Event> m_events;
    EventObserver m_observer;
};

}  // namespace platform::winsys
