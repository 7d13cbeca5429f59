// Catalogue loading: the artist index, the song index, the user folder scan, and where a song's file
// lies. All of it runs inside Reload, under SongMan::lock, on the GUI thread.
//
// Choices made where the index format leaves room:
//   - An artist line with fewer than five fields, or a song line with fewer than fourteen (counted the
//     way the format counts them), is not a valid record and is skipped, like a line whose artist id is
//     not a number of at least 1.
//   - The line feed that ends a line stays part of the last field while fields are counted (so the
//     counts above follow the format), but it is never taken into a text value: a song index whose path
//     is the last column would otherwise give paths ending in a line feed that name no file.
//   - Numbers that overflow 32 bits saturate at the largest or smallest value.
//   - A duet text made only of separator characters (",", "，" or spaces) gives one artist named by the
//     whole text, so the song still has an artist.
//   - A formatted name for a song without a stored path is cut to 258 characters (a 259-character
//     buffer with its terminator).
//   - Reload clears current_song together with the queue: the records it pointed into are deleted.
//   - Pruning removes an artist from the two maps only where the map entry is that artist. When two index
//     lines share a name or an id, the map holds the later artist, which may have songs and must stay
//     reachable.
//   - Reload empties the containers but keeps max_artist_id, so an artist made for a scanned file after a
//     reload may get a higher id than before; ids are only meaningful until the next reload anyway.
//   - If an index line claims the largest 32-bit id, a new artist takes the lowest free id instead of
//     overflowing.

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "app/Globals.h"
#include "app/Settings.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace {

bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAsciiSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

void AsciiLowerInPlace(std::wstring& text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
}

// The text after the last "." that follows the last "\" or "/"; empty without such a dot.
std::wstring ExtensionOf(std::wstring_view path) {
    for (size_t i = path.size(); i-- > 0;) {
        if (path[i] == L'.') return std::wstring(path.substr(i + 1));
        if (IsPathSeparator(path[i])) break;
    }
    return std::wstring();
}

// ---- index file lines -----------------------------------------------------------------------------------
//
// An index file is read the way a text-mode stream read with a 259-byte line buffer sees it: a carriage
// return just before a line feed is dropped, a line is at most 258 bytes (a longer one arrives in pieces of
// 258 bytes, each a line of its own), and the line feed stays at the end of the piece it ends. A zero byte
// ends the text of its line (the rest of that piece is lost, as with a C string).

constexpr size_t kMaxPiece = 258;

class IndexFile final {
public:
    IndexFile() = default;
    ~IndexFile() {
        if (m_file) fclose(m_file);
    }
    IndexFile(const IndexFile&) = delete;
    IndexFile& operator=(const IndexFile&) = delete;

    bool Open(const std::wstring& path) {
        m_file = platform::OpenFile(path, "r");
        if (m_file == nullptr) return false;
        if (fseek(m_file, 0, SEEK_END) == 0) {
            const long size = ftell(m_file);
            m_size = size > 0 ? static_cast<uint64_t>(size) : 0;
        }
        rewind(m_file);
        m_buffer.resize(kChunk + kMaxPiece + 1);
        return true;
    }

    uint64_t Size() const { return m_size; }

    // One piece: at most 258 bytes, ending with its line feed if it has one. `text` is the part before
    // the first zero byte (all of it when there is none).
    struct Piece {
        std::string_view bytes;
        std::string_view text;
    };

