// The command hand-off between the web server's workers (and anything else that is not on the GUI thread)
// and the catalogue's queue on the GUI thread.
//
// A sender posts nothing: it sends WM_SONGMAN_COMMAND synchronously to the main window, with a command code
// as wParam and its argument as lParam, and waits until the GUI thread has run SongMan::Control. The
// argument is a signed number, a pointer to a wide text that lives in the sender until the send returns,
// or a queue position with the song id expected there (PackQueuePosition). The window does not interpret
// either value.
//
// Names only: no code here needs linking, so any layer may include it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Gui.h"

// The main window's private message that carries a command (WM_USER + 1).
constexpr platform::UINT WM_SONGMAN_COMMAND = platform::WM_USER + 1;

// The command codes of SongMan::Control. The numbers are part of the hand-off and never change.
enum class SongManCommand : int {
    QueueSongs = 0,        // text: decimal song ids separated by "," or space, each queued at the end
    Next = 1,              // none
    Jump = 2,              // signed number of seconds
    ChangeVolume = 3,      // signed volume step
    PlayPause = 4,         // none
    ToggleRandomPlay = 5,  // none
    SetAudioSource = 6,    // text: audio source name
    MoveQSongFront = 7,    // queue position
    MoveQSongUp = 8,       // queue position
    RemoveQSong = 9,       // queue position
    ClearQueue = 10,       // none
    SetSetting = 11,       // text: a key, "=", a value
};

// The message parameter is 64 bits wide here, so a queue position carries both numbers whole: the queue
// index in the low 32 bits, the song id in the high 32 bits. (Sixteen-bit halves would cut song ids of
// 65,536 and above, and a move or removal of such a song would silently do nothing.)
static_assert(sizeof(platform::LPARAM) >= 8, "a queue position needs a 64-bit message parameter");

struct QueuePosition {
    int32_t index = 0;  // position in the queue (0 is the song that plays)
    int32_t id = 0;     // the song id expected at that position
};

constexpr platform::LPARAM PackQueuePosition(int32_t index, int32_t id) {
    const uint64_t bits = (static_cast<uint64_t>(static_cast<uint32_t>(id)) << 32) | static_cast<uint32_t>(index);
    return static_cast<platform::LPARAM>(bits);
}

constexpr QueuePosition UnpackQueuePosition(platform::LPARAM arg) {
    const auto bits = static_cast<uint64_t>(arg);
    return QueuePosition{static_cast<int32_t>(static_cast<uint32_t>(bits & 0xFFFFFFFFu)),
                         static_cast<int32_t>(static_cast<uint32_t>(bits >> 32))};
}

// A text argument: the pointer to the sender's zero-terminated wide text.
inline platform::LPARAM TextArgument(const std::wstring& text) {
    return reinterpret_cast<platform::LPARAM>(text.c_str());
}

// The text a text argument points at; a null pointer reads as the empty text.
inline const wchar_t* ArgumentText(platform::LPARAM arg) {
    const auto* text = reinterpret_cast<const wchar_t*>(arg);
    return text != nullptr ? text : L"";
}
