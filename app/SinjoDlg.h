// SinjoDlg: the main window. It owns the GUI-thread window handle that the web server's workers send
// WM_SONGMAN_COMMAND to; the handler passes code and argument to SongMan::Control on the GUI thread. Its
// close (the close box, or SIGINT/SIGTERM) ends the main window's run, which starts the program's shutdown.
//
// On a desktop the window shows the console page (app/MainView.h) with the window's Door as the page's
// external object; headless it is the handle alone. On a desktop the window owns its Door (one reference,
// from Create to Destroy) and its view.
//
// Threads: everything here runs on the GUI thread; other threads only send messages to the handle, which
// they read from g_mainWindow.
#pragma once

#include <memory>
#include <string>

#include "platform/Com.h"
#include "platform/Gui.h"

class Door;
class MainView;

class SinjoDlg final {
public:
    SinjoDlg();
    ~SinjoDlg();
    SinjoDlg(const SinjoDlg&) = delete;
    SinjoDlg& operator=(const SinjoDlg&) = delete;

    // Creates the window and runs the GUI loop until the window closes; returns the close result.
    int DoModal();
    // Creates the window without running the loop (tests and DoModal).
    bool Create();
    // Destroys the window: commands sent afterwards fail at once.
    void Destroy();
    // The window's handle, null while there is no window. GUI thread only: other threads read the
    // handle from g_mainWindow (core/Globals.h), which this window keeps up to date.
    platform::HWND Handle() const { return m_window; }
    // Runs `script` in the frame named `frame` of the page the window shows. E_FAIL while there is no page
    // to run it in (the window has no web view yet, and none when headless).
    platform::HRESULT ExecScript(const std::wstring& frame, const std::wstring& script);

    // The keyboard filter's Alt+letter or digit key (the virtual-key code): Alt+D asks the page to focus its
    // search field by leaving "SetFocusOnSearch()" in the script mailbox for it.
    static void OnSystemKey(unsigned virtualKey);

    // The window's Door (the page's external object), null while there is no page.
    Door* GetDoor() const { return m_pDoor; }
    // True while the window shows its page (a desktop run).
    bool HasView() const { return m_view != nullptr; }

private:
    platform::LRESULT OnMessage(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam);

    platform::HWND m_window = nullptr;  // GUI thread only; published to other threads as g_mainWindow
    bool m_running = false;             // inside DoModal's loop
    Door* m_pDoor = nullptr;            // one reference while the page is shown
    std::unique_ptr<MainView> m_view;   // the page on a desktop; null headless
};
