#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstddef>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/CodePage.h"

namespace platform {
namespace {

// Sets (or, with nullopt, removes) an environment variable for one scope.
class ScopedEnv final {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class FileSystemTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string home = ProfileFolder();
        dir_ = home + "/fs-" + testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(EnsureFolder(dir_));
    }

    std::string Write(const std::string& name, const std::string& contents) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static std::wstring W(const std::string& utf8) { return FromUtf8(utf8); }

    std::string dir_;
};

TEST_F(FileSystemTest, NativePathMapsSeparatorsAndDriveLetters) {
    const std::string home = ProfileFolder();
    const std::vector<std::pair<std::wstring, std::string>> cases = {
        {L"C:\\Mtv\\a.avi", home + "/drives/c/Mtv/a.avi"},
        {L"c:\\Mtv\\a.avi", home + "/drives/c/Mtv/a.avi"},
        {L"Z:/mixed\\seps", home + "/drives/z/mixed/seps"},
        {L"D:", home + "/drives/d"},
        {L"D:\\", home + "/drives/d/"},
        {L"E:songs\\x.mp3", home + "/drives/e/songs/x.mp3"},
        {L"/usr/share/sinjo", "/usr/share/sinjo"},
        {L"relative\\dir/file.txt", "relative/dir/file.txt"},
        {L"\\\\server\\share\\f", "//server/share/f"},
        {L"1:\\not-a-drive", "1:/not-a-drive"},
        {L"C:\\歌手\\中文.avi", home + "/drives/c/\xE6\xAD\x8C\xE6\x89\x8B/\xE4\xB8\xAD\xE6\x96\x87.avi"},
        {L"", ""},
    };
    for (const auto& [text, native] : cases) {
        EXPECT_EQ(NativePath(text), native) << ToUtf8(text);
    }
}

TEST_F(FileSystemTest, DriveLetterPathWithMissingProfileFolderIsMappedButNotCreated) {
    const std::string missing = dir_ + "/no-such-profile";
    ScopedEnv home("SINJO_HOME", missing);
    EXPECT_EQ(NativePath(L"C:\\Mtv\\a.avi"), missing + "/drives/c/Mtv/a.avi");
    FileInfo info;
    EXPECT_FALSE(GetFileInfo(L"C:\\Mtv\\a.avi", &info));
    EXPECT_FALSE(CanOpenForRead(L"C:\\Mtv\\a.avi"));
    EXPECT_EQ(OpenFile(L"C:\\Mtv\\a.avi", "rb"), nullptr);
    struct stat st {};
    EXPECT_NE(stat(missing.c_str(), &st), 0);
}

TEST_F(FileSystemTest, ProfileFolderFallsBackThroughTheEnvironment) {
    ScopedEnv home("HOME", "/home/karaoke");
    {
        ScopedEnv sinjo("SINJO_HOME", "/srv/sinjo/");
        EXPECT_EQ(ProfileFolder(), "/srv/sinjo");
    }
    ScopedEnv sinjo("SINJO_HOME", std::nullopt);
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(ProfileFolder(), "/cfg/sinjo");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative/cfg");  // not absolute: ignored
        EXPECT_EQ(ProfileFolder(), "/home/karaoke/.config/sinjo");
    }
    ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(ProfileFolder(), "/home/karaoke/.config/sinjo");
}

