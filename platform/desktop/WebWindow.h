// A browser window: a top-level GTK window filled by a WebKitGTK view, with what a program needs to
// host its own page in it. It knows nothing of the page it shows.
//
//   - Title, icon, a place in the task bar, a header bar (whose menu takes the window's commands,
//     AddMenuItem), resizable down to a minimum size.
//   - Opens a local file (OpenFile) or any address (OpenUri).
//   - A script message handler with reply: page script calls
//     window.webkit.messageHandlers.<name>.postMessage(value), which returns a promise; the value
//     reaches the MessageHandler as JSON on the GUI thread (the keys of an object may come in any
//     order: read it as JSON, or post arrays), and what the handler returns settles the promise (a
//     JSON value, or a rejection with an Error carrying a message).
//   - A user script, run at document start in every frame before the page's own scripts (in the
//     page's script world, so it can give the page objects such as a wrapper around the handler).
//   - Navigation errors of the main frame and of sub-frames (a load that failed, an HTTP status other
//     than 200) go to the NavigationErrorHandler; when it cancels one, no error page is shown and the
//     frame keeps the page it had. WebKit shows no error page in sub-frames either way.
//   - ExecScript runs script in a named frame of the current page.
//   - The page's context menu never shows; the close box calls the CloseHandler and nothing else;
//     Enter and Escape never close the window. Keys and mouse buttons go through the input filter of
//     every window of the GUI thread (platform/desktop/InputFilter.h): F5 does not reload,
//     Alt+Left/Alt+Right and the back/forward mouse buttons do not move through history, the middle
//     button does nothing, and Enter and Backspace go to the focused element of the page. Swipe
//     gestures through history are off.
//
// All windows share one web context without storage on disk (cookies, caches and local storage live
// as long as the process); its helper processes (web content, network) end when the last window is
// destroyed.
//
// Ownership and threads: created, used and destroyed on the GUI thread only. The object owns its GTK
// window; destroying the object destroys the window. Handlers are called on the GUI thread, never
// after the object is destroyed, and may destroy it only through the CloseHandler's caller (post a
// message and destroy it from there), never from inside a handler call.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Com.h"
#include "platform/Gui.h"

typedef struct _GtkWindow GtkWindow;

namespace platform {

struct WebWindowOptions {
    std::wstring title;
    std::string iconFile;             // native path of a PNG or SVG; empty: the program icon
    int width = 1024;                 // first size, pixels
    int height = 720;
    int minWidth = 0;                 // the window cannot be made smaller (0: no minimum)
    int minHeight = 0;
    std::string messageHandlerName;   // window.webkit.messageHandlers.<name>; empty: none
    std::string userScript;           // run at document start in every frame; empty: none
    HWND window = nullptr;            // the handle this window shows: dialogs it owns open over it
};

// What a script message handler answers: a JSON value that fulfils the page's promise (empty text:
// undefined), or a rejection carrying `error` as the Error's message.
struct ScriptReply {
    bool ok = true;
    std::string json;
    std::string error;

    static ScriptReply Value(std::string json) { return ScriptReply{true, std::move(json), {}}; }
    static ScriptReply Error(std::string message) { return ScriptReply{false, {}, std::move(message)}; }
};

struct NavigationError {
    std::string uri;      // the address that failed
    bool mainFrame;       // false: a sub-frame
    int httpStatus;       // the response's status; 0 when the load failed without a response
    std::string message;  // what went wrong, in English (empty for an HTTP status)
};

class WebWindow final {
public:
    using MessageHandler = std::function<ScriptReply(std::string_view json)>;
    // True cancels the navigation: no error page, the frame keeps its page.
    using NavigationErrorHandler = std::function<bool(const NavigationError& error)>;
    using CloseHandler = std::function<void()>;
    using LoadFinishedHandler = std::function<void(std::string_view uri)>;

    // The window, not yet shown; null when the desktop does not run (headless).
    static std::unique_ptr<WebWindow> Create(const WebWindowOptions& options);
    ~WebWindow();
    WebWindow(const WebWindow&) = delete;
    WebWindow& operator=(const WebWindow&) = delete;

    void SetMessageHandler(MessageHandler handler);
    void SetNavigationErrorHandler(NavigationErrorHandler handler);
    void SetCloseHandler(CloseHandler handler);
    // After the main frame finished loading a page (not after a failed or cancelled load).
    void SetLoadFinishedHandler(LoadFinishedHandler handler);

    void Show();     // shows the window and brings it to the front
    void Hide();

    // Opens a local file by its native path (a relative path is taken from the current folder).
    bool OpenFile(const std::string& path);
    bool OpenUri(const std::string& uri);
    // The address of the page shown (or being opened); empty before the first.
    std::string CurrentUri() const;

    // Runs `script` in the frame named `frame` (the name of a frame or iframe element of the current
    // page), in the page's own script world, whatever the frame's origin. E_FAIL when there is no
    // document yet; otherwise S_OK, also when no frame has that name (then nothing runs). The script
    // runs a moment later (it is handed to the frame as an event); `done`, when given, is then called
    // with whether a frame of that name was found. The script's result and errors are not reported.
    HRESULT ExecScript(std::wstring_view frame, std::wstring_view script,
                       std::function<void(bool frameFound)> done = {});

    // Runs `body` as the body of an async function in the main frame's page world ("return" gives
    // the result; a promise it returns is awaited). `done` gets true and the result as JSON ("null"
    // for undefined), or false and the error's message. Not called once the window is destroyed.
    void RunScript(std::string_view body, std::function<void(bool ok, std::string result)> done);

    // Adds an item to the window's header bar menu ("&About Sinjobox...", see HeaderBarMenu.h).
    void AddMenuItem(std::wstring_view menuText, std::function<void()> action);

    GtkWindow* NativeWindow() const;

    struct Impl;

private:
    explicit WebWindow(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
