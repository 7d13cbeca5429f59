// Catalogue loading: the artist index, the song index, the user folder scan, and where a song's file
// lies. All of it runs inside Reload, under SongMan::lock, on the GUI thread; only the song index's lines
// are read and converted on a helper thread, which touches no catalogue data.
//
// How loading stays fast (bench/reload_bench: 100,000 songs and 10,000 artists):
//   - The song index is read on a second thread (ChunkPipe.h), started before the artist index is loaded:
//     it reads, splits and converts the lines a chunk at a time while this thread loads the artists and
//     then makes the song records of the chunks, in line order.
//   - Lines are split on their bytes, and only the columns that become text (artist name; song title and
//     path) are converted, many lines' columns per converter call; lines with too few fields are never
//     converted. This gives exactly what converting each line whole and splitting it would (see "fields").
//   - A Reload over a full catalogue refills the old song records instead of freeing and allocating them
//     again (SongMan::reusable_songs): no allocator work for unchanged strings. Off under AddressSanitizer.
//   - The allocator keeps the memory that a catalogue frees for the next one (CatalogueMemory.h), so a
//     reload does not pay a page fault for every 4 KiB it touches.
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
#include <atomic>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Globals.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "protocol/SettingKeys.h"
#include "library/CatalogueMemory.h"
#include "library/ChunkPipe.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAsciiSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
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
        m_buffer.resize(kChunk + kMaxPiece + 1 + kSlack);
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

    // Every piece is followed by at least this many bytes of the buffer that may be read (and mean
    // nothing), so that SplitFields can look at whole blocks without copying a line's last bytes.
    static constexpr size_t kSlack = 64;

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
            const size_t room = m_buffer.size() - kSlack - m_end - 1;
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

// Calls handle(std::string_view) with the text of every line (piece) of the file, in order: its bytes up
// to the first zero byte, the line feed that ends it included.
template <class Handler>
void ForEachLine(IndexFile& file, Handler handle) {
    std::vector<IndexFile::Piece> pieces;
    while (file.NextPieces(&pieces)) {
        for (const IndexFile::Piece& piece : pieces) handle(piece.text);
    }
}

// ---- fields ---------------------------------------------------------------------------------------------
//
// Lines are split into fields on their bytes, before anything is converted. The separators "," and the
// double quote are single bytes below 0x40: they never occur inside a double-byte character of code page
// 936 (its second byte is 0x40 or above), and the converter never takes one into a broken character (a
// bad lead byte before it becomes one "?" of its own). So the fields of a line's bytes, each converted,
// are exactly the fields of the whole line converted. Numbers read the same from the bytes: digits, signs
// and white space are ASCII, and no double-byte character converts to ASCII. Only the fields that become
// text are converted at all.

constexpr size_t kArtistFields = 5;  // an artist line needs fields 0 to 4
constexpr size_t kSongFields = 14;   // a song line needs fields 0 to 13

inline bool IsFieldSeparator(char c) { return c == ',' || c == '"'; }

// Bit i is set when p[i] is a separator, for the 64 bytes at p.
inline uint64_t SeparatorMask(const char* p) {
#if defined(__SSE2__)
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i quote = _mm_set1_epi8('"');
    uint64_t mask = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        const __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, quote));
        mask |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(hit))) << (16 * k);
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int i = 0; i < 64; ++i) mask |= static_cast<uint64_t>(IsFieldSeparator(p[i])) << i;
    return mask;
#endif
}

