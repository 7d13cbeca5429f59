#include "platform/x11/X11WindowSystem.h"

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/ThreadAnnotations.h"
#include "platform/Tick.h"

// Xlib last: its headers define macros (None, Status, Bool, True, False) that clash with other code.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace platform::winsys {
namespace {

// --- X errors ---
// Xlib reports errors to one process-wide handler. Ours counts the errors of our own connections
// (a window gone between two requests is normal here) and hands every other connection's errors to
// the handler that was installed before it, so a toolkit's own error handling keeps working.
// The handler runs on whichever thread made the failing request; it holds g_errorLock only for the
// lookup and calls the previous handler without it.
platform::Mutex g_errorLock;
// Set when the first connection is made, never reset.
XErrorHandler g_previousHandler GUARDED_BY(g_errorLock) = nullptr;
// Our open connections and their error counts. Never freed: the handler may outlive static destruction.
std::map<Display*, unsigned>* g_errorCounts GUARDED_BY(g_errorLock) = nullptr;

int CountOrForwardError(Display* display, XErrorEvent* event) {
    XErrorHandler previous = nullptr;
    {
        platform::MutexLock lock(g_errorLock);
        const auto it = g_errorCounts->find(display);
        if (it != g_errorCounts->end()) {
            ++it->second;
            return 0;
        }
        previous = g_previousHandler;
    }
    return previous != nullptr ? previous(display, event) : 0;
}

void AdoptConnection(Display* display) {
    platform::MutexLock lock(g_errorLock);
    if (g_errorCounts == nullptr) {
        g_errorCounts = new std::map<Display*, unsigned>();
        g_previousHandler = XSetErrorHandler(CountOrForwardError);
    }
    (*g_errorCounts)[display] = 0;
}

void ReleaseConnection(Display* display) {
    platform::MutexLock lock(g_errorLock);
    g_errorCounts->erase(display);
}

unsigned ErrorCount(Display* display) {
    platform::MutexLock lock(g_errorLock);
    return (*g_errorCounts)[display];
}

// --- virtual keys to key symbols ---
struct KeyMapping {
    uint16_t virtualKey;
    KeySym symbol;
};
constexpr KeyMapping kKeyMappings[] = {
    {0x08, XK_BackSpace},
    {0x09, XK_Tab},
    {0x0D, XK_Return},
    {VK_SHIFT, XK_Shift_L},
    {VK_CONTROL, XK_Control_L},
    {VK_MENU, XK_Alt_L},
    {0x13, XK_Pause},
    {0x14, XK_Caps_Lock},
    {0x1B, XK_Escape},
    {0x20, XK_space},
    {0x21, XK_Prior},
    {0x22, XK_Next},
    {0x23, XK_End},
    {0x24, XK_Home},
    {0x25, XK_Left},
    {VK_UP, XK_Up},
    {0x27, XK_Right},
    {VK_DOWN, XK_Down},
    {0x2D, XK_Insert},
    {0x2E, XK_Delete},
};

KeySym KeySymForVirtualKey(uint16_t vk) {
    if (vk >= 'A' && vk <= 'Z') return XK_a + (vk - 'A');
    if (vk >= '0' && vk <= '9') return XK_0 + (vk - '0');
    if (vk >= 0x70 && vk <= 0x7B) return XK_F1 + (vk - 0x70);  // F1..F12
    for (const KeyMapping& mapping : kKeyMappings) {
        if (mapping.virtualKey == vk) return mapping.symbol;
    }
    return NoSymbol;
}

std::wstring Truncated(std::wstring text, size_t maxChars) {
    if (text.size() > maxChars) text.resize(maxChars);
    return text;
}

std::wstring FromLatin1(const char* text) {
    std::wstring out;
    for (const char* p = text; *p != '\0'; ++p) out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return out;
}

class X11WindowSystem final : public WindowSystem {
public:
    explicit X11WindowSystem(Display* display) : m_display(display), m_root(DefaultRootWindow(display)) {
        AdoptConnection(m_display);
        const char* names[kAtomCount] = {"_NET_WM_NAME",
                                         "UTF8_STRING",
                                         "_NET_CLIENT_LIST",
                                         "_NET_ACTIVE_WINDOW",
                                         "_NET_SUPPORTING_WM_CHECK",
                                         "_NET_SUPPORTED",
                                         "WM_STATE"};
        XInternAtoms(m_display, const_cast<char**>(names), kAtomCount, False, m_atoms.data());
        int event = 0, error = 0, major = 0, minor = 0;
        m_hasXTest = XTestQueryExtension(m_display, &event, &error, &major, &minor) != False;
    }
    ~X11WindowSystem() override {
        XCloseDisplay(m_display);
        ReleaseConnection(m_display);
    }
    X11WindowSystem(const X11WindowSystem&) = delete;
    X11WindowSystem& operator=(const X11WindowSystem&) = delete;

