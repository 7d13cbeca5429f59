#include "app/SinjoDlg.h"

#include "app/Door.h"
#include "app/MainView.h"
#include "core/Globals.h"
#include "core/Settings.h"
#include "library/SongMan.h"
#include "platform/FileSystem.h"
#include "platform/ThreadAnnotations.h"
#include "player/PlayerCommands.h"
#include "protocol/Commands.h"

namespace {
constexpr int IDCANCEL = 2;
constexpr unsigned kSearchKey = 'D';
constexpr wchar_t kFocusSearchScript[] = L"SetFocusOnSearch()";
constexpr wchar_t kPageFile[] = L"index.htm";
constexpr wchar_t kIconFile[] = L"sinjobox.svg";  // beside the page, in the html folder

// The console page and the icon: in the html folder of the settings store, or beside the program when
// there is no store (tests that make a window alone).
std::wstring HtmlPath(const wchar_t* name) {
    if (g_settings != nullptr) return g_settings->GetHtmlPath(name);
    return GetDirectoryPart(GetProgramPath()) + L"\\html\\" + name;
}
}  // namespace

SinjoDlg::SinjoDlg() = default;

SinjoDlg::~SinjoDlg() { Destroy(); }

void SinjoDlg::OnSystemKey(unsigned virtualKey) {
    if (virtualKey != kSearchKey || g_songMan == nullptr) return;
    platform::RecursiveMutexLock guard(g_songMan->lock);
    g_songMan->next_script = kFocusSearchScript;
}

bool SinjoDlg::Create() {
    if (m_window != nullptr) return true;
    m_window = platform::CreateWindowHandle(
        [this](platform::HWND, platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam) {
            return OnMessage(message, wParam, lParam);
        });
    if (m_window == nullptr) return false;
    g_mainWindow.store(m_window, std::memory_order_release);
    platform::ShowWindow(m_window, true);
    m_pDoor = Door::Create().Detach();
    MainViewSetup setup;
    setup.window = m_window;
    setup.door = m_pDoor;
    setup.pagePath = platform::NativePath(HtmlPath(kPageFile));
    setup.iconPath = platform::NativePath(HtmlPath(kIconFile));
    // The close box takes the path of SIGTERM: a close message to the handle, which ends the run.
    const platform::HWND window = m_window;
    setup.onClose = [window] { platform::PostMessage(window, platform::WM_CLOSE, 0, 0); };
    setup.onSystemKey = &SinjoDlg::OnSystemKey;
    m_view = CreateMainView(setup);
    if (m_view == nullptr) {
        // Headless: no page, so nobody to offer the Door to.
        m_pDoor->Release();
        m_pDoor = nullptr;
    }
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
    m_view.reset();
    if (m_pDoor != nullptr) {
        m_pDoor->Release();
        m_pDoor = nullptr;
    }
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
    if (m_view == nullptr) return platform::E_FAIL;  // headless: no page to run script in
    return m_view->ExecScript(frame, script);
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
