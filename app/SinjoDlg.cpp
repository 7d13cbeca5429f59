#include "app/SinjoDlg.h"

#include "core/Globals.h"
#include "library/SongMan.h"
#include "player/PlayerCommands.h"
#include "protocol/Commands.h"

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
    if (m_window == nullptr) return false;
    g_mainWindow.store(m_window, std::memory_order_release);
    platform::ShowWindow(m_window, true);
    return true;
}

void SinjoDlg::Destroy() {
    if (m_window == nullptr) return;
    platform::HWND window = m_window;
    m_window = nullptr;
    // Web workers stop sending here first; a send already under way fails when the window goes.
    g_mainWindow.compare_exchange_strong(window, nullptr, std::memory_order_acq_rel);
    // The player window belongs to this window and ends with it, so the song stops now and not after
    // the web server has finished stopping.
    DestroyPlayer();
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

platform::HRESULT SinjoDlg::ExecScript(const std::wstring& frame, const std::wstring& script) {
    (void)frame;
    (void)script;
    return platform::E_FAIL;  // no web view, so no page to run script in
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
