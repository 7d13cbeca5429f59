// SPlayer: the player window. One top-level window that hosts the media player control (WMPlayer)
// and plays the songs the queue hands it; at most one exists, held by the player slot g_player.
//
// Life: EnsurePlayer (PlayerCommands.h) creates it on first use and shows it. Closing it (WM_CLOSE,
// the close box) pauses the song and hides the window; the next command that needs the player shows
// the same window again with its media and position. The window is destroyed only with the main
// window (DestroyPlayer); after WM_DESTROY the object deletes itself and empties the slot.
//
// End of media: when the control reports state 1 (stopped) the window posts itself
// WM_PLAYER_MEDIA_ENDED; its handler tells whoever SetMediaEndedHandler named (the queue, which then
// advances). The post keeps the advance out of the control's own call stack.
//
// Full screen: timer 1 ticks every 2000 ms for the window's whole life. While the window is visible,
// "pref:FullScreen" is "true" (any letter case) and the item plays, it asks the control for full
// screen once per media item (m_fullScreenPending) and confirms it on a later tick.
//
// On a desktop the window is a real top-level window (platform/PlayerWindow.h): caption "Sinjobox",
// the size of its dialog template, hidden until EnsurePlayer shows it, kept above the main window and
// destroyed with it. The control shows its picture and its transport bar inside it, and its full
// screen is the window's own. Headless it stays a handle without a picture.
//
// Threads: everything here runs on the GUI thread. The player takes no lock of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Gui.h"
#include "platform/MediaPlayer.h"
#include "platform/PlayerWindow.h"
#include "player/WMPlayer.h"

class SPlayer final {
public:
    static constexpr int kControlId = 1000;
    static constexpr uintptr_t kFullScreenTimerId = 1;
    static constexpr uint32_t kFullScreenPeriodMs = 2000;
    // Posted to the player window when the control reports stopped.
    static constexpr platform::UINT WM_PLAYER_MEDIA_ENDED = platform::WM_USER + 1;
    // The window template: its caption and size in dialog units.
    static constexpr const wchar_t* kCaption = L"Sinjobox";
    static constexpr int kWidthDlu = 282;
    static constexpr int kHeightDlu = 204;

    SPlayer() = default;
    // Destroys the window when it still exists (without the self-deletion of the normal path).
    ~SPlayer();
    SPlayer(const SPlayer&) = delete;
    SPlayer& operator=(const SPlayer&) = delete;

    // Creates the window, hidden, and initialises it (control, facets, timer). False when the window
    // cannot be made; the object then stays without a window and the commands do nothing visible.
    bool Create();
    // Null before Create, after a failed Create, and once the window is destroyed.
    platform::HWND GetSafeHwnd() const { return m_hWnd; }

    // Starts a media file: full screen becomes pending again, then the control's URL is set (the
    // control starts it itself). The status of the put is ignored.
    void PlayUrl(const std::wstring& path);
    // True only if the window exists, is visible and the control plays (state 3).
    bool IsPlaying();
    // The control's volume; 100 when the control has no settings facet.
    int GetVolume();
    // Sets the control's volume (nothing without a settings facet); the status is ignored.
    void SetVolume(int volume);
    // The control's volume, false when it has no settings facet or the read fails.
    bool ReadVolume(int* volume);

    // Transport calls: nothing (success) without a transport facet; the control's status otherwise.
    platform::MediaStatus PlayControl();
    platform::MediaStatus PauseControl();

    // Facets of the control; null when it has none. Non-owning.
    platform::MediaTransport* Controls() const { return m_controls; }
    platform::MediaSettings* ControlSettings() const { return m_settings; }
    WMPlayer& Player() { return m_player; }
    bool IsFullScreenPending() const { return m_fullScreenPending; }
    // The desktop window showing this player; null headless.
    platform::PlayerWindow* View() const { return m_view.get(); }

private:
    platform::LRESULT WindowProc(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam);
    bool OnInitDialog();
    void OnTimer(uintptr_t id);
    void OnClose();
    void OnSize(int width, int height);
    void OnPlayStateChange(int32_t newState);
    platform::LRESULT OnMediaEnded();
    // After WM_DESTROY: deletes this object and empties the player slot. Nothing may touch the
    // object afterwards.
    void PostNcDestroy();

    // All fields are used on the GUI thread only.
    platform::HWND m_hWnd = nullptr;
    bool m_inDestructor = false;            // deleting directly: WM_DESTROY must not delete again
    std::unique_ptr<platform::PlayerWindow> m_view;  // the desktop window, or null; outlives m_player's control
    WMPlayer m_player;                      // owns the control; declared before the facet pointers
    platform::MediaTransport* m_controls = nullptr;  // facet of m_player's control, may be null
    platform::MediaSettings* m_settings = nullptr;   // facet of m_player's control, may be null
    bool m_fullScreenPending = true;        // set by construction and every PlayUrl
};
