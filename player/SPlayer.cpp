#include "player/SPlayer.h"

#include <cstdio>
#include <utility>

#include "core/Globals.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "platform/PropertyPage.h"
#include "player/PlayerCommands.h"
#include "protocol/SettingKeys.h"

using platform::HWND;
using platform::LPARAM;
using platform::LRESULT;
using platform::MediaStatus;
using platform::UINT;
using platform::WPARAM;

namespace {

// Who hears that a song has ended (the queue, wired by the application). GUI thread only.
std::function<void()>& MediaEndedHandler() {
    static std::function<void()> handler;
    return handler;
}

void ReportRefusal(const char* what, MediaStatus status) {
    std::fprintf(stderr, "Sinjo: the media player refused to %s (0x%08X)\n", what, static_cast<unsigned>(status));
}

}  // namespace

SPlayer::~SPlayer() {
    m_inDestructor = true;
    if (m_hWnd != nullptr) {
        const HWND window = m_hWnd;
        m_hWnd = nullptr;
        platform::DestroyWindow(window);
    }
    if (g_player == this) {
        g_player = nullptr;
    }
    m_settings = nullptr;
    m_controls = nullptr;
    m_player.Destroy();
}

bool SPlayer::Create() {
    if (m_hWnd != nullptr) {
        return true;
    }
    m_hWnd = platform::CreateWindowHandle(
        [this](HWND, UINT message, WPARAM wParam, LPARAM lParam) { return WindowProc(message, wParam, lParam); });
    if (m_hWnd == nullptr) {
        return false;
    }
    // On a desktop the handle gets a real window before the control is made, so that the control
    // finds it and puts its picture there.
    const platform::SIZE size = platform::DialogUnitsToPixels(kWidthDlu, kHeightDlu);
    m_view = platform::CreatePlayerWindow({m_hWnd, g_mainWindow.load(std::memory_order_acquire), kCaption,
                                           static_cast<int>(size.cx), static_cast<int>(size.cy)});
    OnInitDialog();
    return true;
}

bool SPlayer::OnInitDialog() {
    if (!m_player.IsCreated()) {
        m_player.Create(m_hWnd, kControlId);
    }
    m_controls = m_player.GetControls();
    m_settings = m_player.GetSettings();
    m_player.SetPlayStateChangeHandler([this](int32_t state) { OnPlayStateChange(state); });
    platform::SetTimer(m_hWnd, kFullScreenTimerId, kFullScreenPeriodMs);
    return true;
}

LRESULT SPlayer::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case platform::WM_TIMER:
        OnTimer(static_cast<uintptr_t>(wParam));
        return 0;
    case platform::WM_CLOSE:
        OnClose();
        return 0;
    case platform::WM_SIZE:
        OnSize(static_cast<int>(lParam & 0xFFFF), static_cast<int>((lParam >> 16) & 0xFFFF));
        return 0;
    case WM_PLAYER_MEDIA_ENDED:
        return OnMediaEnded();
    case platform::WM_SHOWWINDOW:
        if (m_view != nullptr) {
            m_view->Show(wParam != 0);
        }
        return 0;
    case platform::WM_DESTROY:
        platform::KillTimer(m_hWnd, kFullScreenTimerId);
        m_player.SetPlayStateChangeHandler(nullptr);
        m_hWnd = nullptr;
        if (!m_inDestructor) {
            PostNcDestroy();  // deletes this
        }
        return 0;
    default:
        return 0;
    }
}

void SPlayer::PostNcDestroy() {
    if (g_player == this) {
        g_player = nullptr;
    }
    delete this;
}

void SPlayer::PlayUrl(const std::wstring& path) {
    m_fullScreenPending = true;
    m_player.PutURL(path);
}

bool SPlayer::IsPlaying() {
    if (m_hWnd == nullptr || !platform::IsWindow(m_hWnd) || !platform::IsWindowVisible(m_hWnd)) {
        return false;
    }
    int32_t state = platform::kPlayStateUndefined;
    return platform::MediaSucceeded(m_player.GetPlayState(&state)) && state == platform::kPlayStatePlaying;
}

bool SPlayer::ReadVolume(int* volume) {
    if (m_settings == nullptr) {
        return false;
    }
    int32_t value = 0;
    if (!platform::MediaSucceeded(m_settings->GetVolume(&value))) {
        return false;
    }
    *volume = value;
    return true;
}

int SPlayer::GetVolume() {
    if (m_settings == nullptr) {
        return 100;
    }
    // A failed read leaves the control's starting volume rather than an undefined number.
    int volume = 50;
    ReadVolume(&volume);
    return volume;
}

void SPlayer::SetVolume(int volume) {
    if (m_settings != nullptr) {
        m_settings->SetVolume(volume);
    }
}