// Fields are the maximal runs of bytes other than "," and the double quote; empty fields do not exist, so
// ",," counts as one separator and quotes never protect a comma. Stores the first `limit` fields and
// returns how many there are (at most `limit`): a caller that needs fields 0 to n-1 and must know whether
// the line has that many passes n.
//
// The line is looked at 64 bytes at a time as a mask of separator positions: a field starts where a
// non-separator follows a separator (or the line's start) and ends where a separator follows a
// non-separator; the bytes past the line's end count as separators. The last block is read whole, so
// the 63 bytes after the line must be readable (IndexFile::kSlack); what they hold does not matter.
size_t SplitFields(std::string_view line, std::string_view* fields, size_t limit) {
    static_assert(IndexFile::kSlack >= 63);
    const char* const base = line.data();
    const size_t n = line.size();
    size_t count = 0;
    size_t open = n;           // start of a field whose end is still to come; n when none
    uint64_t before = 1;       // whether the byte before the block is a separator
    for (size_t at = 0; at < n; at += 64) {
        uint64_t sep = SeparatorMask(base + at);
        if (n - at < 64) sep |= ~uint64_t{0} << (n - at);
        const uint64_t previous = (sep << 1) | before;
        uint64_t starts = ~sep & previous;
        uint64_t ends = sep & ~previous;
        before = sep >> 63;
        // Starts and ends alternate along the line, so they pair up in order.
        for (;;) {
            if (open == n) {
                if (starts == 0) break;
                open = at + static_cast<size_t>(std::countr_zero(starts));
                starts &= starts - 1;
            }
            if (ends == 0) break;  // the field goes on into the next block
            const size_t end = at + static_cast<size_t>(std::countr_zero(ends));
            ends &= ends - 1;
            fields[count++] = std::string_view(base + open, end - open);
            open = n;
            if (count == limit) return count;
        }
    }
    if (open != n) fields[count++] = std::string_view(base + open, n - open);  // ends with the line
    return count;
}

// A field without the line feed that ended the line (the feed counts while fields are counted but never
// belongs to a text value).
std::string_view FieldText(std::string_view field) {
    if (!field.empty() && field.back() == '\n') field.remove_suffix(1);
    return field;
}

// The text fields of many lines, converted from code page 936 in one call: the fields are joined with line
// feeds, converted together and cut apart again at the line feeds. A field never holds a line feed (the
// one that ends a line is taken off first), a line feed is a single byte outside every double-byte
// character, and a bad lead byte just before it becomes one "?" without taking it; so every field comes
// out exactly as if it had been converted alone, while the converter's per-call cost is paid once a batch.
// A batch is full (see Full) at a number of fields or of bytes set by its user: small batches stay in the
// processor's caches from conversion to use, large ones pay for handing them to another thread only once.
class FieldBatch final {
public:
    FieldBatch(size_t fieldLimit, size_t byteLimit) : m_fieldLimit(fieldLimit), m_byteLimit(byteLimit) {
        m_bytes.reserve(m_byteLimit + 2 * (kMaxPiece + 1));
        m_byteEnds.reserve(m_fieldLimit);
        m_wideEnds.reserve(m_fieldLimit);
    }
    FieldBatch(const FieldBatch&) = delete;
    FieldBatch& operator=(const FieldBatch&) = delete;

    // Queues a field's bytes, which hold no line feed; its number in the batch is Count() before the call.
    void Add(std::string_view bytes) {
        m_bytes.append(bytes);
        m_bytes.push_back('\n');
        m_byteEnds.push_back(m_bytes.size());
    }

    size_t Count() const { return m_byteEnds.size(); }
    // Time to convert: enough fields to make the call's cost vanish, before the buffers grow large.
    bool Full() const { return m_byteEnds.size() >= m_fieldLimit || m_bytes.size() >= m_byteLimit; }

    // Converts every queued field; Text and Bytes are valid until Clear.
    void Convert() {
        m_wide = platform::MultiByteToWide(platform::CP_GBK, m_bytes);
        m_wideEnds.clear();
        const wchar_t* const base = m_wide.data();
        const wchar_t* at = base;
        const wchar_t* const end = base + m_wide.size();
        for (size_t i = 0; i < m_byteEnds.size(); ++i) {
            const wchar_t* lf = std::wmemchr(at, L'\n', static_cast<size_t>(end - at));
            if (lf == nullptr) lf = end;  // cannot happen: every field is followed by its line feed
            at = lf == end ? end : lf + 1;
            m_wideEnds.push_back(static_cast<size_t>(at - base));
        }
    }

