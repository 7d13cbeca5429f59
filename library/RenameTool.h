// The album renaming tool: after the tracks of an album were ripped into a folder, one file per track in
// track order, it renames every file after a track list so that the file is called "<artist>-<title>.<ext>"
// (or "<title>.<ext>") and the catalogue can find it. The track list is an album description text of
// "key: value" lines; every run writes a plain-text log and opens it with the desktop's viewer.
//
// Pieces, each usable on its own:
//   - ParseAlbumDescription turns a description text into an Album of kind described_album;
//   - RenameLog is the log of one run (a file, or standard output when the file cannot be opened);
//   - RenameAlbumFiles renames the files of one folder after one album, writing to a RenameLog;
//   - RenameAlbumAt does it for one album of the catalogue;
//   - SongMan::RenameFolder and SongMan::RenameAlbum (implemented in RenameTool.cpp) run a whole session:
//     make the log path once per process, open the log, rename, close it and show it.
//
// No file is ever lost: a move never replaces an existing file (it fails and the failure is logged), and
// a track whose artist or title would leave the album folder ("/", "\", "." or "..", a zero character) is
// not used. Every failure is logged and the run goes on with the next file.
//
// Threads: the tool runs on the GUI thread and does not take the catalogue lock; it reads
// SongMan::albums and "setting:NaduMtvRootDir" and writes SongMan::rename_log_path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "library/Records.h"

class SongMan;

// Parses an album description into `album` (which should be a new Album): sets kind described_album,
// artist, name, dir, dir_org, dir_mp3, ignore and appends one Song (artist and name only) per track line
// with a non-empty title, in line order. False when the text holds a "break" line: the description is
// rejected (the album is then left partly filled and must not be used).
//
// Lines end at "\n" or "\r" (runs count as one). A line starting with "#" is a comment. Other lines are
// trimmed (space, tab, CR, LF) and split at the first ":" into key and value, both trimmed; keys are
// case-sensitive. Track text: the value when the key starts with "song" or is all digits (or empty);
// else the text after the first space when what stands before it is all digits; else the whole line. A
// track text with ":" is "artist: title" (split at the first colon); otherwise it is the title and the
// artist is the album artist read so far.
bool ParseAlbumDescription(const std::wstring& text, Album* album);

// The log path of this process: a new unique temporary file "SinXXXX.tmp" in the user's temporary folder
// with ".TXT" appended; "fallback.tmp.TXT" in that folder when no unique name can be made. The ".tmp" file
// itself stays behind, reserving the name.
std::wstring MakeRenameLogPath();

// The log of one run. Opening empties the file; when it cannot be opened the lines go to standard output.
// Lines are written in code page 936 (the message texts are ASCII, so only names change). Everything
// written is also kept in memory, so that the run's text is known even when the file cannot be read back.
// One run, one thread; owns its FILE.
class RenameLog final {
public:
    // Opens `path` for writing. A symbolic link at `path` is not followed (the log lives in a shared
    // temporary folder, where someone else could have planted one).
    explicit RenameLog(const std::wstring& path);
    ~RenameLog();
    RenameLog(const RenameLog&) = delete;
    RenameLog& operator=(const RenameLog&) = delete;

    // Writes the text converted to code page 936, exactly as given (no line feed is added).
    void Write(std::wstring_view text);
    // Flushes and closes the file; later writes go to standard output. Safe to call twice.
    void Close();

    // True when the lines go to the file (it was opened and is not closed yet).
    bool ToFile() const { return m_file != nullptr; }
    // True when the file was opened at construction.
    bool Opened() const { return m_opened; }
    // The code page 936 bytes written so far.
    const std::string& Written() const { return m_written; }
    // The path given at construction.
    const std::wstring& Path() const { return m_path; }

private:
    const std::wstring m_path;
    FILE* m_file = nullptr;
    bool m_opened = false;
    std::string m_written;
};

// Renames the files directly in `dir` (path text, "\" or "/" separated) after the tracks of `album`:
// the files, oldest modification time first (ties in name order), are tracks 1, 2, ... Writes
// "\nWorking album: <dir>\n", the warning line when the file count differs from the track count, then one
// IGNORE, SUCCESS or ERROR line per file. An empty `dir` writes "ERROR: Empty album dir." only. The log's
// own file and the ".tmp" file that reserves its name are never taken for tracks (they are in the folder
// when the temporary folder itself is renamed).
//
// The new name is "<artist>-<title>.<ext>", or "<title>.<ext>" without an artist, with the file's own
// extension (letter case kept; a file without one gets a name without a dot). The rename is refused, and
// logged as ERROR, when the artist or title contains "/", "\" or a zero character or is "." or "..", when
// the new path is longer than 1024 characters, or when a file of the new name exists already.
void RenameAlbumFiles(RenameLog& log, const std::wstring& dir, const Album& album);

// Renames the folder of album `index` of `man.albums`: `type` "mtv", "org" or "mp3" chooses its dir,
// dir_org or dir_mp3 below "setting:NaduMtvRootDir". Nothing for an index outside the list; an empty
// folder choice (also any other `type`) writes "ERROR: Directory not specified.".
void RenameAlbumAt(RenameLog& log, const SongMan& man, int32_t index, const std::wstring& type);
