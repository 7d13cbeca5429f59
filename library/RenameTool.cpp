#include "library/RenameTool.h"

#include <algorithm>
#include <vector>

#include "core/ByteString.h"
#include "core/Globals.h"
#include "core/Settings.h"
#include "library/FileEnumerater.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"

namespace {

// The longest new path the tool will use, in characters.
constexpr size_t kMaxNewPath = 1024;

bool IsTrimmed(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::wstring Trim(std::wstring_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsTrimmed(text[begin])) ++begin;
    while (end > begin && IsTrimmed(text[end - 1])) --end;
    return std::wstring(text.substr(begin, end - begin));
}

// True for a text of decimal digits only; the empty text counts as digits.
bool AllDigits(std::wstring_view text) {
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A name part that can stand in a file name inside the album folder: it must not name another folder
// (a separator, or "." / ".." which become path components once the extension is missing) and must not
// hold a zero character, which would cut the name short.
bool IsUsableNamePart(const std::wstring& part) {
    if (part == L"." || part == L"..") return false;
    return std::none_of(part.begin(), part.end(), [](wchar_t c) { return c == L'\0' || IsSeparator(c); });
}

// The text of one track line (see ParseAlbumDescription).
std::wstring TrackText(const std::wstring& line, const std::wstring& key, const std::wstring& value) {
    if (key.compare(0, 4, L"song") == 0) return value;
    if (AllDigits(key)) return value;
    const size_t space = line.find(L' ');
    if (space != std::wstring::npos && AllDigits(std::wstring_view(line).substr(0, space))) {
        return line.substr(space + 1);
    }
    return line;
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
    return a == b || platform::NativePath(a) == platform::NativePath(b);
}

}  // namespace

// ---- description parser ------------------------------------------------------------------------------

bool ParseAlbumDescription(const std::wstring& text, Album* album) {
    album->kind = described_album;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of(L"\r\n", pos);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring_view raw = std::wstring_view(text).substr(pos, end - pos);
        pos = end + 1;
        if (raw.empty() || raw.front() == L'#') continue;  // runs of line ends; comments

        const std::wstring line = Trim(raw);
        const size_t colon = line.find(L':');
        const std::wstring key = Trim(std::wstring_view(line).substr(0, colon));
        const std::wstring value =
            colon == std::wstring::npos ? std::wstring() : Trim(std::wstring_view(line).substr(colon + 1));
        if (key.empty() && value.empty()) continue;

        if (key == L"artist") {
            album->artist = value;
        } else if (key == L"album") {
            album->name = value;
        } else if (key == L"dir") {
            album->dir = value;
        } else if (key == L"dir_org") {
            album->dir_org = value;
        } else if (key == L"dir_mp3") {
            album->dir_mp3 = value;
        } else if (key == L"ignore") {
            if (value == L"true") album->ignore = true;
        } else if (key == L"break") {
            return false;
        } else {
            const std::wstring track = TrackText(line, key, value);
            Song song;
            const size_t split = track.find(L':');
            if (split == std::wstring::npos) {
                song.artist = album->artist;
                song.name = Trim(track);
            } else {
                song.artist = Trim(std::wstring_view(track).substr(0, split));
                song.name = Trim(std::wstring_view(track).substr(split + 1));
            }
            if (!song.name.empty()) album->songs.push_back(std::move(song));
        }
    }
    return true;
}

// ---- log -------------------------------------------------------------------------------------------------

std::wstring MakeRenameLogPath() {
    const std::wstring temp = platform::TempFolder();
    std::wstring name = platform::CreateUniqueTempFile(temp, L"Sinjo");
    if (name.empty()) name = temp + L"/fallback.tmp";
    return name + L".TXT";
}

RenameLog::RenameLog(const std::wstring& path)
    : m_path(path), m_file(path.empty() ? nullptr : platform::OpenRegularFileForWriting(path)),
      m_opened(m_file != nullptr) {}

RenameLog::~RenameLog() { Close(); }

void RenameLog::Write(std::wstring_view text) {
    const std::string bytes = platform::WideToMultiByte(platform::CP_GBK, text);
    m_written += bytes;
    FILE* out = m_file != nullptr ? m_file : stdout;
    fwrite(bytes.data(), 1, bytes.size(), out);
    if (out == stdout) fflush(stdout);
}

void RenameLog::Close() {
    if (m_file == nullptr) return;
    fclose(m_file);
    m_file = nullptr;
}

// ---- renaming ----------------------------------------------------------------------------------------

