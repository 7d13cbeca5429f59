// The player window on the GTK desktop (platform/PlayerWindow.h): a top-level window whose client area
// is the picture, with the media control's own transport bar below it.
//
//   - Title and first size from the creator; hidden until shown; transient for the owner's GTK window
//     (looked up again at every Show, since the owner's window may come later) and destroyed with it;
//     never kept above other windows.
//   - The picture fills the client area, scaled with its aspect kept, on black.
//   - Transport bar: a position slider that seeks, across the whole width, and below it play/pause,
//     stop and the time on the left, the volume, a full-screen button and a menu button ("Audio
//     plug-ins...") on the right. It is refreshed four times a second while shown.
//     In full screen it floats over the picture and hides itself after kBarHideMs without pointer
//     motion; moving the pointer brings it back.
//   - Full screen on the window's monitor; Escape, a double-click on the picture and the full-screen
//     button leave it (or enter it, for the last two).
//   - The close box sends WM_CLOSE to the handle and never destroys the window; the owner decides
//     (the player pauses and hides). Client size changes are posted to the handle as WM_SIZE.
//
// Widget names (gtk_widget_set_name), for tests: see the kName* constants.
//
// Ownership and threads: GUI thread only. The object owns its GTK window; when the owner's window
// destroys it first, the object lives on without one and does nothing visible.
#pragma once

#include <cstdint>

namespace platform::desktop {

inline constexpr const char* kNamePlayerWindow = "player-window";
inline constexpr const char* kNameTransportBar = "transport-bar";
inline constexpr const char* kNamePlayPause = "play-pause";
inline constexpr const char* kNameStop = "stop";
inline constexpr const char* kNamePosition = "position";
inline constexpr const char* kNameTime = "time";
inline constexpr const char* kNameVolume = "volume";
inline constexpr const char* kNameFullScreen = "full-screen";
inline constexpr const char* kNamePlayerMenu = "player-menu";

inline constexpr uint32_t kBarRefreshMs = 250;
inline constexpr uint32_t kBarHideMs = 3000;

// Makes platform::CreatePlayerWindow give GTK windows. Called when GTK starts.
void RegisterGtkPlayerWindow();

}  // namespace platform::desktop
