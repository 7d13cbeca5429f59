// The media player control: what the player window needs from a component that plays one media file
// at a time. Back ends live behind this interface (a simulated one here, real playback elsewhere) and
// are chosen by CreateMediaPlayer.
//
// The control has two optional facets, as the player window expects of it: the transport (play,
// pause, stop, current position) and the settings (volume). A back end that lacks one hands out null
// for it; the facets are owned by the control and live exactly as long as it does.
//
// Threads: a control is created, called and destroyed on the GUI thread only. Its play-state-change
// notification is delivered on the GUI thread too, either from inside a call that changes the state
// or from a GUI-loop timer or task.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Gui.h"

namespace platform {

// Call statuses, with the values of the platform's result codes: negative means failure.
using MediaStatus = int32_t;
constexpr MediaStatus kMediaOk = 0;
constexpr MediaStatus kMediaFail = static_cast<MediaStatus>(0x80004005);        // unspecified failure
constexpr MediaStatus kMediaUnexpected = static_cast<MediaStatus>(0x8000FFFF);  // wrong state
constexpr bool MediaSucceeded(MediaStatus s) { return s >= 0; }

// Play states.
constexpr int32_t kPlayStateUndefined = 0;  // no media yet
constexpr int32_t kPlayStateStopped = 1;    // stopped, also at the natural end of a media item
constexpr int32_t kPlayStatePaused = 2;
constexpr int32_t kPlayStatePlaying = 3;
constexpr int32_t kPlayStateTransitioning = 9;  // opening a new media item

// Transport facet: play, pause, stop and the position inside the current media item.
class MediaTransport {
public:
    virtual ~MediaTransport() = default;
    virtual MediaStatus Play() = 0;
    virtual MediaStatus Pause() = 0;
    virtual MediaStatus Stop() = 0;
    // Seconds from the start of the media item.
    virtual MediaStatus GetCurrentPosition(double* seconds) = 0;
    // A negative position counts as 0; a position at or past the end ends the item, which then
    // reports stopped like a natural end.
    virtual MediaStatus SetCurrentPosition(double seconds) = 0;
};

// Settings facet: the volume, 0 to 100 (50 when the control is made); values outside are clamped.
class MediaSettings {
public:
    virtual ~MediaSettings() = default;
    virtual MediaStatus GetVolume(int32_t* volume) = 0;
    virtual MediaStatus SetVolume(int32_t volume) = 0;
};

// Facets that forward to their owner's DoPlay, DoPause, DoStop, DoGetPosition, DoSetPosition,
// DoGetVolume and DoSetVolume; a back end makes them friends and owns one of each.
template <class Owner>
class ForwardingTransport final : public MediaTransport {
public:
    explicit ForwardingTransport(Owner* owner) : m_owner(owner) {}
    MediaStatus Play() override { return m_owner->DoPlay(); }
    MediaStatus Pause() override { return m_owner->DoPause(); }
    MediaStatus Stop() override { return m_owner->DoStop(); }
    MediaStatus GetCurrentPosition(double* seconds) override { return m_owner->DoGetPosition(seconds); }
    MediaStatus SetCurrentPosition(double seconds) override { return m_owner->DoSetPosition(seconds); }

private:
    Owner* const m_owner;  // owns this facet
};

template <class Owner>
class ForwardingSettings final : public MediaSettings {
public:
    explicit ForwardingSettings(Owner* owner) : m_owner(owner) {}
    MediaStatus GetVolume(int32_t* volume) override { return m_owner->DoGetVolume(volume); }
    MediaStatus SetVolume(int32_t volume) override { return m_owner->DoSetVolume(volume); }

private:
    Owner* const m_owner;  // owns this facet
};

// Receives the new play state.
using PlayStateHandler = std::function<void(int32_t newState)>;

class MediaPlayer {
public:
    virtual ~MediaPlayer() = default;

    // Opens the media at `url` (a path text as the jukebox writes it) and, with automatic start,
    // plays it at once. Does not report failure to open: a media item that cannot be opened reports
    // stopped shortly afterwards instead, so that whoever waits for the end moves on.
    virtual MediaStatus PutUrl(std::wstring_view url) = 0;
    virtual std::wstring Url() const = 0;
    virtual MediaStatus GetPlayState(int32_t* state) = 0;
    virtual MediaStatus GetFullScreen(bool* fullScreen) = 0;
    // Full screen can only be entered while a media item plays; otherwise kMediaUnexpected.
    virtual MediaStatus PutFullScreen(bool fullScreen) = 0;
    // Length of the current item in seconds; a failure while it is not known (or never, for a back
    // end that cannot tell).
    virtual MediaStatus GetDuration(double* /*seconds*/) { return kMediaFail; }

    // The facets; null when this control has none. Owned by the control.
    virtual MediaTransport* Transport() = 0;
    virtual MediaSettings* Settings() = 0;

    // Replaces the play-state-change handler (empty: none). Called on the GUI thread; the handler
    // may call the control again.
    virtual void SetPlayStateHandler(PlayStateHandler handler) = 0;

    // Where the picture goes: the hosting window and the video area inside it. Back ends without a
    // picture ignore both.
    virtual void AttachToWindow(HWND /*window*/) {}
    virtual void SetVideoRect(int /*x*/, int /*y*/, int /*width*/, int /*height*/) {}
};

using MediaBackendFactory = std::function<std::unique_ptr<MediaPlayer>()>;

// Makes a back end known under `name` ("gstreamer", "simulated", ...). A later registration under
// the same name replaces the earlier one. Thread-safe. A back end that registers itself from a static
// object must make sure its object file is linked in.
void RegisterMediaBackend(const std::string& name, MediaBackendFactory factory);
bool IsMediaBackendRegistered(const std::string& name);

// Makes the registered object known at static initialisation:
//   static platform::MediaBackendRegistrar reg("gstreamer", [] { return std::make_unique<...>(); });
struct MediaBackendRegistrar {
    MediaBackendRegistrar(const std::string& name, MediaBackendFactory factory) {
        RegisterMediaBackend(name, std::move(factory));
    }
};

// The back end named by $SINJO_MEDIA_BACKEND, by default "gstreamer". When that one is not available
// (not built, unknown name, or its factory gives nothing), the simulated back end is used and one
// line saying so goes to standard error (once per process). GUI thread only. Never null.
std::unique_ptr<MediaPlayer> CreateMediaPlayer();

// The back end that CreateMediaPlayer would choose, by name (for messages and tests).
std::string ChosenMediaBackendName();

}  // namespace platform