TEST_F(FileSystemTest, EnsureFolderCreatesParentsAndRefusesFiles) {
    EXPECT_TRUE(EnsureFolder(dir_ + "/a/b/c/"));
    struct stat st {};
    ASSERT_EQ(stat((dir_ + "/a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(EnsureFolder(dir_ + "/a/b"));  // already there
    Write("plain", "x");
    EXPECT_FALSE(EnsureFolder(dir_ + "/plain"));
    EXPECT_FALSE(EnsureFolder(dir_ + "/plain/below"));
    EXPECT_FALSE(EnsureFolder(""));
}

TEST_F(FileSystemTest, ProgramPathIsTheRunningProgram) {
    const std::wstring path = ProgramPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path[0], L'/');
    // The very file this process runs, whatever the binary is called.
    struct stat self {}, named {};
    ASSERT_EQ(stat("/proc/self/exe", &self), 0);
    ASSERT_EQ(stat(ToUtf8(path).c_str(), &named), 0) << ToUtf8(path);
    EXPECT_EQ(self.st_ino, named.st_ino);
    EXPECT_EQ(self.st_dev, named.st_dev);
}

TEST_F(FileSystemTest, FileTimeConversions) {
    constexpr uint64_t kEpoch = 116444736000000000ULL;
    const std::vector<std::pair<int64_t, uint64_t>> cases = {
        {0, kEpoch},
        {1'000'000'000, kEpoch + 10'000'000},
        {199, kEpoch + 1},          // below 100 ns is cut off
        {-1, kEpoch - 1},           // before 1970 rounds down, not towards zero
        {-100, kEpoch - 1},
        {INT64_MIN, kEpoch - 92'233'720'368'547'759},  // the earliest representable time, 1677
    };
    for (const auto& [nanos, fileTime] : cases) {
        EXPECT_EQ(FileTimeFromUnixNanos(nanos), fileTime) << nanos;
    }
    EXPECT_EQ(UnixNanosFromFileTime(kEpoch), 0);
    EXPECT_EQ(UnixNanosFromFileTime(kEpoch + 10'000'000), 1'000'000'000);
    EXPECT_EQ(UnixNanosFromFileTime(0), INT64_MIN);  // 1601 lies before what int64 nanoseconds hold
    EXPECT_EQ(UnixNanosFromFileTime(UINT64_MAX), INT64_MAX);
    EXPECT_EQ(UnixNanosFromFileTime(FileTimeFromUnixNanos(INT64_MIN)), INT64_MIN);  // saturates
    const int64_t now = 1'765'000'000'123'456'700;
    EXPECT_EQ(UnixNanosFromFileTime(FileTimeFromUnixNanos(now)), now);
}

TEST_F(FileSystemTest, ListDirectoryReportsEntriesWithTheirInformation) {
    Write("song.avi", std::string(1234, 'a'));
    Write(".hidden", "xy");
    Write("\xE4\xB8\xAD\xE6\x96\x87.mp3", "abc");
    Write("readonly.wma", "r");
    chmod((dir_ + "/readonly.wma").c_str(), 0444);
    ASSERT_TRUE(EnsureFolder(dir_ + "/sub"));
    ASSERT_EQ(symlink("song.avi", (dir_ + "/link.avi").c_str()), 0);
    ASSERT_EQ(symlink("sub", (dir_ + "/linkdir").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (dir_ + "/dangling.avi").c_str()), 0);
    // A known write time, to check the conversion end to end.
    const timespec times[2] = {{1'600'000'000, 0}, {1'500'000'000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir_ + "/song.avi").c_str(), times, 0), 0);

    std::vector<FileInfo> entries;
    ASSERT_TRUE(ListDirectory(W(dir_), &entries));
    std::map<std::wstring, FileInfo> byName;
    for (const auto& e : entries) byName[e.name] = e;
    // The dangling link cannot be examined and is left out; "." and ".." never appear.
    const std::set<std::wstring> expected = {L"song.avi", L".hidden", L"中文.mp3", L"readonly.wma",
                                             L"sub", L"link.avi", L"linkdir"};
    std::set<std::wstring> names;
    for (const auto& [name, info] : byName) names.insert(name);
    EXPECT_EQ(names, expected);
    EXPECT_EQ(entries.size(), expected.size());

    const FileInfo& song = byName[L"song.avi"];
    EXPECT_EQ(song.size, 1234u);
    EXPECT_EQ(song.attributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(song.writeTime, FileTimeFromUnixNanos(1'500'000'000'000'000'500));
    EXPECT_EQ(song.accessTime, FileTimeFromUnixNanos(1'600'000'000'000'000'000));
    EXPECT_NE(song.creationTime, 0u);

    EXPECT_EQ(byName[L".hidden"].attributes, FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(byName[L"中文.mp3"].size, 3u);
    EXPECT_EQ(byName[L"readonly.wma"].attributes, FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(byName[L"sub"].attributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(byName[L"sub"].size, 0u);

    // Links report what they point at, so a folder reached twice has one identity.
    EXPECT_EQ(byName[L"link.avi"].size, 1234u);
    EXPECT_EQ(byName[L"link.avi"].inode, song.inode);
    EXPECT_EQ(byName[L"linkdir"].attributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(byName[L"linkdir"].inode, byName[L"sub"].inode);
    EXPECT_EQ(byName[L"linkdir"].device, byName[L"sub"].device);
    EXPECT_NE(song.inode, byName[L"sub"].inode);

    FileInfo single;
    ASSERT_TRUE(GetFileInfo(W(dir_ + "\\song.avi"), &single));
    EXPECT_EQ(single.name, L"song.avi");
    EXPECT_EQ(single.inode, song.inode);
    EXPECT_EQ(single.writeTime, song.writeTime);
    ASSERT_TRUE(GetFileInfo(W(dir_ + "/sub\\"), &single));
    EXPECT_EQ(single.name, L"sub");
    EXPECT_FALSE(GetFileInfo(W(dir_ + "/dangling.avi"), &single));
}

TEST_F(FileSystemTest, ListDirectoryFailsOnMissingFoldersAndFiles) {
    std::vector<FileInfo> entries;
    EXPECT_FALSE(ListDirectory(W(dir_ + "/missing"), &entries));
    EXPECT_FALSE(ListDirectory(W(Write("file", "x")), &entries));
    ASSERT_TRUE(EnsureFolder(dir_ + "/empty"));
    entries.push_back(FileInfo{});
    EXPECT_TRUE(ListDirectory(W(dir_ + "/empty"), &entries));
    EXPECT_TRUE(entries.empty());
}

TEST_F(FileSystemTest, DriveLetterPathsReachTheDrivesFolder) {
    ASSERT_TRUE(EnsureFolder(ProfileFolder() + "/drives/c/Mtv"));
    FILE* out = OpenFile(L"C:\\Mtv\\new.txt", "wb");
    ASSERT_NE(out, nullptr);
    std::fputs("hello", out);
    std::fclose(out);
    EXPECT_EQ(Read(ProfileFolder() + "/drives/c/Mtv/new.txt"), "hello");
    EXPECT_TRUE(CanOpenForRead(L"c:/Mtv/new.txt"));
}

TEST_F(FileSystemTest, OnlyFilesCountAsReadable) {
    const std::string file = Write("f.txt", "x");
    EXPECT_TRUE(CanOpenForRead(W(file)));
    EXPECT_FALSE(CanOpenForRead(W(dir_)));
    EXPECT_FALSE(CanOpenForRead(W(dir_ + "/missing")));
    EXPECT_EQ(OpenFile(W(dir_), "rb"), nullptr);
    EXPECT_EQ(errno, EISDIR);
    // A FIFO without a writer must not block the probe.
    const std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(CanOpenForRead(W(fifo)));
    FILE* in = OpenFile(W(file), "rb");
    ASSERT_NE(in, nullptr);
    EXPECT_TRUE(fcntl(fileno(in), F_GETFD) & FD_CLOEXEC);
    std::fclose(in);
}

TEST_F(FileSystemTest, MoveNeverReplacesAnExistingTarget) {
    const std::string a = Write("a.avi", "first");
    const std::string b = Write("b.avi", "second");
    int error = 0;
    EXPECT_FALSE(MoveFileNoReplace(W(a), W(b), &error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(Read(a), "first");
    EXPECT_EQ(Read(b), "second");

    const std::string c = dir_ + "/c.avi";
    error = 0;
    EXPECT_TRUE(MoveFileNoReplace(W(a), W(c), &error));
    EXPECT_EQ(Read(c), "first");
    EXPECT_FALSE(CanOpenForRead(W(a)));

    EXPECT_FALSE(MoveFileNoReplace(W(a), W(dir_ + "/d.avi"), &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(MoveFileNoReplace(W(c), W(dir_ + "/nofolder/d.avi")));
    EXPECT_EQ(Read(c), "first");
}

// Makes the kernel refuse the no-replace rename (ENOSYS), and with `noHardLinks` hard links too
// (EPERM), as older kernels and FAT-style file systems do. For a forked child only: irreversible.
bool RefuseRenameSyscalls(bool noHardLinks) {
    std::vector<sock_filter> filter = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_renameat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
    };
    if (noHardLinks) {
        for (unsigned nr : {static_cast<unsigned>(__NR_link), static_cast<unsigned>(__NR_linkat)}) {
            filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nr, 0, 1));
            filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM));
        }
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

TEST_F(FileSystemTest, MoveFallbacksNeverReplaceEither) {
    for (bool noHardLinks : {false, true}) {
        SCOPED_TRACE(noHardLinks ? "no rename flag, no hard links" : "no rename flag");
        const std::string a = Write("a.avi", "first");
        const std::string b = Write("b.avi", "second");
        const std::string c = dir_ + "/c.avi";
        unlink(c.c_str());
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Exit codes: 10 no seccomp here, else one bit per failed check.
            if (!RefuseRenameSyscalls(noHardLinks)) _exit(10);
            int failed = 0, error = 0;
            if (MoveFileNoReplace(W(a), W(b), &error) || error != EEXIST) failed |= 1;
            if (!MoveFileNoReplace(W(a), W(c), &error)) failed |= 2;
            _exit(failed);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 10) GTEST_SKIP() << "seccomp filters are not available here";
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(Read(b), "second");
        EXPECT_EQ(Read(c), "first");
        EXPECT_FALSE(CanOpenForRead(W(a)));
    }
}

TEST_F(FileSystemTest, TempFolderFollowsTmpdir) {
    {
        ScopedEnv tmp("TMPDIR", "/var/tmp/x/");
        EXPECT_EQ(TempFolder(), L"/var/tmp/x");
    }
    ScopedEnv tmp("TMPDIR", std::nullopt);
    EXPECT_EQ(TempFolder(), L"/tmp");
}

TEST_F(FileSystemTest, UniqueTempFilesAreNewEmptyAndDistinct) {
    std::set<std::wstring> seen;
    for (int i = 0; i < 200; ++i) {
        const std::wstring path = CreateUniqueTempFile(W(dir_), L"Sinjo");
        ASSERT_FALSE(path.empty());
        EXPECT_TRUE(seen.insert(path).second) << ToUtf8(path);
        const std::wstring name = path.substr(path.rfind(L'/') + 1);
        ASSERT_EQ(name.size(), 11u);
        EXPECT_EQ(name.substr(0, 3), L"Sin");
        EXPECT_TRUE(std::all_of(name.begin() + 3, name.begin() + 7, iswxdigit)) << ToUtf8(name);
        EXPECT_EQ(name.substr(7), L".tmp");
        struct stat st {};
        ASSERT_EQ(stat(NativePath(path).c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 0);
    }
    const std::wstring shortPrefix = CreateUniqueTempFile(W(dir_ + "/"), L"a");
    EXPECT_EQ(shortPrefix.size(), W(dir_).size() + 1 + 9);
    EXPECT_TRUE(CanOpenForRead(shortPrefix));
    EXPECT_EQ(CreateUniqueTempFile(W(dir_ + "/missing"), L"Sinjo"), L"");
}

}  // namespace
}  // namespace platform
