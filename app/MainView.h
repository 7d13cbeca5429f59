// MainView: what the main window shows on a desktop: a browser window titled "Sinjobox" with the program
// icon, never smaller than 900 x 600 pixels, showing the console page (html/index.htm, opened as a file),
// whose `external` object is the window's Door (app/PageExternal.h). Failed navigations go to the Door's
// browser event sink, which cancels them, so no error page shows and the page stays. The window menu has
// the About item; the close box asks the main window to close (the path SIGTERM takes too); Enter and
// Escape never close it. Alt+letter keys of every window of the GUI thread reach `onSystemKey`.
//
// The build chooses the implementation: app/desktop (WebKitGTK) where the desktop library is built,
// app/headless otherwise. Without a running desktop (headless, or no display) there is no view and the main
// window is a handle only, as it always was.
//
// Ownership and threads: created, used and destroyed on the GUI thread by the main window (SinjoDlg), which
// keeps the Door alive for as long as the view exists.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Com.h"
#include "platform/Gui.h"

class Door;

class MainView {
public:
    virtual ~MainView() = default;
    // Runs `script` in the frame named `frame` of the current page: E_FAIL while there is no document,
    // otherwise S_OK (also when no frame has that name; then nothing runs).
    virtual platform::HRESULT ExecScript(const std::wstring& frame, const std::wstring& script) = 0;
};

struct MainViewSetup {
    platform::HWND window = nullptr;         // the main window's handle: its dialogs open over the view
    Door* door = nullptr;                    // the page's external object; outlives the view
    std::string pagePath;                    // native path of the console page
    std::string iconPath;                    // native path of the program icon
    std::function<void()> onClose;           // the close box
    std::function<void(unsigned)> onSystemKey;  // Alt+letter or digit: the virtual-key code ('A'..'Z', '0'..'9')
};

// The view, shown; null when no desktop runs.
std::unique_ptr<MainView> CreateMainView(const MainViewSetup& setup);