    // Every piece that the buffer now holds whole, in order (at least one unless the file has ended);
    // false at the end. The views stay valid until the next call.
    bool NextPieces(std::vector<Piece>* pieces) {
        pieces->clear();
        if (m_end - m_begin < kMaxPiece && !m_eof) Fill();
        while (m_begin < m_end && (m_end - m_begin >= kMaxPiece || m_eof)) {
            const char* start = m_buffer.data() + m_begin;
            const size_t avail = std::min(kMaxPiece, m_end - m_begin);
            const void* lf = memchr(start, '\n', avail);
            const size_t length = lf ? static_cast<size_t>(static_cast<const char*>(lf) - start) + 1 : avail;
            m_begin += length;
            const void* nul = memchr(start, '\0', length);
            const size_t visible = nul ? static_cast<size_t>(static_cast<const char*>(nul) - start) : length;
            pieces->push_back({std::string_view(start, length), std::string_view(start, visible)});
        }
        return !pieces->empty();
    }

private:
    static constexpr size_t kChunk = 1 << 16;

    // Moves what is left to the front and appends translated bytes until a whole piece is available or
    // the file ends.
    void Fill() {
        if (m_begin > 0) {
            memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        char raw[kChunk];
        while (m_end < kMaxPiece && !m_eof) {
            // Never read more than the buffer can take once a held-back carriage return is added.
            const size_t room = m_buffer.size() - m_end - 1;
            const size_t got = fread(raw, 1, std::min(room, sizeof raw), m_file);
            if (got == 0) {
                m_eof = true;
                if (m_pendingCR) m_buffer[m_end++] = '\r';  // a lone carriage return at the very end
                m_pendingCR = false;
                break;
            }
            size_t i = 0;
            if (m_pendingCR) {
                m_pendingCR = false;
                if (raw[0] != '\n') m_buffer[m_end++] = '\r';
            }
            while (i < got) {
                const void* cr = memchr(raw + i, '\r', got - i);
                const size_t run = cr ? static_cast<size_t>(static_cast<const char*>(cr) - (raw + i)) : got - i;
                memcpy(m_buffer.data() + m_end, raw + i, run);
                m_end += run;
                i += run;
                if (i == got) break;
                // raw[i] is a carriage return: dropped before a line feed, kept otherwise. At the end of
                // what was read, the next read decides.
                if (i + 1 == got) {
                    m_pendingCR = true;
                } else if (raw[i + 1] != '\n') {
                    m_buffer[m_end++] = '\r';
                }
                ++i;
            }
        }
    }

    FILE* m_file = nullptr;
    uint64_t m_size = 0;
    std::vector<char> m_buffer;
    size_t m_begin = 0;
    size_t m_end = 0;
    bool m_eof = false;
    bool m_pendingCR = false;
};

// One line (piece) of an index file, converted and split into fields. `fields` view `text`. When `clean`
// is set (the text holds no "?", so the converter replaced nothing), the piece's bytes split the same way
// give the same fields in their exact code page 936 form: "," and the double quote are single bytes below
// 0x40 and never occur inside a double-byte character (its second byte is 0x40 or above).
struct IndexLine {
    std::string_view bytes;
    std::wstring_view text;
    std::vector<std::wstring_view> fields;  // the first `wanted` fields at most (see ForEachIndexLine)
    bool clean = false;
};

template <class Char>
bool IsFieldSeparator(Char c) {
    return c == Char(',') || c == Char('"');
}

// Fields are the maximal runs of characters other than "," and the double quote; empty fields do not
// exist, so ",," counts as one separator and quotes never protect a comma.
// Only the first `limit` fields are collected; a caller that needs fields 0 to n-1 and must know whether
// the line has at least n fields passes n.
template <class View>
void SplitFields(View text, std::vector<View>* fields, size_t limit) {
    fields->clear();
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && fields->size() < limit) {
        while (i < n && IsFieldSeparator(text[i])) ++i;
        const size_t start = i;
        while (i < n && !IsFieldSeparator(text[i])) ++i;
        if (i > start) fields->push_back(text.substr(start, i - start));
    }
}

// Field `index` of a line's bytes (empty when the line has fewer fields).
std::string_view ByteField(std::string_view bytes, size_t index) {
    size_t i = 0;
    const size_t n = bytes.size();
    for (size_t field = 0;; ++field) {
        while (i < n && IsFieldSeparator(bytes[i])) ++i;
        const size_t start = i;
        while (i < n && !IsFieldSeparator(bytes[i])) ++i;
        if (i == start) return {};
        if (field == index) return bytes.substr(start, i - start);
    }
}

