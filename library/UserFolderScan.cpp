// The user folders: the files of the folders named by "setting:UserMtvRootDir" join the catalogue as songs
// of folder albums, with artist, album and song names taken from the folder and file names. Runs inside
// Reload (library/IndexLoader.cpp), under SongMan::lock, on the GUI thread.
//
// Choices made where the names leave room:
//   - A duet text made only of separator characters (",", "，" or spaces) gives one artist named by the
//     whole text, so the song still has an artist.
//   - If an index line claims the largest 32-bit id, a new artist takes the lowest free id instead of
//     overflowing.
#include <climits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Globals.h"
#include "core/Settings.h"
#include "library/LoaderText.h"
#include "library/SongMan.h"
#include "protocol/SettingKeys.h"

using index_loading::IsPathSeparator;
using index_loading::SetExtension;

void SongMan::LoadUserMtvIndex() {
    if (g_settings == nullptr) return;
    const std::wstring setting = g_settings->Get(setting_keys::kUserMtvRootDir, nullptr);
    if (setting.empty()) return;
    PerfTimer timer(g_settings, setting_keys::kLoadUserMtvIndex);
    std::vector<std::wstring> dirs;
    Split(setting, L";", dirs);
    roots = &dirs;
    recursive = true;
    stop = false;
    Run();
    roots = nullptr;
}

void SongMan::OnFile(const std::wstring& path, uint32_t, uint32_t, uint64_t, uint64_t, uint64_t) {
    std::wstring ext;
    SetExtension(&ext, path);
    if (g_settings == nullptr || !g_settings->IsUserMtvExt(ext)) return;

    size_t nameStart = path.size();
    while (nameStart > 0 && !IsPathSeparator(path[nameStart - 1])) --nameStart;
    std::wstring title = path.substr(nameStart);
    const size_t dot = title.rfind(L'.');
    if (dot != std::wstring::npos) title.resize(dot);

    const std::wstring parent = GetDirectoryPart(path);
    size_t folderStart = parent.size();
    while (folderStart > 0 && !IsPathSeparator(parent[folderStart - 1])) --folderStart;
    const std::wstring folder = parent.substr(folderStart);

    std::wstring artistText, albumName, songName;
    SplitTitle(folder, title, &artistText, &albumName, &songName);

    Song* song = NewSong();
    song->name = std::move(songName);
    song->artist = std::move(artistText);
    song->full_path = path;
    song->ext = std::move(ext);
    song->audio_type = unknown_audio_type;
    LinkArtists(song);

    Album*& slot = albums_by_name[albumName];
    if (slot == nullptr) {
        auto* album = new Album;
        album->kind = folder_album;
        album->name = albumName;
        album->dir = albumName;
        album->sort_key = TextKey(albumName);
        album->index = static_cast<int32_t>(albums.size());
        albums.push_back(album);
        slot = album;
    }
    song->album_ref = slot;
    ++slot->song_count;
    song->id = static_cast<int32_t>(songs.size());
    songs.push_back(song);
}

void SongMan::SplitTitle(const std::wstring& folder, const std::wstring& title, std::wstring* artist,
                         std::wstring* album, std::wstring* song) {
    // Splits at the first "-", or, when that leaves no right part, at the first fullwidth "－".
    auto split = [](const std::wstring& text, std::wstring* left, std::wstring* right) {
        for (wchar_t dash : {L'-', L'\xFF0D'}) {
            const size_t at = text.find(dash);
            if (at != std::wstring::npos && at + 1 < text.size()) {
                *left = text.substr(0, at);
                *right = text.substr(at + 1);
                return true;
            }
        }
        return false;
    };

    *album = folder;
    std::wstring left, right;
    if (split(title, &left, &right)) {
        *artist = std::move(left);
        *song = std::move(right);
    } else {
        *song = title;
        if (split(folder, &left, &right)) {
            *artist = std::move(left);
            *album = std::move(right);
        } else {
            *artist = folder;
        }
    }

    size_t begin = 0;
    size_t end = song->size();
    while (begin < end && IsAsciiSpace((*song)[begin])) ++begin;
    while (end > begin && IsAsciiSpace((*song)[end - 1])) --end;
    *song = song->substr(begin, end - begin);
}

void SongMan::LinkArtists(Song* song) {
    const std::wstring& text = song->artist;
    if (text.find(L',') != std::wstring::npos || text.find(L'\xFF0C') != std::wstring::npos) {
        std::vector<std::wstring> parts;
        Split(text, L"\xFF0C, ", parts);
        if (!parts.empty()) {
            for (size_t i = 0; i < parts.size(); ++i) {
                Artist* artist = FindArtist(parts[i]);
                if (i == 0) song->artist_ref = artist;
                ++artist->song_count;
            }
            return;
        }
    }
    Artist* artist = FindArtist(text);
    song->artist_ref = artist;
    ++artist->song_count;
}

Artist* SongMan::FindArtist(const std::wstring& name) {
    auto found = artists_by_name.find(name);
    if (found != artists_by_name.end()) return found->second;

    int32_t id;
    if (max_artist_id < INT32_MAX) {
        id = max_artist_id + 1;
        max_artist_id = id;
    } else {
        // An index line claimed the largest id; take the lowest free one instead of wrapping around.
        id = 1;
        for (const auto& [used, artist] : artists_by_id) {
            if (used > id) break;
            if (used == id) ++id;
        }
    }
    auto* artist = new Artist;
    artist->id = id;
    artist->name = name;
    artist->sort_key = TextKey(name);
    artists.push_back(artist);
    artists_by_name[name] = artist;
    artists_by_id[id] = artist;
    return artist;
}