    // Field `i` converted, and its bytes, both without the joining line feed.
    std::wstring_view Text(size_t i) const {
        const size_t begin = i == 0 ? 0 : m_wideEnds[i - 1];
        const size_t end = m_wideEnds[i];
        return std::wstring_view(m_wide).substr(begin, end > begin ? end - begin - 1 : 0);
    }
    std::string_view Bytes(size_t i) const {
        const size_t begin = i == 0 ? 0 : m_byteEnds[i - 1];
        return std::string_view(m_bytes).substr(begin, m_byteEnds[i] - begin - 1);
    }

    void Clear() {
        m_bytes.clear();
        m_byteEnds.clear();
        m_wideEnds.clear();
    }

private:
    const size_t m_fieldLimit;        // Full at this many fields
    const size_t m_byteLimit;         // or at this many bytes

    std::string m_bytes;              // the queued fields, each followed by a line feed
    std::vector<size_t> m_byteEnds;   // end of each field's line feed in m_bytes
    std::wstring m_wide;              // m_bytes converted
    std::vector<size_t> m_wideEnds;   // end of each field's line feed in m_wide
};

// A decimal signed integer: leading white space, an optional sign, then digits up to the first
// non-digit; 0 without digits; saturates at the 32-bit limits.
int32_t ParseIndexNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsAsciiSpace(static_cast<wchar_t>(static_cast<unsigned char>(text[i])))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// Sort key of a text converted from `bytes`: the bytes themselves when the converter replaced nothing
// (no "?" in the text; a clean conversion turns back into the same bytes), else the text converted back.
void SetSortKey(std::string* key, std::wstring_view text, std::string_view bytes) {
    if (text.find(L'?') == std::wstring_view::npos) {
        key->assign(bytes);
    } else {
        *key = TextKey(text);
    }
}

