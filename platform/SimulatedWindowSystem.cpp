#include "platform/SimulatedWindowSystem.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace platform::winsys {
namespace {

constexpr const wchar_t* kComboClass = L"ComboBox";
constexpr const wchar_t* kListClass = L"SysListView32";

bool Contains(const Rect& r, int32_t x, int32_t y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

constexpr uint32_t kButtonDownFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_RIGHTDOWN | MOUSEEVENTF_MIDDLEDOWN;
constexpr uint32_t kButtonFlags =
    kButtonDownFlags | MOUSEEVENTF_LEFTUP | MOUSEEVENTF_RIGHTUP | MOUSEEVENTF_MIDDLEUP;

}  // namespace

SimulatedWindowSystem::SimulatedWindowSystem(Clock clock, ScreenSize screen)
    : m_clock(clock), m_screen(screen), m_start(std::chrono::steady_clock::now()) {}

WindowId SimulatedWindowSystem::AddTopLevelWindow(std::wstring title, std::wstring className, Rect rect) {
    Node node;
    node.className = std::move(className);
    node.text = std::move(title);
    node.rect = rect;
    m_nodes.push_back(std::move(node));
    const WindowId id = m_nodes.size();
    m_topLevel.push_back(id);
    return id;
}

WindowId SimulatedWindowSystem::AddChildWindow(WindowId parent, std::wstring className, std::wstring text,
                                               int32_t controlId, Rect rect) {
    if (Find(parent) == nullptr) return kNoWindow;
    Node node;
    node.parent = parent;
    node.className = std::move(className);
    node.text = std::move(text);
    node.id = controlId;
    node.rect = rect;
    m_nodes.push_back(std::move(node));
    const WindowId id = m_nodes.size();
    Find(parent)->children.push_back(id);
    return id;
}

void SimulatedWindowSystem::SetItemCount(WindowId control, int32_t count) {
    if (Node* node = Find(control)) {
        node->itemCount = std::max(count, 0);
        if (node->selection >= node->itemCount) node->selection = -1;
    }
}

void SimulatedWindowSystem::PutInForeground(WindowId window) {
    m_foreground = TopLevelOf(window);
    m_pendingForeground.reset();
}

uint32_t SimulatedWindowSystem::NowMs() const {
    if (m_clock == Clock::Virtual) return m_virtualNowMs;
    const auto elapsed = std::chrono::steady_clock::now() - m_start;
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

int32_t SimulatedWindowSystem::Selection(WindowId control) const {
    const Node* node = Find(control);
    return node != nullptr ? node->selection : -1;
}

const SimulatedWindowSystem::Node* SimulatedWindowSystem::Find(WindowId window) const {
    return (window == kNoWindow || window > m_nodes.size()) ? nullptr : &m_nodes[window - 1];
}

SimulatedWindowSystem::Node* SimulatedWindowSystem::Find(WindowId window) {
    return (window == kNoWindow || window > m_nodes.size()) ? nullptr : &m_nodes[window - 1];
}

WindowId SimulatedWindowSystem::TopLevelOf(WindowId window) const {
    const Node* node = Find(window);
    while (node != nullptr && node->parent != kNoWindow) {
        window = node->parent;
        node = Find(window);
    }
    return node != nullptr ? window : kNoWindow;
}

WindowId SimulatedWindowSystem::FindTopLevelWindow(std::wstring_view title) {
    for (WindowId top : m_topLevel) {
        if (Find(top)->text == title) return top;
    }
    return kNoWindow;
}

bool SimulatedWindowSystem::SetForegroundWindow(WindowId window) {
    Event event;
    event.kind = EventKind::ForegroundRequest;
    event.window = window;
    const bool topLevel = Find(window) != nullptr && Find(window)->parent == kNoWindow;
    if (topLevel && !m_refuseForeground) {
        m_pendingForeground = std::make_pair(window, NowMs() + m_foregroundDelayMs);
        ApplyPendingForeground();
    }
    Record(event);
    return topLevel;
}

void SimulatedWindowSystem::ApplyPendingForeground() {
    if (m_pendingForeground && NowMs() >= m_pendingForeground->second) {
        m_foreground = m_pendingForeground->first;
        m_pendingForeground.reset();
    }
}

WindowId SimulatedWindowSystem::GetForegroundWindow() {
    ApplyPendingForeground();
    return m_foreground;
}

void SimulatedWindowSystem::EnumChildWindows(WindowId parent, EnumWindowsProc proc, LPARAM param) {
    if (Find(parent) != nullptr) EnumDepthFirst(parent, proc, param);
}

bool SimulatedWindowSystem::EnumDepthFirst(WindowId parent, EnumWindowsProc proc, LPARAM param) {
    // Copied: a callback may add windows, which moves the node table.
    const std::vector<WindowId> children = Find(parent)->children;
    for (WindowId child : children) {
        if (!proc(child, param)) return false;
        if (!EnumDepthFirst(child, proc, param)) return false;
    }
    return true;
}

std::wstring SimulatedWindowSystem::GetClassName(WindowId window, size_t maxChars) {
    const Node* node = Find(window);
    return node != nullptr ? node->className.substr(0, maxChars) : std::wstring();
}

std::wstring SimulatedWindowSystem::GetWindowText(WindowId window, size_t maxChars) {
    const Node* node = Find(window);
    return node != nullptr ? node->text.substr(0, maxChars) : std::wstring();
}

int32_t SimulatedWindowSystem::GetDlgCtrlID(WindowId window) {
    const Node* node = Find(window);
    return node != nullptr ? node->id : 0;
}

WindowId SimulatedWindowSystem::GetParent(WindowId window) {
    const Node* node = Find(window);
    return node != nullptr ? node->parent : kNoWindow;
}

bool SimulatedWindowSystem::GetWindowRect(WindowId window, Rect* rect) {
    const Node* node = Find(window);
    if (node == nullptr || rect == nullptr) return false;
    *rect = node->rect;
    return true;
}

LRESULT SimulatedWindowSystem::SendMessage(WindowId window, UINT message, WPARAM wParam, LPARAM lParam) {
    Node* node = Find(window);
    if (node == nullptr) return 0;
    LRESULT result = 0;
    if (node->className == kComboClass) {
        if (message == CB_SETCURSEL) {
            const bool inRange = wParam < static_cast<WPARAM>(node->itemCount);
            node->selection = inRange ? static_cast<int32_t>(wParam) : -1;
            result = inRange ? static_cast<LRESULT>(wParam) : CB_ERR;
        } else if (message == CB_GETCURSEL) {
            result = node->selection >= 0 ? node->selection : CB_ERR;
        } else if (message == CB_GETCOUNT) {
            result = node->itemCount;
        }
    } else if (node->className == kListClass && message == LVM_GETITEMCOUNT) {
        result = node->itemCount;
    }
    Event event;
    event.kind = EventKind::Message;
    event.window = window;
    event.message = message;
    event.wParam = wParam;
    event.lParam = lParam;
    Record(event);
    return result;
}

uint32_t SimulatedWindowSystem::SendInput(std::span<const Input> inputs) {
    if (m_inputBlocked) return 0;
    for (const Input& input : inputs) {
        Event event;
        event.kind = EventKind::Input;
        event.input = input;
        event.window = ApplyInput(input);
        Record(event);
    }
    return static_cast<uint32_t>(inputs.size());
}

WindowId SimulatedWindowSystem::ApplyInput(const Input& input) {
    ApplyPendingForeground();
    if (input.type == INPUT_MOUSE) {
        const MouseInput& mi = input.mi;
        if ((mi.dwFlags & MOUSEEVENTF_MOVE) != 0) {
            if ((mi.dwFlags & MOUSEEVENTF_ABSOLUTE) != 0) {
                m_pointerX = PixelFromNormalised(mi.dx, m_screen.width);
                m_pointerY = PixelFromNormalised(mi.dy, m_screen.height);
            } else {
                m_pointerX += mi.dx;
                m_pointerY += mi.dy;
            }
        }
        if ((mi.dwFlags & kButtonFlags) == 0) return kNoWindow;
        const WindowId target = WindowAt(m_pointerX, m_pointerY);
        if (target != kNoWindow && (mi.dwFlags & kButtonDownFlags) != 0) {
            m_foreground = TopLevelOf(target);
            m_pendingForeground.reset();
            m_focus = target;
            Node* node = Find(target);
            if (node->className == kListClass) {
                const int32_t row = (m_pointerY - node->rect.top) / kListRowHeight;
                node->selection = row < node->itemCount ? row : -1;
            }
        }
        return target;
    }
    if (input.type != INPUT_KEYBOARD) return kNoWindow;
    const KeyboardInput& ki = input.ki;
    const bool up = (ki.dwFlags & KEYEVENTF_KEYUP) != 0;
    if (up) {
        m_keysDown.erase(ki.wVk);
    } else {
        m_keysDown.insert(ki.wVk);
    }
    if (m_focus == kNoWindow || TopLevelOf(m_focus) != m_foreground) return kNoWindow;
    Node* node = Find(m_focus);
    if (!up && node->className == kListClass && node->itemCount > 0) {
        if (ki.wVk == VK_UP) node->selection = node->selection <= 0 ? 0 : node->selection - 1;
        if (ki.wVk == VK_DOWN) node->selection = std::min(node->selection + 1, node->itemCount - 1);
    }
    return m_focus;
}

WindowId SimulatedWindowSystem::WindowAt(int32_t x, int32_t y) {
    if (m_foreground != kNoWindow && Contains(Find(m_foreground)->rect, x, y)) {
        return DeepestAt(m_foreground, x, y);
    }
    for (auto it = m_topLevel.rbegin(); it != m_topLevel.rend(); ++it) {
        if (Contains(Find(*it)->rect, x, y)) return DeepestAt(*it, x, y);
    }
    return kNoWindow;
}

WindowId SimulatedWindowSystem::DeepestAt(WindowId window, int32_t x, int32_t y) const {
    // Later siblings lie on top of earlier ones.
    const std::vector<WindowId>& children = Find(window)->children;
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (Contains(Find(*it)->rect, x, y)) return DeepestAt(*it, x, y);
    }
    return window;
}

void SimulatedWindowSystem::Sleep(uint32_t ms) {
    if (m_clock == Clock::Virtual) {
        m_virtualNowMs += ms;
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

void SimulatedWindowSystem::Record(Event event) {
    event.timeMs = NowMs();
    m_events.push_back(event);
    // The observer gets its own copy: it may drive the desktop further, which grows the log.
    if (m_observer) m_observer(event);
}

}  // namespace platform::winsys