    const char* Name() const override { return "x11"; }

    WindowId FindTopLevelWindow(std::wstring_view title) override {
        for (::Window window : WindowListProperty(m_root, Atom(kNetClientList))) {
            if (Title(window) == title) return window;
        }
        // Topmost first, as a search of the screen would go.
        const std::vector<::Window> frames = Children(m_root);
        for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
            const ::Window client = ClientWindow(*it);
            if (Title(client) == title) return client;
        }
        return kNoWindow;
    }

    bool SetForegroundWindow(WindowId window) override {
        if (window == kNoWindow) return false;
        if (WindowManagerHandlesActivation()) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = Atom(kNetActiveWindow);
            event.xclient.format = 32;
            event.xclient.data.l[0] = 2;  // source: a person's direct request, made through a tool
            event.xclient.data.l[1] = CurrentTime;
            event.xclient.data.l[2] = static_cast<long>(GetForegroundWindow());
            const unsigned before = ErrorCount(m_display);
            XSendEvent(m_display, m_root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
            XSync(m_display, False);
            return ErrorCount(m_display) == before;
        }
        const unsigned before = ErrorCount(m_display);
        XRaiseWindow(m_display, window);
        XSetInputFocus(m_display, window, RevertToParent, CurrentTime);
        XSync(m_display, False);
        return ErrorCount(m_display) == before;
    }

    WindowId GetForegroundWindow() override {
        if (WindowManagerHandlesActivation()) {
            const std::vector<::Window> active = WindowListProperty(m_root, Atom(kNetActiveWindow));
            return active.empty() ? kNoWindow : active.front();
        }
        ::Window focus = 0;
        int revert = 0;
        XGetInputFocus(m_display, &focus, &revert);
        if (focus == None || focus == PointerRoot) return kNoWindow;
        // The focus may sit on a subwindow: the top-level window is its ancestor just below the root.
        ::Window current = focus;
        for (int depth = 0; depth < 64; ++depth) {
            ::Window root = 0, parent = 0, *children = nullptr;
            unsigned count = 0;
            if (XQueryTree(m_display, current, &root, &parent, &children, &count) == 0) return kNoWindow;
            if (children != nullptr) XFree(children);
            if (parent == root || parent == None) return current;
            current = parent;
        }
        return kNoWindow;
    }

    void EnumChildWindows(WindowId parent, EnumWindowsProc proc, LPARAM param) override {
        if (parent != kNoWindow) EnumDepthFirst(parent, proc, param, 0);
    }

    std::wstring GetClassName(WindowId window, size_t maxChars) override {
        XClassHint hint{};
        if (window == kNoWindow || XGetClassHint(m_display, window, &hint) == 0) return {};
        std::wstring name = hint.res_class != nullptr ? FromLatin1(hint.res_class) : std::wstring();
        if (hint.res_name != nullptr) XFree(hint.res_name);
        if (hint.res_class != nullptr) XFree(hint.res_class);
        return Truncated(std::move(name), maxChars);
    }

    std::wstring GetWindowText(WindowId window, size_t maxChars) override {
        return window == kNoWindow ? std::wstring() : Truncated(Title(window), maxChars);
    }

    int32_t GetDlgCtrlID(WindowId) override { return 0; }