// Calls handle(const IndexLine&) for every line of the file, in order, with the first `wanted` fields.
//
// Each line's bytes are converted from code page 936 as a whole. To keep the converter's per-call cost
// off every line, consecutive lines that end with a line feed (and hold no zero byte) are converted in one
// call and cut apart again at the line feeds. That gives exactly the per-line result: a line feed is a
// single byte that is never part of a double-byte character, and the converter replaces an invalid lead
// byte before it by one "?" without consuming it. Other lines (cut at 258 bytes, the last line without a
// line feed, lines with a zero byte) are converted alone.
template <class Handler>
void ForEachIndexLine(IndexFile& file, size_t wanted, Handler handle) {
    // Lines converted per call: enough to make the call's cost vanish, few enough that the wide buffer
    // stays small (freeing a large block makes the allocator sweep all its small free blocks).
    constexpr size_t kRunPieces = 32;
    std::vector<IndexFile::Piece> pieces;
    std::wstring wide;
    IndexLine line;
    auto emit = [&](std::string_view bytes, std::wstring_view text) {
        line.bytes = bytes;
        line.text = text;
        SplitFields(text, &line.fields, wanted);
        line.clean = text.find(L'?') == std::wstring_view::npos;
        handle(static_cast<const IndexLine&>(line));
    };
    auto simple = [](const IndexFile::Piece& p) {
        return p.text.size() == p.bytes.size() && !p.bytes.empty() && p.bytes.back() == '\n';
    };
    while (file.NextPieces(&pieces)) {
        size_t i = 0;
        while (i < pieces.size()) {
            if (!simple(pieces[i])) {
                wide = platform::MultiByteToWide(platform::CP_GBK, pieces[i].text);
                emit(pieces[i].text, wide);
                ++i;
                continue;
            }
            size_t j = i;
            while (j < pieces.size() && j - i < kRunPieces && simple(pieces[j])) ++j;
            // Pieces are consecutive in the buffer, so a run of them is one byte range.
            const char* first = pieces[i].bytes.data();
            const char* last = pieces[j - 1].bytes.data() + pieces[j - 1].bytes.size();
            wide = platform::MultiByteToWide(platform::CP_GBK, std::string_view(first, static_cast<size_t>(last - first)));
            size_t at = 0;
            for (size_t k = i; k < j; ++k) {
                size_t lf = wide.find(L'\n', at);
                if (lf == std::wstring::npos) lf = wide.size() - 1;  // cannot happen: one line feed a piece
                emit(pieces[k].bytes, std::wstring_view(wide).substr(at, lf + 1 - at));
                at = lf + 1;
            }
            i = j;
        }
    }
}

