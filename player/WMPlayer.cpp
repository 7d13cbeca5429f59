#include "player/WMPlayer.h"

WMPlayer::~WMPlayer() { Destroy(); }

bool WMPlayer::Create(platform::HWND parent, int id) {
    if (m_control != nullptr) {
        return false;
    }
    return Create(parent, id, platform::CreateMediaPlayer());
}

bool WMPlayer::Create(platform::HWND parent, int id, std::unique_ptr<platform::MediaPlayer> control) {
    if (m_control != nullptr || control == nullptr) {
        return false;
    }
    m_control = std::move(control);
    m_id = id;
    m_control->AttachToWindow(parent);
    return true;
}

void WMPlayer::Destroy() {
    if (m_control != nullptr) {
        // No event may reach a host that is going away.
        m_control->SetPlayStateHandler(nullptr);
        m_control.reset();
    }
}

platform::MediaStatus WMPlayer::PutURL(const std::wstring& url) {
    return m_control ? m_control->PutUrl(url) : platform::kMediaFail;
}

std::wstring WMPlayer::GetURL() const { return m_control ? m_control->Url() : std::wstring(); }

platform::MediaStatus WMPlayer::GetPlayState(int32_t* state) {
    return m_control ? m_control->GetPlayState(state) : platform::kMediaFail;
}

platform::MediaStatus WMPlayer::GetFullScreen(bool* fullScreen) {
    return m_control ? m_control->GetFullScreen(fullScreen) : platform::kMediaFail;
}

platform::MediaStatus WMPlayer::PutFullScreen(bool fullScreen) {
    return m_control ? m_control->PutFullScreen(fullScreen) : platform::kMediaFail;
}

platform::MediaTransport* WMPlayer::GetControls() { return m_control ? m_control->Transport() : nullptr; }

platform::MediaSettings* WMPlayer::GetSettings() { return m_control ? m_control->Settings() : nullptr; }

void WMPlayer::SetPlayStateChangeHandler(platform::PlayStateHandler handler) {
    if (m_control) {
        m_control->SetPlayStateHandler(std::move(handler));
    }
}

void WMPlayer::MoveWindow(int x, int y, int width, int height) {
    if (m_control) {
        m_control->SetVideoRect(x, y, width, height);
    }
}