    WindowId GetParent(WindowId window) override {
        if (window == kNoWindow || HasProperty(window, Atom(kWmState))) return kNoWindow;  // a client window
        ::Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(m_display, window, &root, &parent, &children, &count) == 0) return kNoWindow;
        if (children != nullptr) XFree(children);
        return parent == root ? kNoWindow : parent;
    }

    bool GetWindowRect(WindowId window, Rect* rect) override {
        XWindowAttributes attributes{};
        if (window == kNoWindow || rect == nullptr ||
            XGetWindowAttributes(m_display, window, &attributes) == 0) {
            return false;
        }
        int x = 0, y = 0;
        ::Window child = 0;
        if (!XTranslateCoordinates(m_display, window, m_root, 0, 0, &x, &y, &child)) return false;
        *rect = Rect{x, y, x + attributes.width, y + attributes.height};
        return true;
    }

    LRESULT SendMessage(WindowId, UINT, WPARAM, LPARAM) override { return 0; }

    uint32_t SendInput(std::span<const Input> inputs) override {
        if (!m_hasXTest) return 0;
        uint32_t accepted = 0;
        for (const Input& input : inputs) {
            if (input.type == INPUT_MOUSE ? FakeMouse(input.mi)
                                          : input.type == INPUT_KEYBOARD && FakeKey(input.ki)) {
                ++accepted;
            }
        }
        XSync(m_display, False);
        return accepted;
    }

    ScreenSize GetScreenSize() override {
        const int screen = DefaultScreen(m_display);
        return ScreenSize{DisplayWidth(m_display, screen), DisplayHeight(m_display, screen)};
    }

    void Sleep(uint32_t ms) override {
        XFlush(m_display);
        platform::Sleep(ms);
    }

