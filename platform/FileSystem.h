// File-system access by the jukebox's own path text.
//
// Jukebox code composes paths as text joined with "\" and may use drive letters ("C:\Mtv\a.avi").
// Every call here maps such text to a native path first (NativePath):
//   - every "\" becomes "/";
//   - a leading drive "X:" becomes the folder drives/x (lower-case letter) in the profile folder;
//   - an absolute POSIX path passes through unchanged; the native path is the UTF-8 form.
// All functions are thread-safe and report failure through their result; none throws.
#pragma once

#include <cstdint>
#include <functional>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The profile folder: $SINJO_HOME, else $XDG_CONFIG_HOME/sinjo, else ~/.config/sinjo (native path,
// not created here).
std::string ProfileFolder();

// Creates the native folder and its parents when missing; true when it exists afterwards.
bool EnsureFolder(const std::string& nativePath);

// The native (UTF-8, POSIX) path for the jukebox's path text.
std::string NativePath(std::wstring_view path);

// Full path of the running program, from /proc/self/exe, as wide text.
std::wstring ProgramPath();

// Attribute bits, with the platform's values.
constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x1;
constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

// Filled from stat (links followed). Folders report size 0. FILE_ATTRIBUTE_READONLY means no write
// permission bit is set; FILE_ATTRIBUTE_NORMAL stands alone when no other bit applies. The creation
// time is the birth time where the file system records one, else the older of the change and write
// times.
struct FileInfo {
    std::wstring name;          // last path component
    uint64_t size = 0;          // bytes
    uint32_t attributes = 0;    // FILE_ATTRIBUTE_* bits; names starting with "." count as hidden
    uint64_t creationTime = 0;  // file times in 100-ns units since 1601-01-01 (the platform's form)
    uint64_t accessTime = 0;
    uint64_t writeTime = 0;
    uint64_t device = 0;        // identity of the file system object, to notice a folder seen twice
    uint64_t inode = 0;
};

// Converts between Unix time in nanoseconds and the 100-ns-since-1601 file time.
uint64_t FileTimeFromUnixNanos(int64_t unixNanos);
int64_t UnixNanosFromFileTime(uint64_t fileTime);

// Information on one path (symbolic links followed); false when nothing is there.
bool GetFileInfo(std::wstring_view path, FileInfo* info);

// The entries of a directory in the order the file system lists them, without "." and "..";
// false when the directory cannot be read. An entry that cannot be examined (a dangling link, one
// removed meanwhile) is left out, since nothing could open it. Names are read as UTF-8; bytes that
// are not valid UTF-8 show as "?".
bool ListDirectory(std::wstring_view dir, std::vector<FileInfo>* entries);

// True when the file can be opened for reading; a folder is not a readable file. Never blocks (FIFOs).
bool CanOpenForRead(std::wstring_view path);

// fopen by path text, close-on-exec; null on failure, and for a folder (errno EISDIR).
FILE* OpenFile(std::wstring_view path, const char* mode);

// Opens a regular file for writing ("wb"), creating it (mode 0600) or emptying it. Refuses what is not a
// plain file of its own: a symbolic link at the path (ELOOP), a FIFO, a device or a folder (EINVAL); and
// never blocks, whatever was planted at the path (a FIFO without a reader, for instance). Null on failure.
FILE* OpenRegularFileForWriting(std::wstring_view path);

// Moves (renames) a file. Never replaces an existing target: if `to` exists the move fails.
// `error` receives an errno value on failure (EEXIST for an existing target). Uses an atomic
// no-replace rename; where the file system lacks one, link + unlink; where it lacks hard links too,
// a check for the target followed by rename (a target created in between could then be replaced).
// Moves across file systems fail with EXDEV.
bool MoveFileNoReplace(std::wstring_view from, std::wstring_view to, int* error = nullptr);

// Access checks that tests can make fail. While a hook is set, ListDirectory, CanOpenForRead and
// OpenFile ask it first with the native path and fail with EACCES when it says no, exactly as they
// fail for a folder or file the user may not read. File permissions cannot show this where tests run
// as root (root reads everything); the hook can. Thread-safe; an empty hook removes it.
using AccessHook = std::function<bool(const std::string& nativePath)>;  // true: access allowed
void SetAccessHook(AccessHook hook);

// The user's temporary folder ($TMPDIR, else /tmp), as path text without a trailing separator.
std::wstring TempFolder();

// Creates a new, empty, uniquely named file in `dir` whose name is the first three characters of
// `prefix`, four hexadecimal digits and ".tmp" (the platform's temporary-name rule); returns its
// path text (dir + "/" + name), or an empty text when none can be made. The digits are upper-case
// hexadecimal; the file is created with O_EXCL (mode 0600), so a name is never handed out twice.
std::wstring CreateUniqueTempFile(std::wstring_view dir, std::wstring_view prefix);

}  // namespace platform