// Sets `ext` to the lower-case extension of `path`: the text after the last "." that follows the last
// "\" or "/"; empty without such a dot.
void SetExtension(std::wstring* ext, std::wstring_view path) {
    ext->clear();
    for (size_t i = path.size(); i-- > 0;) {
        if (path[i] == L'.') {
            ext->assign(path.substr(i + 1));
            AsciiLowerInPlace(*ext);
            return;
        }
        if (IsPathSeparator(path[i])) return;
    }
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

// Whether Reload refills the old catalogue's song records instead of deleting them (see
// SongMan::reusable_songs). Off under AddressSanitizer, which can only report a song pointer kept across a
// Reload when the record behind it has been freed.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kReuseSongRecords = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kReuseSongRecords = false;
#else
constexpr bool kReuseSongRecords = true;
#endif
#else
constexpr bool kReuseSongRecords = true;
#endif

// Asks the processor early for the memory that refilling reused song records will touch: the record
// `2 * distance` songs ahead of the loader, and the string buffers of the one `distance` ahead (whose record
// was asked for `distance` songs ago). The records of a catalogue lie scattered over tens of megabytes, so
// without this every record and string waits on main memory in turn.
void PrefetchReusableSongs(const SongMan& man, size_t distance) {
    const autoreleaselist<Song>& list = man.reusable_songs;
    const size_t far = man.reusable_songs_next + 2 * distance;
    if (far < list.size()) {
        const char* record = reinterpret_cast<const char*>(list[far]);
        for (size_t offset = 0; offset < sizeof(Song); offset += 64) __builtin_prefetch(record + offset, 1);
    }
    const size_t near = man.reusable_songs_next + distance;
    if (near < list.size()) {
        const Song* song = list[near];
        __builtin_prefetch(song->artist.data(), 1);
        __builtin_prefetch(song->name.data(), 1);
        __builtin_prefetch(song->path.data(), 1);
        __builtin_prefetch(song->sort_key.data(), 1);
    }
}

// How many songs ahead the loader asks for the memory of the artist a song names.
constexpr size_t kArtistLookahead = 8;

// ---- reading the song index on a second thread ------------------------------------------------------

// What the reader found on one song line with enough fields: its artist id and its channel flag. Title
// and path are the chunk's fields 2k and 2k+1. The loader looks the artist up, so the reader can start
// before the artists are loaded.
struct PendingSong {
    int32_t artist_id;
    int32_t audio_type;
};

// The valid lines of a stretch of the song index, their texts converted. Chunks start on cache lines of
// their own: the reader fills one while the loader reads another, and two chunks sharing a line would
// make the two processors take it from each other on every song.
struct alignas(64) SongChunk {
    SongChunk() : texts(kChunkFields, kChunkBytes) {}
    // About 2,000 lines: few enough hand-overs that their cost vanishes, small enough that the loader
    // starts making songs soon after the reader starts and both stay busy.
    static constexpr size_t kChunkFields = 4096;
    static constexpr size_t kChunkBytes = 128 * 1024;

    FieldBatch texts;                // title and path of each song, in turn
    std::vector<PendingSong> songs;  // one per song of the chunk, in line order
};

using SongChunkPipe = ChunkPipe<SongChunk>;

// The reader's side: every line of the song index with enough fields (the header skipped) into chunks,
// in order. Uses only the file and the pipe; never the catalogue.
void ReadSongChunks(IndexFile& index, SongChunkPipe& pipe) {
    try {
        SongChunk* chunk = pipe.TakeFree();
        bool header = true;  // the first line read is the header
        std::string_view fields[kSongFields];  // made once: setting up the array per line shows in profiles
        ForEachLine(index, [&](std::string_view line) {
            if (chunk == nullptr) return;  // cancelled: the rest of the file is skipped unread
            if (header) {
                header = false;
                return;
            }
            if (SplitFields(line, fields, kSongFields) < kSongFields) return;
            chunk->songs.push_back(
                {ParseIndexNumber(fields[4]), ParseIndexNumber(fields[9]) == 1 ? left_karaoke : right_karaoke});
            chunk->texts.Add(FieldText(fields[1]));
            chunk->texts.Add(FieldText(fields[13]));
            if (chunk->texts.Full()) {
                chunk->texts.Convert();
                pipe.PutFilled(chunk);
                chunk = pipe.TakeFree();
            }
        });
        if (chunk != nullptr) {
            chunk->texts.Convert();
            pipe.PutFilled(chunk);  // possibly empty; the loader takes it like any other
        }
        pipe.Finish(nullptr);
    } catch (...) {
        pipe.Finish(std::current_exception());
    }
}

}  // namespace

// The song index being read on a reader thread: the open file, the pipe and the thread. Destroying it
// stops the reader and waits for it, so it may go at any point. The file's reading position changes with
// every line, so it is kept on cache lines of its own, apart from the loader's data; make it with
// std::make_unique rather than on the loader's stack.
struct SongIndexReading {
    alignas(64) IndexFile index;
    alignas(64) SongChunkPipe pipe;
    std::optional<ChunkReaderThread<SongChunk>> reader;  // declared last: ends first

    // Opens `file` and starts reading it; false when it cannot be opened.
    bool Start(const std::wstring& file) {
        if (!index.Open(file)) return false;
        reader.emplace(pipe, "sinjo-index", [this] { ReadSongChunks(index, pipe); });
        return true;
    }
};

// ---- Reload ---------------------------------------------------------------------------------------------

