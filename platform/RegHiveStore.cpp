// Files, locks and the cached version of each root; see RegHiveStore.h.
#include "platform/RegHiveStore.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/RegHiveFormat.h"
#include "platform/ThreadAnnotations.h"

namespace platform {

std::string RegHivePath(RegRoot root) {
    std::string folder = ProfileFolder();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder + (root == RegRoot::CurrentUser ? "/user.reg" : "/classes.reg");
}

namespace reghive {
namespace {

constexpr int64_t kRacyMarginNs = 50'000'000;  // 50 ms, several file-system clock ticks

// One version of a hive file as read.
struct HiveVersion {
    Hive hive;
    ParseDamage damage;       // what parsing skipped
    bool unreadable = false;  // the file exists but could not be read
    std::string raw;          // the file's bytes, kept only when damage.badLines > 0 (for the .bad copy)
};

// What identifies one version of the hive file.
struct Signature {
    enum Kind { Missing, File, Error } kind = Missing;
    int error = 0;  // errno for Error
    uint64_t dev = 0, ino = 0, size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;  // catches an in-place rewrite that restored the modification time
    mode_t mode = 0;

    bool operator==(const Signature& o) const {
        return kind == o.kind && error == o.error && dev == o.dev && ino == o.ino && size == o.size &&
               mtimeNs == o.mtimeNs && ctimeNs == o.ctimeNs;
    }
};

Signature SignatureOf(const struct stat& sb) {
    Signature s;
    s.kind = Signature::File;
    s.dev = sb.st_dev;
    s.ino = sb.st_ino;
    s.size = static_cast<uint64_t>(sb.st_size);
    s.mtimeNs = static_cast<int64_t>(sb.st_mtim.tv_sec) * 1'000'000'000 + sb.st_mtim.tv_nsec;
    s.ctimeNs = static_cast<int64_t>(sb.st_ctim.tv_sec) * 1'000'000'000 + sb.st_ctim.tv_nsec;
    s.mode = sb.st_mode;
    return s;
}

Signature StatHive(const std::string& path) {
    struct stat sb;
    if (stat(path.c_str(), &sb) == 0) return SignatureOf(sb);
    Signature s;
    if (errno != ENOENT && errno != ENOTDIR) {
        s.kind = Signature::Error;
        s.error = errno;
    }
    return s;
}

int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool ReadAll(int fd, std::string* out) {
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out->append(buf, static_cast<size_t>(n));
    }
}

class Fd final {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Reads and parses the hive file; *sig receives the version that was read and *error the reason when
// the file exists but cannot be read.
std::shared_ptr<HiveVersion> ReadHive(const std::string& path, RegRoot root, Signature* sig, int* error) {
    auto unreadable = [&](int err) {
        auto version = std::make_shared<HiveVersion>();
        version->unreadable = true;
        *error = err;
        return version;
    };
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) {
            *sig = Signature{};
            return std::make_shared<HiveVersion>();
        }
        *sig = StatHive(path);
        return unreadable(err);
    }
    struct stat sb;
    if (fstat(fd.get(), &sb) != 0) {
        *sig = Signature{Signature::Error, errno};
        return unreadable(sig->error);
    }
    *sig = SignatureOf(sb);
    if (!S_ISREG(sb.st_mode)) return unreadable(S_ISDIR(sb.st_mode) ? EISDIR : EINVAL);
    std::string bytes;
    if (!ReadAll(fd.get(), &bytes)) return unreadable(errno);
    auto version = std::make_shared<HiveVersion>();
    version->damage = ParseHive(bytes, root, &version->hive);
    if (version->damage.badLines > 0) version->raw = std::move(bytes);
    return version;
}

bool FileHasBytes(const std::string& path, std::string_view bytes) {
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return false;
    std::string have;
    return ReadAll(fd.get(), &have) && have == bytes;
}

// Keeps a damaged file's bytes as "<hive>.bad", or the next free "<hive>.bad.N" when an older,
// different copy holds that name. True when a copy exists afterwards.
bool KeepBadCopy(const std::string& path, std::string_view bytes) {
    for (int n = 0; n < 1000; ++n) {
        const std::string name = path + ".bad" + (n == 0 ? std::string() : "." + std::to_string(n));
        Fd fd(open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            if (errno != EEXIST) return false;
            if (FileHasBytes(name, bytes)) return true;  // this version was kept already
            continue;
        }
        if (!WriteAll(fd.get(), bytes) || fsync(fd.get()) != 0) {
            unlink(name.c_str());
            return false;
        }
        return close(fd.release()) == 0;
    }
    return false;
}

// Writes the hive's new text: temporary file, fsync, rename over the hive. The folder is not synced:
// after a crash the rename may be undone, but the hive is then the complete previous version, never a
// torn one, and skipping it halves the cost of a write.
// *sig receives the version written (taken after the rename, which changes the change time; the
// caller holds the lock, so no cooperating writer can have replaced it meanwhile).
bool WriteHiveFile(const std::string& path, std::string_view text, mode_t mode, Signature* sig) {
    const std::string tmp = path + ".tmp." + std::to_string(getpid());
    Fd fd(open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) return false;
    bool ok = (mode == 0 || fchmod(fd.get(), mode & 07777) == 0) && WriteAll(fd.get(), text) &&
              fsync(fd.get()) == 0;
    ok = close(fd.release()) == 0 && ok && rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(tmp.c_str());
        return false;
    }
    *sig = StatHive(path);
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Per-root state

struct RootState {
    // Serialises this process's writers of the hive; held from before the flock until the cache
    // holds what was written. Taken before cacheMutex, never while holding it.
    Mutex writeMutex ACQUIRED_BEFORE(cacheMutex);

