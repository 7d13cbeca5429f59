#include "app/SinjoDlg.h"

#include "app/Globals.h"
#include "library/SongMan.h"
#include "web/SWebServer.h"

namespace {
constexpr int IDCANCEL = 2;
}

SinjoDlg::~SinjoDlg() { Destroy(); }

bool SinjoDlg::Create() {
    if (m_window != nullptr) return true;
    m_window = platform::CreateWindowHandle(
        [this](platform::HWND, platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam) {
            return OnMessage(message, wParam, lParam);
        });
    if (m_window != nullptr) platform::ShowWindow(m_window, true);
    return m_window != nullptr;
}

void SinjoDlg::Destroy() {
    if (m_window == nullptr) return;
    platform::HWND window = m_window;
    m_window = nullptr;
    platform::DestroyWindow(window);
}

int SinjoDlg::DoModal() {
    if (!Create()) return -1;
    m_running = true;
    const int result = platform::RunMessageLoop();
    m_running = false;
    // The window ends with its run: commands that arrive from now on fail at once instead of waiting for
    // a GUI thread that is busy shutting down.
    Destroy();
    return result;
}

platform::LRESULT SinjoDlg::OnMessage(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam) {
    switch (message) {
        case WM_SONGMAN_COMMAND:
            if (g_songMan == nullptr) return 0;
            return g_songMan->Control(static_cast<int>(wParam), static_cast<intptr_t>(lParam));
        case platform::WM_CLOSE:
            if (m_running) platform::PostQuitMessage(IDCANCEL);
            return 0;
        default:
            return 0;
    }
}