// A decimal signed integer: leading white space, an optional sign, then digits up to the first
// non-digit; 0 without digits; saturates at the 32-bit limits.
int32_t ParseIndexNumber(std::wstring_view text) {
    size_t i = 0;
    while (i < text.size() && IsAsciiSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// A read-only copy of an id-to-artist map laid out for fast lookups: a table indexed by id when the ids
// are dense enough, else a sorted array searched by halves.
class ArtistIdIndex final {
public:
    explicit ArtistIdIndex(const std::map<int32_t, Artist*>& byId) {
        if (byId.empty()) return;
        const int64_t low = byId.begin()->first;
        const int64_t high = byId.rbegin()->first;
        if (low >= 0 && high < static_cast<int64_t>(byId.size()) * 8 + 4096) {
            m_table.assign(static_cast<size_t>(high) + 1, nullptr);
            for (const auto& [id, artist] : byId) m_table[static_cast<size_t>(id)] = artist;
        } else {
            m_sorted.assign(byId.begin(), byId.end());
        }
    }

    Artist* Find(int32_t id) const {
        if (!m_table.empty()) {
            return id >= 0 && static_cast<size_t>(id) < m_table.size() ? m_table[static_cast<size_t>(id)] : nullptr;
        }
        auto it = std::lower_bound(m_sorted.begin(), m_sorted.end(), id,
                                   [](const std::pair<int32_t, Artist*>& e, int32_t key) { return e.first < key; });
        return it != m_sorted.end() && it->first == id ? it->second : nullptr;
    }

private:
    std::vector<Artist*> m_table;
    std::vector<std::pair<int32_t, Artist*>> m_sorted;
};

// A field without the line feed that ended the line.
template <class View>
View FieldText(View field) {
    if (!field.empty() && field.back() == typename View::value_type('\n')) field.remove_suffix(1);
    return field;
}

// Splits `text` at runs of `separators`, skipping empty parts.
std::vector<std::wstring> SplitRuns(std::wstring_view text, std::wstring_view separators) {
    std::vector<std::wstring> parts;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && separators.find(text[i]) != std::wstring_view::npos) ++i;
        const size_t start = i;
        while (i < text.size() && separators.find(text[i]) == std::wstring_view::npos) ++i;
        if (i > start) parts.emplace_back(text.substr(start, i - start));
    }
    return parts;
}

// Sort key of field `index` of a line: its own bytes when the line converted cleanly, else a conversion
// of its text back to code page 936.
std::string SortKeyOf(const IndexLine& line, size_t index) {
    if (line.clean) return std::string(FieldText(ByteField(line.bytes, index)));
    return TextKey(FieldText(line.fields[index]));
}

}  // namespace

// ---- Reload ---------------------------------------------------------------------------------------------

bool SongMan::Reload() {
    std::lock_guard<std::recursive_mutex> guard(lock);

    // Plain pointers into the records go first, then the owners. The player is not told: what it plays
    // goes on playing, but current_song must not outlive the song it names.
    queue.clear();
    current_song = nullptr;
    song_query_cache.Clear();
    artist_query_cache.Clear();
    artist_query_cache.capacity = 100;
    sorted_song_lists.clear();
    sorted_song_lists.resize(4, nullptr);
    albums_by_name.clear();
    artists_by_name.clear();
    artists_by_id.clear();
    songs.clear();
    albums.clear();
    artists.clear();

    const std::wstring dir = g_settings ? g_settings->GetMtvIndexDir() : std::wstring();
    return LoadIndex(dir);
}

bool SongMan::LoadIndex(const std::wstring& dir) {
    if (!LoadArtists(dir + L"\\singer.csv")) return false;
    if (!LoadVodMtvIndex(dir + L"\\Songs.csv")) return false;
    LoadUserMtvIndex();
    PruneArtists();

    // Albums by dir in catalogue text order. A stable sort keeps albums with equal dir in creation order.
    std::vector<std::pair<std::string, Album*>> keyed;
    keyed.reserve(albums.size());
    for (Album* album : albums) {
        keyed.emplace_back(album->dir == album->name ? album->sort_key : TextKey(album->dir), album);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return TextKeyLess(a.first, b.first); });
    for (size_t i = 0; i < keyed.size(); ++i) albums[i] = keyed[i].second;  // a permutation: no deletes
    return true;
}

// ---- the artist index -----------------------------------------------------------------------------------

bool SongMan::LoadArtists(const std::wstring& file) {
    PerfTimer timer(g_settings, L"perf:LoadArtists");
    IndexFile index;
    if (!index.Open(file)) return false;

    ForEachIndexLine(index, 5, [&](const IndexLine& line) {
        if (line.fields.size() < 5) return;
        const int32_t id = ParseIndexNumber(line.fields[0]);
        if (id < 1) return;

        auto* artist = new Artist;
        artist->id = id;
        artist->name.assign(FieldText(line.fields[1]));
        artist->sort_key = SortKeyOf(line, 1);
        artist->category = ParseIndexNumber(line.fields[3]);
        artist->region = ParseIndexNumber(line.fields[4]);
        if (id > max_artist_id) max_artist_id = id;
        artists.push_back(artist);
        artists_by_name[artist->name] = artist;
        artists_by_id[id] = artist;
    });
    return true;
}

