#include "platform/SimulatedMediaPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/FileSystem.h"
#include "platform/Tick.h"

namespace platform {

namespace {

constexpr uintptr_t kEndTimerId = 1;

uint32_t MediaMsFromEnvironment() {
    const char* text = std::getenv("SINJO_SIM_MEDIA_MS");
    if (text == nullptr || *text == '\0') {
        return SimulatedMediaPlayer::kDefaultMediaMs;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || text[0] == '-') {
        return SimulatedMediaPlayer::kDefaultMediaMs;
    }
    // A zero length would end the item before it could be seen playing; keep at least 1 ms.
    return static_cast<uint32_t>(std::clamp<unsigned long long>(value, 1, UINT32_MAX));
}

}  // namespace

SimulatedMediaPlayer::SimulatedMediaPlayer() : SimulatedMediaPlayer(Options()) {}

SimulatedMediaPlayer::SimulatedMediaPlayer(Options options) : m_options(options) {
    if (m_options.hasTransport) {
        m_transport = std::make_unique<TransportFacet>(this);
    }
    if (m_options.hasSettings) {
        m_settings = std::make_unique<SettingsFacet>(this);
    }
    if (IsGuiThread()) {
        m_timerWindow = CreateWindowHandle([this](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
            if (message == WM_TIMER && wParam == kEndTimerId) {
                OnTimer();
            }
            return 0;
        });
    }
}

SimulatedMediaPlayer::~SimulatedMediaPlayer() {
    m_handler = nullptr;
    if (m_timerWindow != nullptr) {
        DestroyWindow(m_timerWindow);
    }
}

MediaTransport* SimulatedMediaPlayer::Transport() { return m_transport.get(); }
MediaSettings* SimulatedMediaPlayer::Settings() { return m_settings.get(); }

MediaStatus SimulatedMediaPlayer::Failure(Operation op) const {
    return m_failures[static_cast<int>(op)];
}

void SimulatedMediaPlayer::SetFailure(Operation op, MediaStatus status) {
    m_failures[static_cast<int>(op)] = status;
}

void SimulatedMediaPlayer::SetMediaDurationMs(uint32_t ms) {
    m_durationMs = std::max<uint32_t>(ms, 1);
    if (m_state == kPlayStatePlaying) {
        if (PlayedMs() >= m_durationMs) {
            EndItem();
        } else {
            ArmTimer(static_cast<uint32_t>(m_durationMs - PlayedMs()));
        }
    }
}

uint64_t SimulatedMediaPlayer::PlayedMs() const {
    if (m_state != kPlayStatePlaying) {
        return m_playedMs;
    }
    return m_playedMs + static_cast<uint32_t>(GetTickCount() - m_playStartTick);
}

double SimulatedMediaPlayer::PositionSeconds() const {
    return static_cast<double>(std::min<uint64_t>(PlayedMs(), m_durationMs)) / 1000.0;
}

void SimulatedMediaPlayer::ArmTimer(uint32_t ms) {
    if (m_timerWindow == nullptr) {
        return;
    }
    KillTimer(m_timerWindow, kEndTimerId);
    m_timerArmed = SetTimer(m_timerWindow, kEndTimerId, std::max<uint32_t>(ms, 1));
}

void SimulatedMediaPlayer::DisarmTimer() {
    if (m_timerArmed && m_timerWindow != nullptr) {
        KillTimer(m_timerWindow, kEndTimerId);
    }
    m_timerArmed = false;
    m_timerIsMissingMedia = false;
}

void SimulatedMediaPlayer::StartClock() {
    m_playStartTick = GetTickCount();
    m_state = kPlayStatePlaying;
    const uint64_t played = m_playedMs;
    ArmTimer(played >= m_durationMs ? 1 : static_cast<uint32_t>(m_durationMs - played));
}

void SimulatedMediaPlayer::StopClock() {
    m_playedMs = PlayedMs();
    DisarmTimer();
}

void SimulatedMediaPlayer::OnTimer() {
    if (m_timerIsMissingMedia) {
        DisarmTimer();
        SetState(kPlayStateStopped);
        return;
    }
    if (m_state != kPlayStatePlaying) {
        DisarmTimer();
        return;
    }
    const uint64_t played = PlayedMs();
    if (played >= m_durationMs) {
        EndItem();
    } else {
        // Timers may fire a little early; wait for the rest.
        ArmTimer(static_cast<uint32_t>(m_durationMs - played));
    }
}

void SimulatedMediaPlayer::EndItem() {
    DisarmTimer();
    m_playedMs = 0;
    m_fullScreen = false;
    SetState(kPlayStateStopped);
}

void SimulatedMediaPlayer::SetState(int32_t state) {
    m_state = state;
    // Copy: the handler may replace itself.
    PlayStateHandler handler = m_handler;
    if (handler) {
        handler(state);
    }
}

MediaStatus SimulatedMediaPlayer::PutUrl(std::wstring_view url) {
    m_calls.urls.emplace_back(url);
    if (const MediaStatus failure = Failure(Operation::PutUrl); failure != kMediaOk) {
        return failure;
    }
    DisarmTimer();
    m_url.assign(url);
    m_playedMs = 0;
    m_durationMs = MediaMsFromEnvironment();
    m_mediaOk = !m_url.empty() && CanOpenForRead(m_url);
    if (m_mediaOk) {
        StartClock();
        SetState(kPlayStatePlaying);
    } else {
        // Report the end a little later, as a real player does after failing to open: never from
        // inside this call, and never so fast that a queue of missing files spins the GUI thread.
        SetState(kPlayStateTransitioning);
        ArmTimer(kMissingMediaDelayMs);
        m_timerIsMissingMedia = m_timerArmed;
    }
    return kMediaOk;
}

MediaStatus SimulatedMediaPlayer::GetPlayState(int32_t* state) {
    if (const MediaStatus failure = Failure(Operation::GetPlayState); failure != kMediaOk) {
        return failure;
    }
    *state = m_state;
    return kMediaOk;
}

MediaStatus SimulatedMediaPlayer::GetFullScreen(bool* fullScreen) {
    if (const MediaStatus failure = Failure(Operation::GetFullScreen); failure != kMediaOk) {
        return failure;
    }
    *fullScreen = m_fullScreen;
    return kMediaOk;
}

MediaStatus SimulatedMediaPlayer::PutFullScreen(bool fullScreen) {
    m_calls.fullScreens.push_back(fullScreen);
    if (const MediaStatus failure = Failure(Operation::PutFullScreen); failure != kMediaOk) {
        return failure;
    }
    if (fullScreen && m_state != kPlayStatePlaying) {
        return kMediaUnexpected;
    }
    m_fullScreen = fullScreen;
    return kMediaOk;
}

void SimulatedMediaPlayer::FinishNow() {
    if (m_url.empty() && m_state == kPlayStateUndefined) {
        return;
    }
    EndItem();
}

void SimulatedMediaPlayer::ReportState(int32_t state) {
    SetState(state);
}

MediaStatus SimulatedMediaPlayer::DoPlay() {
    ++m_calls.play;
    if (const MediaStatus failure = Failure(Operation::Play); failure != kMediaOk) {
        return failure;
    }
    if (!m_mediaOk || m_state == kPlayStatePlaying) {
        return kMediaOk;
    }
    if (m_state == kPlayStateStopped) {
        m_playedMs = 0;
    }
    StartClock();
    SetState(kPlayStatePlaying);
    return kMediaOk;
}

MediaStatus SimulatedMediaPlayer::DoPause() {
    ++m_calls.pause;
    if (const MediaStatus failure = Failure(Operation::Pause); failure != kMediaOk) {
        return failure;
    }
    if (m_state != kPlayStatePlaying) {
        return kMediaOk;
    }
    StopClock();
    SetState(kPlayStatePaused);
    return kMediaOk;
}

MediaStatus SimulatedMediaPlayer::DoStop() {
    ++m_calls.stop;
    if (const MediaStatus failure = Failure(Operation::Stop); failure != kMediaOk) {
        return failure;
    }
    if (m_state != kPlayStatePlaying && m_state != kPlayStatePaused) {
        return kMediaOk;
    }
    EndItem();
    return kMediaOk;
}

MediaStatus SimulatedMediaPlayer::DoGetPosition(double* seconds) {
    if (const MediaStatus failure = Failure(Operation::GetPosition); failure != kMediaOk) {
        return failure;
    }
    *seconds = m_mediaOk ? PositionSeconds() : 0.0;
    return kMediaOk;
}

MediaStatus SimulatedMediaPlayer::DoSetPosition(double seconds) {
    m_calls.positions.push_back(seconds);
    if (const MediaStatus failure = Failure(Operation::SetPosition); failure != kMediaOk) {
        return failure;
    }
    if (!m_mediaOk || (m_state != kPlayStatePlaying && m_state != kPlayStatePaused)) {
        return kMediaOk;
    }
    if (!(seconds > 0.0)) {  // negative or NaN
        seconds = 0.0;
    }
    const double ms = seconds * 1000.0;
    if (ms >= static_cast<double>(m_durationMs)) {
        EndItem();
        return kMediaOk;
    }
    const bool playing = m_state == kPlayStatePlaying;
    if (playing) {
        DisarmTimer();
    }
    m_playedMs = static_cast<uint64_t>(std::llround(ms));
    if (playing) {
        StartClock();
    }
    return kMediaOk;
}

MediaStatus SimulatedMediaPlayer::DoGetVolume(int32_t* volume) {
    if (const MediaStatus failure = Failure(Operation::GetVolume); failure != kMediaOk) {
        return failure;
    }
    *volume = m_volume;
    return kMediaOk;
}

MediaStatus SimulatedMediaPlayer::DoSetVolume(int32_t volume) {
    m_calls.volumes.push_back(volume);
    if (const MediaStatus failure = Failure(Operation::SetVolume); failure != kMediaOk) {
        return failure;
    }
    m_volume = std::clamp<int32_t>(volume, 0, 100);
    return kMediaOk;
}

}  // namespace platform