private:
    enum AtomIndex {
        kNetWmName,
        kUtf8String,
        kNetClientList,
        kNetActiveWindow,
        kNetSupportingWmCheck,
        kNetSupported,
        kWmState,
        kAtomCount
    };
    ::Atom Atom(AtomIndex index) const { return m_atoms[index]; }

    // The window-typed (or atom-typed) 32-bit list in a property; empty when it is missing.
    std::vector<::Window> WindowListProperty(::Window window, ::Atom property) {
        ::Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        std::vector<::Window> out;
        if (XGetWindowProperty(m_display, window, property, 0, 1 << 16, False, AnyPropertyType, &type,
                               &format, &count, &remaining, &data) == Success &&
            data != nullptr) {
            if (format == 32) {
                // Format-32 data arrives as an array of long, whatever the size of long.
                const long* values = reinterpret_cast<const long*>(data);
                for (unsigned long i = 0; i < count; ++i) out.push_back(static_cast<::Window>(values[i]));
            }
            XFree(data);
        }
        return out;
    }

    bool HasProperty(::Window window, ::Atom property) {
        ::Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        const bool ok = XGetWindowProperty(m_display, window, property, 0, 0, False, AnyPropertyType, &type,
                                           &format, &count, &remaining, &data) == Success;
        if (data != nullptr) XFree(data);
        return ok && type != None;
    }

    // _NET_WM_NAME when set, else WM_NAME in whatever encoding it has; empty when neither is.
    std::wstring Title(::Window window) {
        ::Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(m_display, window, Atom(kNetWmName), 0, 1 << 16, False, Atom(kUtf8String),
                               &type, &format, &count, &remaining, &data) == Success &&
            data != nullptr) {
            std::wstring title;
            if (type == Atom(kUtf8String) && format == 8) {
                title = platform::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), count));
            }
            XFree(data);
            if (!title.empty()) return title;
        }
        XTextProperty text{};
        if (XGetWMName(m_display, window, &text) == 0 || text.value == nullptr) return {};
        std::wstring title;
        char** list = nullptr;
        int listCount = 0;
        if (Xutf8TextPropertyToTextList(m_display, &text, &list, &listCount) >= Success && list != nullptr) {
            if (listCount > 0 && list[0] != nullptr) title = platform::FromUtf8(list[0]);
            XFreeStringList(list);
        }
        XFree(text.value);
        return title;
    }

    // Children of `window` in stacking order, bottom first: for windows nobody restacked, the order
    // they were made in, which is the order the platform enumerates a dialog's controls in. Empty
    // when the window is gone.
    std::vector<::Window> Children(::Window window) {
        ::Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        std::vector<::Window> out;
        if (XQueryTree(m_display, window, &root, &parent, &children, &count) != 0 && children != nullptr) {
            out.assign(children, children + count);
            XFree(children);
        }
        return out;
    }

    // The application's window in a window manager's frame: the first window carrying WM_STATE,
    // depth-first; the frame itself when none does (no window manager: it is the client).
    ::Window ClientWindow(::Window frame) {
        if (HasProperty(frame, Atom(kWmState))) return frame;
        const ::Window inside = FindWithWmState(frame, 0);
        return inside != None ? inside : frame;
    }

    ::Window FindWithWmState(::Window window, int depth) {
        if (depth > 8) return None;
        for (::Window child : Children(window)) {
            if (HasProperty(child, Atom(kWmState))) return child;
            if (const ::Window found = FindWithWmState(child, depth + 1); found != None) return found;
        }
        return None;
    }

    bool EnumDepthFirst(::Window parent, EnumWindowsProc proc, LPARAM param, int depth) {
        if (depth > 64) return true;
        for (::Window child : Children(parent)) {
            if (!proc(child, param)) return false;
            if (!EnumDepthFirst(child, proc, param, depth + 1)) return false;
        }
        return true;
    }

    // A running window manager (its check window points to itself) that supports _NET_ACTIVE_WINDOW.
    bool WindowManagerHandlesActivation() {
        const std::vector<::Window> check = WindowListProperty(m_root, Atom(kNetSupportingWmCheck));
        if (check.empty()) return false;
        const std::vector<::Window> self = WindowListProperty(check.front(), Atom(kNetSupportingWmCheck));
        if (self.empty() || self.front() != check.front()) return false;
        const std::vector<::Window> supported = WindowListProperty(m_root, Atom(kNetSupported));
        return std::find(supported.begin(), supported.end(), Atom(kNetActiveWindow)) != supported.end();
    }

    bool FakeMouse(const MouseInput& mi) {
        bool ok = true;
        if ((mi.dwFlags & MOUSEEVENTF_MOVE) != 0) {
            if ((mi.dwFlags & MOUSEEVENTF_ABSOLUTE) != 0) {
                const ScreenSize screen = GetScreenSize();
                const int x = PixelFromNormalised(mi.dx, screen.width);
                const int y = PixelFromNormalised(mi.dy, screen.height);
                ok = XTestFakeMotionEvent(m_display, DefaultScreen(m_display), x, y, CurrentTime) != 0;
            } else {
                ok = XTestFakeRelativeMotionEvent(m_display, mi.dx, mi.dy, CurrentTime) != 0;
            }
        }
        struct ButtonFlag {
            uint32_t flag;
            unsigned button;
            bool press;
        };
        static constexpr ButtonFlag kButtons[] = {
            {MOUSEEVENTF_LEFTDOWN, 1, true},   {MOUSEEVENTF_LEFTUP, 1, false},
            {MOUSEEVENTF_RIGHTDOWN, 3, true},  {MOUSEEVENTF_RIGHTUP, 3, false},
            {MOUSEEVENTF_MIDDLEDOWN, 2, true}, {MOUSEEVENTF_MIDDLEUP, 2, false},
        };
        for (const ButtonFlag& b : kButtons) {
            if ((mi.dwFlags & b.flag) != 0) {
                ok =
                    XTestFakeButtonEvent(m_display, b.button, b.press ? True : False, CurrentTime) != 0 && ok;
            }
        }
        return ok;
    }

    bool FakeKey(const KeyboardInput& ki) {
        const KeySym symbol = KeySymForVirtualKey(ki.wVk);
        const KeyCode code = symbol != NoSymbol ? XKeysymToKeycode(m_display, symbol) : 0;
        if (code == 0) return false;
        const bool press = (ki.dwFlags & KEYEVENTF_KEYUP) == 0;
        return XTestFakeKeyEvent(m_display, code, press ? True : False, CurrentTime) != 0;
    }

    // Constant after construction.
    Display* const m_display;
    const ::Window m_root;
    std::array<::Atom, kAtomCount> m_atoms{};
    bool m_hasXTest = false;
};

std::unique_ptr<WindowSystem> ConnectFromEnvironment() { return ConnectX11WindowSystem(nullptr); }

// Registered as the display back end as soon as this object file is part of the program.
struct Registrar {
    Registrar() { RegisterDisplayWindowSystem(ConnectFromEnvironment); }
} g_registrar;

}  // namespace

std::unique_ptr<WindowSystem> ConnectX11WindowSystem(const char* displayName) {
    Display* display = XOpenDisplay(displayName);
    if (display == nullptr) return nullptr;
    return std::make_unique<X11WindowSystem>(display);
}

}  // namespace platform::winsys

// Referenced by the link of the program, so that the registration above is always linked in.
extern "C" void SinjoX11WindowSystemAnchor() {}
