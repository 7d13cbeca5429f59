// nutl::FileEnumerater: a reusable directory walker. It visits the files below a list of roots and hands
// each one to the virtual hook OnFile; a subclass decides what a file means (SongMan takes media files
// into the catalogue, FileFinder2 collects paths with their write times).
//
// Paths are the jukebox's path text: a directory and an entry name are joined with "\" and the platform
// layer maps the text to a native path at each file-system call. The walker lists entries in the order
// the file system returns them and applies no sort.
//
// Symbolic links are followed (a linked folder is walked like a real one), but within one walk a
// directory is never entered twice: every directory entered is remembered by the device and inode of
// what the path resolves to, and a second path to the same directory (a link loop such as "a/loop -> ..",
// or two links to one folder) is passed over. The walk therefore always ends, and no file is reported
// twice through two links.
//
// Only the std::wstring instantiation exists (the platform functions take wide path text).
// Threads: an object is used by one thread at a time (the one that calls Run); it has no lock.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace nutl {

template <class T>
class FileEnumerater {
public:
    FileEnumerater() = default;
    explicit FileEnumerater(std::vector<T>* roots_, bool recursive_ = true)
        : roots(roots_), recursive(recursive_) {}
    virtual ~FileEnumerater() = default;
    FileEnumerater(const FileEnumerater&) = delete;
    FileEnumerater& operator=(const FileEnumerater&) = delete;

    // Walks every root in list order while `stop` is false. A root that is a directory is walked with
    // EnumDirectory; a root that is anything else that exists is reported with OnFile (path = the root
    // text). A root that names nothing, or is empty, is skipped. A directory root whose listing fails is
    // skipped too (it is never reported to OnFile as if it were a file).
    virtual void Run();

    // Called when a directory is entered, before it is listed. Does nothing by default.
    virtual void OnEnterDirectory(const T& dir);

    // Called for every file: `size` is the low 32 bits of the size, `attributes` the
    // platform::FILE_ATTRIBUTE_* bits, the times 100-ns file times.
    virtual void OnFile(const T& path, uint32_t size, uint32_t attributes, uint64_t creation_time,
                        uint64_t access_time, uint64_t write_time) = 0;

    // Enters `dir`: OnEnterDirectory, then every entry in listing order while `stop` is false (files
    // through OnFile, subdirectories walked where they are listed when `recursive` is set). False when
    // the listing failed, or when the directory was already entered during this walk (it is then not
    // entered again and OnEnterDirectory is not called).
    virtual bool EnumDirectory(const T& dir);

    // Called instead of OnFile or a descent for an entry whose name holds a "\": path text reads it as a
    // separator, so the joined path would lead out of `dir` ("..\..\x"). Such entries are never walked;
    // this hook only lets a subclass say so. Does nothing by default.
    virtual void OnUnsafeName(const T& dir, const T& name, bool is_directory, uint64_t write_time);

    // Joins two path texts with "\" unless the first ends with, or the second begins with, a separator;
    // an empty side gives the other. "/" counts as a separator as well, so that a POSIX root written
    // with a trailing slash gives the same paths as one without.
    static T JoinPath(const T& first, const T& second);

    std::vector<T>* roots = nullptr;  // not owned; set before Run
    bool recursive = true;            // descend into subdirectories
    bool stop = false;                // checked before each root and before each entry

private:
    // Directories entered during the current walk, by (device, inode). Cleared when an outermost Run or
    // EnumDirectory begins.
    std::set<std::pair<uint64_t, uint64_t>> m_entered;
    int m_depth = 0;        // nesting of EnumDirectory calls
    bool m_running = false; // inside Run
};

extern template class FileEnumerater<std::wstring>;

}  // namespace nutl

// A file found by FileFinder2: its path as visited and its last-write time.
struct FoundFile {
    std::wstring path;
    uint64_t write_time = 0;  // 100-ns file time; compared as an unsigned number
    std::wstring name;        // the entry's own name (the last component of path, unless unsafe)
    bool unsafe = false;      // a name holding "\": listed so it can be reported, never to be opened
};

// Collects every file visited into `results` (when not null), in visiting order, and also the files whose
// names hold a "\", marked unsafe.
class FileFinder2 final : public nutl::FileEnumerater<std::wstring> {
public:
    FileFinder2(std::vector<std::wstring>* roots_, bool recursive_, std::vector<FoundFile>* results_)
        : nutl::FileEnumerater<std::wstring>(roots_, recursive_), results(results_) {}

    void OnFile(const std::wstring& path, uint32_t size, uint32_t attributes, uint64_t creation_time,
                uint64_t access_time, uint64_t write_time) override;
    void OnUnsafeName(const std::wstring& dir, const std::wstring& name, bool is_directory,
                      uint64_t write_time) override;

    std::vector<FoundFile>* results;  // not owned; may be null
};

// Walks `dir` (with or without its subdirectories) and appends every file found to `results` (may be
// null), in visiting order; files with a "\" in their names come marked unsafe.
void FindFiles(const std::wstring& dir, bool recursive, std::vector<FoundFile>* results);
