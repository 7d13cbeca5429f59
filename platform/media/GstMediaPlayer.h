// The GStreamer back end of the media player control ("gstreamer" in CreateMediaPlayer).
//
// Each media item gets its own playbin pipeline, made by PutUrl from the path text (NativePath, then
// a file URI). Its audio path: decoder, playbin's volume, then the audio sink bin: audioconvert to
// 16-bit interleaved PCM, the DSP plug-in chain (the "sinjodmochain" element), audioconvert and
// audioresample, and the output sink. The chain sits right before the output so that a plug-in's
// change of behaviour (a channel switch) is heard as soon as the device plays it. Output sinks:
//   - audio: $SINJO_AUDIO_SINK (a gst-launch description such as "wavenc ! filesink location=o.wav"),
//     else autoaudiosink (which falls back to a fake sink, in real time, without a sound device);
//   - video: $SINJO_VIDEO_SINK, else headless a fakesink that keeps real time (the automatic video
//     sink crashes without a display), else, when the hosting window is a player window on the desktop
//     (platform/PlayerWindow.h), gtksink, whose widget the window shows (scaled, aspect kept), else
//     autovideosink in a window of its own.
// Full screen: with a player window, PutFullScreen makes that window full screen and GetFullScreen
// says what the window really is; without one, a video sink with a "fullscreen" switch is told.
// Errors of the video output (a picture that cannot be shown, an output window closed) are not errors
// of the file: the item goes on without a picture from where it was (the pipeline is made again with
// a fake video sink), and one line on standard error says so.
// A description that does not parse is reported once on standard error and the default is used.
//
// Play states: 9 from PutUrl until the pipeline plays, then 3; 2 after Pause; 1 at the end of the
// media, after Stop, after a position at or past the end, and when the item cannot be played (a
// missing, unreadable or corrupt file, or a pipeline error, named in one line on standard error).
// A failed item reports 1 no sooner than kFailedItemDelayMs after PutUrl, and an item that has not
// started within kOpenTimeoutMs is given up the same way, so a queue waiting for the end always moves
// on and a queue of bad files never spins. Play after the end starts the item again from 0.
//
// Threads: created, called and destroyed on the GUI thread (MediaPlayer's rule). GStreamer's
// streaming threads post bus messages through a sync handler that only queues a task for the GUI
// thread (RunOnGuiThread); the task runs only while the control is alive (a shared token the
// destructor drops) and only for the pipeline that sent it (a generation number), so nothing ever
// touches a destroyed control or acts on an old item's messages. The state-change handler is called
// on the GUI thread, from inside a call or from such a task.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/MediaPlayer.h"

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;

namespace platform::media {

class GstMediaPlayer final : public MediaPlayer {
public:
    static constexpr uint32_t kFailedItemDelayMs = 200;
    static constexpr uint32_t kOpenTimeoutMs = 20000;

    // Initialises GStreamer (once per process) and makes a control; null when GStreamer cannot be
    // started or lacks playbin, so that the caller falls back to another back end.
    static std::unique_ptr<MediaPlayer> Create();

    ~GstMediaPlayer() override;
    GstMediaPlayer(const GstMediaPlayer&) = delete;
    GstMediaPlayer& operator=(const GstMediaPlayer&) = delete;

    // --- MediaPlayer ---
    MediaStatus PutUrl(std::wstring_view url) override;
    std::wstring Url() const override { return m_url; }
    MediaStatus GetPlayState(int32_t* state) override;
    MediaStatus GetFullScreen(bool* fullScreen) override;
    MediaStatus PutFullScreen(bool fullScreen) override;
    MediaStatus GetDuration(double* seconds) override;
    MediaTransport* Transport() override;
    MediaSettings* Settings() override;
    void SetPlayStateHandler(PlayStateHandler handler) override { m_handler = std::move(handler); }
    void AttachToWindow(HWND window) override;

    // The pipeline of the current item (null when there is none); for tests that look inside.
    GstElement* Pipeline() const { return m_pipeline; }

private:
    using TransportFacet = ForwardingTransport<GstMediaPlayer>;
    using SettingsFacet = ForwardingSettings<GstMediaPlayer>;
    friend class ForwardingTransport<GstMediaPlayer>;
    friend class ForwardingSettings<GstMediaPlayer>;
    struct BusContext;

    GstMediaPlayer();

    MediaStatus DoPlay();
    MediaStatus DoPause();
    MediaStatus DoStop();
    MediaStatus DoGetPosition(double* seconds);
    MediaStatus DoSetPosition(double seconds);
    MediaStatus DoGetVolume(int32_t* volume);
    MediaStatus DoSetVolume(int32_t volume);

    bool BuildPipeline(const std::string& uri);
    void DestroyPipeline();
    // Points the pipeline's bus at this control under a new generation; older messages go stale.
    // Only while no streaming thread runs (a new pipeline, or one just set to NULL).
    void InstallBusHandler();
    // Starts the pipeline towards PLAYING; false when it refuses at once.
    bool StartPipeline();
    void OnBusMessage(GstMessage* message);  // GUI thread, current pipeline only
    void ApplyPendingSeek();
    void ItemFailed(const std::string& why);
    void EndItem();                          // pipeline stopped, state 1 reported
    void SetState(int32_t state);            // sets and reports
    void ArmTimer(uintptr_t id, uint32_t ms);
    void DisarmTimer(uintptr_t id);
    void OnTimer(uintptr_t id);
    void ApplyFullScreen();
    GstElement* MakeVideoSink();
    // The video output failed: the item goes on from where it was, without a picture.
    void VideoOutputFailed(const std::string& why);
    bool FromVideoSink(GstMessage* message) const;

    // All fields are used on the GUI thread only.
    std::unique_ptr<TransportFacet> m_transport;
    std::unique_ptr<SettingsFacet> m_settings;
    std::shared_ptr<int> m_alive;          // bus tasks hold a weak reference; reset by the destructor
    HWND m_timerWindow = nullptr;          // owned; timers for failed items and the opening time-out
    PlayStateHandler m_handler;
    std::wstring m_url;
    std::string m_uri;                     // the current item's URI; empty when it cannot be played
    GstElement* m_pipeline = nullptr;      // owned reference; null between items and after a failure
    uint64_t m_generation = 0;             // bumped whenever the pipeline is replaced or dropped
    int32_t m_state = kPlayStateUndefined;
    bool m_wantPlaying = false;            // the pipeline's target is PLAYING (not PAUSED)
    bool m_opened = false;                 // the current pipeline has prerolled (reached PAUSED)
    bool m_failurePending = false;         // a failed item waits for its delay before reporting 1
    uint32_t m_putTick = 0;                // tick count of the last PutUrl
    double m_pendingSeek = -1.0;           // seconds, applied once the pipeline can seek; <0 none
    int32_t m_volume = 50;
    bool m_fullScreen = false;             // without a player window: what was last put
    HWND m_window = nullptr;               // the hosting window (AttachToWindow); its player window shows the picture
    GstElement* m_videoSink = nullptr;     // owned reference to the current pipeline's video sink, or null
    bool m_videoOff = false;               // the video output failed for this item: no picture until the next
};

// Names the object file that registers the back end, so the linker keeps it (see CMakeLists.txt).
extern "C" void SinjoGstreamerBackendAnchor();

}  // namespace platform::media
