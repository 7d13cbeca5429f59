// The simulated media back end: a media player control that plays nothing but keeps time like one.
// For tests and for machines without media support.
//
// Behaviour:
//   - PutUrl with a file that can be opened: the item starts at once (state 3, playing) and lasts
//     $SINJO_SIM_MEDIA_MS milliseconds of playing time (default 180000; read at every PutUrl). Time
//     spent paused does not count. At the end the control reports state 1 (stopped).
//   - PutUrl with an empty text or a file that cannot be opened: the control reports state 9
//     (transitioning) and, kMissingMediaDelayMs later, state 1 (stopped), as if the item had ended,
//     so a queue that waits for the end moves on. Play on such an item does nothing.
//   - Play after the end, or after Stop, starts the item again from 0.
//   - Setting the position at or past the end ends the item (state 1), like a natural end.
//   - Full screen can be entered only while playing; leaving it is always allowed. Ending an item
//     leaves full screen.
//   - Volume 0..100, 50 at start; values outside are clamped.
//
// Tests drive it directly: FinishNow, ReportState, the recorded calls (Calls), injected failures and
// a control without transport or settings facet (Options).
//
// Threads: GUI thread only, like every media control. It owns a hidden window handle on the GUI loop
// for its end-of-item timer; when it is made outside a GUI thread it has none and only ends items
// when a test calls FinishNow.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/MediaPlayer.h"

namespace platform {

class SimulatedMediaPlayer final : public MediaPlayer {
public:
    static constexpr uint32_t kDefaultMediaMs = 180000;
    static constexpr uint32_t kMissingMediaDelayMs = 200;

    struct Options {
        bool hasTransport = true;
        bool hasSettings = true;
    };

    // Every call the control received, in order per kind.
    struct Calls {
        std::vector<std::wstring> urls;
        int play = 0;
        int pause = 0;
        int stop = 0;
        std::vector<double> positions;   // SetCurrentPosition arguments
        std::vector<int32_t> volumes;    // SetVolume arguments, before clamping
        std::vector<bool> fullScreens;   // PutFullScreen arguments, including refused ones
    };

    enum class Operation { Play, Pause, Stop, GetPosition, SetPosition, GetVolume, SetVolume,
                           GetFullScreen, PutFullScreen, GetPlayState, PutUrl };

    SimulatedMediaPlayer();
    explicit SimulatedMediaPlayer(Options options);
    ~SimulatedMediaPlayer() override;
    SimulatedMediaPlayer(const SimulatedMediaPlayer&) = delete;
    SimulatedMediaPlayer& operator=(const SimulatedMediaPlayer&) = delete;

    // --- MediaPlayer ---
    MediaStatus PutUrl(std::wstring_view url) override;
    std::wstring Url() const override { return m_url; }
    MediaStatus GetPlayState(int32_t* state) override;
    MediaStatus GetFullScreen(bool* fullScreen) override;
    MediaStatus PutFullScreen(bool fullScreen) override;
    MediaTransport* Transport() override;
    MediaSettings* Settings() override;
    void SetPlayStateHandler(PlayStateHandler handler) override { m_handler = std::move(handler); }

    // --- test controls ---
    // Ends the current item now, as a natural end would (state 1). Nothing without media.
    void FinishNow();
    // Sets the state and reports it, without any other effect (e.g. the transport bar's stop, or a
    // state a real back end passes through).
    void ReportState(int32_t state);
    // From now on the operation fails with `status` (kMediaOk: works again).
    void SetFailure(Operation op, MediaStatus status);
    // The length of the current item.
    void SetMediaDurationMs(uint32_t ms);
    uint32_t MediaDurationMs() const { return m_durationMs; }
    // The user leaves full screen (not recorded as a call).
    void UserLeavesFullScreen() { m_fullScreen = false; }
    int32_t State() const { return m_state; }
    int32_t Volume() const { return m_volume; }
    bool IsFullScreen() const { return m_fullScreen; }
    double PositionSeconds() const;
    const Calls& calls() const { return m_calls; }
    void ClearCalls() { m_calls = Calls(); }

private:
    using TransportFacet = ForwardingTransport<SimulatedMediaPlayer>;
    using SettingsFacet = ForwardingSettings<SimulatedMediaPlayer>;
    friend class ForwardingTransport<SimulatedMediaPlayer>;
    friend class ForwardingSettings<SimulatedMediaPlayer>;

    MediaStatus DoPlay();
    MediaStatus DoPause();
    MediaStatus DoStop();
    MediaStatus DoGetPosition(double* seconds);
    MediaStatus DoSetPosition(double seconds);
    MediaStatus DoGetVolume(int32_t* volume);
    MediaStatus DoSetVolume(int32_t volume);

    MediaStatus Failure(Operation op) const;
    uint64_t PlayedMs() const;      // playing time of the current item so far
    void StartClock();              // state becomes playing; arms the end timer
    void StopClock();               // folds the running time into m_playedMs; disarms the timer
    void ArmTimer(uint32_t ms);
    void DisarmTimer();
    void OnTimer();
    void EndItem();                 // state 1, position back to 0, reported
    void SetState(int32_t state);   // sets and reports

    // All state below is touched on the GUI thread only.
    const Options m_options;
    std::unique_ptr<TransportFacet> m_transport;
    std::unique_ptr<SettingsFacet> m_settings;
    HWND m_timerWindow = nullptr;     // hidden handle for the end-of-item timer; owned
    bool m_timerArmed = false;
    bool m_timerIsMissingMedia = false;  // the armed timer ends a media item that could not open
    PlayStateHandler m_handler;
    std::wstring m_url;
    bool m_mediaOk = false;           // the current item could be opened
    int32_t m_state = kPlayStateUndefined;
    uint32_t m_durationMs = kDefaultMediaMs;
    uint64_t m_playedMs = 0;          // playing time folded in at the last pause/seek
    uint32_t m_playStartTick = 0;     // tick count when playing last started
    int32_t m_volume = 50;
    bool m_fullScreen = false;
    MediaStatus m_failures[11] = {};  // by Operation
    Calls m_calls;
};

}  // namespace platform