bool SongMan::Reload() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    ++generation;

    // Plain pointers into the records go first, then the owners. The player is not told: what it plays
    // goes on playing, but current_song must not outlive the song it names.
    queue.clear();
    current_song = nullptr;
    song_query_cache.Clear();
    artist_query_cache.Clear();
    artist_query_cache.capacity = 100;
    sorted_song_lists.clear();
    sorted_song_lists.resize(4, nullptr);
    search_text.clear();
    search_offsets.clear();
    albums_by_name.clear();
    artists_by_name.clear();
    artists_by_id.clear();
    if (kReuseSongRecords) {
        // The old songs wait in reusable_songs for NewSong; `songs` takes over the other list's buffer.
        reusable_songs.clear();
        songs.swap(reusable_songs);
        reusable_songs_next = 0;
    }
    songs.clear();
    albums.clear();
    artists.clear();

    const std::wstring dir = g_settings ? g_settings->GetMtvIndexDir() : std::wstring();
    // A catalogue takes about six times the size of its index files in memory; asking for it at once lets
    // a first load fault it in by huge pages where the system offers them (CatalogueMemory.h).
    uint64_t indexBytes = 0;
    for (const wchar_t* name : {L"\\singer.csv", L"\\Songs.csv"}) {
        platform::FileInfo info;
        if (platform::GetFileInfo(dir + name, &info)) indexBytes += info.size;
    }
    // Only a catalogue larger than any before in this process needs it: the allocator keeps what earlier
    // catalogues used, and looking at the heap costs time when it is fragmented.
    static std::atomic<uint64_t> reservedFor{0};
    if (indexBytes >= (1u << 20) && indexBytes > reservedFor.load()) {
        catalogue_memory::ReserveHeap(static_cast<size_t>(std::min<uint64_t>(indexBytes * 6, 1u << 30)));
        reservedFor.store(indexBytes);
    }
    const bool loaded = LoadIndex(dir);

    // Songs of the old catalogue that the new one did not need. Taken slots are null, so once these are
    // deleted the list can drop its pointers without deleting anything and keep its buffer for next time.
    for (size_t i = reusable_songs_next; i < reusable_songs.size(); ++i) {
        delete reusable_songs[i];
        reusable_songs[i] = nullptr;
    }
    static_cast<std::vector<Song*>&>(reusable_songs).clear();
    reusable_songs_next = 0;
    return loaded;
}

Song* SongMan::NewSong() {
    if (reusable_songs_next < reusable_songs.size()) {
        Song* song = reusable_songs[reusable_songs_next];
        reusable_songs[reusable_songs_next++] = nullptr;
        // Assigning a blank record resets every field; the strings keep their buffers (an empty string
        // moved in is copied into the existing buffer), so refilling them seldom allocates.
        *song = Song();
        return song;
    }
    return new Song;
}

bool SongMan::LoadIndex(const std::wstring& dir) {
    // The song index starts being read and converted before the artists load, so both go on at once.
    auto songIndex = std::make_unique<SongIndexReading>();
    const bool songIndexOpen = songIndex->Start(dir + L"\\Songs.csv");
    if (!LoadArtists(dir + L"\\singer.csv")) return false;
    if (!LoadVodMtvIndex(dir + L"\\Songs.csv", songIndexOpen ? songIndex.get() : nullptr)) return false;
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
    PerfTimer timer(g_settings, setting_keys::kLoadArtists);
    IndexFile index;
    if (!index.Open(file)) return false;

    // Lines are checked as they are read; the names of a batch of valid lines are converted together, and
    // their artists are then made in line order (so a later line still wins a shared name or id).
    struct Pending {
        int32_t id;
        int32_t category;
        int32_t region;
    };
    std::vector<Pending> pending;
    FieldBatch names(256, 1000);
    auto flush = [&] {
        if (pending.empty()) return;
        names.Convert();
        for (size_t k = 0; k < pending.size(); ++k) {
            const std::wstring_view name = names.Text(k);
            auto* artist = new Artist;
            artist->id = pending[k].id;
            artist->category = pending[k].category;
            artist->region = pending[k].region;
            artist->name.assign(name);
            SetSortKey(&artist->sort_key, name, names.Bytes(k));
            if (artist->id > max_artist_id) max_artist_id = artist->id;
            artists.push_back(artist);
            artists_by_name[artist->name] = artist;
            artists_by_id[artist->id] = artist;
        }
        pending.clear();
        names.Clear();
    };

    std::string_view fields[kArtistFields];
    ForEachLine(index, [&](std::string_view line) {
        if (SplitFields(line, fields, kArtistFields) < kArtistFields) return;
        const int32_t id = ParseIndexNumber(fields[0]);
        if (id < 1) return;
        pending.push_back({id, ParseIndexNumber(fields[3]), ParseIndexNumber(fields[4])});
        names.Add(FieldText(fields[1]));
        if (names.Full()) flush();
    });
    flush();
    return true;
}

