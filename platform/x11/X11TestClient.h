// For tests on a real X display: a client of its own that makes plain Xlib windows with a title and
// a class, watches what arrives at them, and reads the desktop's state (pointer, focus, active
// window) independently of the back end under test.
//
// Threads: one test thread. Header-only, test code only.
#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace platform::winsys::x11test {

class X11TestClient {
public:
    enum class TitleProperty { NetWmName, WmNameOnly };

    X11TestClient() : m_display(XOpenDisplay(nullptr)) {}
    ~X11TestClient() {
        if (m_display != nullptr) XCloseDisplay(m_display);
    }
    X11TestClient(const X11TestClient&) = delete;
    X11TestClient& operator=(const X11TestClient&) = delete;

    bool Connected() const { return m_display != nullptr; }
    Display* display() const { return m_display; }
    ::Window Root() const { return DefaultRootWindow(m_display); }

    // A mapped window. Top-level ones (parent 0) wait until they are viewable, which with a window
    // manager means managed. `title` is UTF-8; with WmNameOnly it goes into WM_NAME as Latin-1 text.
    ::Window CreateWindow(const std::string& title, const std::string& className, int x, int y,
                          unsigned width, unsigned height, ::Window parent = 0,
                          TitleProperty how = TitleProperty::NetWmName) {
        const bool topLevel = parent == 0;
        const ::Window window =
            XCreateSimpleWindow(m_display, topLevel ? Root() : parent, x, y, width, height, 0,
                                BlackPixel(m_display, 0), WhitePixel(m_display, 0));
        XSelectInput(m_display, window,
                     KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                         StructureNotifyMask | FocusChangeMask);
        if (!className.empty()) {
            std::string name = "sinjo-test", cls = className;
            XClassHint hint{name.data(), cls.data()};
            XSetClassHint(m_display, window, &hint);
        }
        if (!title.empty()) {
            if (how == TitleProperty::NetWmName) {
                XChangeProperty(m_display, window, XInternAtom(m_display, "_NET_WM_NAME", False),
                                XInternAtom(m_display, "UTF8_STRING", False), 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(title.data()),
                                static_cast<int>(title.size()));
                XStoreName(m_display, window, "fallback title");  // must lose against _NET_WM_NAME
            } else {
                XStoreName(m_display, window, title.c_str());
            }
        }
        if (topLevel) {
            // Place it where asked, also under a window manager.
            XSizeHints hints{};
            hints.flags = USPosition | USSize;
            hints.x = x;
            hints.y = y;
            hints.width = static_cast<int>(width);
            hints.height = static_cast<int>(height);
            XSetWMNormalHints(m_display, window, &hints);
        }
        XMapWindow(m_display, window);
        XSync(m_display, False);
        if (topLevel) {
            WaitFor([&] {
                XWindowAttributes attributes{};
                return XGetWindowAttributes(m_display, window, &attributes) != 0 &&
                       attributes.map_state == IsViewable && (!HasWindowManager() || IsManaged(window));
            });
        }
        return window;
    }

    void Destroy(::Window window) {
        XDestroyWindow(m_display, window);
        XSync(m_display, False);
    }

    bool HasWindowManager() {
        const std::vector<long> check = Property(Root(), "_NET_SUPPORTING_WM_CHECK");
        return !check.empty() && check.front() != 0;
    }

    // The managed windows the window manager lists.
    bool IsManaged(::Window window) {
        for (long w : Property(Root(), "_NET_CLIENT_LIST")) {
            if (static_cast<::Window>(w) == window) return true;
        }
        return false;
    }

    // The active window (window manager) or the window holding the input focus.
    ::Window ActiveWindow() {
        if (HasWindowManager()) {
            const std::vector<long> active = Property(Root(), "_NET_ACTIVE_WINDOW");
            return active.empty() ? 0 : static_cast<::Window>(active.front());
        }
        ::Window focus = 0;
        int revert = 0;
        XGetInputFocus(m_display, &focus, &revert);
        return focus;
    }

    // Makes `window` the active one the way a pager would, or by input focus without a manager.
    void Activate(::Window window) {
        if (HasWindowManager()) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = XInternAtom(m_display, "_NET_ACTIVE_WINDOW", False);
            event.xclient.format = 32;
            event.xclient.data.l[0] = 2;
            XSendEvent(m_display, Root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        } else {
            XSetInputFocus(m_display, window, RevertToParent, CurrentTime);
        }
        XSync(m_display, False);
        WaitFor([&] { return ActiveWindow() == window; });
    }

    void PointerPosition(int* x, int* y) {
        ::Window root = 0, child = 0;
        int wx = 0, wy = 0;
        unsigned mask = 0;
        XQueryPointer(m_display, Root(), &root, &child, x, y, &wx, &wy, &mask);
    }

    // Waits up to 5 s for the first event of `type` at `window`; the events before it are dropped.
    bool NextEvent(::Window window, int type, XEvent* out) {
        return WaitFor([&] {
            while (XCheckWindowEvent(m_display, window, ~0L, out)) {
                if (out->type == type) return true;
            }
            return false;
        });
    }

    // Polls `done` every 10 ms for up to 5 s.
    static bool WaitFor(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

private:
    std::vector<long> Property(::Window window, const char* name) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        std::vector<long> out;
        if (XGetWindowProperty(m_display, window, XInternAtom(m_display, name, False), 0, 1024, False,
                               AnyPropertyType, &type, &format, &count, &remaining, &data) == Success &&
            data != nullptr) {
            if (format == 32) {
                const long* values = reinterpret_cast<const long*>(data);
                out.assign(values, values + count);
            }
            XFree(data);
        }
        return out;
    }

    Display* const m_display;
};

}  // namespace platform::winsys::x11test
