// Where a song's file lies: its own full path (user folders), the media root plus its stored path (song
// index), or for a song without a stored path a name made from its album, artist and title.
//
// Choices made where the format leaves room:
//   - A formatted name for a song without a stored path is cut to 258 characters (a 259-character
//     buffer with its terminator).
#include <string>

#include "core/Globals.h"
#include "core/Settings.h"
#include "library/SongMan.h"

std::wstring SongMan::GetSongFilePath(const Song* song) const {
    if (song == nullptr) return std::wstring();
    if (!song->full_path.empty()) return song->full_path;
    if (g_settings == nullptr) return std::wstring();
    if (song->path.empty()) {
        std::wstring relative = (song->album_ref ? song->album_ref->dir : std::wstring()) + L"\\" +
                                song->artist + L"-" + song->name + L".avi";
        if (relative.size() > 258) relative.resize(258);
        return g_settings->GetNaduMtvPath(relative);
    }
    return g_settings->GetMtvPath(song->path);
}