    // Guards the cache fields below; held only to copy or replace them, never across file I/O.
    Mutex cacheMutex;
    // The hive path the cache belongs to, the version of the file it was parsed from, and CLOCK_REALTIME
    // just before that version was read.
    std::string path GUARDED_BY(cacheMutex);
    Signature sig GUARDED_BY(cacheMutex);
    int64_t readAtNs GUARDED_BY(cacheMutex) = 0;
    std::shared_ptr<const HiveVersion> version GUARDED_BY(cacheMutex);  // null until first read
    // The damaged or unreadable version last reported.
    std::string reportedPath GUARDED_BY(cacheMutex);
    Signature reportedSig GUARDED_BY(cacheMutex);
};

RootState& State(RegRoot root) {
    static RootState states[2];
    return states[root == RegRoot::CurrentUser ? 0 : 1];
}

// The current version of a root's hive: the cached parse while the file is unchanged, else a fresh read.
std::shared_ptr<const HiveVersion> CurrentVersion(RegRoot root, const std::string& path) {
    RootState& st = State(root);
    const int64_t now = NowNs();
    const Signature seen = StatHive(path);
    {
        MutexLock lock(st.cacheMutex);
        const bool racy = st.sig.kind == Signature::File && S_ISREG(st.sig.mode) &&
                          st.readAtNs - st.sig.mtimeNs <= kRacyMarginNs;
        if (st.version && st.path == path && st.sig == seen && !racy) return st.version;
    }
    Signature sig;
    int error = 0;
    std::shared_ptr<const HiveVersion> version = ReadHive(path, root, &sig, &error);
    MutexLock lock(st.cacheMutex);
    // Report a damaged or unreadable file once per version, not on every re-read.
    if ((version->unreadable || version->damage.badLines > 0) &&
        !(st.reportedPath == path && st.reportedSig == sig)) {
        st.reportedPath = path;
        st.reportedSig = sig;
        if (version->unreadable) {
            std::fprintf(stderr,
                         "sinjo: registry file %s cannot be read (%s); it reads as empty and is not "
                         "written over\n",
                         path.c_str(), std::strerror(error));
        } else {
            std::fprintf(stderr,
                         "sinjo: registry file %s: %zu damaged line(s) skipped (first at line %zu); the "
                         "file is copied to %s.bad before it is next written\n",
                         path.c_str(), version->damage.badLines, version->damage.firstBadLine, path.c_str());
        }
    }
    st.path = path;
    st.sig = sig;
    st.readAtNs = now;
    st.version = version;
    return version;
}

}  // namespace

LSTATUS ModifyHive(RegRoot root, const HiveChange& change) {
    RootState& st = State(root);
    MutexLock writer(st.writeMutex);
    const std::string path = RegHivePath(root);
    if (!EnsureFolder(FolderOf(path))) return ERROR_CANTWRITE;
    Fd lock(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (lock.get() < 0) return ERROR_CANTWRITE;
    while (flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR) return ERROR_CANTWRITE;

    // Re-read under the lock: another process may have written a moment ago.
    const auto current = CurrentVersion(root, path);
    if (current->unreadable) return ERROR_ACCESS_DENIED;
    auto next = std::make_shared<HiveVersion>();
    next->hive.keys = current->hive.keys;
    bool changed = false;
    const LSTATUS status = change(next->hive.keys, &changed);
    if (status != ERROR_SUCCESS || !changed) return status;

    if (current->damage.badLines > 0 && !KeepBadCopy(path, current->raw)) return ERROR_CANTWRITE;
    Signature oldSig;
    {
        MutexLock cache(st.cacheMutex);
        oldSig = st.sig;
    }
    const mode_t mode = oldSig.kind == Signature::File ? oldSig.mode : 0;
    const int64_t now = NowNs();
    Signature sig;
    if (!WriteHiveFile(path, SerializeHive(next->hive, root), mode, &sig)) return ERROR_CANTWRITE;
    MutexLock cache(st.cacheMutex);
    st.path = path;
    st.sig = sig;
    st.readAtNs = now;
    st.version = std::move(next);
    return ERROR_SUCCESS;
    // The flock is released when `lock` closes.
}

std::shared_ptr<const Hive> CurrentHive(RegRoot root) {
    std::shared_ptr<const HiveVersion> version = CurrentVersion(root, RegHivePath(root));
    const Hive* hive = &version->hive;
    return std::shared_ptr<const Hive>(std::move(version), hive);
}

}  // namespace reghive
}  // namespace platform
