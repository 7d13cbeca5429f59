#include "platform/FileSystem.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <mutex>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <random>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/CodePage.h"
#include "platform/ThreadAnnotations.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace platform {
namespace {

// Seconds between 1601-01-01 and 1970-01-01, in file-time units (100 ns).
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

std::string GetEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// Drops trailing "/" (but keeps a lone "/").
std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string HomeFolder() {
    std::string home = GetEnv("HOME");
    if (!home.empty()) return home;
    // No $HOME (a service, a cleared environment): ask the password database.
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

// The last component of a path text ("/" and "\" both separate), ignoring trailing separators.
std::wstring LastComponent(std::wstring_view path) {
    while (path.size() > 1 && (path.back() == L'/' || path.back() == L'\\')) path.remove_suffix(1);
    const size_t cut = path.find_last_of(L"/\\");
    if (cut == std::wstring_view::npos) return std::wstring(path);
    if (cut + 1 == path.size()) return std::wstring(path);  // the root itself
    return std::wstring(path.substr(cut + 1));
}

bool IsHiddenName(std::wstring_view name) {
    return !name.empty() && name[0] == L'.' && name != L"." && name != L"..";
}

uint64_t FileTimeFrom(const struct statx_timestamp& ts) {
    return FileTimeFromUnixNanos(static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
}

// Fills everything but the name from statx results.
void FillInfo(const struct statx& st, std::wstring name, FileInfo* info) {
    info->name = std::move(name);
    const bool isDir = S_ISDIR(st.stx_mode);
    // Folders report size 0, as the platform's directory listings do.
    info->size = isDir ? 0 : st.stx_size;
    uint32_t attributes = 0;
    if (isDir) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (IsHiddenName(info->name)) attributes |= FILE_ATTRIBUTE_HIDDEN;
    if (!isDir && (st.stx_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    info->attributes = attributes;
    info->writeTime = FileTimeFrom(st.stx_mtime);
    info->accessTime = FileTimeFrom(st.stx_atime);
    // Not every file system records a birth time; the older of change and write time stands in.
    if (st.stx_mask & STATX_BTIME) {
        info->creationTime = FileTimeFrom(st.stx_btime);
    } else {
        const uint64_t changed = FileTimeFrom(st.stx_ctime);
        info->creationTime = changed < info->writeTime ? changed : info->writeTime;
    }
    info->device = (static_cast<uint64_t>(st.stx_dev_major) << 32) | st.stx_dev_minor;
    info->inode = st.stx_ino;
}

// stat of `name` relative to `dirFd`, following symbolic links.
bool StatFollow(int dirFd, const char* name, struct statx* st) {
    return statx(dirFd, name, AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, st) == 0;
}

bool Exists(const std::string& native) {
    struct stat st {};
    return lstat(native.c_str(), &st) == 0;
}

}  // namespace

std::string ProfileFolder() {
    std::string home = GetEnv("SINJO_HOME");
    if (!home.empty()) return WithoutTrailingSlash(home);
    // The base-directory convention ignores a relative $XDG_CONFIG_HOME.
    std::string config = GetEnv("XDG_CONFIG_HOME");
    if (!config.empty() && config[0] == '/') return WithoutTrailingSlash(config) + "/sinjo";
    std::string user = HomeFolder();
    if (!user.empty()) return WithoutTrailingSlash(user) + "/.config/sinjo";
    // Nowhere to keep a profile: a private folder under /tmp still lets the program run.
    return "/tmp/sinjo-" + std::to_string(getuid());
}

bool EnsureFolder(const std::string& nativePath) {
    if (nativePath.empty()) return false;
    std::string path = WithoutTrailingSlash(nativePath);
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    // Create each missing ancestor in turn; EEXIST from a racing creator is fine.
    for (size_t pos = path.find('/', 1); ; pos = path.find('/', pos + 1)) {
        const std::string part = pos == std::string::npos ? path : path.substr(0, pos);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            if (stat(part.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
        }
        if (pos == std::string::npos) break;
    }
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string NativePath(std::wstring_view path) {
    std::string native = ToUtf8(path);
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    const bool hasDrive = native.size() >= 2 && native[1] == ':' &&
                          ((native[0] >= 'A' && native[0] <= 'Z') || (native[0] >= 'a' && native[0] <= 'z'));
    if (!hasDrive) return native;
    const char letter = static_cast<char>(native[0] | 0x20);
    std::string rest = native.substr(2);
    std::string mapped = ProfileFolder() + "/drives/" + letter;
    // "C:" alone is the drive's root; "C:Mtv" (relative to the drive) is read as "C:\Mtv".
    if (!rest.empty() && rest[0] != '/') mapped += '/';
    return mapped + rest;
}

std::wstring ProgramPath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return FromUtf8(buffer);
        }
        buffer.resize(buffer.size() * 2);  // may have been cut: try again with more room
    }
}

uint64_t FileTimeFromUnixNanos(int64_t unixNanos) {
    // Round towards minus infinity, so times before 1970 stay ordered.
    int64_t ticks = unixNanos / 100;
    if (unixNanos % 100 < 0) --ticks;
    return static_cast<uint64_t>(static_cast<int64_t>(kUnixEpochAsFileTime) + ticks);
}

int64_t UnixNanosFromFileTime(uint64_t fileTime) {
    // Nanoseconds since 1970 only span the years 1677 to 2262; file times outside saturate.
    constexpr uint64_t kLimit = static_cast<uint64_t>(INT64_MAX / 100);
    if (fileTime >= kUnixEpochAsFileTime) {
        const uint64_t ticks = fileTime - kUnixEpochAsFileTime;
        return ticks > kLimit ? INT64_MAX : static_cast<int64_t>(ticks) * 100;
    }
    const uint64_t ticks = kUnixEpochAsFileTime - fileTime;
    return ticks > kLimit ? INT64_MIN : -static_cast<int64_t>(ticks) * 100;
}

namespace {

// The access hook. hookSet lets the usual case (no hook) pass without taking the lock.
std::atomic<bool> g_accessHookSet{false};
Mutex g_accessHookMutex;
AccessHook g_accessHook GUARDED_BY(g_accessHookMutex);

// False, with errno EACCES, when a hook is set and refuses the path.
bool AccessAllowed(const std::string& native) {
    if (!g_accessHookSet.load(std::memory_order_acquire)) return true;
    AccessHook hook;
    {
        MutexLock lock(g_accessHookMutex);
        hook = g_accessHook;
    }
    if (!hook || hook(native)) return true;
    errno = EACCES;
    return false;
}

}  // namespace

void SetAccessHook(AccessHook hook) {
    MutexLock lock(g_accessHookMutex);
    g_accessHookSet.store(static_cast<bool>(hook), std::memory_order_release);
    g_accessHook = std::move(hook);
}

bool GetFileInfo(std::wstring_view path, FileInfo* info) {
    const std::string native = NativePath(path);
    if (native.empty()) return false;
    struct statx st {};
    if (!StatFollow(AT_FDCWD, native.c_str(), &st)) return false;
    if (info != nullptr) FillInfo(st, LastComponent(path), info);
    return true;
}

// An entry that cannot be examined (a dangling symbolic link, one removed while we list, one we
// may not look at) is left out: nothing could open it, and callers that walk folders must not
// mistake it for an empty file.
bool ListDirectory(std::wstring_view dir, std::vector<FileInfo>* entries) {
    const std::string native = NativePath(dir);
    if (native.empty() || entries == nullptr || !AccessAllowed(native)) return false;
    DIR* stream = opendir(native.c_str());
    if (stream == nullptr) return false;
    const int dirFd = dirfd(stream);
    entries->clear();
    bool ok = true;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(stream);
        if (entry == nullptr) {
            ok = errno == 0;
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        struct statx st {};
        if (!StatFollow(dirFd, name, &st)) continue;
        FileInfo info;
        FillInfo(st, FromUtf8(name), &info);
        entries->push_back(std::move(info));
    }
    closedir(stream);
    return ok;
}

bool CanOpenForRead(std::wstring_view path) {
    const std::string native = NativePath(path);
    if (native.empty() || !AccessAllowed(native)) return false;
    // O_NONBLOCK so that probing a FIFO does not hang; a folder is not a file that can be read.
    const int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    const bool isFile = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    close(fd);
    return isFile;
}

FILE* OpenFile(std::wstring_view path, const char* mode) {
    const std::string native = NativePath(path);
    if (native.empty() || mode == nullptr) {
        errno = ENOENT;
        return nullptr;
    }
    if (!AccessAllowed(native)) return nullptr;
    // "e": close on exec, so files the program has open never leak into programs it starts.
    std::string fullMode = mode;
    if (fullMode.find('e') == std::string::npos) fullMode += 'e';
    FILE* file = std::fopen(native.c_str(), fullMode.c_str());
    if (file == nullptr) return nullptr;
    // Linux lets fopen open a folder for reading; the platform does not, and a caller would read
    // garbage sizes from it.
    struct stat st {};
    if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

FILE* OpenRegularFileForWriting(std::wstring_view path) {
    const std::string native = NativePath(path);
    if (native.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    // Not truncated yet: what is there is looked at first. O_NONBLOCK keeps a FIFO from hanging the open.
    const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (ftruncate(fd, 0) != 0 || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return nullptr;
    }
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr) close(fd);
    return file;
}

bool MoveFileNoReplace(std::wstring_view from, std::wstring_view to, int* error) {
    const std::string source = NativePath(from);
    const std::string target = NativePath(to);
    auto fail = [error](int code) {
        if (error != nullptr) *error = code;
        return false;
    };
    if (source.empty() || target.empty()) return fail(ENOENT);

    if (syscall(SYS_renameat2, AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    int code = errno;
    // EINVAL/ENOSYS/EOPNOTSUPP: the kernel or file system does not offer a no-replace rename.
    if (code != EINVAL && code != ENOSYS && code != EOPNOTSUPP) return fail(code);

    // A hard link is created only when the target name is free, so it cannot replace anything.
    if (link(source.c_str(), target.c_str()) == 0) {
        if (unlink(source.c_str()) != 0) {
            code = errno;
            unlink(target.c_str());  // leave things as they were
            return fail(code);
        }
        return true;
    }
    code = errno;
    if (code == EEXIST || (code != EPERM && code != EOPNOTSUPP && code != ENOSYS)) return fail(code);

    // No hard links either (FAT-style file systems, folders): check, then rename. Another process
    // could create the target between the two calls; this is the best such a file system allows.
    if (Exists(target)) return fail(EEXIST);
    if (rename(source.c_str(), target.c_str()) != 0) return fail(errno);
    return true;
}

std::wstring TempFolder() {
    std::string dir = GetEnv("TMPDIR");
    if (dir.empty()) dir = "/tmp";
    return FromUtf8(WithoutTrailingSlash(dir));
}

std::wstring CreateUniqueTempFile(std::wstring_view dir, std::wstring_view prefix) {
    std::wstring base(dir);
    if (base.empty() || (base.back() != L'/' && base.back() != L'\\')) base += L'/';
    base += prefix.substr(0, 3);

    // Start at a random number and walk the whole 16-bit space once, as the platform does.
    std::random_device seed;
    const unsigned start = seed() & 0xFFFFu;
    for (unsigned i = 0; i < 0x10000u; ++i) {
        const unsigned unique = (start + i) & 0xFFFFu;
        wchar_t digits[5];
        swprintf(digits, 5, L"%04X", unique);
        const std::wstring candidate = base + digits + L".tmp";
        const std::string native = NativePath(candidate);
        const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            return candidate;
        }
        if (errno != EEXIST) return {};  // missing folder, no permission: no name will work
    }
    return {};
}

}  // namespace platform