MediaStatus SPlayer::PlayControl() {
    return m_controls != nullptr ? m_controls->Play() : platform::kMediaOk;
}

MediaStatus SPlayer::PauseControl() {
    return m_controls != nullptr ? m_controls->Pause() : platform::kMediaOk;
}

void SPlayer::OnTimer(uintptr_t /*id*/) {
    if (m_hWnd == nullptr || !platform::IsWindowVisible(m_hWnd)) {
        return;
    }
    if (g_settings == nullptr || !EqualsAsciiNoCase(g_settings->Get(setting_keys::kFullScreen, nullptr), L"true")) {
        return;
    }
    int32_t state = platform::kPlayStateUndefined;
    if (!platform::MediaSucceeded(m_player.GetPlayState(&state)) || state != platform::kPlayStatePlaying ||
        !m_fullScreenPending) {
        return;
    }
    // Failures of the full-screen calls are ignored: the next tick tries again.
    bool fullScreen = false;
    if (!platform::MediaSucceeded(m_player.GetFullScreen(&fullScreen))) {
        return;
    }
    if (fullScreen) {
        m_fullScreenPending = false;
    } else {
        m_player.PutFullScreen(true);
    }
}

void SPlayer::OnClose() {
    // Pause first so a hidden window never plays on; hide even when the control refuses, because
    // the user asked for the window to go (the refusal is reported on standard error).
    const MediaStatus status = PauseControl();
    if (!platform::MediaSucceeded(status)) {
        ReportRefusal("pause", status);
    }
    platform::ShowWindow(m_hWnd, false);
}

void SPlayer::OnSize(int width, int height) {
    if (m_controls != nullptr) {
        m_player.MoveWindow(0, 0, width, height);
    }
}

void SPlayer::OnPlayStateChange(int32_t newState) {
    if (newState == platform::kPlayStateStopped && m_hWnd != nullptr) {
        platform::PostMessage(m_hWnd, WM_PLAYER_MEDIA_ENDED, 0, 0);
    }
}

LRESULT SPlayer::OnMediaEnded() {
    // A copy: the handler may replace itself while it runs.
    const std::function<void()> handler = MediaEndedHandler();
    if (handler) handler();
    return 0;
}

// --- player commands -------------------------------------------------------------------------------

void SetMediaEndedHandler(std::function<void()> handler) { MediaEndedHandler() = std::move(handler); }

bool EnsurePlayer() {
    if (g_player == nullptr) {
        auto* player = new SPlayer();
        g_player = player;
        if (player->Create()) {
            platform::ShowWindow(player->GetSafeHwnd(), true);
        }
    } else if (const HWND window = g_player->GetSafeHwnd();
               window != nullptr && !platform::IsWindowVisible(window)) {
        platform::ShowWindow(window, true);
    }
    return true;
}

MediaStatus Play() {
    EnsurePlayer();
    const MediaStatus status = g_player->PlayControl();
    if (!platform::MediaSucceeded(status)) {
        ReportRefusal("play", status);
    }
    return status;
}

MediaStatus Pause() {
    EnsurePlayer();
    const MediaStatus status = g_player->PauseControl();
    if (!platform::MediaSucceeded(status)) {
        ReportRefusal("pause", status);
    }
    return status;
}

MediaStatus PlayPause() {
    if (g_player == nullptr) {
        return platform::kMediaOk;
    }
    return g_player->IsPlaying() ? Pause() : Play();
}

void Jump(int seconds) {
    if (g_player == nullptr || g_player->Controls() == nullptr) {
        return;
    }
    platform::MediaTransport* controls = g_player->Controls();
    double position = 0.0;
    if (!platform::MediaSucceeded(controls->GetCurrentPosition(&position))) {
        position = 0.0;
    }
    position += seconds;
    if (position < 0.0) {
        position = 0.0;
    }
    controls->SetCurrentPosition(position);
}

void ChangeVolume(int delta) {
    if (g_player == nullptr || g_player->ControlSettings() == nullptr) {
        return;
    }
    int volume = 0;
    // Without a readable volume there is nothing to step from; leave it as it is.
    if (!g_player->ReadVolume(&volume)) {
        return;
    }
    const long long target = static_cast<long long>(volume) + delta;
    g_player->SetVolume(target < 0 ? 0 : target > 100 ? 100 : static_cast<int>(target));
}

void DestroyPlayer() {
    if (g_player == nullptr) {
        return;
    }
    SPlayer* player = g_player;
    if (const HWND window = player->GetSafeHwnd(); window != nullptr) {
        platform::DestroyWindow(window);  // WM_DESTROY deletes the player and empties the slot
    }
    if (g_player == player) {  // no window, or the window's end did not reach the player
        g_player = nullptr;
        delete player;
    }
}
