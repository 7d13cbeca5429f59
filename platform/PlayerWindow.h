// The player's window on a desktop: a top-level window that shows a media control's picture and the
// control's own transport bar. This is the seam between the player (which knows no toolkit) and the
// desktop library (platform/desktop, GTK), which registers the factory. Headless, or without a desktop
// library, CreatePlayerWindow gives null and the player's window stays a handle without a picture.
//
// Who talks to whom:
//   - the owner (the player window object) creates one for its handle and shows or hides it; the window
//     tells the owner of its close box (WM_CLOSE sent to the handle) and of new client sizes (WM_SIZE
//     posted to the handle, width in the low and height in the high 16 bits of lParam);
//   - the media control hosted in the same handle finds it with PlayerWindowOf, gives it the picture,
//     asks it for full screen, and lets its transport bar drive the control (AttachControl).
//
// Threads: GUI thread only, everything here.
#pragma once

#include <memory>
#include <string>

#include "platform/Gui.h"

namespace platform {

class MediaPlayer;

class PlayerWindow {
public:
    virtual ~PlayerWindow();
    PlayerWindow() = default;
    PlayerWindow(const PlayerWindow&) = delete;
    PlayerWindow& operator=(const PlayerWindow&) = delete;

    // Shows the window normally and brings it to the front, or hides it.
    virtual void Show(bool show) = 0;

    // --- the media control's side ---
    // The control that the transport bar drives and whose state it shows; null detaches it (the
    // control does so before it goes).
    virtual void AttachControl(MediaPlayer* control) = 0;
    // The picture: the widget of the control's video output (a GtkWidget*, passed untyped so that the
    // media back end needs no toolkit headers); the window keeps its own reference. Null removes it
    // and leaves the client area black.
    virtual void SetVideoWidget(void* widget) = 0;
    // Full screen of the window itself, on its monitor. IsFullScreen says what the window really is
    // (a person may have left full screen meanwhile).
    virtual void SetFullScreen(bool fullScreen) = 0;
    virtual bool IsFullScreen() const = 0;

    // The handle this window shows (set by CreatePlayerWindow).
    HWND Handle() const { return m_handle; }

private:
    friend std::unique_ptr<PlayerWindow> CreatePlayerWindow(const struct PlayerWindowSetup&);
    HWND m_handle = nullptr;
};

struct PlayerWindowSetup {
    HWND handle = nullptr;  // the handle the window shows
    HWND owner = nullptr;   // the window it belongs to: kept above it and destroyed with it; may be null
    std::wstring title;
    int width = 0;          // first client size, pixels
    int height = 0;
};

using PlayerWindowFactory = std::unique_ptr<PlayerWindow> (*)(const PlayerWindowSetup& setup);

// Called by a desktop library once its toolkit runs; null removes the factory.
void RegisterPlayerWindowFactory(PlayerWindowFactory factory);
// The window for setup.handle, not yet shown; null when there is no desktop. While it lives,
// PlayerWindowOf(setup.handle) finds it.
std::unique_ptr<PlayerWindow> CreatePlayerWindow(const PlayerWindowSetup& setup);
// The live player window showing `handle`, or null.
PlayerWindow* PlayerWindowOf(HWND handle);

}  // namespace platform
