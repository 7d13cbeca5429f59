// WMPlayer: the player window's wrapper around the media player control (platform/MediaPlayer.h). It
// creates the control, owns it, and gives the player window typed access to the control's properties
// (URL, play state, full screen) and non-owning pointers to its transport and settings facets.
//
// A call on a wrapper whose control was never created, or whose control refuses it, gives a failure
// status (the caller decides whether to care); nothing here throws.
//
// Threads: GUI thread only. Owned by SPlayer (embedded), which creates it in its initialisation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Gui.h"
#include "platform/MediaPlayer.h"

class WMPlayer final {
public:
    WMPlayer() = default;
    ~WMPlayer();
    WMPlayer(const WMPlayer&) = delete;
    WMPlayer& operator=(const WMPlayer&) = delete;

    // Creates the control (the back end chosen by platform::CreateMediaPlayer) hosted in `parent`
    // under the child id `id`. False, with no control, when that fails or a control already exists.
    bool Create(platform::HWND parent, int id);
    // Same with a control made by the caller (tests, or a host that picks its own back end).
    bool Create(platform::HWND parent, int id, std::unique_ptr<platform::MediaPlayer> control);
    bool IsCreated() const { return m_control != nullptr; }
    int GetDlgCtrlID() const { return m_id; }
    // Destroys the control; every facet pointer handed out before dies with it.
    void Destroy();

    // --- the control's properties ---
    platform::MediaStatus PutURL(const std::wstring& url);
    std::wstring GetURL() const;
    platform::MediaStatus GetPlayState(int32_t* state);
    platform::MediaStatus GetFullScreen(bool* fullScreen);
    platform::MediaStatus PutFullScreen(bool fullScreen);
    // The control's transport and settings facets; null without a control or when it has none.
    // Non-owning: valid until Destroy or the wrapper's end.
    platform::MediaTransport* GetControls();
    platform::MediaSettings* GetSettings();

    // The play-state-change event, delivered on the GUI thread.
    void SetPlayStateChangeHandler(platform::PlayStateHandler handler);
    // Places the picture inside the hosting window.
    void MoveWindow(int x, int y, int width, int height);

    // The control itself (tests reach the simulated back end through it); null before Create.
    platform::MediaPlayer* Control() { return m_control.get(); }

private:
    std::unique_ptr<platform::MediaPlayer> m_control;  // owned
    int m_id = 0;
};