// ---- the song index -------------------------------------------------------------------------------------

bool SongMan::LoadVodMtvIndex(const std::wstring& file) { return LoadVodMtvIndex(file, nullptr); }

bool SongMan::LoadVodMtvIndex(const std::wstring& file, SongIndexReading* started) {
    PerfTimer timer(g_settings, setting_keys::kLoadVodMtvIndex);
    // A reader thread reads and checks the lines and converts the title and path of each, a chunk of
    // lines at a time, while this thread makes the songs of the chunks in line order.
    std::unique_ptr<SongIndexReading> own;
    SongIndexReading* reading = started;
    if (reading == nullptr) {
        own = std::make_unique<SongIndexReading>();
        reading = own.get();
        if (!reading->Start(file)) return false;
    }

    auto* vod = new Album;
    vod->kind = index_album;
    vod->name = L"VOD";
    vod->dir = L"VOD";
    vod->sort_key = TextKey(vod->name);
    vod->index = static_cast<int32_t>(albums.size());
    albums.push_back(vod);

    // A song line is about 60 bytes or more; reserving from the file size avoids regrowing a large list.
    songs.reserve(songs.size() + static_cast<size_t>(reading->index.Size() / 64));

    // artists_by_id stays the catalogue's index by id, but one lookup per song line in a tree of
    // scattered nodes costs a cache miss per level; a flat copy made once answers the same question.
    const ArtistIdIndex byId(artists_by_id);

    SongChunkPipe& pipe = reading->pipe;
    while (SongChunk* chunk = pipe.TakeFilled()) {
        FieldBatch& texts = chunk->texts;
        const size_t count = chunk->songs.size();
        for (size_t k = 0; k < count; ++k) {
            // Each song counts itself for its artist and copies the artist's name: the artists lie
            // scattered in memory, so the record and name of an artist a few songs ahead are asked for now.
            if (k + kArtistLookahead < count) {
                if (const Artist* ahead = byId.Find(chunk->songs[k + kArtistLookahead].artist_id)) {
                    __builtin_prefetch(ahead, 1);
                    __builtin_prefetch(ahead->name.data(), 0);
                }
            }
            Artist* artist = byId.Find(chunk->songs[k].artist_id);
            if (artist == nullptr) continue;  // a line naming no loaded artist is not a song
            PrefetchReusableSongs(*this, 4);
            const std::wstring_view title = texts.Text(2 * k);
            std::wstring_view path = texts.Text(2 * k + 1);

            Song* song = NewSong();
            song->album_ref = vod;
            ++vod->song_count;
            ++artist->song_count;
            song->artist = artist->name;
            song->artist_ref = artist;
            song->id = static_cast<int32_t>(songs.size());
            song->name.assign(title);
            SetSortKey(&song->sort_key, title, texts.Bytes(2 * k));
            SetExtension(&song->ext, path);
            if (path.substr(0, 5) == L"\\mtv\\") path.remove_prefix(5);
            song->path.assign(path);
            song->audio_type = chunk->songs[k].audio_type;
            songs.push_back(song);
        }
        chunk->texts.Clear();
        chunk->songs.clear();
        pipe.PutFree(chunk);
    }
    reading->reader->Join();  // rethrows what stopped the reader early (memory ran out)
    return true;
}

// ---- user folders ---------------------------------------------------------------------------------------

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

    Song* song = NewSong();
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