void RenameAlbumFiles(RenameLog& log, const std::wstring& dir, const Album& album) {
    if (dir.empty()) {
        log.Write(L"ERROR: Empty album dir.");
        return;
    }
    log.Write(L"\nWorking album: " + dir + L"\n");

    // Only the files directly inside a folder count; a path naming a single file would otherwise be
    // listed as its own content.
    std::vector<FoundFile> files;
    platform::FileInfo info;
    if (platform::GetFileInfo(dir, &info) && (info.attributes & platform::FILE_ATTRIBUTE_DIRECTORY)) {
        FindFiles(dir, false, &files);
    }
    const std::wstring& logPath = log.Path();
    if (!logPath.empty()) {
        const std::string logFile = platform::NativePath(logPath);
        std::string reserved = logFile;
        if (reserved.size() > 4 && reserved.compare(reserved.size() - 4, 4, ".TXT") == 0) {
            reserved.resize(reserved.size() - 4);
        }
        std::erase_if(files, [&](const FoundFile& file) {
            const std::string native = platform::NativePath(file.path);
            return native == logFile || native == reserved;
        });
    }
    // Track order is ripping order: oldest first. Files written in the same instant keep name order, so
    // that a run is repeatable.
    std::stable_sort(files.begin(), files.end(), [](const FoundFile& a, const FoundFile& b) {
        if (a.write_time != b.write_time) return a.write_time < b.write_time;
        return a.path < b.path;
    });

    if (files.size() != album.songs.size()) log.Write(L"Warning: different album file size and index size.\n");

    for (size_t i = 0; i < files.size(); ++i) {
        const std::wstring& path = files[i].path;
        const std::wstring& oldName = files[i].name;
        if (i >= album.songs.size()) {
            log.Write(L"IGNORE: file name: " + oldName + L"\n");
            continue;
        }
        const Song& track = album.songs[i];

        const size_t dot = oldName.rfind(L'.');
        std::wstring newName = track.artist.empty() ? track.name.str() : track.artist + L"-" + track.name;
        if (dot != std::wstring::npos) newName += oldName.substr(dot);
        const std::wstring newPath = nutl::FileEnumerater<std::wstring>::JoinPath(dir, newName);

        // A file whose own name holds a "\\" is never touched: its path text would name another file.
        const bool usable = !files[i].unsafe && !track.name.empty() && IsUsableNamePart(track.name) &&
                            IsUsableNamePart(track.artist) && newPath.size() <= kMaxNewPath;
        bool done = false;
        if (usable) done = SameFile(path, newPath) || platform::MoveFileNoReplace(path, newPath);
        log.Write((done ? L"SUCCESS: renamed " : L"ERROR: failed to rename ") + oldName + L" to " + newName +
                  L"\n");
    }
}

void RenameAlbumAt(RenameLog& log, const SongMan& man, int32_t index, const std::wstring& type) {
    const Album* album = man.GetAlbum(index);
    if (album == nullptr) return;
    const std::wstring* folder = nullptr;
    if (type == L"mtv") {
        folder = &album->dir;
    } else if (type == L"org") {
        folder = &album->dir_org;
    } else if (type == L"mp3") {
        folder = &album->dir_mp3;
    }
    if (folder == nullptr || folder->empty()) {
        log.Write(L"ERROR: Directory not specified.");
        return;
    }
    const std::wstring dir = g_settings != nullptr ? g_settings->GetNaduMtvPath(*folder) : L"\\" + *folder;
    RenameAlbumFiles(log, dir, *album);
}

// ---- SongMan entry points ------------------------------------------------------------------------------

std::wstring SongMan::RenameFolder(const std::wstring& folder, const std::wstring& description) {
    if (rename_log_path.empty()) rename_log_path = MakeRenameLogPath();
    RenameLog log(rename_log_path);
    Album album;
    if (ParseAlbumDescription(description, &album)) {
        RenameAlbumFiles(log, folder, album);
    } else {
        log.Write(L"No album info loaded");
    }
    log.Close();

    // What the file holds is the answer; when it cannot be read back (or was never opened) the text
    // written during this run is.
    std::string content;
    if (!log.Opened() || !nutl::ReadWholeFile(rename_log_path, &content)) content = log.Written();
    if (log.Opened()) platform::ShellOpen(rename_log_path);
    return platform::MultiByteToWide(platform::CP_GBK, content);
}

void SongMan::RenameAlbum(int32_t index, const std::wstring& type) {
    {
        // Renaming changes album records, which the search index builder may still be reading.
        platform::RecursiveMutexLock guard(lock);
        AdoptSearchIndex(true);
    }
    if (rename_log_path.empty()) rename_log_path = MakeRenameLogPath();
    RenameLog log(rename_log_path);
    if (index >= 0) {
        RenameAlbumAt(log, *this, index, type);
    } else {
        for (int32_t i = 0; i < GetAlbumCount(); ++i) {
            const Album* album = GetAlbum(i);
            if (album != nullptr && album->kind == described_album) RenameAlbumAt(log, *this, i, type);
        }
    }
    log.Close();
    if (log.Opened()) platform::ShellOpen(rename_log_path);
}