// ---- the song index -------------------------------------------------------------------------------------

bool SongMan::LoadVodMtvIndex(const std::wstring& file) {
    PerfTimer timer(g_settings, L"perf:LoadVodMtvIndex");
    IndexFile index;
    if (!index.Open(file)) return false;

    auto* vod = new Album;
    vod->kind = index_album;
    vod->name = L"VOD";
    vod->dir = L"VOD";
    vod->sort_key = TextKey(vod->name);
    vod->index = static_cast<int32_t>(albums.size());
    albums.push_back(vod);

    // A song line is about 60 bytes or more; reserving from the file size avoids regrowing a large list.
    songs.reserve(songs.size() + static_cast<size_t>(index.Size() / 64));

    // artists_by_id stays the catalogue's index by id, but one lookup per song line in a tree of
    // scattered nodes costs a cache miss per level; a flat copy made once answers the same question.
    const ArtistIdIndex byId(artists_by_id);

    bool header = true;  // the first line read is the header
    ForEachIndexLine(index, 14, [&](const IndexLine& line) {
        if (header) {
            header = false;
            return;
        }
        if (line.fields.size() < 14) return;
        Artist* artist = byId.Find(ParseIndexNumber(line.fields[4]));
        if (artist == nullptr) return;

        auto* song = new Song;
        song->album_ref = vod;
        ++vod->song_count;
        ++artist->song_count;
        song->artist = artist->name;
        song->artist_ref = artist;
        song->id = static_cast<int32_t>(songs.size());
        song->name.assign(FieldText(line.fields[1]));
        song->sort_key = SortKeyOf(line, 1);
        std::wstring_view path = FieldText(line.fields[13]);
        song->ext = ExtensionOf(path);
        AsciiLowerInPlace(song->ext);
        if (path.substr(0, 5) == L"\\mtv\\") path.remove_prefix(5);
        song->path.assign(path);
        song->audio_type = ParseIndexNumber(line.fields[9]) == 1 ? left_karaoke : right_karaoke;
        songs.push_back(song);
    });
    return true;
}

// ---- user folders ---------------------------------------------------------------------------------------

void SongMan::LoadUserMtvIndex() {
    if (g_settings == nullptr) return;
    const std::wstring setting = g_settings->Get(L"setting:UserMtvRootDir", nullptr);
    if (setting.empty()) return;
    PerfTimer timer(g_settings, L"perf:LoadUserMtvIndex");
    std::vector<std::wstring> dirs;
    Split(setting, L";", dirs);
    roots = &dirs;
    recursive = true;
    stop = false;
    Run();
    roots = nullptr;
}

void SongMan::OnFile(const std::wstring& path, uint32_t, uint32_t, uint64_t, uint64_t, uint64_t) {
    std::wstring ext = ExtensionOf(path);
    AsciiLowerInPlace(ext);
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

    auto* song = new Song;
    song->name = std::move(songName);
    song->sort_key = TextKey(song->name);
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
        const std::vector<std::wstring> parts = SplitRuns(text, L"\xFF0C, ");
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

void SongMan::PruneArtists() {
    artists.erase_if([this](Artist* artist) {
        if (artist->song_count != 0) return false;
        auto byName = artists_by_name.find(artist->name);
        if (byName != artists_by_name.end() && byName->second == artist) artists_by_name.erase(byName);
        auto byId = artists_by_id.find(artist->id);
        if (byId != artists_by_id.end() && byId->second == artist) artists_by_id.erase(byId);
        return true;
    });
}

// ---- file paths -----------------------------------------------------------------------------------------

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
